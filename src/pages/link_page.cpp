// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/link_page.h"

namespace webloom {

namespace {

const QString kTitle = QStringLiteral("リ　ン　ク　集");
const QString kDefaultAddress = QStringLiteral("http://");

// An address must be longer than the default "http://" and a name must have
// been typed; both measured untrimmed.
bool entryFilled(const SiteDocument &doc)
{
    return doc.text(Field::Text41).size() > kDefaultAddress.size() && !doc.text(Field::Text40).isEmpty();
}

// The name comes first on the tab, then the address.
void refuseEntry(SiteDocument &doc, Prompter &prompter)
{
    prompter.message(QStringLiteral("必須項目にデータを入れてください"));
    doc.pointAtMissing(doc.text(Field::Text40).isEmpty() ? Field::Text40 : Field::Text41);
}

void clearEntry(SiteDocument &doc)
{
    doc.setText(Field::Text40, QString());
    doc.setText(Field::Text41, kDefaultAddress);
    doc.setText(Field::Text51, QString());
}

// The position held by Label93, or -1 when nothing is out for correction.
qsizetype correctionPosition(const SiteDocument &doc)
{
    const QString &text = doc.text(Field::Label93);
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    bool ok = false;
    const qsizetype position = text.toLongLong(&ok);
    return ok ? position : -1;
}

void setCorrectionPosition(SiteDocument &doc, qsizetype position)
{
    doc.setText(Field::Label93, position < 0 ? QString() : QString::number(position));
}

// The selected item, or -1 after the refusal message for an empty list or
// no selection.
qsizetype selectedItem(const SiteDocument &doc, Prompter &prompter, int selection, const QString &noneSelected)
{
    if (doc.itemCount(ListId::List3) == 0) {
        prompter.message(QStringLiteral("項目を入れてください。"));
        return -1;
    }
    if (selection < 0 || selection >= doc.itemCount(ListId::List3)) {
        prompter.message(noneSelected);
        return -1;
    }
    return selection;
}

} // namespace

LinkItem splitLinkItem(const QString &item)
{
    LinkItem parts;
    const qsizetype first = item.indexOf(kLinkSeparator);
    if (first < 0) {
        parts.name = item;
        return parts;
    }
    parts.name = item.left(first);
    const qsizetype second = item.indexOf(kLinkSeparator, first + 1);
    if (second < 0) {
        parts.address = item.mid(first + 1);
        return parts;
    }
    parts.address = item.mid(first + 1, second - first - 1);
    parts.description = item.mid(second + 1);
    return parts;
}

QString linkItemFromEntry(const SiteDocument &doc)
{
    return trimSpaces(doc.text(Field::Text40)) + kLinkSeparator + trimSpaces(doc.text(Field::Text41)) + kLinkSeparator +
           doc.text(Field::Text51);
}

void command9(SiteDocument &doc, Prompter &prompter, int &selection)
{
    if (!entryFilled(doc)) {
        refuseEntry(doc, prompter);
        return;
    }
    doc.appendItem(ListId::List3, linkItemFromEntry(doc));
    clearEntry(doc);
    selection = static_cast<int>(doc.itemCount(ListId::List3) - 1);
}

void command2(SiteDocument &doc, Prompter &prompter, int &selection)
{
    const qsizetype index =
        selectedItem(doc, prompter, selection, QStringLiteral("修正する項目をリストから選んでください。"));
    if (index < 0)
        return;
    setCorrectionPosition(doc, index);
    const LinkItem parts = splitLinkItem(doc.item(ListId::List3, index));
    doc.setText(Field::Text40, parts.name);
    doc.setText(Field::Text41, parts.address);
    doc.setText(Field::Text51, parts.description);
}

void command15(SiteDocument &doc, Prompter &prompter, int &selection)
{
    const qsizetype position = correctionPosition(doc);
    if (position < 0 || position >= doc.itemCount(ListId::List3)) {
        prompter.message(QStringLiteral("修正する項目をリストから選んでください。"));
        return;
    }
    if (!entryFilled(doc)) {
        refuseEntry(doc, prompter);
        return;
    }
    doc.replaceItem(ListId::List3, position, linkItemFromEntry(doc));
    clearEntry(doc);
    setCorrectionPosition(doc, -1);
    selection = static_cast<int>(position);
}

void command10(SiteDocument &doc, Prompter &prompter, int &selection)
{
    const qsizetype index =
        selectedItem(doc, prompter, selection, QStringLiteral("削除する項目をリストから選んでください。"));
    if (index < 0)
        return;
    const qsizetype position = correctionPosition(doc);
    doc.removeItem(ListId::List3, index);
    if (position == index)
        setCorrectionPosition(doc, -1); // the entry fields stay, to be added anew if wanted
    else if (position > index)
        setCorrectionPosition(doc, position - 1);
    const qsizetype remaining = doc.itemCount(ListId::List3);
    selection = static_cast<int>(index < remaining ? index : remaining - 1);
}

PageResult command11(PageFrame &frame)
{
    const SiteDocument &doc = frame.doc();
    if (doc.itemCount(ListId::List3) == 0) {
        frame.prompter().message(QStringLiteral("項目を追加してください。"));
        return PageResult::Refused;
    }
    if (doc.text(Field::Text43).isEmpty()) {
        frame.prompter().message(QStringLiteral("ファイル名を入れてください。"));
        frame.doc().pointAtMissing(Field::Text43);
        return PageResult::Refused;
    }
    const QString name = trimSpaces(doc.text(Field::Text43));
    if (!frame.allowName(Field::Text43, name))
        return PageResult::Refused;
    if (!frame.open(name))
        return PageResult::Failed;

    frame.pageHead(kTitle, kTitle);
    frame.line(QStringLiteral("<br>"));
    frame.centredTable();
    const QStringList &items = doc.list(ListId::List3);
    for (qsizetype i = 0; i < items.size(); ++i) {
        const LinkItem link = splitLinkItem(items.at(i));
        frame.line(QStringLiteral("<tr>"));
        frame.line(QStringLiteral("<td nowrap align=\"left\"><B> ") + QString::number(i + 1) +
                   QStringLiteral("．</B></td>"));
        frame.line(QStringLiteral("<td nowrap align=\"left\"><B><A href=\"") + link.address +
                   QStringLiteral("\" target=\"_blank\">") + link.name + QStringLiteral("</A></B><BR>") +
                   link.description + QStringLiteral("</td>"));
        frame.line(QStringLiteral("</tr>"));
        frame.line(QStringLiteral("<tr><td>　</td><td>　</td></tr>"));
    }
    frame.endCentredTable();
    return frame.finishPage();
}

} // namespace webloom
