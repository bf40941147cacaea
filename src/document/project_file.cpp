// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/project_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <optional>

#include "document/atomic_file.h"
#include "document/cp932.h"
#include "document/lost_characters.h"

namespace webloom {

namespace {

const QString kNotWritten = QStringLiteral("書き込みは、完了していません！");
const QString kWritten = QStringLiteral("書込み完了");
const QString kRead = QStringLiteral("読込み完了");
const QString kNoFile = QStringLiteral("ファイルがありません");
const QString kDeleteTitle = QStringLiteral("ファイル削除確認");
const QString kDeleteText = QStringLiteral(" のファイルを削除します");
const QString kTooShort = QStringLiteral(" は、ファイルの名前として短すぎます（4文字以上）。");

// The page options: absent means the default.
const QString kEncodingKey = QStringLiteral("op001");
const QString kUtf8Value = QStringLiteral("UTF-8");
const QString kPhoneKey = QStringLiteral("op002");
const QString kPhoneValue = QStringLiteral("1");

// One line of the saved layout: a plain record or a list (count line and
// item lines).
struct Record {
    Field field;
    std::optional<ListId> list;
};

constexpr Record rec(Field f)
{
    return {f, std::nullopt};
}
constexpr Record rec(ListId id)
{
    return {Field::Label1, id};
}

// The order in which a save writes the records. Older readers of these files
// expect exactly this order, so it is not sorted by key.
const Record kLayout[] = {
    rec(Field::Label1), rec(Field::Text1),  rec(Field::Text2),  rec(Field::Text11), rec(Field::Text12),
    rec(Field::Text42), rec(Field::Text13), rec(Field::Text29), rec(Field::Text14), rec(Field::Text15),
    rec(Field::Text16), rec(Field::Text17), rec(Field::Text18), rec(Field::Text19), rec(Field::Text20),
    rec(Field::Text50), rec(Field::Text45), rec(Field::Text46), rec(Field::Text21), rec(Field::Text22),
    rec(Field::Text23), rec(Field::Text24), rec(Field::Text25), rec(Field::Text26), rec(Field::Text27),
    rec(Field::Text28), rec(Field::Text30), rec(Field::Text48), rec(Field::Text49), rec(ListId::List4),
    rec(Field::Text3),  rec(Field::Text4),  rec(Field::Text5),  rec(Field::Text6),  rec(Field::Text7),
    rec(Field::Text8),  rec(Field::Text10), rec(Field::Text9),  rec(Field::Text31), rec(Field::Text32),
    rec(Field::Text33), rec(Field::Text34), rec(Field::Text35), rec(Field::Text36), rec(Field::Text37),
    rec(Field::Text38), rec(Field::Text39), rec(Field::Text44), rec(ListId::List3), rec(Field::Text43),
};

QString listKey(ListId id)
{
    return QStringLiteral("list%1").arg(static_cast<int>(id) + 1);
}

// At least three digits; wider numbers keep all their digits, so lists of
// more than 999 items survive and files of smaller lists look as they always
// did.
QString paddedNumber(qint64 n)
{
    return QString::number(n).rightJustified(3, QLatin1Char('0'));
}

QString itemPrefix(qint64 index)
{
    return QStringLiteral("ls") + paddedNumber(index);
}

// A value is written unchanged, but a line break inside it would start a
// record of its own on the next load (a pasted text could even set the base
// folder that way). No field should hold one; should one slip in, it is
// written as a blank.
QString oneLine(const QString &value)
{
    if (!value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')))
        return value;
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\r') && i + 1 < value.size() && value.at(i + 1) == QLatin1Char('\n'))
            continue; // CR LF becomes one blank, at its LF
        out += (c == QLatin1Char('\r') || c == QLatin1Char('\n')) ? QLatin1Char(' ') : c;
    }
    return out;
}

std::optional<Field> storedField(QStringView key)
{
    for (const FieldInfo &info : fieldTable()) {
        if (info.key && key == QLatin1StringView(info.key))
            return info.field;
    }
    return std::nullopt;
}

// The count of a list: the number that the text after "=" begins with,
// leading blanks skipped, 0 without a digit. Far too large counts are held
// at a ceiling; they only mean "read to the end of the file", which then
// fails.
qint64 listCount(QStringView digits)
{
    constexpr qint64 kCeiling = qint64(1) << 48;
    qsizetype i = 0;
    while (i < digits.size() && (digits.at(i) == QLatin1Char(' ') || digits.at(i) == QLatin1Char('\t')))
        ++i;
    qint64 n = 0;
    for (; i < digits.size() && digits.at(i) >= QLatin1Char('0') && digits.at(i) <= QLatin1Char('9'); ++i)
        n = std::min(n * 10 + (digits.at(i).unicode() - u'0'), kCeiling);
    return n;
}

// Lines of a device, ended by CR LF or by a bare LF (a file edited on this
// system); a last line without an end counts too. Reads in blocks so that a
// read error is told apart from the end.
class LineReader {
public:
    enum Status { Line, End, Error };

    explicit LineReader(QIODevice &device) : device_(device) {}

    Status next(QByteArray *line)
    {
        for (;;) {
            const qsizetype lf = buffer_.indexOf('\n', scanned_);
            if (lf >= 0) {
                *line = take(lf);
                start_ = scanned_ = lf + 1;
                return Line;
            }
            scanned_ = buffer_.size();
            if (ended_) {
                if (start_ == buffer_.size())
                    return End;
                *line = take(buffer_.size());
                start_ = scanned_ = buffer_.size();
                return Line;
            }
            buffer_.remove(0, start_);
            scanned_ -= start_;
            start_ = 0;
            constexpr qsizetype kBlock = 64 * 1024;
            const qsizetype old = buffer_.size();
            buffer_.resize(old + kBlock);
            const qint64 n = device_.read(buffer_.data() + old, kBlock);
            buffer_.resize(old + std::max<qint64>(n, 0));
            if (n < 0)
                return Error;
            if (n == 0)
                ended_ = true;
        }
    }

private:
    QByteArray take(qsizetype end) const
    {
        if (end > start_ && buffer_.at(end - 1) == '\r')
            --end;
        return buffer_.mid(start_, end - start_);
    }

    QIODevice &device_;
    QByteArray buffer_;
    qsizetype start_ = 0;   // first byte of the next line
    qsizetype scanned_ = 0; // bytes before this hold no LF after start_
    bool ended_ = false;
};

} // namespace

namespace {

QStringList storedBodyLines(const SiteDocument &doc)
{
    QStringList lines = doc.bodyLines();
    for (QString &line : lines) {
        if (line.isEmpty())
            line = QString(QChar(kEmptyBodyLine));
    }
    return lines;
}

QByteArray layoutBytes(const SiteDocument &doc, const QStringList &list4)
{
    QByteArray out;
    auto put = [&out](const QString &line) {
        out += cp932::encode(line, cp932::Unmappable::QuestionMark);
        out += "\r\n";
    };
    const QString eq = QStringLiteral("=");
    for (const Record &r : kLayout) {
        if (r.list) {
            const QStringList &items = *r.list == ListId::List4 ? list4 : doc.list(*r.list);
            put(listKey(*r.list) + eq + paddedNumber(items.size()));
            for (qsizetype i = 0; i < items.size(); ++i)
                put(itemPrefix(i) + eq + oneLine(items.at(i)));
        } else {
            put(QLatin1StringView(fieldInfo(r.field).key) + eq + oneLine(doc.text(r.field)));
        }
    }
    // After every record older readers know, and only when not at their
    // defaults: a project that does not use the options saves as it always
    // did, and older readers skip these keys.
    const PageOptions &options = doc.pageOptions();
    if (options.encoding == PageEncoding::Utf8)
        put(kEncodingKey + eq + kUtf8Value);
    if (options.phone)
        put(kPhoneKey + eq + kPhoneValue);
    return out;
}

} // namespace

void rfchg(SiteDocument &doc)
{
    doc.setList(ListId::List4, storedBodyLines(doc));
}

void lstrtxt(SiteDocument &doc)
{
    doc.setBodyLines(doc.list(ListId::List4));
}

QByteArray projectBytes(const SiteDocument &doc)
{
    return layoutBytes(doc, doc.list(ListId::List4));
}

QByteArray savedBytes(const SiteDocument &doc)
{
    return layoutBytes(doc, storedBodyLines(doc));
}

bool saveProject(SiteDocument &doc, Prompter &prompter, FileDialogState &cob1)
{
    rfchg(doc);
    // Asked before the dialog: going back to the text needs no file chosen.
    if (!confirmLostCharacters(prompter, lostInProject(doc)))
        return false;
    if (!prompter.saveFile(cob1)) {
        prompter.message(kNotWritten);
        return false;
    }
    const QString path = cob1.fileName;
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isDir()) {
        // The old file stays until the new one is complete; Yes only allows
        // it to be replaced.
        if (!prompter.question(kDeleteTitle, framedQuestion(path + kDeleteText))) {
            prompter.message(kNotWritten);
            return false;
        }
    }
    if (path.size() <= 3) {
        prompter.message(kNotWritten + QLatin1Char('\n') + path + kTooShort);
        return false;
    }

    QString error;
    if (!writeFileAtomically(path, projectBytes(doc), &error)) {
        prompter.message(kNotWritten + QLatin1Char('\n') + error);
        return false;
    }
    prompter.message(kWritten);
    return true;
}

bool readProjectRecords(SiteDocument &doc, QIODevice &device)
{
    LineReader reader(device);
    QByteArray raw;
    // Saves leave the options out at their defaults, so a complete file
    // without them means the defaults, not "keep what was there".
    bool encodingRead = false;
    bool phoneRead = false;
    for (;;) {
        const LineReader::Status status = reader.next(&raw);
        if (status != LineReader::Line) {
            if (status != LineReader::End)
                return false;
            PageOptions options = doc.pageOptions();
            if (!encodingRead)
                options.encoding = PageOptions().encoding;
            if (!phoneRead)
                options.phone = PageOptions().phone;
            doc.setPageOptions(options);
            return true;
        }
        const QString line = cp932::decode(raw);
        const QStringView key = QStringView(line).left(5);

        if (key == kEncodingKey || key == kPhoneKey) {
            PageOptions options = doc.pageOptions();
            const QStringView value = QStringView(line).mid(6);
            if (key == kEncodingKey) {
                encodingRead = true;
                options.encoding =
                    value.compare(kUtf8Value, Qt::CaseInsensitive) == 0 ? PageEncoding::Utf8 : PageEncoding::ShiftJis;
            } else {
                phoneRead = true;
                options.phone = value == kPhoneValue;
            }
            doc.setPageOptions(options);
            continue;
        }

        if (key == u"list3" || key == u"list4") {
            const ListId id = key == u"list3" ? ListId::List3 : ListId::List4;
            const qint64 count = listCount(QStringView(line).mid(6));
            QStringList items;
            bool complete = true;
            for (qint64 i = 0; i < count; ++i) {
                if (reader.next(&raw) != LineReader::Line) {
                    complete = false;
                    break;
                }
                // A line whose prefix is not this index's is dropped, and the
                // next line is taken for the next index.
                const QString itemLine = cp932::decode(raw);
                const QString prefix = itemPrefix(i);
                if (itemLine.startsWith(prefix))
                    items.append(itemLine.mid(prefix.size() + 1));
            }
            doc.setList(id, items);
            if (!complete)
                return false;
            continue;
        }

        const std::optional<Field> field = storedField(key);
        if (!field)
            continue;
        const QString value = line.mid(6);
        doc.setText(*field, value);
        // A project moved from another computer names a photo folder that is
        // not here; it still loads whole, with an empty File1.
        if (*field == Field::Text3 && !doc.pointFile1(value))
            doc.clearFile1();
    }
}

bool loadProjectFile(SiteDocument &doc, Prompter &prompter, const QString &path)
{
    QFile file(path);
    // Only regular files: a device or a pipe chosen by mistake could be read
    // for ever.
    bool complete = QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) && !file.isSequential();
    complete = complete && readProjectRecords(doc, file);
    file.close();
    if (!complete) {
        prompter.message(path + kNoFile);
        return false;
    }
    lstrtxt(doc);
    prompter.message(kRead);
    return true;
}

bool loadProject(SiteDocument &doc, Prompter &prompter, FileDialogState &cob1)
{
    if (!prompter.openFile(cob1) || cob1.fileName.size() < 4)
        return false;
    return loadProjectFile(doc, prompter, cob1.fileName);
}

FileDialogState initialProjectDialog()
{
    FileDialogState state;
    state.filter = QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ|*.txt|All Files|*.*|");
    state.fileName = QDir::toNativeSeparators(QDir::current().filePath(kApplicationTitle + QStringLiteral(".txt")));
    state.defaultExt = QStringLiteral("txt");
    return state;
}

} // namespace webloom
