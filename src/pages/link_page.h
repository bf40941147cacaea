// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "document/prompter.h"
#include "document/site_document.h"
#include "pages/page_frame.h"

namespace webloom {

// One link of List3, stored as name "：" address "：" description.
struct LinkItem {
    QString name;
    QString address;
    QString description;
};

// The name ends at the first "：", the address at the next one, and the
// description takes the rest (colons included). Parts missing from a
// hand-edited item are empty.
LinkItem splitLinkItem(const QString &item);

// The item for the entry fields Text40, Text41 and Text51: name and address
// without leading and trailing spaces, the description as typed.
QString linkItemFromEntry(const SiteDocument &doc);

// The link list commands of the link tab. `selection` is the current index
// of the List3 box (-1 for none); each command leaves it on the item the
// user should see next:
//  - add: the new item;
//  - delete: the item that moved into the deleted one's place, or the new
//    last item when the last one was deleted (-1 once the list is empty);
//  - take out and put back: the item being corrected.
// A refusal leaves the selection, like everything else, unchanged.
//
// Label93 holds the position of the item out for correction. It follows that
// item when an earlier item is deleted, and is emptied when the item itself
// is deleted, so putting back never replaces a different item.

// "リストに追加" (Command9).
void command9(SiteDocument &doc, Prompter &prompter, int &selection);
// "修正取り込み" (Command2).
void command2(SiteDocument &doc, Prompter &prompter, int &selection);
// "修正戻し" (Command15).
void command15(SiteDocument &doc, Prompter &prompter, int &selection);
// "項目削除" (Command10).
void command10(SiteDocument &doc, Prompter &prompter, int &selection);

// "ＨＰ作成" of the link tab (Command11): refuses an empty List3 or an empty
// Text43, then writes the link-collection page. It has no required-field
// check of Text1 and Text2.
PageResult command11(PageFrame &frame);

} // namespace webloom
