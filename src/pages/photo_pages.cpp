// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/photo_pages.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace webloom {

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The longest prefix of text (after leading blanks) that reads as a decimal
// number: optional sign, digits, optional fraction, optional exponent. An
// exponent letter is taken only when digits follow it, so "20e" reads as 20.
// Returns 0 when no digit starts the text.
double leadingNumber(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    const qsizetype start = i;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    qsizetype digits = 0;
    while (i < n && isAsciiDigit(text[i]))
        ++i, ++digits;
    if (i < n && text[i] == QLatin1Char('.')) {
        ++i;
        while (i < n && isAsciiDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return 0;
    qsizetype end = i;
    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E') || text[i] == QLatin1Char('d') ||
                  text[i] == QLatin1Char('D'))) {
        qsizetype j = i + 1;
        if (j < n && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-')))
            ++j;
        if (j < n && isAsciiDigit(text[j])) {
            while (j < n && isAsciiDigit(text[j]))
                ++j;
            end = j;
        }
    }
    QString number = text.mid(start, end - start).toString();
    // "1D3" is the same number as "1E3".
    number.replace(QLatin1Char('d'), QLatin1Char('e')).replace(QLatin1Char('D'), QLatin1Char('e'));
    if (number.endsWith(QLatin1Char('.')))
        number.chop(1);
    bool ok = false;
    const double value = QLocale::c().toDouble(number, &ok);
    if (ok)
        return value;
    // Out of range for a double: only the sign matters to the caller.
    return number.startsWith(QLatin1Char('-')) ? -std::numeric_limits<double>::infinity()
                                               : std::numeric_limits<double>::infinity();
}

// No folder holds this many files, and the running index s + m stays far
// from overflowing.
constexpr qint64 kMaxPhotosPerPage = std::numeric_limits<int>::max();

qint64 pageCount(qint64 photos, qint64 perPage)
{
    if (photos <= 0 || perPage <= 0)
        return 0;
    return photos / perPage + (photos % perPage > 0 ? 1 : 0);
}

const QString kDefaultBase = QStringLiteral("http://");

} // namespace

QString sixCharacterStem(const QString &stemField)
{
    QList<uint> characters = trimSpaces(stemField).toUcs4();
    if (characters.size() > 6)
        characters.resize(6);
    QString stem = QString::fromUcs4(reinterpret_cast<const char32_t *>(characters.constData()), characters.size());
    if (characters.size() < 6)
        stem += QString(6 - characters.size(), QLatin1Char('0'));
    return stem;
}

QString twoDigitNumber(qint64 number)
{
    return QString::number(number).rightJustified(2, QLatin1Char('0'));
}

QString serialName(const QString &stemField, qint64 number, const QString &ending)
{
    return (sixCharacterStem(stemField) + twoDigitNumber(number) + ending).toLower();
}

std::optional<qint64> photosPerPage(const QString &text7)
{
    const double value = leadingNumber(text7);
    if (std::isnan(value) || value < 1)
        return std::nullopt;
    if (value >= static_cast<double>(kMaxPhotosPerPage))
        return kMaxPhotosPerPage;
    if (std::floor(value) != value)
        return std::nullopt;
    return static_cast<qint64>(value);
}

QString photosPerPageRefusal()
{
    return QStringLiteral("１つのＨＰの写真数には、１以上の整数を入力して下さい。");
}

QString missingPhotoFolderMessage(const QString &folder)
{
    return QStringLiteral("写真パソコンディレクトリがありません。\n") + folder;
}

QStringList photoNames(const SiteDocument &doc)
{
    const QString &extension = doc.text(Field::Text5);
    QStringList photos;
    for (const QString &name : doc.file1().names()) {
        if (name.contains(extension, Qt::CaseSensitive))
            photos.append(name);
    }
    return photos;
}

PageResult chkpic(PageFrame &frame)
{
    if (!frame.requiredCheck(
            {Field::Text1, Field::Text2, Field::Text3, Field::Text5, Field::Text7, Field::Text8, Field::Text9}))
        return PageResult::Refused;
    // Checked before listmake so that a refusal leaves Text6 and the lists alone.
    if (!photosPerPage(frame.doc().text(Field::Text7))) {
        frame.prompter().message(photosPerPageRefusal());
        return PageResult::Refused;
    }
    // Every page of the series shares the stem, and the number and ending
    // add no folder, so the first name speaks for all.
    if (!frame.allowName(Field::Text9, serialName(frame.doc().text(Field::Text9), 1, QStringLiteral(".html"))))
        return PageResult::Refused;
    listmake(frame.doc());
    return kaki(frame);
}

void listmake(SiteDocument &doc)
{
    // Counting over the photos rather than over every file of the folder
    // means no page is made whose rows would all lie past the last photo.
    const qint64 pages = pageCount(photoNames(doc).size(), photosPerPage(doc.text(Field::Text7)).value_or(0));
    QStringList names;
    names.reserve(pages);
    const QString &stem = doc.text(Field::Text9);
    for (qint64 n = 1; n <= pages; ++n)
        names.append(serialName(stem, n, QStringLiteral(".html")));
    doc.setList(ListId::List1, names);

    const QString trimmed = trimSpaces(doc.text(Field::Text6));
    if (!trimmed.isEmpty() && !trimmed.endsWith(QLatin1Char('/')))
        doc.setText(Field::Text6, doc.text(Field::Text6) + QLatin1Char('/'));
    if (trimSpaces(doc.text(Field::Text6)) == kDefaultBase)
        doc.setText(Field::Text6, QString());
}

PageResult kaki(PageFrame &frame)
{
    SiteDocument &doc = frame.doc();
    const qint64 perPage = photosPerPage(doc.text(Field::Text7)).value_or(0);
    const QStringList photos = photoNames(doc);
    doc.setList(ListId::List2, photos);

    const QString &title = doc.text(Field::Text8);
    const QString base = isNonBlank(doc.text(Field::Text6)) ? doc.text(Field::Text6) : QString();
    const QString &subtitle = doc.text(Field::Text10);
    const QStringList pages = doc.list(ListId::List1);

    bool written = true;
    qint64 first = 0; // index into List2 of the first photo of the page
    for (const QString &page : pages) {
        if (!frame.open(page)) {
            written = false;
            break;
        }
        frame.pageHead(title, title, base);
        frame.line(QStringLiteral(" "));
        frame.line(QStringLiteral("<P align=\"center\"><B><FONT size=\"+1\">"));
        frame.line(subtitle);
        frame.line(QStringLiteral("<BR></FONT></B></P>"));
        frame.line(QStringLiteral(" "));
        frame.line(QStringLiteral("<CENTER>"));
        frame.line(QStringLiteral("<TABLE border=\"1\">"));
        const qint64 end = std::min<qint64>(first + perPage, photos.size());
        for (qint64 k = first; k < end; ++k) {
            frame.line(QStringLiteral("  <TR>"));
            frame.line(QStringLiteral("    <TD valign=\"top\"><center><IMG src=\"") + photos.at(k) +
                       QStringLiteral("\"><br>"));
            frame.line(twoDigitNumber(k + 1) + QLatin1Char('.'));
            frame.line(QStringLiteral("</center></TD></TR>"));
            frame.line(QStringLiteral(" "));
        }
        first += perPage;
        frame.endCentredTable();
        frame.pageClosing();
        if (!frame.close()) {
            written = false;
            break;
        }
    }

    // The new pages show up in File1 when the base folder is the photo folder.
    doc.refreshFile1();
    if (written)
        frame.success();
    // An empty Text6 means "no base address"; the field shows that as the
    // default again, also after a failed run.
    if (!isNonBlank(doc.text(Field::Text6)))
        doc.setText(Field::Text6, kDefaultBase);
    return written ? PageResult::Written : PageResult::Failed;
}

PageResult photoPagesFromText3(PageFrame &frame)
{
    if (!frame.requiredCheck(
            {Field::Text1, Field::Text2, Field::Text3, Field::Text5, Field::Text7, Field::Text8, Field::Text9}))
        return PageResult::Refused;
    const QString &folder = frame.doc().text(Field::Text3);
    if (!frame.doc().pointFile1(folder)) {
        frame.prompter().message(missingPhotoFolderMessage(folder));
        return PageResult::Refused;
    }
    return chkpic(frame);
}

} // namespace webloom
