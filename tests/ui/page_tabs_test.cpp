// SPDX-License-Identifier: GPL-3.0-or-later
// The sub page, self-introduction and link tabs driven through their buttons,
// as the user drives them: fields typed into widgets, rows picked with the
// mouse, files chosen in the window's scripted dialogs.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "document/cp932.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"
#include "ui/main_window.h"

using namespace webloom;

namespace {

const QString kWritten = QStringLiteral("作成しました。");
const QString kLoaded = QStringLiteral("読込み完了");
const QString kMissing = QStringLiteral("必須項目にデータを入れてください");
const QString kEmptyList = QStringLiteral("項目を入れてください。");
const QString kChooseToDelete = QStringLiteral("削除する項目をリストから選んでください。");
const QString kChooseToCorrect = QStringLiteral("修正する項目をリストから選んでください。");
const QString kAddItems = QStringLiteral("項目を追加してください。");
const QString kNoFileName = QStringLiteral("ファイル名を入れてください。");
const QString kProjectFilter = QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ|*.txt|All Files|*.*|");
const QString kBodyFilter = QStringLiteral("text|*.txt|All Files|*.*|");

QString link(const QString &name, const QString &address, const QString &description)
{
    return name + QChar(kLinkSeparator) + address + QChar(kLinkSeparator) + description;
}

class PageTabsTest : public ::testing::Test {
protected:
    void SetUp() override { open(); }

    // A fresh window over a fresh, empty base folder.
    void open()
    {
        window.reset();
        prompter = std::make_unique<test::ScriptedPrompter>();
        base = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(base->isValid());
        window = std::make_unique<MainWindow>(prompter.get());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        doc().setText(Field::Label1, base->path());
    }

    template <class T> T *child(const char *name) const
    {
        T *w = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QLineEdit *edit(Field f) const { return window->findChild<QLineEdit *>(fieldName(f)); }
    QTabWidget *tabs() const { return child<QTabWidget>("SSTab1"); }
    QListWidget *links() const { return child<QListWidget>("List3"); }
    QPlainTextEdit *body() const { return child<QPlainTextEdit>("rtext1"); }
    QString label93() const { return child<QLabel>("Label93")->text(); }
    SiteDocument &doc() const { return window->document(); }

    void clickTab(int index) const
    {
        QTabBar *bar = tabs()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
        QApplication::processEvents();
    }
    // Shows the button's tab and clicks the button.
    void press(int tab, const char *button) const
    {
        if (tabs()->currentIndex() != tab)
            clickTab(tab);
        auto *b = child<QPushButton>(button);
        ASSERT_TRUE(b->isVisible() && b->isEnabled()) << button;
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void pressLink(const char *button) const { press(TabLink, button); }

    // FILE > LOAD of a project file; Label1 then points at the test's folder
    // again, wherever the project's base folder was.
    void load(const QString &project) const
    {
        prompter->chooseFile(project);
        child<QAction>("load")->trigger();
        doc().setText(Field::Label1, base->path());
    }

    void enter(const QString &name, const QString &address, const QString &description = {}) const
    {
        edit(Field::Text40)->setText(name);
        edit(Field::Text41)->setText(address);
        edit(Field::Text51)->setText(description);
    }
    QStringList entry() const
    {
        return {edit(Field::Text40)->text(), edit(Field::Text41)->text(), edit(Field::Text51)->text()};
    }
    void selectLink(int row) const
    {
        QListWidget *list = links();
        list->scrollToItem(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(row)).center());
    }
    QStringList rows() const
    {
        QStringList out;
        for (int i = 0; i < links()->count(); ++i)
            out.append(links()->item(i)->text());
        return out;
    }
    // The selected row as the user sees it: -1 unless exactly one row is
    // selected and it is also the current row.
    int selectedRow() const
    {
        const QList<QListWidgetItem *> selected = links()->selectedItems();
        if (selected.size() != 1)
            return selected.isEmpty() ? -1 : -2;
        const int row = links()->row(selected.first());
        return row == links()->currentRow() ? row : -3;
    }

    QStringList files() const { return QDir(base->path()).entryList(QDir::Files | QDir::Hidden); }
    QString path(const QString &name) const { return base->filePath(name); }

    std::unique_ptr<test::ScriptedPrompter> prompter;
    std::unique_ptr<QTemporaryDir> base;
    std::unique_ptr<MainWindow> window;
};

} // namespace

TEST_F(PageTabsTest, EachButtonWritesItsGoldenPage)
{
    struct Case {
        const char *project;
        int tab;
        const char *button;
        const char *page;
    };
    // The sub pages' bodies travel from the project's List4 into the text box
    // and back to List4 before writing; " sub1.html ", " self.html " and
    // " link.html " are trimmed.
    const Case cases[] = {
        {"self_full", TabSelf, "Command8", "self.html"},  {"self_minimal", TabSelf, "Command8", "self.html"},
        {"link_full", TabLink, "Command11", "link.html"}, {"link_minimal", TabLink, "Command11", "link.html"},
        {"sub_full", TabSub, "Command14", "sub1.html"},   {"sub_minimal", TabSub, "Command14", "sub.html"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.project);
        open();
        const QString name = QString::fromLatin1(c.project);
        const QString page = QString::fromLatin1(c.page);
        load(test::dataPath(name + QStringLiteral("/project.txt")));
        press(c.tab, c.button);
        EXPECT_EQ(prompter->messages(), (QStringList{kLoaded, kWritten}));
        EXPECT_EQ(files(), QStringList{page});
        EXPECT_TRUE(test::matchesGolden(name + QLatin1Char('/') + page, path(page)));
        EXPECT_EQ(tabs()->currentIndex(), c.tab);
        EXPECT_EQ(prompter->unexpected(), 0);
    }
}

TEST_F(PageTabsTest, SelfPageRefusesMissingRequiredFields)
{
    load(test::dataPath(QStringLiteral("self_minimal/project.txt")));
    prompter->clear();

    // Text1 or Text2 missing: the common tab is shown with the empty field.
    for (Field common : {Field::Text1, Field::Text2}) {
        SCOPED_TRACE(fieldName(common).toStdString());
        const QString kept = edit(common)->text();
        edit(common)->clear();
        press(TabSelf, "Command8");
        EXPECT_EQ(prompter->messages(), QStringList{kMissing});
        EXPECT_EQ(tabs()->currentIndex(), TabCommon);
        EXPECT_EQ(window->focusWidget(), edit(common)) << "the cursor waits in the empty field";
        edit(common)->setText(kept);
        prompter->clear();
    }
    // A missing field of the tab itself keeps the tab.
    for (Field own : {Field::Text31, Field::Text37, Field::Text44}) {
        SCOPED_TRACE(fieldName(own).toStdString());
        const QString kept = edit(own)->text();
        edit(own)->clear();
        press(TabSelf, "Command8");
        EXPECT_EQ(prompter->messages(), QStringList{kMissing});
        EXPECT_EQ(tabs()->currentIndex(), TabSelf);
        EXPECT_EQ(window->focusWidget(), edit(own));
        edit(own)->setText(kept);
        prompter->clear();
    }
    EXPECT_TRUE(files().isEmpty());

    // Blanks around the file name are not part of it.
    edit(Field::Text44)->setText(QStringLiteral(" me.html "));
    press(TabSelf, "Command8");
    EXPECT_EQ(prompter->messages(), QStringList{kWritten});
    EXPECT_EQ(files(), QStringList{QStringLiteral("me.html")});
}

TEST_F(PageTabsTest, SubPageRefusesMissingFieldsAnEmptyBodyAndNoFileName)
{
    load(test::dataPath(QStringLiteral("sub_minimal/project.txt")));
    prompter->clear();

    edit(Field::Text2)->clear();
    press(TabSub, "Command14");
    EXPECT_EQ(prompter->messages(), QStringList{kMissing});
    EXPECT_EQ(tabs()->currentIndex(), TabCommon);
    edit(Field::Text2)->setText(QStringLiteral("me@example.jp"));

    // An empty body, with title and file name filled.
    prompter->clear();
    edit(Field::Text48)->setText(QStringLiteral("題"));
    body()->clear();
    press(TabSub, "Command14");
    EXPECT_EQ(prompter->messages(), QStringList{kAddItems});

    prompter->clear();
    body()->setPlainText(QStringLiteral("本文"));
    edit(Field::Text49)->clear();
    press(TabSub, "Command14");
    EXPECT_EQ(prompter->messages(), QStringList{kNoFileName});
    EXPECT_EQ(tabs()->currentIndex(), TabSub);
    EXPECT_TRUE(files().isEmpty());

    // Typed lines, an empty one among them, become rows; a final break adds
    // none.
    prompter->clear();
    edit(Field::Text49)->setText(QStringLiteral(" sub2.html "));
    body()->setFocus();
    body()->selectAll();
    QTest::keyClicks(body(), QStringLiteral("one"));
    QTest::keyClick(body(), Qt::Key_Return);
    QTest::keyClick(body(), Qt::Key_Return);
    QTest::keyClicks(body(), QStringLiteral("<B>three</B>"));
    QTest::keyClick(body(), Qt::Key_Return);
    press(TabSub, "Command14");
    EXPECT_EQ(prompter->messages(), QStringList{kWritten});
    ASSERT_EQ(files(), QStringList{QStringLiteral("sub2.html")});
    const QByteArray page = test::readBytes(path(QStringLiteral("sub2.html")));
    const QByteArray rows = "<table border=\"0\" face=\"\x82\x6c\x82\x72 \x96\xbe\x92\xa9\">\r\n"
                            "<tr>\r\n<td nowrap align=\"left\">one</td>\r\n</tr>\r\n"
                            "<tr>\r\n<td nowrap align=\"left\">\x81\x40</td>\r\n</tr>\r\n"
                            "<tr>\r\n<td nowrap align=\"left\"><B>three</B></td>\r\n</tr>\r\n"
                            "</TABLE>\r\n";
    EXPECT_TRUE(page.contains(rows)) << page.toStdString();
    EXPECT_TRUE(page.contains("<TITLE>\x91\xe8</TITLE>\r\n"));
    // Writing leaves the body as typed.
    EXPECT_EQ(body()->toPlainText(), QStringLiteral("one\n\n<B>three</B>\n"));
}

TEST_F(PageTabsTest, LinkPageRefusesAnEmptyListAndNoFileNameButChecksNoCommonField)
{
    press(TabLink, "Command11");
    EXPECT_EQ(prompter->messages(), QStringList{kAddItems});

    prompter->clear();
    enter(QStringLiteral("海"), QStringLiteral("http://umi.example.jp/"));
    pressLink("Command9");
    edit(Field::Text43)->clear();
    pressLink("Command11");
    EXPECT_EQ(prompter->messages(), QStringList{kNoFileName});
    EXPECT_EQ(window->focusWidget(), edit(Field::Text43));
    EXPECT_TRUE(files().isEmpty());

    // Text1 and Text2 empty: written all the same, and the tab stays.
    prompter->clear();
    edit(Field::Text1)->clear();
    edit(Field::Text2)->clear();
    edit(Field::Text43)->setText(QStringLiteral(" link.html "));
    pressLink("Command11");
    EXPECT_EQ(prompter->messages(), QStringList{kWritten});
    EXPECT_EQ(tabs()->currentIndex(), TabLink);
    ASSERT_EQ(files(), QStringList{QStringLiteral("link.html")});
    EXPECT_TRUE(test::readBytes(path(QStringLiteral("link.html")))
                    .contains("<td nowrap align=\"left\"><B><A href=\"http://umi.example.jp/\" "
                              "target=\"_blank\">\x8a\x43</A></B><BR></td>\r\n"));
}

TEST_F(PageTabsTest, LinkCorrectionCycleThroughTheButtons)
{
    const QStringList cleared{QString(), QStringLiteral("http://"), QString()};

    // The address still at its default is refused; nothing changes.
    clickTab(TabLink);
    edit(Field::Text40)->setText(QStringLiteral("海"));
    pressLink("Command9");
    EXPECT_EQ(prompter->messages(), QStringList{kMissing});
    EXPECT_EQ(window->focusWidget(), edit(Field::Text41));
    EXPECT_EQ(links()->count(), 0);
    EXPECT_EQ(entry(), (QStringList{QStringLiteral("海"), QStringLiteral("http://"), QString()}));

    // Each added link is selected, and the entry fields start afresh.
    prompter->clear();
    const QString a = link(QStringLiteral("A"), QStringLiteral("http://a.example/"), QStringLiteral("一"));
    const QString b = link(QStringLiteral("B"), QStringLiteral("http://b.example/"), QStringLiteral("二<BR>行"));
    const QString c = link(QStringLiteral("C"), QStringLiteral("http://c.example/"), QString());
    enter(QStringLiteral(" A "), QStringLiteral(" http://a.example/ "), QStringLiteral("一"));
    pressLink("Command9");
    EXPECT_EQ(selectedRow(), 0);
    enter(QStringLiteral("B"), QStringLiteral("http://b.example/"), QStringLiteral("二<BR>行"));
    pressLink("Command9");
    EXPECT_EQ(selectedRow(), 1);
    edit(Field::Text40)->setFocus();
    QTest::keyClicks(edit(Field::Text40), QStringLiteral("C"));
    QTest::keyClicks(edit(Field::Text41), QStringLiteral("c.example/"));
    pressLink("Command9");
    EXPECT_EQ(rows(), (QStringList{a, b, c}));
    EXPECT_EQ(selectedRow(), 2);
    EXPECT_EQ(entry(), cleared);
    EXPECT_TRUE(prompter->messages().isEmpty());

    // Take B out: its parts fill the entry fields, its row stays selected.
    selectLink(1);
    pressLink("Command2");
    EXPECT_EQ(entry(),
              (QStringList{QStringLiteral("B"), QStringLiteral("http://b.example/"), QStringLiteral("二<BR>行")}));
    EXPECT_EQ(label93(), QStringLiteral("1"));
    EXPECT_EQ(selectedRow(), 1);

    // Correct the address; delete A, before it: the correction follows B,
    // which is now in A's place and selected.
    edit(Field::Text41)->setText(QStringLiteral("http://b2.example/"));
    selectLink(0);
    pressLink("Command10");
    EXPECT_EQ(rows(), (QStringList{b, c}));
    EXPECT_EQ(label93(), QStringLiteral("0"));
    EXPECT_EQ(selectedRow(), 0);

    // A put back with the name emptied is refused and keeps everything.
    edit(Field::Text40)->clear();
    selectLink(1);
    pressLink("Command15");
    EXPECT_EQ(prompter->messages(), QStringList{kMissing});
    EXPECT_EQ(rows(), (QStringList{b, c}));
    EXPECT_EQ(label93(), QStringLiteral("0"));
    EXPECT_EQ(selectedRow(), 1);

    // Put back: B in its place with the new address, whatever row was
    // selected; the selection moves to it.
    prompter->clear();
    edit(Field::Text40)->setText(QStringLiteral("B"));
    pressLink("Command15");
    const QString b2 = link(QStringLiteral("B"), QStringLiteral("http://b2.example/"), QStringLiteral("二<BR>行"));
    EXPECT_EQ(rows(), (QStringList{b2, c}));
    EXPECT_EQ(entry(), cleared);
    EXPECT_EQ(label93(), QString());
    EXPECT_EQ(selectedRow(), 0);
    EXPECT_TRUE(prompter->messages().isEmpty());

    // Nothing out for correction: a second put back is refused.
    enter(QStringLiteral("D"), QStringLiteral("http://d.example/"));
    pressLink("Command15");
    EXPECT_EQ(prompter->messages(), QStringList{kChooseToCorrect});
    EXPECT_EQ(rows(), (QStringList{b2, c}));

    // Deleting the item that is out ends its correction; the entry fields
    // keep its parts. Deleting the last row selects the new last one.
    prompter->clear();
    selectLink(1);
    pressLink("Command2");
    EXPECT_EQ(label93(), QStringLiteral("1"));
    pressLink("Command10");
    EXPECT_EQ(rows(), QStringList{b2});
    EXPECT_EQ(label93(), QString());
    EXPECT_EQ(selectedRow(), 0);
    EXPECT_EQ(entry(), (QStringList{QStringLiteral("C"), QStringLiteral("http://c.example/"), QString()}));
    pressLink("Command15");
    EXPECT_EQ(prompter->messages(), QStringList{kChooseToCorrect});
    EXPECT_EQ(rows(), QStringList{b2});

    // No row selected, then no rows at all.
    prompter->clear();
    links()->clearSelection();
    pressLink("Command10");
    pressLink("Command2");
    EXPECT_EQ(prompter->messages(), (QStringList{kChooseToDelete, kChooseToCorrect}));
    EXPECT_EQ(rows(), QStringList{b2});
    prompter->clear();
    selectLink(0);
    pressLink("Command10");
    EXPECT_EQ(links()->count(), 0);
    EXPECT_EQ(selectedRow(), -1);
    pressLink("Command10");
    pressLink("Command2");
    EXPECT_EQ(prompter->messages(), (QStringList{kEmptyList, kEmptyList}));
    EXPECT_EQ(doc().list(ListId::List3), QStringList());
}

TEST_F(PageTabsTest, LoadingANewLinkListEndsTheCorrection)
{
    for (const char *name : {"A", "B", "C"}) {
        enter(QString::fromLatin1(name), QStringLiteral("http://x.example/"));
        pressLink("Command9");
    }
    selectLink(2);
    pressLink("Command2");
    ASSERT_EQ(label93(), QStringLiteral("2"));

    // The loaded list has one link: position 2 would point past it, and
    // position 0 at a link that was never taken out.
    load(test::dataPath(QStringLiteral("link_minimal/project.txt")));
    EXPECT_EQ(label93(), QString());
    const QStringList loaded{link(QStringLiteral("Diving"), QStringLiteral("A"), QStringLiteral("Fun dives"))};
    EXPECT_EQ(rows(), loaded);
    pressLink("Command15");
    EXPECT_EQ(prompter->messages(), (QStringList{kLoaded, kChooseToCorrect}));
    EXPECT_EQ(rows(), loaded);
    // The entry fields are not part of the project and stay as they were.
    EXPECT_EQ(entry(), (QStringList{QStringLiteral("C"), QStringLiteral("http://x.example/"), QString()}));

    // A project without a link list leaves the list, and a correction, alone.
    selectLink(0);
    pressLink("Command2");
    const QString titleOnly = path(QStringLiteral("title.txt"));
    ASSERT_TRUE(test::writeBytes(titleOnly, "te013=x\r\n"));
    load(titleOnly);
    EXPECT_EQ(label93(), QStringLiteral("0"));
    // "A" is too short for an address: the correction makes it whole.
    edit(Field::Text41)->setText(QStringLiteral("http://a.example/"));
    prompter->clear();
    pressLink("Command15");
    EXPECT_TRUE(prompter->messages().isEmpty());
    EXPECT_EQ(rows(), QStringList{link(QStringLiteral("Diving"), QStringLiteral("http://a.example/"),
                                       QStringLiteral("Fun dives"))});

    // A load that stops inside the link list has replaced it as well.
    selectLink(0);
    pressLink("Command2");
    const QString cut = path(QStringLiteral("cut.txt"));
    ASSERT_TRUE(test::writeBytes(cut, "list3=002\r\nls000=N\x81\x46"
                                      "a\x81\x46\r\n"));
    prompter->clear();
    load(cut);
    EXPECT_EQ(prompter->messages(), QStringList{cut + QStringLiteral("ファイルがありません")});
    EXPECT_EQ(label93(), QString());
}

TEST_F(PageTabsTest, BodyFilesAreReadInEitherEncodingAndWrittenAsCodePage932)
{
    const QByteArray sjis = "\x8a\x43\x82\xcc\x93\xfa\x8b\x4c"; // 海の日記
    const QByteArray utf8 = QStringLiteral("海の日記").toUtf8();
    const QString expected = QStringLiteral("海の日記\n\nlast\n");
    const QString file = path(QStringLiteral("body.txt"));
    clickTab(TabSub);
    for (const QByteArray &text : {sjis, utf8}) {
        for (const QByteArray eol : {"\r\n", "\n", "\r"}) {
            SCOPED_TRACE((text.toHex() + ' ' + eol.toHex()).toStdString());
            body()->setPlainText(QStringLiteral("old"));
            ASSERT_TRUE(test::writeBytes(file, text + eol + eol + "last" + eol));
            prompter->chooseFile(file);
            press(TabSub, "Command16");
            EXPECT_EQ(body()->toPlainText(), expected);
            EXPECT_EQ(doc().rtext1(), expected);
        }
    }
    EXPECT_TRUE(prompter->messages().isEmpty());

    // A cancelled dialog and a missing file leave the body alone; only the
    // missing file is worth a word.
    prompter->cancelDialog();
    press(TabSub, "Command16");
    EXPECT_TRUE(prompter->messages().isEmpty());
    prompter->chooseFile(path(QStringLiteral("missing.txt")));
    press(TabSub, "Command16");
    EXPECT_EQ(body()->toPlainText(), expected);
    ASSERT_EQ(prompter->messages().size(), 1);
    EXPECT_TRUE(prompter->lastMessage().startsWith(path(QStringLiteral("missing.txt"))));
    prompter->clear();

    // Writing: code page 932, CR LF after every line, a character without a
    // form in it as "?"; the dialog offers text files.
    body()->setPlainText(QStringLiteral("海の日記\n\n😀 x"));
    const QString saved = path(QStringLiteral("saved.txt"));
    prompter->answerYes(); // to the question about 😀
    prompter->chooseFile(saved);
    press(TabSub, "Command17");
    EXPECT_TRUE(test::sameBytes(sjis + "\r\n\r\n? x\r\n", test::readBytes(saved)));
    EXPECT_EQ(window->cob1().fileName, saved);
    EXPECT_TRUE(prompter->messages().isEmpty());

    // The shared dialog then proposes that file to the next command, while
    // SAVE and LOAD offer project files again.
    prompter->cancelDialog();
    press(TabSub, "Command16");
    prompter->answerYes(); // 😀 is still in the body
    prompter->cancelDialog();
    child<QAction>("save")->trigger();
    prompter->cancelDialog();
    child<QAction>("load")->trigger();
    EXPECT_EQ(prompter->dialogFilters.mid(prompter->dialogFilters.size() - 4),
              (QStringList{kBodyFilter, kBodyFilter, kProjectFilter, kProjectFilter}));
    EXPECT_EQ(prompter->shown().back().text, saved);
    EXPECT_EQ(prompter->unexpected(), 0);
}

TEST_F(PageTabsTest, CommandLineWritesTheSameBytesAsTheButtons)
{
    const QString sample = QStringLiteral(WEBLOOM_TEST_DATA "/../../examples/sample-project.txt");
    load(sample);
    press(TabSelf, "Command8");
    press(TabLink, "Command11");
    press(TabSub, "Command14");
    EXPECT_EQ(prompter->messages(), (QStringList{kLoaded, kWritten, kWritten, kWritten}));
    const QStringList pages{QStringLiteral("link.html"), QStringLiteral("self.html"), QStringLiteral("sub1.html")};
    ASSERT_EQ(files(), pages);

    QTemporaryDir out;
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(WEBLOOM_BINARY), {QStringLiteral("build"), sample, QStringLiteral("--out"), out.path(),
                                               QStringLiteral("--only"), QStringLiteral("self,link,sub")});
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files), pages);
    for (const QString &page : pages) {
        SCOPED_TRACE(page.toStdString());
        EXPECT_TRUE(test::sameBytes(test::readBytes(path(page)), test::readBytes(out.filePath(page))));
    }
}
