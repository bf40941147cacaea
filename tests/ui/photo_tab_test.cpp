// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "document/cp932.h"
#include "pages/photo_pages.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"
#include "ui/widget_helpers.h"
#include "ui/dir_list.h"
#include "ui/file_list_widget.h"
#include "ui/folder_chooser.h"
#include "ui/main_window.h"

using namespace webloom;
using webloom::test::itemTexts;
using webloom::test::touch;

namespace {

const QString kWritten = QStringLiteral("作成しました。");

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// The photo tab of the main window, driven through its widgets, with a base
// folder and a photo folder of its own.
class PhotoTabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        startFolder = QDir::currentPath();
        site = mkdir(QStringLiteral("site"));
        photos = mkdir(QStringLiteral("photos"));

        window = std::make_unique<MainWindow>(&prompter);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->document().setText(Field::Label1, site);
        window->findChild<QTabWidget *>(QStringLiteral("SSTab1"))->setCurrentIndex(TabPhoto);
    }

    void TearDown() override
    {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QDir::setCurrent(startFolder);
    }

    QString mkdir(const QString &relative) const
    {
        const QString path = tmp.filePath(relative);
        EXPECT_TRUE(QDir().mkpath(path)) << path.toStdString();
        return path;
    }

    template <class T> T *child(const char *name) const
    {
        T *w = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // The user replaces the text of a field.
    void type(const char *field, const QString &text) const
    {
        QLineEdit *edit = child<QLineEdit>(field);
        edit->selectAll();
        edit->insert(text); // replaces the selection as typing does
    }

    void click(const char *button) const { QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton); }

    void fillPhotoPageFields() const
    {
        type("Text1", QStringLiteral("http://example.jp/"));
        type("Text2", QStringLiteral("くるみ"));
        type("Text5", QStringLiteral("jpg"));
        type("Text7", QStringLiteral("2"));
        type("Text8", QStringLiteral("旅行"));
        type("Text9", QStringLiteral("Pic"));
    }

    QString page(const QString &name) const { return cp932::decode(test::readBytes(site + u'/' + name)); }

    QTemporaryDir tmp;
    QString startFolder;
    QString site;
    QString photos;
    test::ScriptedPrompter prompter;
    std::unique_ptr<MainWindow> window;
};

} // namespace

TEST_F(PhotoTabTest, PagesAreWrittenFromTheFolderInText3)
{
    for (const char *name : {"p03.jpg", "p01.jpg", "p02.jpg", "notes.txt"})
        touch(photos + u'/' + QString::fromLatin1(name));
    // File1 still lists another folder: Text3 was typed, the tab bar never
    // reached, so the listing is stale when the button is pressed.
    const QString other = mkdir(QStringLiteral("other"));
    touch(other + QStringLiteral("/stale.jpg"));
    ASSERT_TRUE(window->document().pointFile1(other));
    fillPhotoPageFields();
    type("Text3", photos);
    type("Text6", QStringLiteral("http://example.jp/photo"));

    click("Command6");

    EXPECT_EQ(prompter.messages(), QStringList{kWritten});
    EXPECT_EQ(filesIn(site), (QStringList{QStringLiteral("pic00001.html"), QStringLiteral("pic00002.html")}));
    const QString first = page(QStringLiteral("pic00001.html"));
    const QString second = page(QStringLiteral("pic00002.html"));
    EXPECT_TRUE(first.contains(QStringLiteral("<base href=\"http://example.jp/photo/\">"))) << first.toStdString();
    EXPECT_TRUE(first.contains(QStringLiteral("<IMG src=\"p01.jpg\">"))) << first.toStdString();
    EXPECT_TRUE(first.contains(QStringLiteral("<IMG src=\"p02.jpg\">")));
    EXPECT_TRUE(second.contains(QStringLiteral("<IMG src=\"p03.jpg\"><br>\r\n03.\r\n"))) << second.toStdString();
    EXPECT_FALSE((first + second).contains(QStringLiteral("stale.jpg")));
    EXPECT_FALSE((first + second).contains(QStringLiteral("notes.txt")));

    // The slash the run appended stays in the field for the user to see, and
    // File1 shows the photo folder.
    EXPECT_EQ(child<QLineEdit>("Text6")->text(), QStringLiteral("http://example.jp/photo/"));
    EXPECT_EQ(itemTexts(child<FileListWidget>("File1")),
              (QStringList{QStringLiteral("notes.txt"), QStringLiteral("p01.jpg"), QStringLiteral("p02.jpg"),
                           QStringLiteral("p03.jpg")}));
}

TEST_F(PhotoTabTest, AnEmptiedAddressShowsHttpAgainAfterTheRun)
{
    touch(photos + QStringLiteral("/a.jpg"));
    fillPhotoPageFields();
    type("Text3", photos);
    type("Text6", QString());

    click("Command6");

    EXPECT_EQ(prompter.messages(), QStringList{kWritten});
    EXPECT_FALSE(page(QStringLiteral("pic00001.html")).contains(QStringLiteral("<base")));
    EXPECT_EQ(child<QLineEdit>("Text6")->text(), QStringLiteral("http://"));
}

TEST_F(PhotoTabTest, AMissingPhotoFolderWritesNothing)
{
    fillPhotoPageFields();
    const QString missing = tmp.filePath(QStringLiteral("no-such-folder"));
    type("Text3", missing);
    type("Text6", QStringLiteral("http://example.jp/photo"));

    click("Command6");

    EXPECT_EQ(prompter.messages(), QStringList{missingPhotoFolderMessage(missing)});
    EXPECT_TRUE(filesIn(site).isEmpty());
    EXPECT_EQ(child<QLineEdit>("Text6")->text(), QStringLiteral("http://example.jp/photo"));
}

TEST_F(PhotoTabTest, SerialRenameThroughTheWindow)
{
    for (const char *name : {"DSC00013.JPG", "memo", "DSC00012.JPG"})
        touch(photos + u'/' + QString::fromLatin1(name));
    type("Text3", photos);
    type("Text4", QStringLiteral("pic"));

    click("Command4");

    const QStringList renamed{QStringLiteral("pic00001.jpg"), QStringLiteral("pic00002.jpg"),
                              QStringLiteral("pic00003")};
    EXPECT_TRUE(prompter.shown().empty());
    EXPECT_EQ(filesIn(photos), renamed);
    EXPECT_EQ(itemTexts(child<FileListWidget>("File1")), renamed);
}

TEST_F(PhotoTabTest, ChosenPhotoFolderGetsItsExtensionsAndPages)
{
    for (const char *name : {"README", "IMG_7", "a.png"})
        touch(photos + u'/' + QString::fromLatin1(name));
    ASSERT_TRUE(QDir::setCurrent(tmp.path()));

    // Command3, double-click the folder, OK.
    click("Command3");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    FolderChooser *chooser = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *c = qobject_cast<FolderChooser *>(w))
            chooser = c;
    }
    ASSERT_NE(chooser, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(chooser));
    auto *dir = chooser->findChild<DirList *>(QStringLiteral("Dir1"));
    QTreeWidgetItem *target = nullptr;
    for (int i = 0; i < dir->currentItem()->childCount(); ++i) {
        if (dir->currentItem()->child(i)->text(0) == QStringLiteral("photos"))
            target = dir->currentItem()->child(i);
    }
    ASSERT_NE(target, nullptr);
    const QPoint at = dir->visualItemRect(target).center();
    QTest::mouseClick(dir->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(dir->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseClick(chooser->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    EXPECT_EQ(child<QLineEdit>("Text3")->text(), photos);

    type("Text5", QStringLiteral("JPG"));
    click("Command5");
    const QStringList extended{QStringLiteral("a.png"), QStringLiteral("img_7.jpg"), QStringLiteral("readme.jpg")};
    EXPECT_TRUE(prompter.shown().empty());
    EXPECT_EQ(filesIn(photos), extended);
    EXPECT_EQ(itemTexts(child<FileListWidget>("File1")), extended);

    // The pages of that folder, now that the photos carry the extension.
    fillPhotoPageFields();
    click("Command6");
    EXPECT_EQ(prompter.messages(), QStringList{kWritten});
    const QString first = page(QStringLiteral("pic00001.html"));
    EXPECT_TRUE(first.contains(QStringLiteral("<IMG src=\"img_7.jpg\">"))) << first.toStdString();
    EXPECT_TRUE(first.contains(QStringLiteral("<IMG src=\"readme.jpg\">")));
    EXPECT_FALSE(first.contains(QStringLiteral("a.png")));
}
