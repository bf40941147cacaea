// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "document/settings.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"
#include "ui/widget_helpers.h"
#include "ui/file_list_widget.h"
#include "ui/main_window.h"
#include "ui/window_registry.h"

using namespace webloom;
using webloom::test::itemTexts;
using webloom::test::touch;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<MainWindow>(&prompter);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    template <class T> T *child(const char *name) const
    {
        T *w = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QLineEdit *edit(Field f) const { return window->findChild<QLineEdit *>(fieldName(f)); }
    QTabWidget *tabs() const { return child<QTabWidget>("SSTab1"); }
    SiteDocument &doc() const { return window->document(); }

    void clickTab(int index) const
    {
        QTabBar *bar = tabs()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
    }

    test::ScriptedPrompter prompter;
    std::unique_ptr<MainWindow> window;
};

// Text typed through the input method (Japanese) or as one key press
// producing a character that has no key of its own.
void commitText(QWidget *w, const QString &text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(w, &event);
}
void typeCharacter(QWidget *w, QChar c)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(w, &press);
}

} // namespace

TEST_F(MainWindowTest, StartsWithTheDefaultsOnTabZero)
{
    EXPECT_EQ(window->objectName(), QStringLiteral("main1"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("くるみのホームページ作成ツール"));
    EXPECT_EQ(window->centralWidget()->width(), 719);
    EXPECT_NEAR(window->centralWidget()->height(), 555, 2);

    for (const FieldInfo &info : fieldTable()) {
        if (info.field == Field::Label1 || info.field == Field::Label93 || info.field == Field::Text47)
            continue;
        QLineEdit *e = edit(info.field);
        ASSERT_NE(e, nullptr) << info.name;
        EXPECT_EQ(e->text(), QString::fromUtf8(info.defaultValue)) << info.name;
    }
    EXPECT_EQ(child<QLineEdit>("Label1")->text(), QDir::toNativeSeparators(QDir::currentPath()));
    EXPECT_TRUE(child<QLineEdit>("Label1")->isReadOnly());
    EXPECT_EQ(child<QLabel>("Label93")->text(), QString());
    EXPECT_EQ(child<QPlainTextEdit>("rtext1")->toPlainText(), QString());
    EXPECT_EQ(child<QListWidget>("List3")->count(), 0);
    EXPECT_EQ(child<FileListWidget>("File1")->count(), 0);

    const QStringList captions{QStringLiteral("共通設定項目"), QStringLiteral("トップページ"),
                               QStringLiteral("サブＨＰ"),     QStringLiteral("写真ＨＰ"),
                               QStringLiteral("自己紹介ＨＰ"), QStringLiteral("リンクＨＰ")};
    ASSERT_EQ(tabs()->count(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(tabs()->tabText(i), captions.at(i));
    EXPECT_EQ(tabs()->currentIndex(), TabCommon);
    EXPECT_EQ(doc().currentTab(), TabCommon);
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(MainWindowTest, EveryTabFitsTheWindowWithoutScrolling)
{
    for (int i = 0; i < tabs()->count(); ++i) {
        tabs()->setCurrentIndex(i);
        QApplication::processEvents();
        auto *scroll = tabs()->widget(i)->findChild<QScrollArea *>();
        ASSERT_NE(scroll, nullptr);
        EXPECT_EQ(scroll->verticalScrollBar()->maximum(), 0) << "tab " << i;
        EXPECT_EQ(scroll->horizontalScrollBar()->maximum(), 0) << "tab " << i;
    }
}

TEST_F(MainWindowTest, RequiredMarksStandBesideTheirFields)
{
    const Field required[] = {Field::Text1,  Field::Text2,  Field::Text13, Field::Text21, Field::Text48, Field::Text3,
                              Field::Text5,  Field::Text7,  Field::Text8,  Field::Text9,  Field::Text31, Field::Text37,
                              Field::Text44, Field::Text40, Field::Text41, Field::Text43};
    int marks = 0;
    for (QLabel *l : window->findChildren<QLabel *>())
        marks += l->text() == QStringLiteral("必須") ? 1 : 0;
    EXPECT_EQ(marks, int(std::size(required)));

    for (Field f : required) {
        QLineEdit *e = edit(f);
        ASSERT_NE(e, nullptr);
        for (int i = 0; i < tabs()->count(); ++i) {
            if (tabs()->widget(i)->isAncestorOf(e))
                tabs()->setCurrentIndex(i);
        }
        QApplication::processEvents();
        auto *mark = window->findChild<QLabel *>(QStringLiteral("req") + fieldName(f));
        ASSERT_NE(mark, nullptr) << fieldName(f).toStdString();
        EXPECT_TRUE(mark->isVisible());
        const QRect field(e->mapTo(window.get(), QPoint(0, 0)), e->size());
        const QRect box(mark->mapTo(window.get(), QPoint(0, 0)), mark->size());
        EXPECT_GE(box.left(), field.right()) << fieldName(f).toStdString();
        EXPECT_TRUE(box.center().y() >= field.top() && box.center().y() <= field.bottom())
            << fieldName(f).toStdString();
    }
}

TEST_F(MainWindowTest, WidgetsAndDocumentFollowEachOther)
{
    tabs()->setCurrentIndex(TabTop);
    QLineEdit *title = edit(Field::Text13);
    title->setFocus();
    QTest::keyClicks(title, QStringLiteral("ab"));
    EXPECT_EQ(doc().text(Field::Text13), QStringLiteral("ab"));
    // Typing in the middle keeps the cursor where the user is typing.
    QTest::keyClick(title, Qt::Key_Left);
    QTest::keyClicks(title, QStringLiteral("X"));
    EXPECT_EQ(doc().text(Field::Text13), QStringLiteral("aXb"));
    EXPECT_EQ(title->cursorPosition(), 2);

    doc().setText(Field::Text2, QStringLiteral("me@example.jp"));
    EXPECT_EQ(edit(Field::Text2)->text(), QStringLiteral("me@example.jp"));
    doc().setText(Field::Label1, QStringLiteral("/srv/site"));
    EXPECT_EQ(child<QLineEdit>("Label1")->text(), QStringLiteral("/srv/site"));
    doc().setText(Field::Label93, QStringLiteral("3"));
    EXPECT_EQ(child<QLabel>("Label93")->text(), QStringLiteral("3"));

    // The body: line breaks become "\n"; a no-break space stays one.
    auto *body = child<QPlainTextEdit>("rtext1");
    tabs()->setCurrentIndex(TabSub);
    body->setFocus();
    commitText(body, QStringLiteral("一行目"));
    QTest::keyClick(body, Qt::Key_Return);
    QTest::keyClick(body, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(body, QStringLiteral("a"));
    typeCharacter(body, QChar(0x00A0));
    QTest::keyClicks(body, QStringLiteral("b"));
    EXPECT_EQ(doc().rtext1(), QStringLiteral("一行目\n\na\u00A0b"));
    doc().setBodyLines({QStringLiteral("x"), QStringLiteral("　")});
    EXPECT_EQ(body->toPlainText(), QStringLiteral("x\n　\n"));

    // The link list and its selection.
    auto *links = child<QListWidget>("List3");
    doc().appendItem(ListId::List3, QStringLiteral("A：http://a/："));
    doc().appendItem(ListId::List3, QStringLiteral("B：http://b/：説明"));
    EXPECT_EQ(itemTexts(links), doc().list(ListId::List3));
    EXPECT_EQ(window->selectedLinkIndex(), -1);
    tabs()->setCurrentIndex(TabLink);
    QApplication::processEvents();
    QTest::mouseClick(links->viewport(), Qt::LeftButton, Qt::NoModifier,
                      links->visualItemRect(links->item(1)).center());
    EXPECT_EQ(window->selectedLinkIndex(), 1);
    doc().removeItem(ListId::List3, 0);
    EXPECT_EQ(itemTexts(links), QStringList{QStringLiteral("B：http://b/：説明")});

    // The current tab, both ways.
    tabs()->setCurrentIndex(TabPhoto);
    EXPECT_EQ(doc().currentTab(), TabPhoto);
    doc().setCurrentTab(TabCommon);
    EXPECT_EQ(tabs()->currentIndex(), TabCommon);
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(MainWindowTest, PickingATabPointsFile1AtThePhotoFolderSilently)
{
    QTemporaryDir photos;
    for (const char *name : {"b.JPG", "a.jpg", ".thumbs", "C.jpg"})
        touch(photos.filePath(QString::fromLatin1(name)));
    QDir(photos.path()).mkdir(QStringLiteral("raw"));
    auto *file1 = child<FileListWidget>("File1");

    // Typing the folder alone does not list it.
    clickTab(TabPhoto);
    QLineEdit *folder = edit(Field::Text3);
    folder->setFocus();
    QTest::keyClicks(folder, photos.path());
    EXPECT_EQ(file1->count(), 0);

    clickTab(TabPhoto);
    const QStringList listed{QStringLiteral("a.jpg"), QStringLiteral("b.JPG"), QStringLiteral("C.jpg")};
    EXPECT_EQ(itemTexts(file1), listed);

    // A missing folder or an empty one leaves the list as it was, without a word.
    doc().setText(Field::Text3, photos.filePath(QStringLiteral("missing")));
    clickTab(TabSelf);
    doc().setText(Field::Text3, QString());
    clickTab(TabPhoto);
    EXPECT_EQ(itemTexts(file1), listed);
    EXPECT_TRUE(prompter.shown().empty());

    // Reaching the tab bar with the keyboard counts as well.
    touch(photos.filePath(QStringLiteral("d.jpg")));
    doc().setText(Field::Text3, photos.path());
    folder->setFocus();
    tabs()->tabBar()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(file1->count(), 4);
}

// The buttons are pressed where they stand by the page, photo and folder
// tests, which fail when one is missing or disabled.
TEST_F(MainWindowTest, MenuItemsArePresent)
{
    struct Item {
        const char *menu;
        const char *name;
        const char *caption;
        bool enabled;
    };
    const Item items[] = {
        {"file", "save", "SAVE", true},
        {"file", "load", "LOAD", true},
        {"file", "eexit", "EXIT", true},
        {"tool", "easyftp", "簡易ＦＴＰ", true},
        {"tool", "brow", "簡易WEBエディタ", false},
        {"help", "how", "HOW TO", true},
        {"help", "about", "ABOUT", true},
    };
    for (const Item &i : items) {
        auto *menu = child<QMenu>(i.menu);
        auto *action = child<QAction>(i.name);
        ASSERT_TRUE(menu && action);
        EXPECT_TRUE(menu->actions().contains(action)) << i.name;
        EXPECT_EQ(action->text(), QString::fromUtf8(i.caption)) << i.name;
        EXPECT_EQ(action->isEnabled(), i.enabled) << i.name;
    }
    QStringList titles;
    for (QAction *a : window->menuBar()->actions())
        titles.append(a->text());
    EXPECT_EQ(titles, (QStringList{QStringLiteral("FILE"), QStringLiteral("TOOL"), QStringLiteral("HELP")}));
}

// EXIT ends the event loop at once and closes every window, secondary ones
// included, without a question. Run in a child process: ending the loop of
// the test program itself would end every later test's event loops too.
TEST(MainWindowExit, ExitClosesEveryWindowAndEndsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            test::ScriptedPrompter prompter;
            MainWindow window(&prompter);
            window.document().setText(Field::Text13, QStringLiteral("unsaved"));
            window.show();
            SingleWindow<QWidget> other;
            other.show([] { return new QWidget; });
            QTimer::singleShot(0, &window,
                               [&window] { window.findChild<QAction *>(QStringLiteral("eexit"))->trigger(); });
            QTimer::singleShot(10000, [] { std::_Exit(3); });
            const int status = QApplication::exec();
            const bool closed = !window.isVisible() && !other.isOpen();
            std::_Exit(status == 0 && closed && prompter.shown().empty() ? 42 : 1);
        },
        ::testing::ExitedWithCode(42), "");
}

TEST_F(MainWindowTest, SaveThenLoadRestoresEveryFieldIntoTheWidgets)
{
    QTemporaryDir dir;
    const QString photos = dir.filePath(QStringLiteral("写真"));
    ASSERT_TRUE(QDir().mkpath(photos));
    touch(photos + QStringLiteral("/p001.jpg"));
    const QString project = dir.filePath(QStringLiteral("site.txt"));

    // Every stored field typed through its widget, with spaces kept.
    QMap<Field, QString> typed;
    for (const FieldInfo &info : fieldTable()) {
        QLineEdit *e = edit(info.field);
        if (!info.key || !e)
            continue;
        typed[info.field] = QStringLiteral(" 値%1 ").arg(QString::fromLatin1(info.name));
        e->setText(typed[info.field]);
    }
    typed[Field::Text3] = photos;
    edit(Field::Text3)->setText(photos);
    typed[Field::Label1] = dir.path();
    doc().setText(Field::Label1, dir.path());
    doc().setList(ListId::List3, {QStringLiteral("A：http://a/："), QStringLiteral("B：http://b/：説明")});
    child<QPlainTextEdit>("rtext1")->setPlainText(QStringLiteral("一\n\n三"));
    edit(Field::Text40)->setText(QStringLiteral("entry"));

    EXPECT_EQ(window->cob1().fileName,
              QDir::toNativeSeparators(QDir::current().filePath(QStringLiteral("webloom.txt"))));
    prompter.chooseFile(project);
    child<QAction>("save")->trigger();
    EXPECT_EQ(prompter.lastMessage(), QStringLiteral("書込み完了"));
    EXPECT_EQ(window->cob1().fileName, project);

    // Change everything, then load the file back.
    for (auto it = typed.cbegin(); it != typed.cend(); ++it)
        doc().setText(it.key(), QStringLiteral("changed"));
    doc().clearList(ListId::List3);
    child<QPlainTextEdit>("rtext1")->setPlainText(QStringLiteral("changed"));
    prompter.chooseFile(project);
    child<QAction>("load")->trigger();
    EXPECT_EQ(prompter.lastMessage(), QStringLiteral("読込み完了"));
    // The open dialog proposed the file chosen last.
    EXPECT_EQ(prompter.shown().back().kind, test::ScriptedPrompter::Shown::Message);
    EXPECT_EQ(prompter.shown().at(prompter.shown().size() - 2).text, project);

    for (auto it = typed.cbegin(); it != typed.cend(); ++it) {
        const QString name = fieldName(it.key());
        auto *e = window->findChild<QLineEdit *>(name);
        ASSERT_NE(e, nullptr) << name.toStdString();
        EXPECT_EQ(e->text(), it.value()) << name.toStdString();
    }
    EXPECT_EQ(itemTexts(child<QListWidget>("List3")),
              (QStringList{QStringLiteral("A：http://a/："), QStringLiteral("B：http://b/：説明")}));
    // The empty body line comes back as an ideographic space.
    EXPECT_EQ(child<QPlainTextEdit>("rtext1")->toPlainText(), QStringLiteral("一\n　\n三\n"));
    EXPECT_EQ(itemTexts(child<FileListWidget>("File1")), QStringList{QStringLiteral("p001.jpg")});
    // Fields that are not stored keep what the user typed.
    EXPECT_EQ(edit(Field::Text40)->text(), QStringLiteral("entry"));
    EXPECT_EQ(prompter.unexpected(), 0);
}

TEST_F(MainWindowTest, FieldsHoldValuesOfAnyLength)
{
    QTemporaryDir dir;
    const QString project = dir.filePath(QStringLiteral("long.txt"));
    const QByteArray longLine = "te013=" + QByteArray(100000, 'x') + "\r\n";
    ASSERT_TRUE(test::writeBytes(project, longLine + "te014=short\r\n"));
    prompter.chooseFile(project);
    child<QAction>("load")->trigger();
    ASSERT_EQ(prompter.lastMessage(), QStringLiteral("読込み完了"));
    EXPECT_EQ(edit(Field::Text13)->text().size(), 100000);

    // Typing into another field, and into the long one itself, keeps the whole value.
    QTest::keyClicks(edit(Field::Text14), QStringLiteral("er"));
    edit(Field::Text13)->end(false);
    QTest::keyClicks(edit(Field::Text13), QStringLiteral("y"));
    const QString saved = dir.filePath(QStringLiteral("saved.txt"));
    prompter.chooseFile(saved);
    child<QAction>("save")->trigger();
    ASSERT_EQ(prompter.lastMessage(), QStringLiteral("書込み完了"));
    const QByteArray bytes = test::readBytes(saved);
    EXPECT_TRUE(bytes.contains("\r\nte013=" + QByteArray(100000, 'x') + "y\r\n"));
    EXPECT_TRUE(bytes.contains("\r\nte014=shorter\r\n"));
    EXPECT_EQ(prompter.unexpected(), 0);
}

TEST_F(MainWindowTest, CancelledAndRefusedSaveAndLoad)
{
    QTemporaryDir dir;
    const QString project = dir.filePath(QStringLiteral("site.txt"));
    touch(project);
    edit(Field::Text13)->setText(QStringLiteral("title"));

    prompter.cancelDialog();
    child<QAction>("save")->trigger();
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("書き込みは、完了していません！")});

    // An existing file is replaced only after Yes.
    prompter.chooseFile(project);
    prompter.answerNo();
    child<QAction>("save")->trigger();
    ASSERT_EQ(prompter.questions().size(), 1);
    EXPECT_EQ(prompter.shown().at(prompter.shown().size() - 2).title, QStringLiteral("ファイル削除確認"));
    EXPECT_EQ(prompter.lastMessage(), QStringLiteral("書き込みは、完了していません！"));
    EXPECT_EQ(QFileInfo(project).size(), 0);

    // A cancelled load says nothing and changes nothing.
    prompter.clear();
    prompter.cancelDialog();
    child<QAction>("load")->trigger();
    EXPECT_TRUE(prompter.messages().isEmpty());
    EXPECT_EQ(edit(Field::Text13)->text(), QStringLiteral("title"));

    // A missing file names itself.
    const QString missing = dir.filePath(QStringLiteral("none.txt"));
    prompter.chooseFile(missing);
    child<QAction>("load")->trigger();
    EXPECT_EQ(prompter.lastMessage(), missing + QStringLiteral("ファイルがありません"));
    EXPECT_EQ(prompter.unexpected(), 0);
}

TEST_F(MainWindowTest, LineBreaksPastedIntoAFieldAreDropped)
{
    // A break inside a field would split its project-file record (and a link
    // item's list) on the next load.
    tabs()->setCurrentIndex(TabTop);
    QLineEdit *title = edit(Field::Text13);
    title->setText(QStringLiteral("ab"));
    title->setCursorPosition(1);
    QApplication::clipboard()->setText(QStringLiteral("海の\r\n写真\n"));
    title->paste();
    EXPECT_EQ(doc().text(Field::Text13), QStringLiteral("a海の写真b"));
    EXPECT_EQ(title->text(), QStringLiteral("a海の写真b"));
    EXPECT_EQ(title->cursorPosition(), 5);
    edit(Field::Text40)->setText(QStringLiteral("x\u2029y"));
    EXPECT_EQ(doc().text(Field::Text40), QStringLiteral("xy"));
}

TEST_F(MainWindowTest, TopPageButtonWritesThePage)
{
    QTemporaryDir base;
    doc().setText(Field::Label1, base.path());
    edit(Field::Text2)->setText(QStringLiteral("me@example.jp"));
    edit(Field::Text13)->setText(QStringLiteral("くるみの部屋"));
    clickTab(TabTop);
    QTest::mouseClick(child<QPushButton>("Command7"), Qt::LeftButton);

    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("作成しました。")});
    QFile page(base.filePath(QStringLiteral("index.html")));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QByteArray bytes = page.readAll();
    EXPECT_TRUE(bytes.startsWith("<HTML>\r\n"));
    EXPECT_TRUE(bytes.contains("<TITLE>\x82\xad\x82\xe9\x82\xdd\x82\xcc\x95\x94\x89\xae</TITLE>\r\n")); // CP932
    EXPECT_TRUE(bytes.endsWith("</HTML>\r\n"));
    EXPECT_EQ(tabs()->currentIndex(), TabTop);
}

TEST_F(MainWindowTest, TopPageWithAMissingAddressGoesToTabZeroWithOneMessage)
{
    QTemporaryDir base;
    doc().setText(Field::Label1, base.path());
    edit(Field::Text1)->clear();
    clickTab(TabTop);
    QTest::mouseClick(child<QPushButton>("Command7"), Qt::LeftButton);

    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("必須項目にデータを入れてください")});
    EXPECT_EQ(tabs()->currentIndex(), TabCommon);
    EXPECT_EQ(window->focusWidget(), edit(Field::Text1)) << "the cursor goes to the first empty field";
    EXPECT_TRUE(QDir(base.path()).isEmpty());

    // A missing title alone keeps the top-page tab.
    prompter.clear();
    edit(Field::Text1)->setText(QStringLiteral("http://"));
    edit(Field::Text2)->setText(QStringLiteral("me@example.jp"));
    clickTab(TabTop);
    QTest::mouseClick(child<QPushButton>("Command7"), Qt::LeftButton);
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("必須項目にデータを入れてください")});
    EXPECT_EQ(tabs()->currentIndex(), TabTop);
    EXPECT_EQ(window->focusWidget(), edit(Field::Text13));
    EXPECT_TRUE(QDir(base.path()).isEmpty());
}

TEST_F(MainWindowTest, HelpWindowsOpenOnceAndModeless)
{
    auto count = [](const char *className) {
        int n = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            n += w->isVisible() && w->inherits(className) ? 1 : 0;
        return n;
    };
    for (const char *name : {"how", "about"}) {
        child<QAction>(name)->trigger();
        child<QAction>(name)->trigger();
    }
    EXPECT_EQ(count("webloom::HowtoWindow"), 1);
    EXPECT_EQ(count("webloom::AboutWindow"), 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // The main window stays usable meanwhile.
    edit(Field::Text2)->setText(QStringLiteral("still@usable"));
    EXPECT_EQ(doc().text(Field::Text2), QStringLiteral("still@usable"));

    QApplication::closeAllWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(count("webloom::HowtoWindow") + count("webloom::AboutWindow"), 0);
}

TEST(MainWindowStart, BaseFolderIsTheStartFolderWhateverFirstdirHolds)
{
    QTemporaryDir store, chosen, start;
    settings::useFile(store.filePath(QStringLiteral("webloom.ini")));
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(chosen.path()));
    settings::saveFirstdir();
    ASSERT_TRUE(QDir::setCurrent(start.path()));

    test::ScriptedPrompter prompter;
    MainWindow window(&prompter);
    const QString label1 = window.findChild<QLineEdit *>(QStringLiteral("Label1"))->text();
    const QString firstdir = settings::readFirstdir();
    QDir::setCurrent(before);
    settings::useFile(QString());

    EXPECT_EQ(label1, QDir::toNativeSeparators(QDir(start.path()).canonicalPath()));
    EXPECT_EQ(firstdir, QDir::toNativeSeparators(QDir(chosen.path()).canonicalPath()));
    EXPECT_TRUE(prompter.shown().empty());
}

// "webloom PROJECT_FILE" loads as LOAD does, without its dialog.
TEST_F(MainWindowTest, ProjectNamedAtStartLoadsAsLoadDoes)
{
    const QString sample = QStringLiteral(WEBLOOM_TEST_DATA "/../../examples/sample-project.txt");
    const QString path = QFileInfo(sample).absoluteFilePath();
    EXPECT_TRUE(window->openProject(sample));
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("読込み完了")});
    EXPECT_EQ(edit(Field::Text13)->text(), QStringLiteral("さくらのガーデニング日記"));
    EXPECT_FALSE(itemTexts(child<QListWidget>("List3")).isEmpty());
    // SAVE proposes the file that was loaded.
    EXPECT_EQ(window->cob1().fileName, path);

    prompter.clear();
    const QString missing = QDir::temp().filePath(QStringLiteral("webloom-none/none.txt"));
    EXPECT_FALSE(window->openProject(missing));
    EXPECT_EQ(prompter.messages(), QStringList{missing + QStringLiteral("ファイルがありません")});
    EXPECT_EQ(edit(Field::Text13)->text(), QStringLiteral("さくらのガーデニング日記"));
    EXPECT_EQ(prompter.unexpected(), 0);
}
