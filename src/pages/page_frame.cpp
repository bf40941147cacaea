// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/page_frame.h"

#include <QFile>
#include <QFileInfo>

#include <optional>
#include <utility>

#include "document/cp932.h"
#include "document/field_captions.h"

namespace webloom {

namespace {

const QString kSixIdeographicSpaces = QString(6, QChar(0x3000));

// What keeps a page within a phone's screen: pictures shrink to the width,
// cells written "nowrap" wrap after all, and a word too long for the line is
// broken. The navigation bar needs more: its runs of ideographic spaces are
// no break opportunity before or between them, and at the end of a line
// they stick out past the edge. As flex items its links and runs wrap as
// whole pieces; its one line on a wide screen looks as before. The heading
// is the other centred div and is a single item there.
const QString kPhoneRules[] = {
    QStringLiteral("img{max-width:100%;height:auto}"),
    QStringLiteral("table{max-width:100%}"),
    QStringLiteral("td{white-space:normal}"),
    QStringLiteral("body{overflow-wrap:anywhere}"),
    QStringLiteral("div[align=\"center\"]{display:flex;flex-wrap:wrap;justify-content:center}"),
};

} // namespace

QString pageNameProblem(const QString &fileName)
{
    if (fileName.startsWith(QLatin1Char('/')))
        return QStringLiteral("「/」で始まる名前は、基準パソコンディレクトリの外を指します。");
    qsizetype depth = 0;
    for (QStringView part : QStringView(fileName).split(QLatin1Char('/'))) {
        if (part == u"..")
            --depth;
        else if (!part.isEmpty() && part != u".")
            ++depth;
        if (depth < 0)
            return QStringLiteral("「..」で、基準パソコンディレクトリの外に出ます。");
    }
    return {};
}

PageFrame::~PageFrame()
{
    discard();
}

QString PageFrame::outputPath(const QString &fileName) const
{
    const QString &base = doc_.text(Field::Label1);
    if (base.endsWith(QLatin1Char('/')))
        return base + fileName;
    return base + QLatin1Char('/') + fileName;
}

bool PageFrame::allowName(Field field, const QString &fileName)
{
    const QString problem = pageNameProblem(fileName);
    if (problem.isEmpty())
        return true;
    prompter_.message(fieldCaption(field) + QStringLiteral(" の「") + fileName +
                      QStringLiteral("」は、ページのファイル名に使えません。\n") + problem);
    return false;
}

bool PageFrame::open(const QString &fileName)
{
    discard();
    path_ = outputPath(fileName);
    return true;
}

void PageFrame::line(const QString &text)
{
    if (path_.isEmpty())
        return;
    if (doc_.pageOptions().encoding == PageEncoding::Utf8)
        buffer_ += text.toUtf8();
    else
        buffer_ += cp932::encode(text, cp932::Unmappable::NumericReference);
    buffer_ += "\r\n";
}

void PageFrame::pageOpening(const QString &title, const QString &baseAddress)
{
    const PageOptions &options = doc_.pageOptions();
    line(QStringLiteral("<HTML>"));
    line(QStringLiteral("<HEAD>"));
    // A browser looks for the declaration in the first 1024 bytes only, so
    // it comes before the title, which may be long.
    if (options.encoding == PageEncoding::Utf8)
        line(QStringLiteral("<meta charset=\"UTF-8\">"));
    else if (options.phone)
        line(QStringLiteral("<meta charset=\"Shift_JIS\">"));
    if (options.phone)
        line(QStringLiteral("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"));
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
    if (options.phone) {
        for (const QString &rule : kPhoneRules)
            line(rule);
    }
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
    line(QStringLiteral("<A href=\"") + doc_.text(Field::Text1) + QStringLiteral("\"><B>[ＨＯＭＥ]</B></A>") +
         kSixIdeographicSpaces);
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

void PageFrame::pageHead(const QString &title, const QString &headingText, const QString &baseAddress)
{
    pageOpening(title, baseAddress);
    heading(headingText);
    kakikyo();
    line(QStringLiteral("<HR>"));
}

void PageFrame::centredTable()
{
    line(QStringLiteral("<center>"));
    line(QStringLiteral("<table border=\"0\" face=\"ＭＳ 明朝\">"));
}

void PageFrame::endCentredTable()
{
    line(QStringLiteral("</TABLE>"));
    line(QStringLiteral("</CENTER>"));
}

PageResult PageFrame::finishPage(const QStringList &creditBlock)
{
    pageClosing(creditBlock);
    if (!close())
        return PageResult::Failed;
    success();
    return PageResult::Written;
}

bool PageFrame::close()
{
    if (path_.isEmpty())
        return false;
    const QString path = std::exchange(path_, QString());
    const QByteArray bytes = std::exchange(buffer_, QByteArray());
    // A page whose bytes have not changed is left as it is, file time and
    // all, so that publishing sees nothing new.
    if (fileHolds(path, bytes)) {
        written_.append(path);
        return true;
    }
    // No sync per page: pages can always be written again, and a photo series
    // of a thousand pages would otherwise wait seconds for the disk.
    QString error;
    if (!writeFileAtomically(path, bytes, &error, AtomicFile::Options{.sync = false, .mode = std::nullopt})) {
        fail(path, error);
        return false;
    }
    written_.append(path);
    return true;
}

void PageFrame::discard()
{
    path_.clear();
    buffer_.clear();
}

void PageFrame::success()
{
    prompter_.message(QStringLiteral("作成しました。"));
}

bool PageFrame::requiredCheck(std::initializer_list<Field> fields)
{
    std::optional<Field> first;
    for (Field f : fields) {
        if (doc_.text(f).isEmpty()) {
            if (!first)
                first = f;
            if (f == Field::Text1 || f == Field::Text2)
                doc_.setCurrentTab(TabCommon);
        }
    }
    if (!first)
        return true;
    prompter_.message(QStringLiteral("必須項目にデータを入れてください"));
    doc_.pointAtMissing(*first);
    return false;
}

void PageFrame::fail(const QString &path, const QString &reason)
{
    prompter_.message(path + QStringLiteral(" のファイルを書き込めませんでした。\n") + reason);
}

} // namespace webloom
