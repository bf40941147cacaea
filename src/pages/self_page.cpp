// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/self_page.h"

namespace webloom {

namespace {

const QString kTitle = QStringLiteral("自　己　紹　介");
const QString kSpacerRow = QStringLiteral("<tr><td>　</td><td>　</td></tr>");

void cellRow(PageFrame &frame, const QString &leftCell, const QString &value)
{
    frame.line(QStringLiteral("<tr>"));
    frame.line(leftCell);
    frame.line(QStringLiteral("<td nowrap align=\"left\">") + value + QStringLiteral("</td>"));
    frame.line(QStringLiteral("</tr>"));
}

void itemRow(PageFrame &frame, const QString &itemName, const QString &value)
{
    cellRow(frame, QStringLiteral("<td nowrap align=\"left\"><B>") + itemName + QStringLiteral("</B></td>"), value);
}

void continuationRow(PageFrame &frame, const QString &value)
{
    cellRow(frame, QStringLiteral("<td nowrap align=\"left\">　</td>"), value);
}

} // namespace

PageResult chkself(PageFrame &frame)
{
    if (!frame.requiredCheck({Field::Text1, Field::Text2, Field::Text31, Field::Text37, Field::Text44}))
        return PageResult::Refused;
    return kakiself(frame);
}

PageResult kakiself(PageFrame &frame)
{
    const SiteDocument &doc = frame.doc();
    auto text = [&doc](Field f) { return doc.text(f); };

    // A name of spaces only trims to nothing and names the base folder itself;
    // opening that fails and is reported by the frame.
    const QString name = trimSpaces(text(Field::Text44));
    if (!frame.allowName(Field::Text44, name))
        return PageResult::Refused;
    if (!frame.open(name))
        return PageResult::Failed;

    frame.pageHead(kTitle, kTitle);
    frame.line(QStringLiteral("<br>"));
    frame.centredTable();

    // The name row keeps its own attribute order and its two-line shape.
    frame.line(QStringLiteral("<tr><td align=\"left\" nowrap><B>名　前</B></td>"));
    frame.line(QStringLiteral("<td nowrap align=\"left\">") + text(Field::Text31) + QStringLiteral("</td></tr>"));
    frame.line(kSpacerRow);

    if (isNonBlank(text(Field::Text32)))
        itemRow(frame, QStringLiteral("誕　生　日"), text(Field::Text32));
    frame.line(kSpacerRow);

    if (isNonBlank(text(Field::Text33))) {
        itemRow(frame, QStringLiteral("趣　味"), text(Field::Text33));
        if (isNonBlank(text(Field::Text34)))
            continuationRow(frame, text(Field::Text34));
    }
    frame.line(kSpacerRow);

    if (isNonBlank(text(Field::Text35))) {
        itemRow(frame, QStringLiteral("持っている資格　"), text(Field::Text35));
        if (isNonBlank(text(Field::Text36)))
            continuationRow(frame, text(Field::Text36));
    }
    frame.line(kSpacerRow);

    // The word to the visitors is required, so its first line is always there.
    itemRow(frame, QStringLiteral("ひとこと"), text(Field::Text37));
    if (isNonBlank(text(Field::Text38))) {
        continuationRow(frame, text(Field::Text38));
        if (isNonBlank(text(Field::Text39)))
            continuationRow(frame, text(Field::Text39));
    }
    frame.line(kSpacerRow);

    frame.endCentredTable();
    return frame.finishPage();
}

} // namespace webloom
