// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "document/project_file.h"
#include "pages/link_page.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"

using namespace webloom;

namespace {

const QString kWritten = QStringLiteral("作成しました。");
const QString kMissing = QStringLiteral("必須項目にデータを入れてください");
const QString kEmptyList = QStringLiteral("項目を入れてください。");
const QString kChooseToDelete = QStringLiteral("削除する項目をリストから選んでください。");
const QString kChooseToCorrect = QStringLiteral("修正する項目をリストから選んでください。");

QString item(const QByteArray &name, const QByteArray &address, const QByteArray &description)
{
    return QString::fromUtf8(name) + kLinkSeparator + QString::fromUtf8(address) + kLinkSeparator +
           QString::fromUtf8(description);
}

struct LinkCase {
    QTemporaryDir dir;
    SiteDocument doc;
    test::ScriptedPrompter prompter;
    int selection = -1;

    explicit LinkCase(const QString &name = {})
    {
        if (!name.isEmpty()) {
            EXPECT_TRUE(loadProjectFile(doc, prompter, test::dataPath(name + QStringLiteral("/project.txt"))));
            prompter.clear();
        }
        doc.setText(Field::Label1, dir.path());
        doc.setCurrentTab(TabLink);
    }

    // A list of `count` links named L1, L2, ... to http://lN.example/.
    void fill(int count)
    {
        QStringList items;
        for (int i = 1; i <= count; ++i) {
            const QByteArray n = QByteArray::number(i);
            items.append(item("L" + n, "http://l" + n + ".example/", "d" + n));
        }
        doc.setList(ListId::List3, items);
    }

    void enter(const QString &name, const QString &address, const QString &description = {})
    {
        doc.setText(Field::Text40, name);
        doc.setText(Field::Text41, address);
        doc.setText(Field::Text51, description);
    }

    QStringList entry() const { return {doc.text(Field::Text40), doc.text(Field::Text41), doc.text(Field::Text51)}; }
    const QStringList &links() const { return doc.list(ListId::List3); }
    QString label93() const { return doc.text(Field::Label93); }

    void add() { command9(doc, prompter, selection); }
    void takeOut() { command2(doc, prompter, selection); }
    void putBack() { command15(doc, prompter, selection); }
    void remove() { command10(doc, prompter, selection); }
    PageResult write()
    {
        PageFrame frame(doc, prompter);
        return command11(frame);
    }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }
};

const QStringList kClearedEntry = {QString(), QStringLiteral("http://"), QString()};

} // namespace

TEST(LinkPage, FullListMatchesGolden)
{
    // Twelve links: an empty description, "<BR>" in a description, a blank
    // name, a colon inside a name, hand-edited items with no or one
    // separator, a colon inside a description; the file name " link.html ".
    LinkCase c(QStringLiteral("link_full"));
    EXPECT_EQ(c.write(), PageResult::Written);
    EXPECT_EQ(c.prompter.messages(), QStringList{kWritten});
    EXPECT_EQ(c.files(), QStringList{QStringLiteral("link.html")});
    EXPECT_TRUE(
        test::matchesGolden(QStringLiteral("link_full/link.html"), c.dir.filePath(QStringLiteral("link.html"))));
}

TEST(LinkPage, OneLinkWithEmptyHomeAndMailMatchesGolden)
{
    // The link page checks neither Text1 nor Text2.
    LinkCase c(QStringLiteral("link_minimal"));
    EXPECT_EQ(c.write(), PageResult::Written);
    EXPECT_TRUE(
        test::matchesGolden(QStringLiteral("link_minimal/link.html"), c.dir.filePath(QStringLiteral("link.html"))));
}

TEST(LinkPage, WritingRefusesAnEmptyListAndAnEmptyFileName)
{
    LinkCase empty;
    EXPECT_EQ(empty.write(), PageResult::Refused);
    EXPECT_EQ(empty.prompter.messages(), QStringList{QStringLiteral("項目を追加してください。")});

    LinkCase noName;
    noName.fill(1);
    noName.doc.setText(Field::Text43, QString());
    EXPECT_EQ(noName.write(), PageResult::Refused);
    EXPECT_EQ(noName.prompter.messages(), QStringList{QStringLiteral("ファイル名を入れてください。")});

    EXPECT_TRUE(empty.files().isEmpty());
    EXPECT_TRUE(noName.files().isEmpty());
}

TEST(LinkItemSplit, PartsAndShiftedColons)
{
    struct Row {
        QString item;
        QString name, address, description;
    };
    const QString sep(kLinkSeparator);
    const Row rows[] = {
        {item("Diving", "A", "Fun dives"), QStringLiteral("Diving"), QStringLiteral("A"), QStringLiteral("Fun dives")},
        {item("Diving", "A", ""), QStringLiteral("Diving"), QStringLiteral("A"), QString()},
        {item("", "http://x.example/", "d"), QString(), QStringLiteral("http://x.example/"), QStringLiteral("d")},
        // A colon in the name shifts everything: the real address lands in the description.
        {item("a：b", "http://x.example/", "d"), QStringLiteral("a"), QStringLiteral("b"),
         QStringLiteral("http://x.example/") + sep + QStringLiteral("d")},
        {item("n", "h", "x：y："), QStringLiteral("n"), QStringLiteral("h"), QStringLiteral("x：y：")},
        // Hand-edited items without two separators.
        {QStringLiteral("only a name"), QStringLiteral("only a name"), QString(), QString()},
        {QStringLiteral("name") + sep + QStringLiteral("http://x.example/"), QStringLiteral("name"),
         QStringLiteral("http://x.example/"), QString()},
        {QString(), QString(), QString(), QString()},
        {sep, QString(), QString(), QString()},
    };
    for (const Row &row : rows) {
        const LinkItem parts = splitLinkItem(row.item);
        EXPECT_EQ(parts.name, row.name) << row.item.toStdString();
        EXPECT_EQ(parts.address, row.address) << row.item.toStdString();
        EXPECT_EQ(parts.description, row.description) << row.item.toStdString();
    }
}

TEST(LinkList, AddChecksTheEntryAndBuildsTheItem)
{
    LinkCase c;
    c.fill(2);

    c.enter(QStringLiteral("Site"), QStringLiteral("http://"));
    c.add();
    c.enter(QString(), QStringLiteral("http://a.example/"));
    c.add();
    EXPECT_EQ(c.prompter.messages(), (QStringList{kMissing, kMissing}));
    EXPECT_EQ(c.links().size(), 2);
    EXPECT_EQ(c.entry(), (QStringList{QString(), QStringLiteral("http://a.example/"), QString()}));
    EXPECT_EQ(c.selection, -1);

    // Eight characters are enough; name and address are trimmed, the
    // description is kept as typed.
    c.prompter.clear();
    c.doc.setText(Field::Label93, QStringLiteral("0"));
    c.enter(QStringLiteral("  Site  "), QStringLiteral(" http://a "), QStringLiteral(" one<BR>two "));
    c.add();
    EXPECT_TRUE(c.prompter.messages().isEmpty());
    ASSERT_EQ(c.links().size(), 3);
    EXPECT_EQ(c.links().at(2), item("Site", "http://a", " one<BR>two "));
    EXPECT_EQ(c.entry(), kClearedEntry);
    EXPECT_EQ(c.label93(), QStringLiteral("0"));
    EXPECT_EQ(c.selection, 2);

    // A name of blanks passes the check and is stored empty; an empty
    // description leaves the item ending in the separator.
    c.enter(QStringLiteral("   "), QStringLiteral("http://b.example/"));
    c.add();
    ASSERT_EQ(c.links().size(), 4);
    EXPECT_EQ(c.links().at(3), item("", "http://b.example/", ""));
    EXPECT_EQ(c.selection, 3);
}

TEST(LinkList, TakeOutCorrectAndPutBackKeepsThePosition)
{
    LinkCase c;
    c.fill(4);
    c.selection = 2;
    c.takeOut();
    EXPECT_EQ(c.label93(), QStringLiteral("2"));
    EXPECT_EQ(c.entry(),
              (QStringList{QStringLiteral("L3"), QStringLiteral("http://l3.example/"), QStringLiteral("d3")}));
    EXPECT_EQ(c.links().at(2), item("L3", "http://l3.example/", "d3")); // still in the list until put back

    c.doc.setText(Field::Text41, QStringLiteral("http://new.example/"));
    c.selection = 0; // the user may select something else meanwhile
    c.putBack();
    EXPECT_TRUE(c.prompter.messages().isEmpty());
    EXPECT_EQ(c.links().size(), 4);
    EXPECT_EQ(c.links().at(2), item("L3", "http://new.example/", "d3"));
    EXPECT_EQ(c.links().at(0), item("L1", "http://l1.example/", "d1"));
    EXPECT_EQ(c.entry(), kClearedEntry);
    EXPECT_EQ(c.label93(), QString());
    EXPECT_EQ(c.selection, 2);

    // The last item goes back to the end.
    c.selection = 3;
    c.takeOut();
    c.doc.setText(Field::Text40, QStringLiteral("Last"));
    c.putBack();
    EXPECT_EQ(c.links().size(), 4);
    EXPECT_EQ(c.links().at(3), item("Last", "http://l4.example/", "d4"));
}

TEST(LinkList, PutBackRefusalsChangeNothing)
{
    LinkCase c;
    c.fill(3);

    // Nothing taken out: no position to put back to, and no item is removed.
    c.enter(QStringLiteral("X"), QStringLiteral("http://x.example/"));
    c.selection = 1;
    c.putBack();
    EXPECT_EQ(c.prompter.messages(), QStringList{kChooseToCorrect});
    EXPECT_EQ(c.links().size(), 3);
    EXPECT_EQ(c.entry(), (QStringList{QStringLiteral("X"), QStringLiteral("http://x.example/"), QString()}));

    // Name emptied after taking out: refused, the correction stays open.
    c.prompter.clear();
    c.takeOut();
    c.doc.setText(Field::Text40, QString());
    const QStringList before = c.links();
    c.putBack();
    EXPECT_EQ(c.prompter.messages(), QStringList{kMissing});
    EXPECT_EQ(c.links(), before);
    EXPECT_EQ(c.label93(), QStringLiteral("1"));
    EXPECT_EQ(c.doc.text(Field::Text41), QStringLiteral("http://l2.example/"));
    c.doc.setText(Field::Text40, QStringLiteral("Fixed"));
    c.putBack();
    EXPECT_EQ(c.links().at(1), item("Fixed", "http://l2.example/", "d2"));

    // A remembered position that no longer names an item (the list was
    // replaced by a load meanwhile) removes nothing either.
    c.prompter.clear();
    c.selection = 2;
    c.takeOut();
    c.doc.setList(ListId::List3, {item("A", "http://a.example/", "")});
    c.putBack();
    EXPECT_EQ(c.prompter.messages(), QStringList{kChooseToCorrect});
    EXPECT_EQ(c.links(), QStringList{item("A", "http://a.example/", "")});
}

TEST(LinkList, RememberedPositionFollowsDeletions)
{
    // Deleting an earlier item moves the remembered position down with it.
    LinkCase c;
    c.fill(5);
    c.selection = 3;
    c.takeOut();
    c.selection = 1;
    c.remove();
    EXPECT_EQ(c.label93(), QStringLiteral("2"));
    c.doc.setText(Field::Text51, QStringLiteral("corrected"));
    c.putBack();
    EXPECT_EQ(c.links(),
              (QStringList{item("L1", "http://l1.example/", "d1"), item("L3", "http://l3.example/", "d3"),
                           item("L4", "http://l4.example/", "corrected"), item("L5", "http://l5.example/", "d5")}));

    // Deleting a later item leaves it where it is.
    c.selection = 0;
    c.takeOut();
    c.selection = 2;
    c.remove();
    EXPECT_EQ(c.label93(), QStringLiteral("0"));

    // Deleting the item itself ends the correction; the entry fields stay so
    // the user can still add them as a new link.
    c.selection = 0;
    c.remove();
    EXPECT_EQ(c.label93(), QString());
    EXPECT_EQ(c.entry(),
              (QStringList{QStringLiteral("L1"), QStringLiteral("http://l1.example/"), QStringLiteral("d1")}));
    const QStringList before = c.links();
    c.putBack();
    EXPECT_EQ(c.prompter.messages(), QStringList{kChooseToCorrect});
    EXPECT_EQ(c.links(), before);
}

TEST(LinkList, DeleteAndTakeOutNeedAListAndASelection)
{
    LinkCase c;
    c.remove();
    c.takeOut();
    EXPECT_EQ(c.prompter.messages(), (QStringList{kEmptyList, kEmptyList}));

    c.prompter.clear();
    c.fill(2);
    c.selection = -1;
    c.remove();
    c.takeOut();
    c.selection = 2; // past the end counts as no selection
    c.remove();
    EXPECT_EQ(c.prompter.messages(), (QStringList{kChooseToDelete, kChooseToCorrect, kChooseToDelete}));
    EXPECT_EQ(c.links().size(), 2);
    EXPECT_EQ(c.label93(), QString());
    EXPECT_EQ(c.entry(), kClearedEntry);
}

TEST(LinkList, SelectionAfterDeleteMovesToTheNeighbour)
{
    LinkCase c;
    c.fill(3);
    c.selection = 1;
    c.remove();
    EXPECT_EQ(c.selection, 1); // the item that moved up into its place
    EXPECT_EQ(c.links().at(1), item("L3", "http://l3.example/", "d3"));
    c.remove();
    EXPECT_EQ(c.selection, 0); // the last one went: the new last item
    c.remove();
    EXPECT_EQ(c.selection, -1);
    EXPECT_TRUE(c.links().isEmpty());
    EXPECT_TRUE(c.prompter.messages().isEmpty());
}

TEST(LinkList, TakingOutAnotherItemAbandonsTheFirst)
{
    LinkCase c;
    c.fill(3);
    c.selection = 0;
    c.takeOut();
    c.doc.setText(Field::Text40, QStringLiteral("half edited"));
    c.selection = 2;
    c.takeOut();
    EXPECT_EQ(c.label93(), QStringLiteral("2"));
    EXPECT_EQ(c.entry(),
              (QStringList{QStringLiteral("L3"), QStringLiteral("http://l3.example/"), QStringLiteral("d3")}));
    c.putBack();
    EXPECT_EQ(c.links().at(0), item("L1", "http://l1.example/", "d1"));

    // A hand-edited item without separators comes out with empty parts.
    c.doc.setList(ListId::List3, {QStringLiteral("bare")});
    c.selection = 0;
    c.takeOut();
    EXPECT_EQ(c.entry(), (QStringList{QStringLiteral("bare"), QString(), QString()}));
}
