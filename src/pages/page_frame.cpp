#include "pages/page_frame.h"

#include "document/cp932.h"

namespace webloom {

namespace {

const QString kSixIdeographicSpaces = QString(6, QChar(0x3000));

}  // namespace

QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

bool isNonBlank(const QString &text) { return !trimSpaces(text).isEmpty(); }

PageFrame::~PageFrame() { discard(); }

QString PageFrame::outputPath(const QString &fileName) const
{
    const QString &base = doc_.text(Field::Label1);
    if (base.endsWith(QLatin1Char('/')))
        return base + fileName;
    return base + QLatin1Char('/') + fileName;
}

bool PageFrame::open(const QString &fileName)
{
    discard();
    const QString path = outputPath(fileName);
    auto file = std::make_unique<QSaveFile>(path);
    // Unbuffered: QSaveFile's own buffer is flushed inside commit(), which
    // then ignores a short write and renames a truncated page over the old
    // one. Writing through ourselves lets every short write be seen.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        fail(path, file->errorString());
        return false;
    }
    file_ = std::move(file);
    buffer_.clear();
    writeError_.clear();
    return true;
}

void PageFrame::line(const QString &text)
{
    if (!file_)
        return;
    buffer_ += cp932::encode(text, cp932::Unmappable::NumericReference);
    buffer_ += "\r\n";
    if (buffer_.size() >= 64 * 1024)
        writeBuffer();
}

bool PageFrame::writeBuffer()
{
    if (!writeError_.isEmpty()) {
        buffer_.clear();
        return false;
    }
    const char *data = buffer_.constData();
    qint64 left = buffer_.size();
    while (left > 0) {
        // A short write (disk full, size limit) is followed by one more
        // attempt, whose failure carries the system's reason.
        const qint64 n = file_->write(data, left);
        if (n <= 0) {
            writeError_ = file_->errorString();
            if (writeError_.isEmpty())
                writeError_ = QStringLiteral("write error");
            break;
        }
        data += n;
        left -= n;
    }
    buffer_.clear();
    return writeError_.isEmpty();
}

void PageFrame::pageOpening(const QString &title, const QString &baseAddress)
{
    line(QStringLiteral("<HTML>"));
    line(QStringLiteral("<HEAD>"));
    line(QStringLiteral("<TITLE>") + title + QStringLiteral("</TITLE>"));
    if (!baseAddress.isEmpty())
        line(QStringLiteral("<base href=\"") + baseAddress + QStringLiteral("\">"));
    line(QStringLiteral("</HEAD>"));
    line(QStringLiteral("<STYLE TYPE =\"text/css\">"));
    line(QStringLiteral("<!--"));
    line(QStringLiteral("TABLE{font-size:12pt}"));
    line(QStringLiteral("P{font-size:12pt}"));
    line(QStringLiteral("div{font-size:12pt}"));
    line(QStringLiteral("body{font-size:12pt}"));
    line(QStringLiteral("-->"));
    line(QStringLiteral("</STYLE>"));
    line(QStringLiteral("<BODY bgcolor=\"#ffffff\">"));
    line(QStringLiteral(" "));
}

void PageFrame::heading(const QString &text)
{
    line(QStringLiteral("<div align=\"center\"><B><FONT size=\"+3\">"));
    line(text);
    line(QStringLiteral("</FONT></B></div><br>"));
    line(QStringLiteral(" "));
}

void PageFrame::kakikyo()
{
    line(QStringLiteral("<div align=\"center\">"));
    line(QStringLiteral("<A href=\"") + doc_.text(Field::Text1) +
         QStringLiteral("\"><B>[ＨＯＭＥ]</B></A>") + kSixIdeographicSpaces);
    const QString &boardTitle = doc_.text(Field::Text11);
    const QString &boardAddress = doc_.text(Field::Text12);
    if (isNonBlank(boardTitle) && isNonBlank(boardAddress) && doc_.currentTab() != TabTop) {
        line(QStringLiteral("<A href=\"") + boardAddress + QStringLiteral("\"><B>") + boardTitle +
             QStringLiteral("</B></A>") + kSixIdeographicSpaces);
    }
    line(QStringLiteral("<A href=\"mailto:") + doc_.text(Field::Text2) +
         QStringLiteral("\"><B>[ｅ－ｍａｉｌ]</B></A><br>"));
    line(QStringLiteral("</div>"));
}

void PageFrame::pageClosing(const QStringList &creditBlock)
{
    line(QStringLiteral("<BR><HR><BR>"));
    line(QStringLiteral(" "));
    kakikyo();
    line(QStringLiteral("<br>"));
    line(QStringLiteral(" "));
    for (const QString &l : creditBlock)
        line(l);
    line(QStringLiteral("</BODY>"));
    line(QStringLiteral("</HTML>"));
}

bool PageFrame::close()
{
    if (!file_)
        return false;
    const bool written = writeBuffer();
    std::unique_ptr<QSaveFile> file = std::move(file_);
    const QString path = file->fileName();
    if (!written) {
        file->cancelWriting();
        fail(path, writeError_);
        return false;
    }
    if (!file->commit()) {
        fail(path, file->errorString());
        return false;
    }
    written_.append(path);
    return true;
}

void PageFrame::discard()
{
    if (file_) {
        file_->cancelWriting();
        file_.reset();
    }
    buffer_.clear();
    writeError_.clear();
}

void PageFrame::success() { prompter_.message(QStringLiteral("作成しました。")); }

bool PageFrame::requiredCheck(std::initializer_list<Field> fields)
{
    bool missing = false;
    for (Field f : fields) {
        if (doc_.text(f).isEmpty()) {
            missing = true;
            if (f == Field::Text1 || f == Field::Text2)
                doc_.setCurrentTab(TabCommon);
        }
    }
    if (missing)
        prompter_.message(QStringLiteral("必須項目にデータを入れてください"));
    return !missing;
}

void PageFrame::fail(const QString &path, const QString &reason)
{
    prompter_.message(path + QStringLiteral(" のファイルを書き込めませんでした。\n") + reason);
}

}  // namespace webloom
