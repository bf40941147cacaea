// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <map>
#include <sys/inotify.h>
#include <sys/stat.h>

#include "document/cp932.h"
#include "document/project_file.h"
#include "pages/page_kinds.h"
#include "pages/photo_pages.h"
#include "support/folder_watch.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"

using namespace webloom;
using webloom::test::matchesGolden;
using webloom::test::readBytes;

namespace {

const QString kWritten = QStringLiteral("作成しました。");
const QString kRequired = QStringLiteral("必須項目にデータを入れてください");

// The fields of a golden case's project.txt.
void loadFields(SiteDocument &doc, const QString &caseName)
{
    QFile file(test::dataPath(caseName + QStringLiteral("/project.txt")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << caseName.toStdString();
    ASSERT_TRUE(readProjectRecords(doc, file)) << caseName.toStdString();
}

class PhotoPages : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        photos = tmp.filePath(QStringLiteral("photos"));
        site = tmp.filePath(QStringLiteral("site"));
        ASSERT_TRUE(QDir().mkpath(photos));
        ASSERT_TRUE(QDir().mkpath(site));
        doc.setText(Field::Label1, site);
        doc.setText(Field::Text3, photos);
        doc.setCurrentTab(TabPhoto);
    }

    // A project that passes every check, for the tests that vary one field.
    void fillFields()
    {
        doc.setText(Field::Text1, QStringLiteral("http://www.example.com/"));
        doc.setText(Field::Text2, QStringLiteral("taro@example.com"));
        doc.setText(Field::Text5, QStringLiteral("jpg"));
        doc.setText(Field::Text8, QStringLiteral("アルバム"));
        doc.setText(Field::Text9, QStringLiteral("pic"));
    }

    void makeFiles(const QString &folder, const QStringList &names)
    {
        for (const QString &name : names) {
            QFile f(QDir(folder).filePath(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << name.toStdString();
        }
    }

    void makePhotos(const QString &pattern, int count)
    {
        QStringList names;
        for (int i = 1; i <= count; ++i)
            names.append(pattern.arg(i, 3, 10, QLatin1Char('0')));
        makeFiles(photos, names);
        ASSERT_TRUE(doc.pointFile1(photos));
    }

    QStringList writtenPages() const { return QDir(site).entryList(QDir::Files, QDir::Name); }

    QString page(const QString &name) const { return cp932::decode(readBytes(QDir(site).filePath(name))); }

    PageResult run()
    {
        PageFrame frame(doc, prompter);
        return chkpic(frame);
    }

    QTemporaryDir tmp;
    QString photos;
    QString site;
    SiteDocument doc;
    test::ScriptedPrompter prompter;
};

TEST_F(PhotoPages, WorkedExampleWritesThreePagesWithTheSlashAppendedToTheBase)
{
    loadFields(doc, QStringLiteral("photo_worked_example"));
    QStringList names;
    for (int i = 1; i <= 45; ++i)
        names.append(QStringLiteral("p%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
    makeFiles(photos, names);
    ASSERT_TRUE(doc.pointFile1(photos));

    EXPECT_EQ(run(), PageResult::Written);

    const QStringList pages{QStringLiteral("pic00001.html"), QStringLiteral("pic00002.html"),
                            QStringLiteral("pic00003.html")};
    EXPECT_EQ(doc.list(ListId::List1), pages);
    EXPECT_EQ(doc.list(ListId::List2), names);
    EXPECT_EQ(doc.text(Field::Text6), QStringLiteral("http://www.example.com/~hanako/photos/"));
    EXPECT_EQ(prompter.messages(), QStringList{kWritten});
    EXPECT_EQ(writtenPages(), pages);
    for (const QString &p : pages)
        EXPECT_TRUE(matchesGolden(QStringLiteral("photo_worked_example/") + p, QDir(site).filePath(p)));
}

TEST_F(PhotoPages, FortyPhotosFillTwoPagesAndASecondRunNumbersFromOneAgain)
{
    loadFields(doc, QStringLiteral("photo_forty"));
    makePhotos(QStringLiteral("img%1.jpg"), 40);

    for (int runNumber = 1; runNumber <= 2; ++runNumber) {
        SCOPED_TRACE(runNumber);
        EXPECT_EQ(run(), PageResult::Written);
        EXPECT_EQ(writtenPages(), (QStringList{QStringLiteral("photo001.html"), QStringLiteral("photo002.html")}));
        EXPECT_TRUE(matchesGolden(QStringLiteral("photo_forty/photo001.html"),
                                  QDir(site).filePath(QStringLiteral("photo001.html"))));
        EXPECT_TRUE(matchesGolden(QStringLiteral("photo_forty/photo002.html"),
                                  QDir(site).filePath(QStringLiteral("photo002.html"))));
        // The default address means no base line and comes back after the run.
        EXPECT_EQ(doc.text(Field::Text6), QStringLiteral("http://"));
    }
}

// What tells a file that was written from one left alone.
struct Identity {
    ino_t inode = 0;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    bool operator==(const Identity &) const = default;
};

Identity identityOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
            st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
}

TEST_F(PhotoPages, ARebuildWithNothingChangedWritesNoFileAndAChangeOfTheSameLengthIsWritten)
{
    fillFields();
    doc.setText(Field::Text7, QStringLiteral("20"));
    makePhotos(QStringLiteral("img%1.jpg"), 45);
    ASSERT_EQ(run(), PageResult::Written);
    const QStringList pages = writtenPages();
    ASSERT_EQ(pages.size(), 3);
    std::map<QString, Identity> before;
    for (const QString &name : pages)
        before[name] = identityOf(QDir(site).filePath(name));

    test::FolderWatch watch(site, IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_MOVED_TO | IN_DELETE | IN_CLOSE_WRITE);
    ASSERT_TRUE(watch.isValid());
    prompter.clear();
    EXPECT_EQ(run(), PageResult::Written);
    EXPECT_EQ(prompter.messages(), QStringList{kWritten});
    // Not even a temporary file came and went.
    const QStringList events = watch.events();
    EXPECT_TRUE(events.isEmpty()) << events.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(writtenPages(), pages);
    for (const QString &name : pages)
        EXPECT_TRUE(identityOf(QDir(site).filePath(name)) == before[name]) << name.toStdString();

    // A title of as many bytes: the pages keep their size but are new.
    doc.setText(Field::Text8, QStringLiteral("アルバマ"));
    EXPECT_EQ(run(), PageResult::Written);
    EXPECT_FALSE(watch.events().isEmpty());
    for (const QString &name : pages) {
        EXPECT_TRUE(page(name).contains(QStringLiteral("<TITLE>アルバマ</TITLE>"))) << name.toStdString();
        EXPECT_FALSE(identityOf(QDir(site).filePath(name)) == before[name]) << name.toStdString();
    }
    EXPECT_EQ(writtenPages(), pages);
}

TEST_F(PhotoPages, FortyOnePhotosGiveAThirdPageWithOneRow)
{
    loadFields(doc, QStringLiteral("photo_forty_one"));
    makePhotos(QStringLiteral("img%1.jpg"), 41);

    EXPECT_EQ(run(), PageResult::Written);

    EXPECT_EQ(writtenPages().size(), 3);
    EXPECT_TRUE(matchesGolden(QStringLiteral("photo_forty/photo001.html"),
                              QDir(site).filePath(QStringLiteral("photo001.html"))));
    EXPECT_TRUE(matchesGolden(QStringLiteral("photo_forty/photo002.html"),
                              QDir(site).filePath(QStringLiteral("photo002.html"))));
    EXPECT_TRUE(matchesGolden(QStringLiteral("photo_forty_one/photo003.html"),
                              QDir(site).filePath(QStringLiteral("photo003.html"))));
}

TEST_F(PhotoPages, NumbersAndPageNamesGrowPastTwoDigits)
{
    loadFields(doc, QStringLiteral("photo_hundred"));
    makePhotos(QStringLiteral("a%1.jpg"), 101);

    EXPECT_EQ(run(), PageResult::Written);

    const QStringList &pages = doc.list(ListId::List1);
    ASSERT_EQ(pages.size(), 101);
    EXPECT_EQ(pages.at(98), QStringLiteral("pic00099.html"));
    EXPECT_EQ(pages.at(99), QStringLiteral("pic000100.html"));
    EXPECT_EQ(pages.at(100), QStringLiteral("pic000101.html"));
    EXPECT_EQ(writtenPages().size(), 101);
    EXPECT_TRUE(matchesGolden(QStringLiteral("photo_hundred/pic000100.html"),
                              QDir(site).filePath(QStringLiteral("pic000100.html"))));
    EXPECT_TRUE(page(QStringLiteral("pic000101.html")).contains(QStringLiteral("\r\n101.\r\n")));
    // An address that already ends in "/" is left as it is.
    EXPECT_EQ(doc.text(Field::Text6), QStringLiteral("http://www.example.com/photos/"));
}

TEST(PhotoPageNames, StemIsTrimmedFilledOrCutAndTheNameLowerCased)
{
    const struct {
        const char16_t *stem;
        int number;
        const char16_t *expected;
    } cases[] = {
        {u"pic", 1, u"pic00001.html"},
        {u"pic", 100, u"pic000100.html"},
        {u"Photo", 1, u"photo001.html"},
        {u"summer2002", 1, u"summer01.html"},
        {u"ABC", 1, u"abc00001.html"},
        {u"  ab  ", 1, u"ab000001.html"},
        {u"", 1, u"00000001.html"},
        {u"a b", 3, u"a b00003.html"},           // inner blanks stay
        {u"\u3000ab", 1, u"\u3000ab00001.html"}, // only ASCII blanks are trimmed
        // Six characters, not six UTF-16 units: the pair is not split.
        {u"\U0001F600abcdefg", 1, u"\U0001F600abcde01.html"},
    };
    for (const auto &c : cases) {
        const QString stem = QString::fromUtf16(c.stem);
        EXPECT_EQ(serialName(stem, c.number, QStringLiteral(".html")), QString::fromUtf16(c.expected))
            << stem.toStdString();
    }
}

TEST_F(PhotoPages, ExtensionTextSelectsNamesThatContainItCaseSensitively)
{
    fillFields();
    makeFiles(photos, {QStringLiteral("a.jpg"), QStringLiteral("B.JPG"), QStringLiteral("c.jpeg"),
                       QStringLiteral("jpgnotes.txt")});
    ASSERT_TRUE(doc.pointFile1(photos));

    EXPECT_EQ(run(), PageResult::Written);

    EXPECT_EQ(doc.list(ListId::List2), (QStringList{QStringLiteral("a.jpg"), QStringLiteral("jpgnotes.txt")}));
    const QString first = page(QStringLiteral("pic00001.html"));
    EXPECT_TRUE(first.contains(QStringLiteral("<IMG src=\"jpgnotes.txt\"><br>\r\n02.\r\n")));
    EXPECT_FALSE(first.contains(QStringLiteral("B.JPG")));
    EXPECT_FALSE(first.contains(QStringLiteral("c.jpeg")));
}

TEST_F(PhotoPages, PhotosAreTheVisibleFilesInCaseInsensitiveNameOrder)
{
    fillFields();
    makeFiles(photos, {QStringLiteral("b.jpg"), QStringLiteral("C.jpg"), QStringLiteral("A.jpg"),
                       QStringLiteral("a.jpg"), QStringLiteral(".hidden.jpg")});
    ASSERT_TRUE(QDir(photos).mkdir(QStringLiteral("folder.jpg")));
    // A link counts as what it leads to; beyond ASCII the case is folded too.
    makeFiles(photos, {QStringLiteral("Zz.jpg"), QStringLiteral("é.jpg"), QStringLiteral("É.jpg")});
    ASSERT_TRUE(QFile::link(QStringLiteral("b.jpg"), QDir(photos).filePath(QStringLiteral("link.jpg"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("folder.jpg"), QDir(photos).filePath(QStringLiteral("dir.jpg"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("gone"), QDir(photos).filePath(QStringLiteral("dangling.jpg"))));
    ASSERT_TRUE(doc.pointFile1(photos));

    EXPECT_EQ(run(), PageResult::Written);

    EXPECT_EQ(doc.list(ListId::List2),
              (QStringList{QStringLiteral("A.jpg"), QStringLiteral("a.jpg"), QStringLiteral("b.jpg"),
                           QStringLiteral("C.jpg"), QStringLiteral("link.jpg"), QStringLiteral("Zz.jpg"),
                           QStringLiteral("É.jpg"), QStringLiteral("é.jpg")}));
}

TEST_F(PhotoPages, PagesAreCountedOverThePhotosNotOverEveryFile)
{
    fillFields();
    doc.setText(Field::Text7, QStringLiteral("2"));
    makeFiles(photos, {QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")});
    makePhotos(QStringLiteral("notes%1.txt"), 30);

    EXPECT_EQ(run(), PageResult::Written);

    EXPECT_EQ(writtenPages(), (QStringList{QStringLiteral("pic00001.html"), QStringLiteral("pic00002.html")}));
    const QString second = page(QStringLiteral("pic00002.html"));
    EXPECT_TRUE(second.contains(QStringLiteral("<IMG src=\"c.jpg\"><br>\r\n03.\r\n")));
    EXPECT_EQ(second.count(QStringLiteral("<IMG")), 1);
    EXPECT_FALSE(second.contains(QStringLiteral("src=\"\"")));
}

TEST_F(PhotoPages, EmptyFolderWritesNothingButStillReportsAndNormalisesTheBase)
{
    fillFields();
    doc.setText(Field::Text6, QStringLiteral("http://www.example.com/photos"));
    ASSERT_TRUE(doc.pointFile1(photos));

    EXPECT_EQ(run(), PageResult::Written);

    EXPECT_TRUE(doc.list(ListId::List1).isEmpty());
    EXPECT_TRUE(writtenPages().isEmpty());
    EXPECT_EQ(prompter.messages(), QStringList{kWritten});
    EXPECT_EQ(doc.text(Field::Text6), QStringLiteral("http://www.example.com/photos/"));
}

TEST_F(PhotoPages, BaseAddressIsNormalisedShownAndRestored)
{
    fillFields();
    makePhotos(QStringLiteral("p%1.jpg"), 1);
    const struct {
        const char16_t *typed;
        const char16_t *baseLine; // nullptr: no base line
        const char16_t *after;
    } cases[] = {
        {u"http://", nullptr, u"http://"},
        {u"", nullptr, u"http://"},
        {u"   ", nullptr, u"http://"},
        {u" http:// ", nullptr, u"http://"},
        {u"http://ex.com/p", u"<base href=\"http://ex.com/p/\">", u"http://ex.com/p/"},
        {u"http://ex.com/p/", u"<base href=\"http://ex.com/p/\">", u"http://ex.com/p/"},
        // The test trims, the field and the line keep their blanks.
        {u" http://ex.com/p ", u"<base href=\" http://ex.com/p /\">", u" http://ex.com/p /"},
        {u"http://ex.com/p/ ", u"<base href=\"http://ex.com/p/ \">", u"http://ex.com/p/ "},
    };
    for (const auto &c : cases) {
        const QString typed = QString::fromUtf16(c.typed);
        SCOPED_TRACE(typed.toStdString());
        doc.setText(Field::Text6, typed);
        ASSERT_EQ(run(), PageResult::Written);
        const QStringList lines = page(QStringLiteral("pic00001.html")).split(QStringLiteral("\r\n"));
        if (c.baseLine) {
            ASSERT_GE(lines.size(), 4);
            EXPECT_EQ(lines.at(3), QString::fromUtf16(c.baseLine));
        } else {
            EXPECT_EQ(lines.filter(QStringLiteral("<base")).size(), 0);
        }
        EXPECT_EQ(doc.text(Field::Text6), QString::fromUtf16(c.after));
    }
}

TEST_F(PhotoPages, PhotosPerPageThatIsNotAWholeNumberOfAtLeastOneIsRefusedBeforeAnything)
{
    fillFields();
    makePhotos(QStringLiteral("p%1.jpg"), 5);
    doc.setText(Field::Text6, QStringLiteral("http://ex.com/p"));
    doc.setList(ListId::List1, {QStringLiteral("earlier.html")});
    for (const char16_t *text : {u"0", u"-1", u"-20", u"abc", u"   ", u"2.5", u"0.4", u".5", u"２０", u"- 1"}) {
        const QString t = QString::fromUtf16(text);
        SCOPED_TRACE(t.toStdString());
        doc.setText(Field::Text7, t);
        prompter.clear();
        EXPECT_EQ(run(), PageResult::Refused);
        EXPECT_EQ(prompter.messages(), QStringList{photosPerPageRefusal()});
    }
    EXPECT_TRUE(writtenPages().isEmpty());
    EXPECT_EQ(doc.text(Field::Text6), QStringLiteral("http://ex.com/p"));
    EXPECT_EQ(doc.list(ListId::List1), QStringList{QStringLiteral("earlier.html")});
}

TEST_F(PhotoPages, PhotosPerPageIsReadFromTheStartOfTheTextAndUsedForPagesAndRows)
{
    fillFields();
    makePhotos(QStringLiteral("p%1.jpg"), 25);
    const struct {
        const char16_t *text;
        int pages;
        int rowsOnFirstPage;
    } cases[] = {
        {u"20", 2, 20},  {u" 20", 2, 20}, {u"20枚", 2, 20},           {u"20.0", 2, 20}, {u"+4", 7, 4},
        {u"1e1", 3, 10}, {u"2 0", 13, 2}, {u"99999999999999", 1, 25}, {u"25", 1, 25},   {u"1D1", 3, 10},
    };
    for (const auto &c : cases) {
        const QString t = QString::fromUtf16(c.text);
        SCOPED_TRACE(t.toStdString());
        for (const QString &old : writtenPages())
            QFile::remove(QDir(site).filePath(old));
        doc.setText(Field::Text7, t);
        ASSERT_EQ(run(), PageResult::Written);
        EXPECT_EQ(writtenPages().size(), c.pages);
        EXPECT_EQ(page(QStringLiteral("pic00001.html")).count(QStringLiteral("<IMG")), c.rowsOnFirstPage);
    }
}

TEST_F(PhotoPages, MissingRequiredFieldsWriteNothingAndSwitchToTheCommonTabOnlyForTextOneAndTwo)
{
    fillFields();
    makePhotos(QStringLiteral("p%1.jpg"), 3);
    doc.setText(Field::Text6, QStringLiteral("http://ex.com/p"));

    doc.setText(Field::Text8, QString());
    doc.setText(Field::Text9, QString());
    EXPECT_EQ(run(), PageResult::Refused);
    EXPECT_EQ(prompter.messages(), QStringList{kRequired});
    EXPECT_EQ(doc.currentTab(), TabPhoto);

    fillFields();
    doc.setText(Field::Text2, QString());
    prompter.clear();
    EXPECT_EQ(run(), PageResult::Refused);
    EXPECT_EQ(prompter.messages(), QStringList{kRequired});
    EXPECT_EQ(doc.currentTab(), TabCommon);

    // An empty Text7 is the required check's, with its message, not the number check's.
    fillFields();
    doc.setText(Field::Text7, QString());
    prompter.clear();
    EXPECT_EQ(run(), PageResult::Refused);
    EXPECT_EQ(prompter.messages(), QStringList{kRequired});

    EXPECT_TRUE(writtenPages().isEmpty());
    EXPECT_EQ(doc.text(Field::Text6), QStringLiteral("http://ex.com/p"));
    EXPECT_TRUE(doc.list(ListId::List1).isEmpty());
}

TEST_F(PhotoPages, AFailedPageStopsTheRunKeepsEarlierPagesAndShowsNoSuccess)
{
    fillFields();
    doc.setText(Field::Text7, QStringLiteral("1"));
    doc.setText(Field::Text6, QStringLiteral("http://"));
    makePhotos(QStringLiteral("p%1.jpg"), 3);
    // A folder where the second page should go cannot be replaced by a file.
    ASSERT_TRUE(QDir(site).mkdir(QStringLiteral("pic00002.html")));

    EXPECT_EQ(run(), PageResult::Failed);

    EXPECT_TRUE(QFileInfo(QDir(site).filePath(QStringLiteral("pic00001.html"))).isFile());
    EXPECT_FALSE(QFile::exists(QDir(site).filePath(QStringLiteral("pic00003.html"))));
    ASSERT_EQ(prompter.messages().size(), 1);
    EXPECT_NE(prompter.lastMessage(), kWritten);
    EXPECT_TRUE(prompter.lastMessage().contains(QStringLiteral("pic00002.html")));
    EXPECT_EQ(doc.text(Field::Text6), QStringLiteral("http://"));
}

TEST_F(PhotoPages, PagesWrittenIntoThePhotoFolderShowUpInFileOneButAreNoPhotos)
{
    fillFields();
    doc.setText(Field::Label1, photos);
    makePhotos(QStringLiteral("p%1.jpg"), 3);

    ASSERT_EQ(run(), PageResult::Written);
    EXPECT_TRUE(doc.file1().names().contains(QStringLiteral("pic00001.html")));

    ASSERT_EQ(run(), PageResult::Written);
    EXPECT_EQ(doc.list(ListId::List2).size(), 3);
}

TEST_F(PhotoPages, CommandLineBuildListsTheFolderOfTextThree)
{
    fillFields();
    makePhotos(QStringLiteral("p%1.jpg"), 3);
    // File1 still shows another folder, as after browsing elsewhere.
    const QString other = tmp.filePath(QStringLiteral("other"));
    ASSERT_TRUE(QDir().mkpath(other));
    makeFiles(other, {QStringLiteral("x.jpg")});
    ASSERT_TRUE(doc.pointFile1(other));

    const PageKind *kind = findPageKind(QStringLiteral("photo"));
    ASSERT_NE(kind, nullptr);
    EXPECT_EQ(kind->tab, TabPhoto);
    PageFrame frame(doc, prompter);
    EXPECT_EQ(kind->command(frame), PageResult::Written);
    EXPECT_EQ(doc.list(ListId::List2).size(), 3);
    EXPECT_EQ(doc.file1().folder(), photos);

    doc.setText(Field::Text3, tmp.filePath(QStringLiteral("missing")));
    prompter.clear();
    EXPECT_EQ(kind->command(frame), PageResult::Refused);
    EXPECT_EQ(prompter.messages(), QStringList{missingPhotoFolderMessage(doc.text(Field::Text3))});
}

} // namespace
