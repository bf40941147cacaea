// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "modal_helper.h"
#include "ui/dir_list.h"
#include "ui/drive_list.h"
#include "ui/file_dialog.h"
#include "ui/file_list_widget.h"
#include "ui/window_registry.h"

using namespace webloom;

namespace {

const QString kProjectFilter = QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ|*.txt|All Files|*.*|");

void touch(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

// A folder with files whose order and visibility the lists must get right.
struct Folder {
    Folder()
    {
        for (const char *name : {"b.txt", "a.txt", "A.txt", ".hidden", "Z.jpg"})
            touch(dir.filePath(QString::fromLatin1(name)));
        for (const char *name : {"sub", "Alpha", ".config", "beta"})
            QDir(dir.path()).mkdir(QString::fromLatin1(name));
    }
    QString path() const { return dir.path(); }
    QTemporaryDir dir;
};

QStringList itemTexts(const QListWidget &list)
{
    QStringList out;
    for (int i = 0; i < list.count(); ++i)
        out.append(list.item(i)->text());
    return out;
}

} // namespace

// ---------------------------------------------------------------------------
// File dialog

TEST(FileDialogFilter, PipePairsBecomeQtNameFilters)
{
    EXPECT_EQ(qtFilterString(kProjectFilter), QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ (*.txt);;All Files (*.*)"));
    EXPECT_EQ(qtNameFilters(QStringLiteral("画像|*.jpg;*.gif|")), QStringList{QStringLiteral("画像 (*.jpg *.gif)")});
    // The last "|" is optional; a label left without a pattern is dropped.
    EXPECT_EQ(qtNameFilters(QStringLiteral("A|*.a|B")), QStringList{QStringLiteral("A (*.a)")});
    EXPECT_EQ(qtNameFilters(QStringLiteral("|*.x|")), QStringList{QStringLiteral("*.x")});
    EXPECT_TRUE(qtNameFilters(QString()).isEmpty());
    EXPECT_TRUE(qtNameFilters(QStringLiteral("Text|")).isEmpty());
}

TEST(FileDialogFilter, DefaultExtensionOnlyForBareNames)
{
    const QString txt = QStringLiteral("txt");
    EXPECT_EQ(withDefaultExtension(QStringLiteral("/p/webloom"), txt), QStringLiteral("/p/webloom.txt"));
    EXPECT_EQ(withDefaultExtension(QStringLiteral("/p/webloom.html"), txt), QStringLiteral("/p/webloom.html"));
    // A dot in a folder name is not the file's extension.
    EXPECT_EQ(withDefaultExtension(QStringLiteral("/p/v1.2/notes"), txt), QStringLiteral("/p/v1.2/notes.txt"));
    EXPECT_EQ(withDefaultExtension(QStringLiteral("/p/.profile"), txt), QStringLiteral("/p/.profile.txt"));
    EXPECT_EQ(withDefaultExtension(QStringLiteral("/p/notes"), QString()), QStringLiteral("/p/notes"));
    EXPECT_EQ(withDefaultExtension(QString(), txt), QString());
}

TEST(FileDialog, SaveShowsTheStateAndStoresTheChoice)
{
    QTemporaryDir dir;
    FileDialogState state{kProjectFilter, dir.filePath(QStringLiteral("webloom.txt")), QStringLiteral("txt"), 0};

    QStringList shownFilters;
    QString shownFilter, shownDir;
    bool confirms = true;
    test::ModalHandler handler([&](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        ASSERT_NE(dialog, nullptr);
        shownFilters = dialog->nameFilters();
        shownFilter = dialog->selectedNameFilter();
        shownDir = dialog->directory().absolutePath();
        confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        dialog->selectNameFilter(QStringLiteral("All Files (*.*)"));
        dialog->selectFile(QStringLiteral("site")); // typed without extension
        static_cast<QDialog *>(dialog)->accept();   // QFileDialog::accept, which checks the name
    });
    ASSERT_TRUE(FileDialog::run(nullptr, FileDialog::Mode::Save, state));
    EXPECT_TRUE(handler.handled());
    EXPECT_EQ(shownFilters, (QStringList{QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ (*.txt)"), QStringLiteral("All Files (*.*)")}));
    EXPECT_EQ(shownFilter, QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ (*.txt)"));
    EXPECT_EQ(shownDir, QDir(dir.path()).absolutePath());
    EXPECT_FALSE(confirms);
    EXPECT_EQ(state.fileName, QDir::toNativeSeparators(dir.filePath(QStringLiteral("site.txt"))));
    EXPECT_EQ(state.filterIndex, 1);

    // The next show proposes the last file and filter; cancel leaves both.
    QString proposed;
    QString filterShown;
    test::ModalHandler cancel([&](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        ASSERT_NE(dialog, nullptr);
        proposed = dialog->selectedFiles().value(0);
        filterShown = dialog->selectedNameFilter();
        dialog->reject();
    });
    EXPECT_FALSE(FileDialog::run(nullptr, FileDialog::Mode::Open, state));
    EXPECT_TRUE(cancel.handled());
    EXPECT_EQ(QFileInfo(proposed).fileName(), QStringLiteral("site.txt"));
    EXPECT_EQ(filterShown, QStringLiteral("All Files (*.*)"));
    EXPECT_EQ(state.fileName, QDir::toNativeSeparators(dir.filePath(QStringLiteral("site.txt"))));
    EXPECT_EQ(state.filterIndex, 1);
}

TEST(FileDialog, OpenTakesAnExistingFileWithoutExtensionAsIs)
{
    QTemporaryDir dir;
    touch(dir.filePath(QStringLiteral("README")));
    FileDialogState state{kProjectFilter, dir.filePath(QStringLiteral("webloom.txt")), QStringLiteral("txt"), 0};
    auto choose = [](const QString &name) {
        return [name](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            ASSERT_NE(dialog, nullptr);
            dialog->selectFile(name);
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept, which checks the name
        };
    };
    {
        test::ModalHandler h(choose(QStringLiteral("README")));
        ASSERT_TRUE(FileDialog::run(nullptr, FileDialog::Mode::Open, state));
    }
    EXPECT_EQ(state.fileName, QDir::toNativeSeparators(dir.filePath(QStringLiteral("README"))));
    {
        // A name that does not exist gets the default extension; the command
        // reading it reports a missing file itself.
        test::ModalHandler h(choose(QStringLiteral("missing")));
        ASSERT_TRUE(FileDialog::run(nullptr, FileDialog::Mode::Open, state));
    }
    EXPECT_EQ(state.fileName, QDir::toNativeSeparators(dir.filePath(QStringLiteral("missing.txt"))));
}

// ---------------------------------------------------------------------------
// File list

TEST(FileListWidget, ShowsOrdinaryFilesInOrderAndKeepsThemOnFailure)
{
    Folder folder;
    FileListWidget list;
    ASSERT_TRUE(list.setFolder(folder.path()));
    const QStringList expected{QStringLiteral("A.txt"), QStringLiteral("a.txt"), QStringLiteral("b.txt"),
                               QStringLiteral("Z.jpg")};
    EXPECT_EQ(itemTexts(list), expected);
    EXPECT_EQ(list.name(3), QStringLiteral("Z.jpg"));

    EXPECT_FALSE(list.setFolder(folder.dir.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(list.setFolder(folder.dir.filePath(QStringLiteral("b.txt"))));
    EXPECT_FALSE(list.setFolder(QString()));
    EXPECT_EQ(list.folder(), folder.path());
    EXPECT_EQ(itemTexts(list), expected);

    touch(folder.dir.filePath(QStringLiteral("c.txt")));
    ASSERT_TRUE(list.refresh());
    EXPECT_EQ(list.count(), 5);
}

TEST(FileListWidget, SingleOrSeveralSelectedEntries)
{
    Folder folder;
    FileListWidget list;
    list.resize(200, 200);
    list.show();
    ASSERT_TRUE(list.setFolder(folder.path()));
    auto click = [&list](int row, Qt::KeyboardModifiers mods) {
        QTest::mouseClick(list.viewport(), Qt::LeftButton, mods, list.visualItemRect(list.item(row)).center());
    };

    click(0, Qt::NoModifier);
    click(2, Qt::ControlModifier);
    EXPECT_EQ(list.selectedNames(), QStringList{QStringLiteral("b.txt")});

    list.setMultiSelect(true);
    click(0, Qt::NoModifier);
    click(2, Qt::ControlModifier);
    click(3, Qt::ControlModifier);
    EXPECT_EQ(list.selectedNames(),
              (QStringList{QStringLiteral("A.txt"), QStringLiteral("b.txt"), QStringLiteral("Z.jpg")}));
    EXPECT_TRUE(list.isSelected(2));
    EXPECT_FALSE(list.isSelected(1));
    EXPECT_FALSE(list.isSelected(99));
}

// ---------------------------------------------------------------------------
// Folder list

TEST(DirList, ShowsTheChainAndVisibleSubfoldersAndNotifiesEveryChange)
{
    Folder folder;
    const QString root = QDir(folder.path()).absolutePath();
    DirList dirs;
    dirs.resize(300, 400);
    dirs.show();
    QSignalSpy spy(&dirs, &DirList::pathChanged);

    ASSERT_TRUE(dirs.setPath(root));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.takeFirst().at(0).toString(), QDir::toNativeSeparators(root));
    EXPECT_EQ(dirs.path(), QDir::toNativeSeparators(root));

    QTreeWidgetItem *current = dirs.currentItem();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->text(0), QFileInfo(root).fileName());
    QStringList children;
    for (int i = 0; i < current->childCount(); ++i)
        children.append(current->child(i)->text(0));
    EXPECT_EQ(children, (QStringList{QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("sub")}));
    // The chain starts at the root of the file system.
    EXPECT_EQ(dirs.topLevelItem(0)->text(0), QDir::toNativeSeparators(QDir::rootPath()));

    // Setting the same folder again is no change.
    ASSERT_TRUE(dirs.setPath(root + QStringLiteral("/")));
    EXPECT_EQ(spy.count(), 0);

    // The user double-clicks a sub-folder.
    QTreeWidgetItem *beta = current->child(1);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dirs));
    dirs.scrollToItem(beta);
    const QPoint at = dirs.visualItemRect(beta).center();
    QTest::mouseClick(dirs.viewport(), Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(spy.count(), 0); // a single click only selects
    QTest::mouseDClick(dirs.viewport(), Qt::LeftButton, Qt::NoModifier, at);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(dirs.path(), QDir::toNativeSeparators(root + QStringLiteral("/beta")));

    // Failures change nothing and say nothing.
    EXPECT_FALSE(dirs.setPath(root + QStringLiteral("/missing")));
    EXPECT_FALSE(dirs.setPath(root + QStringLiteral("/a.txt")));
    EXPECT_FALSE(dirs.setPath(QString()));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(dirs.path(), QDir::toNativeSeparators(root + QStringLiteral("/beta")));
}

// ---------------------------------------------------------------------------
// Drive list

TEST(DriveList, MountedDrivesAreFoldersWithTheRootFirst)
{
    const QStringList drives = DriveList::mountedDrives();
    ASSERT_FALSE(drives.isEmpty());
    EXPECT_EQ(drives.first(), QStringLiteral("/"));
    for (const QString &d : drives)
        EXPECT_TRUE(QFileInfo(d).isDir()) << d.toStdString();
    EXPECT_EQ(DriveList::sortedDrives({QStringLiteral("/media/b"), QStringLiteral("/"), QStringLiteral("/boot"),
                                       QStringLiteral("/Media/a")}),
              (QStringList{QStringLiteral("/"), QStringLiteral("/boot"), QStringLiteral("/Media/a"),
                           QStringLiteral("/media/b")}));
}

TEST(DriveList, DriveOfAPathIsTheLongestMountPointHoldingIt)
{
    const QStringList roots{QStringLiteral("/"), QStringLiteral("/home"), QStringLiteral("/home2"),
                            QStringLiteral("/media/usb")};
    EXPECT_EQ(DriveList::driveOf(QStringLiteral("/home2/user"), roots), QStringLiteral("/home2"));
    EXPECT_EQ(DriveList::driveOf(QStringLiteral("/home"), roots), QStringLiteral("/home"));
    EXPECT_EQ(DriveList::driveOf(QStringLiteral("/homework/x"), roots), QStringLiteral("/"));
    EXPECT_EQ(DriveList::driveOf(QStringLiteral("/media/usb/a/../b"), roots), QStringLiteral("/media/usb"));
    EXPECT_EQ(DriveList::driveOf(QStringLiteral("/x"), {QStringLiteral("/home")}), QString());
}

TEST(DriveList, OnlyReadableDrivesBecomeCurrent)
{
    QTemporaryDir mounted;
    const QString good = mounted.path();
    const QString gone = mounted.filePath(QStringLiteral("unplugged"));
    DriveList list;
    list.setDrives({QStringLiteral("/"), good, gone});
    list.show();
    QSignalSpy spy(&list, &DriveList::driveChanged);
    ASSERT_EQ(list.drive(), QStringLiteral("/"));

    EXPECT_FALSE(list.setDrive(gone));
    EXPECT_FALSE(list.setDrive(QStringLiteral("/not-listed")));
    EXPECT_EQ(list.drive(), QStringLiteral("/"));
    EXPECT_EQ(spy.count(), 0);

    EXPECT_TRUE(list.setDriveOf(good + QStringLiteral("/deep/inside")));
    EXPECT_EQ(list.drive(), good);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_TRUE(list.setDrive(good));
    EXPECT_EQ(spy.count(), 1);

    // The user steps onto the unreadable drive: it is taken back silently.
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.drive(), good);
    EXPECT_EQ(spy.count(), 1);
    // And back up to the root: a real change.
    QTest::keyClick(&list, Qt::Key_Up);
    QTest::keyClick(&list, Qt::Key_Up);
    EXPECT_EQ(list.drive(), QStringLiteral("/"));
    EXPECT_EQ(spy.count(), 2);
}

// ---------------------------------------------------------------------------
// Once-only windows

namespace {

class StandIn : public QWidget {
public:
    StandIn() { ++alive; }
    ~StandIn() override { --alive; }
    static inline int alive = 0;
};

} // namespace

TEST(SingleWindow, CreatedOnceBroughtBackAndDestroyedWhenClosed)
{
    SingleWindow<StandIn> slot;
    int made = 0;
    auto factory = [&made] {
        ++made;
        return new StandIn;
    };

    StandIn *first = slot.show(factory);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isModal());
    first->hide();
    StandIn *second = slot.show(factory);
    EXPECT_EQ(second, first);
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(made, 1);
    EXPECT_EQ(StandIn::alive, 1);

    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(slot.isOpen());
    EXPECT_EQ(StandIn::alive, 0);

    StandIn *third = slot.show(factory);
    EXPECT_EQ(made, 2);
    EXPECT_TRUE(third->isVisible());
    third->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(StandIn::alive, 0);
}
