// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/list_parser.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>

#include "document/cp932.h"

namespace webloom::listing {

namespace {

struct Token {
    qsizetype begin = 0;
    qsizetype end = 0;
};

QList<Token> splitTokens(QByteArrayView line)
{
    QList<Token> tokens;
    qsizetype i = 0;
    while (i < line.size()) {
        while (i < line.size() && line.at(i) == ' ')
            ++i;
        if (i >= line.size())
            break;
        const qsizetype begin = i;
        while (i < line.size() && line.at(i) != ' ')
            ++i;
        tokens.append({begin, i});
    }
    return tokens;
}

bool allDigits(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "月" in UTF-8 and in code page 932: Japanese servers print "12月" for the
// month in their "ls -l" lines.
const QByteArrayView kMonthUtf8("\xE6\x9C\x88");
const QByteArrayView kMonthCp932("\x8C\x8E");
const QByteArrayView kDayUtf8("\xE6\x97\xA5");
const QByteArrayView kDayCp932("\x93\xFA");

bool isNumberWithSuffix(QByteArrayView text, QByteArrayView suffix, int maxDigits)
{
    if (!text.endsWith(suffix))
        return false;
    const QByteArrayView digits = text.first(text.size() - suffix.size());
    return allDigits(digits) && digits.size() <= maxDigits;
}

bool isMonth(QByteArrayView text)
{
    static const char *const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text.size() == 3) {
        const QByteArray lower = text.toByteArray().toLower();
        for (const char *month : kMonths) {
            if (lower == month)
                return true;
        }
    }
    return isNumberWithSuffix(text, kMonthUtf8, 2) || isNumberWithSuffix(text, kMonthCp932, 2);
}

bool isDay(QByteArrayView text)
{
    return (allDigits(text) && text.size() <= 2) || isNumberWithSuffix(text, kDayUtf8, 2) ||
           isNumberWithSuffix(text, kDayCp932, 2);
}

// "11:20" for recent files, "2019" for old ones.
bool isTimeOrYear(QByteArrayView text)
{
    if (allDigits(text))
        return text.size() == 4;
    const qsizetype colon = text.indexOf(':');
    if (colon < 1 || colon > 2)
        return false;
    const QByteArrayView rest = text.sliced(colon + 1);
    return allDigits(text.first(colon)) && rest.size() >= 2 && allDigits(rest.first(2)) &&
           (rest.size() == 2 || (rest.size() == 5 && rest.at(2) == ':' && allDigits(rest.sliced(3))));
}

bool isIsoDate(QByteArrayView text)
{
    return text.size() == 10 && text.at(4) == '-' && text.at(7) == '-' && allDigits(text.first(4)) &&
           allDigits(text.sliced(5, 2)) && allDigits(text.sliced(8, 2));
}

int leadingNumber(QByteArrayView text)
{
    int value = 0;
    for (qsizetype i = 0; i < text.size() && i < 4 && text.at(i) >= '0' && text.at(i) <= '9'; ++i)
        value = value * 10 + (text.at(i) - '0');
    return value;
}

int monthNumber(QByteArrayView text)
{
    static const char *const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    const QByteArray lower = text.toByteArray().toLower();
    for (int i = 0; i < 12; ++i) {
        if (lower == kMonths[i])
            return i + 1;
    }
    return leadingNumber(text); // "12月"
}

// "ls -l" leaves out the year of recent files: it is this year, unless that
// would put the file in the future.
QDateTime unixTime(int year, int month, int day, QByteArrayView timeOrYear)
{
    int hour = 0;
    int minute = 0;
    int second = 0;
    const qsizetype colon = timeOrYear.indexOf(':');
    if (colon < 0) {
        year = leadingNumber(timeOrYear);
    } else {
        hour = leadingNumber(timeOrYear.first(colon));
        minute = leadingNumber(timeOrYear.sliced(colon + 1));
        if (timeOrYear.size() > colon + 4)
            second = leadingNumber(timeOrYear.sliced(colon + 4));
    }
    QDateTime time(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
    if (year == 0) {
        const QDate today = QDate::currentDate();
        time = QDateTime(QDate(today.year(), month, day), QTime(hour, minute, second), Qt::UTC);
        if (time.date() > today.addDays(1))
            time = time.addYears(-1);
    }
    return time.isValid() ? time : QDateTime();
}

bool isPermissions(QByteArrayView text)
{
    if (text.size() < 10 || !QByteArrayView("-dlbcpsD").contains(text.at(0)))
        return false;
    for (qsizetype i = 1; i < 10; ++i) {
        if (!QByteArrayView("rwxsStTlL-").contains(text.at(i)))
            return false;
    }
    return text.size() == 10 || (text.size() == 11 && QByteArrayView(".+@").contains(text.at(10)));
}

// Neither LIST nor some MLSD servers say whether a link leads to a folder.
// Web hosts commonly link folders ("www -> public_html") and seldom link
// single pages, so a target whose last element has an extension counts as a
// file and anything else as a folder; a wrong guess only makes CD or GET fail.
bool linkLooksLikeDirectory(QByteArrayView path)
{
    if (path.endsWith('/'))
        return true;
    const QByteArrayView last = path.sliced(path.lastIndexOf('/') + 1);
    if (last == "." || last == "..")
        return true;
    return last.lastIndexOf('.') <= 0;
}

void splitLink(ListEntry &entry)
{
    const qsizetype arrow = entry.name.indexOf(" -> ");
    if (arrow > 0) {
        entry.target = entry.name.mid(arrow + 4);
        entry.name.truncate(arrow);
    }
    entry.directory = linkLooksLikeDirectory(entry.target.isEmpty() ? entry.name : entry.target);
}

std::optional<ListEntry> parseUnixLine(QByteArrayView line)
{
    const QList<Token> tokens = splitTokens(line);
    if (tokens.size() < 5 || tokens.first().begin != 0)
        return std::nullopt;
    auto text = [&](qsizetype i) { return line.sliced(tokens[i].begin, tokens[i].end - tokens[i].begin); };
    if (!isPermissions(text(0)))
        return std::nullopt;
    // The owner and group columns are optional on some servers and may be
    // numbers, so the date is found by its shape, after a size column.
    for (qsizetype i = 2; i < tokens.size(); ++i) {
        qsizetype last = -1;
        if (i + 2 < tokens.size() && isMonth(text(i)) && isDay(text(i + 1)) && isTimeOrYear(text(i + 2)))
            last = i + 2;
        else if (i + 1 < tokens.size() && isIsoDate(text(i)) && isTimeOrYear(text(i + 1)))
            last = i + 1;
        if (last < 0 || !allDigits(text(i - 1)))
            continue;
        // Old dates are right-aligned ("Mar 04  2019"), but exactly one space
        // separates the date from the name, which may itself begin with
        // spaces.
        const qsizetype nameStart = tokens[last].end + 1;
        if (nameStart >= line.size())
            return std::nullopt;
        ListEntry entry;
        entry.name = line.sliced(nameStart).toByteArray();
        // Digits beyond what a size can hold say nothing.
        bool ok = false;
        const qint64 size = text(i - 1).toLongLong(&ok);
        entry.size = ok ? size : -1;
        if (last == i + 2) {
            entry.modified = unixTime(0, monthNumber(text(i)), leadingNumber(text(i + 1)), text(i + 2));
        } else {
            const QByteArrayView date = text(i);
            entry.modified = unixTime(leadingNumber(date), leadingNumber(date.sliced(5)), leadingNumber(date.sliced(8)),
                                      text(i + 1));
        }
        const char type = line.at(0);
        entry.directory = type == 'd' || type == 'D';
        if (type == 'l') {
            entry.link = true;
            splitLink(entry);
        }
        return entry;
    }
    return std::nullopt;
}

std::optional<ListEntry> parseDosLine(QByteArrayView line)
{
    static const QRegularExpression kPrefix(QStringLiteral(
        "^(\\d{2})-(\\d{2})-(\\d{2}|\\d{4}) +(\\d{1,2}):(\\d{2})([AaPp][Mm])? +(?:(<DIR>)|(\\d+))(?= )"));
    const QString latin = QString::fromLatin1(line);
    const QRegularExpressionMatch match = kPrefix.match(latin);
    if (!match.hasMatch())
        return std::nullopt;
    const int month = match.capturedView(1).toInt();
    const int day = match.capturedView(2).toInt();
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    qsizetype pos = match.capturedEnd(0);
    qsizetype spaces = 0;
    while (pos + spaces < line.size() && line.at(pos + spaces) == ' ')
        ++spaces;
    ListEntry entry;
    entry.dosStyle = true;
    entry.directory = match.hasCaptured(7);
    int year = match.capturedView(3).toInt();
    if (year < 100)
        year += year < 70 ? 2000 : 1900;
    int hour = match.capturedView(4).toInt();
    const QStringView meridiem = match.capturedView(6);
    if (meridiem.compare(u"PM", Qt::CaseInsensitive) == 0 && hour < 12)
        hour += 12;
    else if (meridiem.compare(u"AM", Qt::CaseInsensitive) == 0 && hour == 12)
        hour = 0;
    entry.modified = QDateTime(QDate(year, month, day), QTime(hour, match.capturedView(5).toInt()), Qt::UTC);
    if (!entry.modified.isValid())
        entry.modified = QDateTime();
    // IIS pads "<DIR>" with ten spaces and a size with one; spaces beyond
    // that belong to the name. Other DOS-style servers pad "<DIR>" less.
    if (entry.directory)
        pos += spaces >= 10 ? 10 : spaces;
    else
        pos += 1;
    if (pos >= line.size())
        return std::nullopt;
    entry.name = line.sliced(pos).toByteArray();
    if (!entry.directory) {
        bool ok = false;
        const qint64 size = match.capturedView(8).toLongLong(&ok);
        entry.size = ok ? size : -1;
    }
    return entry;
}

} // namespace

std::optional<ListEntry> parseMlsdLine(QByteArrayView line)
{
    const qsizetype space = line.indexOf(' ');
    if (space < 0 || space + 1 >= line.size())
        return std::nullopt;
    ListEntry entry;
    entry.name = line.sliced(space + 1).toByteArray();
    bool hasType = false;
    for (QByteArrayView fact : QByteArray(line.first(space).toByteArray()).split(';')) {
        const qsizetype equals = fact.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = fact.first(equals).toByteArray().toLower();
        const QByteArrayView value = fact.sliced(equals + 1);
        if (key == "type") {
            hasType = true;
            const QByteArray type = value.toByteArray().toLower();
            if (type == "dir") {
                entry.directory = true;
            } else if (type == "cdir") {
                entry.directory = true;
                entry.name = ".";
            } else if (type == "pdir") {
                entry.directory = true;
                entry.name = "..";
            } else if (type.startsWith("os.unix=slink") || type.startsWith("os.unix=symlink")) {
                entry.link = true;
                const qsizetype colon = value.indexOf(':');
                if (colon >= 0)
                    entry.target = value.sliced(colon + 1).toByteArray();
            }
        } else if (key == "modify" && value.size() >= 14) {
            const QDateTime time =
                QDateTime::fromString(QString::fromLatin1(value.first(14)), QStringLiteral("yyyyMMddHHmmss"));
            if (time.isValid())
                entry.modified = QDateTime(time.date(), time.time(), Qt::UTC);
        } else if (key == "size" || key == "sizd") {
            // A negative size would reach the progress bar as a total.
            bool ok = false;
            const qint64 size = value.toByteArray().toLongLong(&ok);
            if (ok && size >= 0)
                entry.size = size;
        }
    }
    if (!hasType && space > 0 && !line.first(space).contains('='))
        return std::nullopt;
    if (entry.link)
        entry.directory = linkLooksLikeDirectory(entry.target.isEmpty() ? entry.name : entry.target);
    return entry;
}

std::optional<ListEntry> parseListLine(QByteArrayView line)
{
    if (auto entry = parseUnixLine(line))
        return entry;
    return parseDosLine(line);
}

QList<ListEntry> parseListing(QByteArrayView data, Format format)
{
    QList<ListEntry> entries;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            end = data.size();
        QByteArrayView line = data.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        start = end + 1;
        if (line.isEmpty())
            continue;
        const std::optional<ListEntry> entry = format == Format::Mlsd ? parseMlsdLine(line) : parseListLine(line);
        if (entry)
            entries.append(*entry);
    }
    return entries;
}

QString decodeName(QByteArrayView raw)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(raw);
    if (!utf8.hasError())
        return text;
    return cp932::decode(raw);
}

QList<RemoteEntry> remoteEntries(const QList<ListEntry> &entries)
{
    QList<RemoteEntry> shown;
    for (const ListEntry &entry : entries) {
        const QByteArray &name = entry.name;
        if (name.isEmpty() || name == "." || name == ".." || name.contains('\r') || name.contains('\n') ||
            name.contains('\0') || name.contains('/'))
            continue;
        shown.append({decodeName(name), name, entry.directory, entry.size, entry.modified});
    }
    std::stable_sort(shown.begin(), shown.end(), [](const RemoteEntry &a, const RemoteEntry &b) {
        if (a.directory != b.directory)
            return a.directory;
        const int order = a.name.compare(b.name, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    return shown;
}

Listing formatListing(const QList<ListEntry> &entries)
{
    Listing listing;
    for (const RemoteEntry &entry : remoteEntries(entries)) {
        listing.text += entry.name.toUtf8();
        if (entry.directory)
            listing.text += '/';
        listing.text += "\r\n";
        if (!listing.rawNames.contains(entry.name))
            listing.rawNames.insert(entry.name, entry.rawName);
    }
    listing.text += "\r\n";
    return listing;
}

} // namespace webloom::listing
