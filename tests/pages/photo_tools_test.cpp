// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include "pages/photo_pages.h"
#include "pages/photo_tools.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"

using namespace webloom;
using webloom::test::readBytes;
using webloom::test::writeBytes;

namespace {

const QString kFailure = QStringLiteral("写真パソコンディレクトリを指定していません。");
const QString kNoFiles = QStringLiteral("ファイルがありません。");

// Each file holds its own original name, so a test can tell which file ended
// up under which name and that none was lost or overwritten.
class PhotoTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        folder = tmp.filePath(QStringLiteral("photos"));
        ASSERT_TRUE(QDir().mkpath(folder));
        doc.setText(Field::Text3, folder);
    }

    void makeFiles(const QStringList &names)
    {
        for (const QString &name : names)
            ASSERT_TRUE(writeBytes(QDir(folder).filePath(name), name.toUtf8())) << name.toStdString();
    }

    // Current name -> original name, over the whole folder.
    QMap<QString, QString> contents() const
    {
        QMap<QString, QString> map;
        for (const QString &name : QDir(folder).entryList(QDir::Files, QDir::Name))
            map.insert(name, QString::fromUtf8(readBytes(QDir(folder).filePath(name))));
        return map;
    }

    static QMap<QString, QString> unchanged(const QStringList &names)
    {
        QMap<QString, QString> map;
        for (const QString &n : names)
            map.insert(n, n);
        return map;
    }

    QTemporaryDir tmp;
    QString folder;
    SiteDocument doc;
    test::ScriptedPrompter prompter;
};

TEST(SerialFileName, StemNumberAndExtensionPartInLowerCase)
{
    const struct {
        const char *stem;
        int index;
        const char *old;
        const char *expected;
    } cases[] = {
        {"pic", 0, "DSC00012.JPG", "pic00001.jpg"},
        {"pic", 2, "memo", "pic00003"},
        {"tokyo", 0, "x.jpg", "tokyo001.jpg"},
        {"holiday2", 0, "x.jpg", "holida01.jpg"},
        {"pic", 0, "a.tar.gz", "pic00001.tar.gz"}, // from the first "."
        {"pic", 0, "a.", "pic00001."},
        {"pic", 99, "x.jpg", "pic000100.jpg"},
        {"   ", 0, "x.JPG", "00000001.jpg"}, // blanks pass the empty test
        {" PIC ", 0, "x.Jpeg", "pic00001.jpeg"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(serialFileName(QString::fromUtf8(c.stem), c.index, QString::fromUtf8(c.old)),
                  QString::fromUtf8(c.expected))
            << c.stem << " " << c.old;
}

TEST_F(PhotoTools, SerialRenameRenamesEveryFileInListOrder)
{
    makeFiles({QStringLiteral("DSC00013.JPG"), QStringLiteral("memo"), QStringLiteral("DSC00012.JPG")});
    doc.setText(Field::Text4, QStringLiteral("pic"));

    EXPECT_EQ(serialRename(doc, prompter), ToolResult::Done);

    const QMap<QString, QString> expected{{QStringLiteral("pic00001.jpg"), QStringLiteral("DSC00012.JPG")},
                                          {QStringLiteral("pic00002.jpg"), QStringLiteral("DSC00013.JPG")},
                                          {QStringLiteral("pic00003"), QStringLiteral("memo")}};
    EXPECT_EQ(contents(), expected);
    EXPECT_TRUE(prompter.messages().isEmpty());
    EXPECT_EQ(doc.file1().names(), QStringList(expected.keys()));
}

TEST_F(PhotoTools, SerialRenameTwiceWithTheSameStemLosesNothing)
{
    makeFiles({QStringLiteral("b.jpg"), QStringLiteral("a.jpg"), QStringLiteral("README")});
    doc.setText(Field::Text4, QStringLiteral("pic"));
    ASSERT_EQ(serialRename(doc, prompter), ToolResult::Done);
    const QMap<QString, QString> once = contents();
    EXPECT_EQ(once.value(QStringLiteral("pic00001.jpg")), QStringLiteral("a.jpg"));
    EXPECT_EQ(once.value(QStringLiteral("pic00003")), QStringLiteral("README"));

    EXPECT_EQ(serialRename(doc, prompter), ToolResult::Done);
    EXPECT_EQ(contents(), once);
    EXPECT_TRUE(prompter.messages().isEmpty());
}

TEST_F(PhotoTools, SerialRenameOntoAnExistingNameStopsWithoutOverwriting)
{
    makeFiles({QStringLiteral("a.jpg"), QStringLiteral("pic00001.jpg")});
    doc.setText(Field::Text4, QStringLiteral("pic"));

    EXPECT_EQ(serialRename(doc, prompter), ToolResult::Failed);

    EXPECT_EQ(prompter.messages(), QStringList{kFailure});
    EXPECT_EQ(contents(), unchanged({QStringLiteral("a.jpg"), QStringLiteral("pic00001.jpg")}));
}

TEST_F(PhotoTools, SerialRenameKeepsTheRenamesDoneBeforeAClash)
{
    makeFiles({QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("pic00002.jpg")});
    doc.setText(Field::Text4, QStringLiteral("pic"));

    EXPECT_EQ(serialRename(doc, prompter), ToolResult::Failed);

    const QMap<QString, QString> expected{{QStringLiteral("pic00001.jpg"), QStringLiteral("a.jpg")},
                                          {QStringLiteral("b.jpg"), QStringLiteral("b.jpg")},
                                          {QStringLiteral("pic00002.jpg"), QStringLiteral("pic00002.jpg")}};
    EXPECT_EQ(contents(), expected);
    EXPECT_EQ(prompter.messages(), QStringList{kFailure});
    // File1 shows the folder as the failure left it.
    EXPECT_EQ(doc.file1().names(), QStringList(expected.keys()));
}

TEST_F(PhotoTools, SerialRenameOfAHundredFilesReachesThreeDigits)
{
    QStringList names;
    for (int i = 1; i <= 100; ++i)
        names.append(QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')));
    makeFiles(names);
    doc.setText(Field::Text4, QStringLiteral("pic"));

    EXPECT_EQ(serialRename(doc, prompter), ToolResult::Done);

    const QMap<QString, QString> after = contents();
    EXPECT_EQ(after.size(), 100);
    EXPECT_EQ(after.value(QStringLiteral("pic00099.jpg")), QStringLiteral("IMG_0099.JPG"));
    EXPECT_EQ(after.value(QStringLiteral("pic000100.jpg")), QStringLiteral("IMG_0100.JPG"));
}

TEST_F(PhotoTools, SerialRenameRefusalsAndFailureExits)
{
    makeFiles({QStringLiteral("a.jpg")});

    // Empty stem (untrimmed test), nothing renamed.
    EXPECT_EQ(serialRename(doc, prompter), ToolResult::Refused);
    EXPECT_EQ(prompter.lastMessage(), QStringLiteral("ファイル名を入力して下さい。"));

    // An empty Text3 never falls back to the current folder, even when File1
    // and the current folder show files.
    doc.setText(Field::Text4, QStringLiteral("pic"));
    doc.setText(Field::Text3, QString());
    ASSERT_TRUE(doc.pointFile1(folder));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder));
    const ToolResult emptyText3 = serialRename(doc, prompter);
    QDir::setCurrent(previous);
    EXPECT_EQ(emptyText3, ToolResult::Failed);
    EXPECT_EQ(prompter.lastMessage(), kFailure);

    doc.setText(Field::Text3, tmp.filePath(QStringLiteral("missing")));
    EXPECT_EQ(serialRename(doc, prompter), ToolResult::Failed);
    EXPECT_EQ(prompter.lastMessage(), kFailure);

    // A stem that would move the file into a sub-folder is a failed rename.
    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("sub")));
    doc.setText(Field::Text3, folder);
    doc.setText(Field::Text4, QStringLiteral("sub/x"));
    EXPECT_EQ(serialRename(doc, prompter), ToolResult::Failed);
    EXPECT_EQ(prompter.lastMessage(), kFailure);
    EXPECT_EQ(contents(), unchanged({QStringLiteral("a.jpg")}));
    EXPECT_TRUE(QDir(folder + QStringLiteral("/sub")).isEmpty());

    const QString empty = tmp.filePath(QStringLiteral("empty"));
    ASSERT_TRUE(QDir().mkpath(empty));
    doc.setText(Field::Text3, empty);
    doc.setText(Field::Text4, QStringLiteral("pic"));
    EXPECT_EQ(serialRename(doc, prompter), ToolResult::Refused);
    EXPECT_EQ(prompter.lastMessage(), kNoFiles);
}

TEST_F(PhotoTools, AddExtensionGivesDotlessFilesTheExtensionInLowerCase)
{
    makeFiles({QStringLiteral("README"), QStringLiteral("IMG_7"), QStringLiteral("b.JPG"), QStringLiteral("x.")});
    ASSERT_TRUE(doc.pointFile1(folder));
    doc.setText(Field::Text5, QStringLiteral("JPG"));

    EXPECT_EQ(addExtension(doc, prompter), ToolResult::Done);

    const QMap<QString, QString> expected{{QStringLiteral("b.JPG"), QStringLiteral("b.JPG")},
                                          {QStringLiteral("img_7.jpg"), QStringLiteral("IMG_7")},
                                          {QStringLiteral("readme.jpg"), QStringLiteral("README")},
                                          {QStringLiteral("x."), QStringLiteral("x.")}};
    EXPECT_EQ(contents(), expected);
    EXPECT_TRUE(prompter.messages().isEmpty());
    EXPECT_TRUE(doc.file1().names().contains(QStringLiteral("readme.jpg")));
}

TEST_F(PhotoTools, AddExtensionUsesTheExtensionTextUntrimmed)
{
    makeFiles({QStringLiteral("README")});
    ASSERT_TRUE(doc.pointFile1(folder));
    doc.setText(Field::Text5, QStringLiteral(" jpg"));

    EXPECT_EQ(addExtension(doc, prompter), ToolResult::Done);
    EXPECT_EQ(contents(), (QMap<QString, QString>{{QStringLiteral("readme. jpg"), QStringLiteral("README")}}));
}

TEST_F(PhotoTools, AddExtensionStopsAtAClashKeepingEarlierRenames)
{
    makeFiles({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("b.jpg"), QStringLiteral("C")});
    ASSERT_TRUE(doc.pointFile1(folder));
    doc.setText(Field::Text5, QStringLiteral("jpg"));

    EXPECT_EQ(addExtension(doc, prompter), ToolResult::Failed);

    const QMap<QString, QString> expected{{QStringLiteral("a.jpg"), QStringLiteral("A")},
                                          {QStringLiteral("B"), QStringLiteral("B")},
                                          {QStringLiteral("b.jpg"), QStringLiteral("b.jpg")},
                                          {QStringLiteral("C"), QStringLiteral("C")}};
    EXPECT_EQ(contents(), expected);
    EXPECT_EQ(prompter.messages(), QStringList{kFailure});
}

TEST_F(PhotoTools, AddExtensionRefusalsAndFailureExits)
{
    makeFiles({QStringLiteral("README")});
    ASSERT_TRUE(doc.pointFile1(folder));

    EXPECT_EQ(addExtension(doc, prompter), ToolResult::Refused);
    EXPECT_EQ(prompter.lastMessage(), QStringLiteral("拡張子を入力して下さい。"));

    doc.setText(Field::Text5, QStringLiteral("jpg"));
    doc.setText(Field::Text3, QString());
    EXPECT_EQ(addExtension(doc, prompter), ToolResult::Failed);
    EXPECT_EQ(prompter.lastMessage(), kFailure);

    // A text that would move the file elsewhere is a failed rename.
    doc.setText(Field::Text3, folder);
    doc.setText(Field::Text5, QStringLiteral("jpg/../../x"));
    EXPECT_EQ(addExtension(doc, prompter), ToolResult::Failed);
    EXPECT_EQ(prompter.lastMessage(), kFailure);
    EXPECT_EQ(contents(), unchanged({QStringLiteral("README")}));

    const QString empty = tmp.filePath(QStringLiteral("empty"));
    ASSERT_TRUE(QDir().mkpath(empty));
    ASSERT_TRUE(doc.pointFile1(empty));
    doc.setText(Field::Text5, QStringLiteral("jpg"));
    EXPECT_EQ(addExtension(doc, prompter), ToolResult::Refused);
    EXPECT_EQ(prompter.lastMessage(), kNoFiles);
}

TEST_F(PhotoTools, RenameInFolderNeverReplacesAndKeepsAFileUnderItsOwnName)
{
    makeFiles({QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_TRUE(renameInFolder(folder, QStringLiteral("a"), QStringLiteral("a")));
    EXPECT_FALSE(renameInFolder(folder, QStringLiteral("a"), QStringLiteral("b")));
    EXPECT_FALSE(renameInFolder(folder, QStringLiteral("gone"), QStringLiteral("gone")));
    EXPECT_FALSE(renameInFolder(folder, QStringLiteral("gone"), QStringLiteral("c")));
    EXPECT_FALSE(renameInFolder(folder, QStringLiteral("a"), QStringLiteral("..")));
    EXPECT_FALSE(renameInFolder(QString(), QStringLiteral("a"), QStringLiteral("c")));
    EXPECT_EQ(contents(), unchanged({QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_TRUE(renameInFolder(folder, QStringLiteral("a"), QStringLiteral("A")));
    EXPECT_EQ(contents(), (QMap<QString, QString>{{QStringLiteral("A"), QStringLiteral("a")},
                                                  {QStringLiteral("b"), QStringLiteral("b")}}));
}

// The folder chooser's "Ｏ　Ｋ" on the document and the firstdir setting.
class ChooserAccept : public PhotoTools {
protected:
    void SetUp() override
    {
        PhotoTools::SetUp();
        startFolder = QDir::currentPath();
        browsed = tmp.filePath(QStringLiteral("browsed"));
        ASSERT_TRUE(QDir().mkpath(browsed));
        ASSERT_TRUE(QDir::setCurrent(browsed));
        doc.setText(Field::Label1, QStringLiteral("/base/before"));
        doc.setText(Field::Text3, QStringLiteral("/photos/before"));
    }
    void TearDown() override { QDir::setCurrent(startFolder); }

    bool accept(int purpose, const QString &text1)
    {
        return fm1end(doc, prompter, purpose, text1, [this] { firstdir.append(QDir::currentPath()); });
    }

    QString startFolder;
    QString browsed;
    QStringList firstdir; // every value the setting received
};

TEST_F(ChooserAccept, BaseFolderTakesTheTextAsTypedAndFirstdirTheBrowsedFolder)
{
    EXPECT_TRUE(accept(ChooserBaseFolder, QStringLiteral("/typed/by hand")));

    EXPECT_EQ(doc.text(Field::Label1), QStringLiteral("/typed/by hand"));
    EXPECT_EQ(firstdir, QStringList{QDir::currentPath()});
    EXPECT_EQ(QDir::currentPath(), QDir(browsed).canonicalPath());
    EXPECT_EQ(doc.text(Field::Text3), QStringLiteral("/photos/before"));
    EXPECT_TRUE(prompter.messages().isEmpty());
}

TEST_F(ChooserAccept, PhotoFolderFillsTextThreeMovesTheCurrentFolderAndListsIt)
{
    makeFiles({QStringLiteral("p1.jpg"), QStringLiteral("p2.jpg")});

    EXPECT_TRUE(accept(ChooserPhotoFolder, folder));

    EXPECT_EQ(doc.text(Field::Text3), folder);
    EXPECT_EQ(QDir::currentPath(), QDir(folder).canonicalPath());
    EXPECT_EQ(doc.file1().folder(), folder);
    EXPECT_EQ(doc.file1().names(), (QStringList{QStringLiteral("p1.jpg"), QStringLiteral("p2.jpg")}));
    EXPECT_EQ(doc.text(Field::Label1), QStringLiteral("/base/before"));
    EXPECT_TRUE(firstdir.isEmpty());
}

TEST_F(ChooserAccept, PhotoFolderTypedRelativeIsTakenFromWhereTheChooserStood)
{
    ASSERT_TRUE(QDir(browsed).mkdir(QStringLiteral("sub")));

    EXPECT_TRUE(accept(ChooserPhotoFolder, QStringLiteral("sub")));

    EXPECT_EQ(doc.text(Field::Text3), QDir(browsed).absoluteFilePath(QStringLiteral("sub")));
    EXPECT_EQ(doc.file1().folder(), doc.text(Field::Text3));
}

TEST_F(ChooserAccept, MissingPhotoFolderKeepsTheChooserOpenAndChangesNothing)
{
    ASSERT_TRUE(doc.pointFile1(folder));
    for (const QString &typed : {tmp.filePath(QStringLiteral("missing")), QString()}) {
        prompter.clear();
        EXPECT_FALSE(accept(ChooserPhotoFolder, typed));
        EXPECT_EQ(prompter.messages(), QStringList{missingPhotoFolderMessage(typed)});
    }
    EXPECT_EQ(doc.text(Field::Text3), QStringLiteral("/photos/before"));
    EXPECT_EQ(doc.file1().folder(), folder);
    EXPECT_EQ(QDir::currentPath(), QDir(browsed).canonicalPath());
}

TEST_F(ChooserAccept, AnyOtherPurposeOnlyCloses)
{
    EXPECT_TRUE(accept(0, folder));
    EXPECT_TRUE(accept(3, folder));
    EXPECT_EQ(doc.text(Field::Label1), QStringLiteral("/base/before"));
    EXPECT_EQ(doc.text(Field::Text3), QStringLiteral("/photos/before"));
    EXPECT_TRUE(firstdir.isEmpty());
    EXPECT_EQ(QDir::currentPath(), QDir(browsed).canonicalPath());
}

} // namespace
