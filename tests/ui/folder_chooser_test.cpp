// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include "document/settings.h"
#include "pages/photo_pages.h"
#include "support/scripted_prompter.h"
#include "ui/widget_helpers.h"
#include "ui/dir_list.h"
#include "ui/drive_list.h"
#include "ui/file_list_widget.h"
#include "support/scoped_env.h"
#include "ui/folder_chooser.h"
#include "ui/main_window.h"

using namespace webloom;
using webloom::test::itemTexts;
using webloom::test::ScopedEnv;
using webloom::test::touch;

namespace {

// The main window with a scripted prompter, a settings file and a home
// folder of its own, in a temporary tree. The process's current folder is
// put back after each test, because the chooser moves it as it browses.
class FolderChooserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        startFolder = QDir::currentPath();
        home = mkdir(QStringLiteral("home"));
        homeEnv.emplace("HOME", home);
        configEnv.emplace("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
        settings::useFile(tmp.filePath(QStringLiteral("webloom.ini")));
        start = mkdir(QStringLiteral("start"));
        ASSERT_TRUE(QDir::setCurrent(start));

        window = std::make_unique<MainWindow>(&prompter);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    void TearDown() override
    {
        window.reset();
        flushDeletes();
        settings::useFile(QString());
        QDir::setCurrent(startFolder);
    }

    QString mkdir(const QString &relative) const
    {
        const QString path = tmp.filePath(relative);
        EXPECT_TRUE(QDir().mkpath(path)) << path.toStdString();
        return QDir::toNativeSeparators(QDir::cleanPath(path));
    }

    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Every chooser window alive, after deferred deletes have run.
    static QList<FolderChooser *> choosers()
    {
        flushDeletes();
        QList<FolderChooser *> found;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *c = qobject_cast<FolderChooser *>(w))
                found.append(c);
        }
        return found;
    }

    template <class T> T *mainChild(const char *name) const
    {
        T *w = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // Presses a button of the main window and returns the one chooser.
    FolderChooser *open(const char *button)
    {
        QTest::mouseClick(mainChild<QPushButton>(button), Qt::LeftButton);
        const QList<FolderChooser *> all = choosers();
        EXPECT_EQ(all.size(), 1);
        if (!all.isEmpty()) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(all.first()));
        }
        return all.value(0);
    }

    template <class T> static T *part(FolderChooser *chooser, const char *name)
    {
        T *w = chooser ? chooser->findChild<T *>(QString::fromLatin1(name)) : nullptr;
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // The user double-clicks a sub-folder of the folder Dir1 shows.
    static void enterFolder(FolderChooser *chooser, const QString &name)
    {
        auto *dir = part<DirList>(chooser, "Dir1");
        QTreeWidgetItem *current = dir->currentItem();
        ASSERT_NE(current, nullptr);
        QTreeWidgetItem *target = nullptr;
        for (int i = 0; i < current->childCount(); ++i) {
            if (current->child(i)->text(0) == name)
                target = current->child(i);
        }
        ASSERT_NE(target, nullptr) << name.toStdString();
        dir->scrollToItem(target);
        // A real double-click starts with a click of its own; QTest's double
        // click alone does not get through to a tree that had no press yet.
        const QPoint at = dir->visualItemRect(target).center();
        QTest::mouseClick(dir->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(dir->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    // The user picks a drive in Drive1.
    static void pickDrive(FolderChooser *chooser, const QString &root)
    {
        auto *drive = part<DriveList>(chooser, "Drive1");
        const int index = drive->findText(root);
        ASSERT_GE(index, 0) << root.toStdString();
        drive->setCurrentIndex(index);
        emit drive->activated(index);
    }

    static void typeText1(FolderChooser *chooser, const QString &text)
    {
        // Typed or pasted over the whole text (insert() replaces the
        // selection like a key press does; keyClicks knows ASCII only).
        auto *edit = part<QLineEdit>(chooser, "Text1");
        edit->selectAll();
        edit->insert(text);
    }

    static void press(FolderChooser *chooser, const char *button)
    {
        QTest::mouseClick(part<QPushButton>(chooser, button), Qt::LeftButton);
    }

    static QString current() { return QDir::toNativeSeparators(QDir::currentPath()); }

    QTemporaryDir tmp;
    QString startFolder;
    QString home;
    QString start;
    std::optional<ScopedEnv> homeEnv;
    std::optional<ScopedEnv> configEnv;
    test::ScriptedPrompter prompter;
    std::unique_ptr<MainWindow> window;
};

} // namespace

TEST_F(FolderChooserTest, OpensAtTheCurrentFolderWithItsControls)
{
    touch(start + QStringLiteral("/b.jpg"));
    touch(start + QStringLiteral("/a.txt"));
    mkdir(QStringLiteral("start/inner"));

    FolderChooser *chooser = open("Command1");
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(chooser->objectName(), QStringLiteral("fm1"));
    EXPECT_EQ(chooser->windowTitle(), QStringLiteral("ディレクトリ指定画面"));
    EXPECT_TRUE(chooser->isVisible());
    EXPECT_FALSE(chooser->isModal());
    EXPECT_EQ(part<QPushButton>(chooser, "Command3")->text(), QStringLiteral("ﾃﾞｨｽｸﾄｯﾌﾟ Dir"));
    EXPECT_EQ(part<QPushButton>(chooser, "Command1")->text(), QStringLiteral("Ｏ　Ｋ"));
    EXPECT_EQ(part<QPushButton>(chooser, "Command2")->text(), QStringLiteral("Cancel"));

    EXPECT_EQ(part<DirList>(chooser, "Dir1")->path(), start);
    EXPECT_EQ(part<QLineEdit>(chooser, "Text1")->text(), start);
    // Files only, in name order; the sub-folder is Dir1's business.
    EXPECT_EQ(itemTexts(part<FileListWidget>(chooser, "File1")),
              (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.jpg")}));
    auto *drive = part<DriveList>(chooser, "Drive1");
    EXPECT_EQ(drive->drive(), DriveList::driveOf(start, drive->drives()));
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(FolderChooserTest, BaseFolderTakesTheTypedTextWhileFirstdirTakesTheBrowsedFolder)
{
    const QString photos = mkdir(QStringLiteral("start/photos"));
    window->document().setText(Field::Text3, QStringLiteral("/photo/folder/kept"));

    FolderChooser *chooser = open("Command1");
    enterFolder(chooser, QStringLiteral("photos"));
    EXPECT_EQ(part<QLineEdit>(chooser, "Text1")->text(), photos);
    EXPECT_EQ(current(), photos);

    // Not checked: the text becomes the base folder as typed.
    const QString typed = QStringLiteral("/どこにもない/site ");
    typeText1(chooser, typed);
    press(chooser, "Command1");

    EXPECT_TRUE(choosers().isEmpty());
    EXPECT_EQ(window->document().text(Field::Label1), typed);
    EXPECT_EQ(mainChild<QLineEdit>("Label1")->text(), typed);
    EXPECT_EQ(settings::readFirstdir(), photos);
    EXPECT_EQ(window->document().text(Field::Text3), QStringLiteral("/photo/folder/kept"));
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(FolderChooserTest, PhotoFolderFillsText3AndFile1AtOnce)
{
    const QString photos = mkdir(QStringLiteral("start/写真"));
    touch(photos + QStringLiteral("/p02.jpg"));
    touch(photos + QStringLiteral("/p01.jpg"));
    const QString label1 = window->document().text(Field::Label1);

    FolderChooser *chooser = open("Command3");
    enterFolder(chooser, QStringLiteral("写真"));
    press(chooser, "Command1");

    EXPECT_TRUE(choosers().isEmpty());
    EXPECT_EQ(window->document().text(Field::Text3), photos);
    EXPECT_EQ(mainChild<QLineEdit>("Text3")->text(), photos);
    EXPECT_EQ(itemTexts(mainChild<FileListWidget>("File1")),
              (QStringList{QStringLiteral("p01.jpg"), QStringLiteral("p02.jpg")}));
    EXPECT_EQ(current(), photos);
    EXPECT_EQ(window->document().text(Field::Label1), label1);
    // firstdir belongs to the base folder only.
    EXPECT_EQ(settings::readFirstdir(), QString());
}

TEST_F(FolderChooserTest, CancelKeepsTheDocumentButNotTheCurrentFolder)
{
    const QString away = mkdir(QStringLiteral("start/away"));
    window->document().setText(Field::Text3, start);
    const QString label1 = window->document().text(Field::Label1);

    for (const char *button : {"Command1", "Command3"}) {
        ASSERT_TRUE(QDir::setCurrent(start));
        FolderChooser *chooser = open(button);
        enterFolder(chooser, QStringLiteral("away"));
        press(chooser, "Command2");
        EXPECT_TRUE(choosers().isEmpty()) << button;
        EXPECT_EQ(window->document().text(Field::Label1), label1) << button;
        EXPECT_EQ(window->document().text(Field::Text3), start) << button;
        EXPECT_EQ(current(), away) << button;
    }

    // Esc cancels as well; the next chooser opens where browsing left off.
    FolderChooser *chooser = open("Command1");
    EXPECT_EQ(part<DirList>(chooser, "Dir1")->path(), away);
    QTest::keyClick(part<QLineEdit>(chooser, "Text1"), Qt::Key_Escape);
    EXPECT_TRUE(choosers().isEmpty());
    EXPECT_EQ(window->document().text(Field::Label1), label1);
    EXPECT_EQ(settings::readFirstdir(), QString());
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(FolderChooserTest, PhotoModeStaysOpenOnAFolderThatDoesNotExist)
{
    const QString missing = tmp.filePath(QStringLiteral("nowhere"));
    window->document().setText(Field::Text3, start);

    FolderChooser *chooser = open("Command3");
    typeText1(chooser, missing);
    press(chooser, "Command1");

    ASSERT_EQ(choosers(), QList<FolderChooser *>{chooser});
    EXPECT_EQ(prompter.messages(), QStringList{missingPhotoFolderMessage(missing)});
    EXPECT_EQ(window->document().text(Field::Text3), start);
    EXPECT_EQ(current(), start);

    // The user corrects the text and tries again.
    typeText1(chooser, home);
    press(chooser, "Command1");
    EXPECT_TRUE(choosers().isEmpty());
    EXPECT_EQ(window->document().text(Field::Text3), home);
    EXPECT_EQ(current(), home);
    EXPECT_EQ(prompter.messages().size(), 1);
}

TEST_F(FolderChooserTest, OpenedOnceAndThePurposeAtOkDecides)
{
    const QString chosen = mkdir(QStringLiteral("start/chosen"));
    const QString label1 = window->document().text(Field::Label1);

    FolderChooser *first = open("Command1");
    enterFolder(first, QStringLiteral("chosen"));
    // The photo button while the chooser is open: the same window, unchanged,
    // but OK now sets the photo folder.
    FolderChooser *second = open("Command3");
    EXPECT_EQ(second, first);
    EXPECT_EQ(part<QLineEdit>(second, "Text1")->text(), chosen);
    press(second, "Command1");

    EXPECT_TRUE(choosers().isEmpty());
    EXPECT_EQ(window->document().text(Field::Text3), chosen);
    EXPECT_EQ(window->document().text(Field::Label1), label1);

    // And back: the purpose stays photo until the base button sets it again.
    FolderChooser *third = open("Command3");
    EXPECT_NE(third, nullptr);
    FolderChooser *fourth = open("Command1");
    EXPECT_EQ(fourth, third);
    press(fourth, "Command1");
    EXPECT_EQ(window->document().text(Field::Label1), chosen);
    EXPECT_EQ(settings::readFirstdir(), chosen);
}

TEST_F(FolderChooserTest, DesktopButtonWithAndWithoutADesktopFolder)
{
    const QString other = mkdir(QStringLiteral("start/other"));
    FolderChooser *chooser = open("Command1");
    enterFolder(chooser, QStringLiteral("other"));

    // No desktop folder under this home: a message and nothing moves.
    press(chooser, "Command3");
    EXPECT_EQ(prompter.messages(), QStringList{FolderChooser::missingDesktopMessage()});
    ASSERT_EQ(choosers(), QList<FolderChooser *>{chooser});
    EXPECT_EQ(part<DirList>(chooser, "Dir1")->path(), other);
    EXPECT_EQ(part<QLineEdit>(chooser, "Text1")->text(), other);
    EXPECT_EQ(current(), other);

    const QString desktop = mkdir(QStringLiteral("home/Desktop"));
    touch(desktop + QStringLiteral("/memo.txt"));
    press(chooser, "Command3");
    EXPECT_EQ(prompter.messages().size(), 1);
    EXPECT_EQ(part<DirList>(chooser, "Dir1")->path(), desktop);
    EXPECT_EQ(part<QLineEdit>(chooser, "Text1")->text(), desktop);
    EXPECT_EQ(itemTexts(part<FileListWidget>(chooser, "File1")), QStringList{QStringLiteral("memo.txt")});
    EXPECT_EQ(current(), desktop);
    auto *drive = part<DriveList>(chooser, "Drive1");
    EXPECT_EQ(drive->drive(), DriveList::driveOf(desktop, drive->drives()));

    // Pressed again while showing it: the current folder is put back on it
    // even if something else moved it in between.
    ASSERT_TRUE(QDir::setCurrent(start));
    press(chooser, "Command3");
    EXPECT_EQ(current(), desktop);
    EXPECT_EQ(prompter.messages().size(), 1);
}

TEST_F(FolderChooserTest, PickingADriveGoesToItsCurrentFolder)
{
    // Two volumes stand in for the mounted drives of the machine.
    const QString volumeA = mkdir(QStringLiteral("volA"));
    const QString volumeB = mkdir(QStringLiteral("volB"));
    const QString deep = mkdir(QStringLiteral("volA/deep"));
    touch(volumeB + QStringLiteral("/b.txt"));

    FolderChooser *chooser = open("Command1");
    auto *drive = part<DriveList>(chooser, "Drive1");
    drive->setDrives(DriveList::sortedDrives(drive->drives() + QStringList{volumeA, volumeB}));

    // First visit: the drive's root.
    pickDrive(chooser, volumeA);
    EXPECT_EQ(part<DirList>(chooser, "Dir1")->path(), volumeA);
    EXPECT_EQ(part<QLineEdit>(chooser, "Text1")->text(), volumeA);
    EXPECT_EQ(current(), volumeA);
    enterFolder(chooser, QStringLiteral("deep"));
    EXPECT_EQ(drive->drive(), volumeA);

    pickDrive(chooser, volumeB);
    EXPECT_EQ(part<DirList>(chooser, "Dir1")->path(), volumeB);
    EXPECT_EQ(itemTexts(part<FileListWidget>(chooser, "File1")), QStringList{QStringLiteral("b.txt")});
    EXPECT_EQ(current(), volumeB);

    // Back to A: where the user left it.
    pickDrive(chooser, volumeA);
    EXPECT_EQ(part<DirList>(chooser, "Dir1")->path(), deep);
    EXPECT_EQ(current(), deep);

    // Stepping into another volume through Dir1 moves Drive1 along, without
    // Dir1 being sent to that drive's remembered folder.
    ASSERT_TRUE(part<DirList>(chooser, "Dir1")->setPath(tmp.path()));
    EXPECT_NE(drive->drive(), volumeA);
    enterFolder(chooser, QStringLiteral("volA"));
    EXPECT_EQ(part<DirList>(chooser, "Dir1")->path(), volumeA);
    EXPECT_EQ(drive->drive(), volumeA);

    // A drive whose folders are gone falls back to its root.
    ASSERT_TRUE(QDir(deep).removeRecursively());
    pickDrive(chooser, volumeB);
    pickDrive(chooser, volumeA);
    EXPECT_EQ(part<DirList>(chooser, "Dir1")->path(), volumeA);
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(FolderChooserTest, AFolderThatCannotBeEnteredIsIgnored)
{
    // Listed in Dir1, then removed by another program before the user
    // double-clicks it.
    const QString brief = mkdir(QStringLiteral("start/brief"));
    touch(start + QStringLiteral("/kept.txt"));
    FolderChooser *chooser = open("Command1");
    ASSERT_TRUE(QDir().rmdir(brief));
    enterFolder(chooser, QStringLiteral("brief"));

    EXPECT_EQ(part<DirList>(chooser, "Dir1")->path(), start);
    EXPECT_EQ(part<QLineEdit>(chooser, "Text1")->text(), start);
    EXPECT_EQ(itemTexts(part<FileListWidget>(chooser, "File1")), QStringList{QStringLiteral("kept.txt")});
    EXPECT_EQ(current(), start);
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(FolderChooserTest, AVanishedCurrentFolderOpensAtHome)
{
    const QString gone = mkdir(QStringLiteral("gone"));
    ASSERT_TRUE(QDir::setCurrent(gone));
    ASSERT_TRUE(QDir().rmdir(gone));

    FolderChooser *chooser = open("Command1");
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(part<DirList>(chooser, "Dir1")->path(), home);
    EXPECT_EQ(part<QLineEdit>(chooser, "Text1")->text(), home);
    EXPECT_EQ(current(), home);
}

TEST_F(FolderChooserTest, ClosingTheMainWindowForGoodTakesTheChooserAlong)
{
    QPointer<FolderChooser> chooser = open("Command3");
    ASSERT_FALSE(chooser.isNull());
    window.reset();
    EXPECT_TRUE(chooser.isNull());
    EXPECT_TRUE(choosers().isEmpty());
}
