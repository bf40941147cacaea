// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/top_page.h"

#include "document/addresses.h"

#include <utility>

namespace webloom {

namespace {

// Both cells beside the title open with the same line.
const QString kSideCell = QStringLiteral("<td nowrap width=\"15%\" align=\"center\">");

// The banner field defaults to "http://" (7 characters), so only a longer
// text gives a banner; what the text holds is not examined.
constexpr qsizetype kBannerMinimumLength = 8;

QString menuCell(const QString &target, const QString &text)
{
    return QStringLiteral("<td nowrap align=\"center\"><A href=\"") + target + QStringLiteral("\">") + text +
           QStringLiteral("</A></td></tr>");
}

QString menuRow(const QString &target, const QString &text)
{
    return QStringLiteral("<tr>") + menuCell(target, text);
}

void titleTable(PageFrame &frame)
{
    const SiteDocument &doc = frame.doc();
    frame.line(QStringLiteral("<center>"));
    frame.line(QStringLiteral("<table border=\"0\" face=\"ＭＳ 明朝\"><tr>"));
    const QString &banner = doc.text(Field::Text42);
    if (banner.size() >= kBannerMinimumLength) {
        frame.line(kSideCell);
        frame.line(QStringLiteral("<img src=\"") + banner + QStringLiteral("\" border=\"0\">"));
        frame.line(QStringLiteral("</td>"));
    }
    frame.line(QStringLiteral("<td nowrap width=\"70%\" align=\"center\">"));
    frame.line(QStringLiteral("<B><FONT size=\"+3\">") + doc.text(Field::Text13) + QStringLiteral("</FONT></B>"));
    frame.line(QStringLiteral("</td>"));
    const QString &counter = doc.text(Field::Text50);
    if (!counter.isEmpty()) {
        frame.line(kSideCell);
        frame.line(counter);
        frame.line(QStringLiteral("</td>"));
    }
    frame.line(QStringLiteral("</tr></TABLE>"));
    frame.line(QStringLiteral("</CENTER>"));
    frame.line(QStringLiteral(" "));
}

void menuTable(PageFrame &frame)
{
    const SiteDocument &doc = frame.doc();
    frame.centredTable();

    // The picture cell opens the first row and spans the menu beside it; the
    // span stays 11 (every optional row present) whatever rows follow.
    const QString &picture = doc.text(Field::Text22);
    const QString &caption = doc.text(Field::Text29);
    if (!picture.isEmpty() && !caption.isEmpty()) {
        frame.line(QStringLiteral("<tr><td rowspan=\"11\" align=\"center\">") + caption + QStringLiteral("<br>"));
        frame.line(QStringLiteral("<img src=\"") + picture + QStringLiteral("\"><br>"));
        frame.line(QString(15, QChar(0x3000)) + QStringLiteral("</td>"));
    }
    // The first entry completes that row, so it has no "<tr>" of its own.
    frame.line(menuCell(doc.text(Field::Text23), doc.text(Field::Text14)));

    static const std::pair<Field, Field> kEntries[] = {
        {Field::Text24, Field::Text15}, {Field::Text25, Field::Text16}, {Field::Text26, Field::Text17},
        {Field::Text27, Field::Text18}, {Field::Text28, Field::Text19}, {Field::Text30, Field::Text20},
    };
    for (const auto &[target, title] : kEntries)
        frame.line(menuRow(doc.text(target), doc.text(title)));

    const QString &boardTitle = doc.text(Field::Text11);
    const QString &boardAddress = doc.text(Field::Text12);
    if (isNonBlank(boardTitle) && isNonBlank(boardAddress))
        frame.line(menuRow(boardAddress, boardTitle));
    if (isNonBlank(doc.text(Field::Text45)))
        frame.line(menuRow(doc.text(Field::Text45), QStringLiteral("自己紹介")));
    if (isNonBlank(doc.text(Field::Text46)))
        frame.line(menuRow(doc.text(Field::Text46), QStringLiteral("リンク集")));
    frame.line(menuRow(addresses::kFortunePage, QStringLiteral("おみくじ")));

    frame.endCentredTable();
}

} // namespace

PageResult chktop(PageFrame &frame)
{
    if (!frame.requiredCheck({Field::Text1, Field::Text2, Field::Text13, Field::Text21}))
        return PageResult::Refused;
    return kakitop(frame);
}

PageResult kakitop(PageFrame &frame)
{
    const SiteDocument &doc = frame.doc();
    if (!frame.allowName(Field::Text21, doc.text(Field::Text21)))
        return PageResult::Refused;
    if (!frame.open(doc.text(Field::Text21)))
        return PageResult::Failed;

    frame.pageOpening(doc.text(Field::Text13));
    titleTable(frame);
    frame.kakikyo();
    frame.line(QStringLiteral("<HR>"));
    frame.line(QStringLiteral("<br>"));
    menuTable(frame);
    return frame.finishPage({
        QStringLiteral("<div align=\"right\">"),
        QStringLiteral("<H6><A href=\"") + addresses::kMakerHomePage + QStringLiteral("\">くるみＷＥＢ</A> Ver") +
            kVersionText + QStringLiteral("</H6>"),
        QStringLiteral("</div>"),
    });
}

} // namespace webloom
