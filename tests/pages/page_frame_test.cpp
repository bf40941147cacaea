// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QDirIterator>

#include "document/cp932.h"
#include "document/field_captions.h"
#include "document/project_file.h"
#include "pages/link_page.h"
#include "pages/page_frame.h"
#include "pages/photo_pages.h"
#include "pages/self_page.h"
#include "pages/sub_page.h"
#include "pages/top_page.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"

using namespace webloom;
using webloom::test::ScriptedPrompter;

namespace {

const QString kHomeEnd = QStringLiteral("<B>[ＨＯＭＥ]</B></A>") + QString(6, QChar(0x3000));

class PageFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        doc.setText(Field::Label1, dir.path());
    }

    QString path(const QString &name) const { return dir.filePath(name); }

    // Writes one file holding the given lines; returns close()'s answer.
    bool writeLines(const QString &name, const QStringList &lines)
    {
        PageFrame frame(doc, prompter);
        if (!frame.open(name))
            return false;
        for (const QString &l : lines)
            frame.line(l);
        return frame.close();
    }

    // The navigation bar as written for the current document state.
    QStringList navigationBar()
    {
        PageFrame frame(doc, prompter);
        EXPECT_TRUE(frame.open(QStringLiteral("bar.html")));
        frame.kakikyo();
        EXPECT_TRUE(frame.close());
        QStringList lines =
            cp932::decode(test::readBytes(path(QStringLiteral("bar.html")))).split(QStringLiteral("\r\n"));
        lines.removeLast();
        return lines;
    }

    QStringList entries() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System); }

    QTemporaryDir dir;
    SiteDocument doc;
    ScriptedPrompter prompter;
};

TEST_F(PageFrameTest, OutputPathInsertsOneSeparator)
{
    PageFrame frame(doc, prompter);
    doc.setText(Field::Label1, QStringLiteral("/home/hanako/hp"));
    EXPECT_EQ(frame.outputPath(QStringLiteral("index.html")), QStringLiteral("/home/hanako/hp/index.html"));
    doc.setText(Field::Label1, QStringLiteral("/home/hanako/hp/"));
    EXPECT_EQ(frame.outputPath(QStringLiteral("index.html")), QStringLiteral("/home/hanako/hp/index.html"));
    // Only the last character is looked at.
    doc.setText(Field::Label1, QStringLiteral("/home//"));
    EXPECT_EQ(frame.outputPath(QStringLiteral("a.html")), QStringLiteral("/home//a.html"));
    doc.setText(Field::Label1, QString());
    EXPECT_EQ(frame.outputPath(QStringLiteral("index.html")), QStringLiteral("/index.html"));
    // The file name is not trimmed or checked.
    doc.setText(Field::Label1, QStringLiteral("."));
    EXPECT_EQ(frame.outputPath(QStringLiteral(" a b ")), QStringLiteral("./ a b "));
}

TEST_F(PageFrameTest, WritingTwiceReplacesTheFile)
{
    ASSERT_TRUE(writeLines(QStringLiteral("p.html"), {QStringLiteral("first page, rather long"), QStringLiteral("x")}));
    ASSERT_TRUE(writeLines(QStringLiteral("p.html"), {QStringLiteral("2")}));
    EXPECT_EQ(test::readBytes(path(QStringLiteral("p.html"))), QByteArray("2\r\n"));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("p.html")});
    EXPECT_TRUE(prompter.messages().isEmpty());
}

TEST_F(PageFrameTest, AnUnchangedPageKeepsItsFileAndTime)
{
    const QStringList lines = {QStringLiteral("<HTML>"), QStringLiteral("同じ内容")};
    ASSERT_TRUE(writeLines(QStringLiteral("same.html"), lines));
    const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
    QFile file(path(QStringLiteral("same.html")));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.setFileTime(old, QFileDevice::FileModificationTime));
    file.close();
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(file.fileName()).constData(), &before), 0);

    PageFrame frame(doc, prompter);
    ASSERT_TRUE(frame.open(QStringLiteral("same.html")));
    for (const QString &l : lines)
        frame.line(l);
    ASSERT_TRUE(frame.close());
    EXPECT_EQ(frame.writtenFiles(), QStringList{path(QStringLiteral("same.html"))});
    const QFileInfo after(path(QStringLiteral("same.html")));
    EXPECT_EQ(after.lastModified(), old);
    struct stat now {};
    ASSERT_EQ(::stat(QFile::encodeName(file.fileName()).constData(), &now), 0);
    EXPECT_EQ(now.st_ino, before.st_ino);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("same.html")}) << "no temporary file left";

    // One byte more is a change.
    ASSERT_TRUE(writeLines(QStringLiteral("same.html"), lines + QStringList{QString()}));
    EXPECT_NE(QFileInfo(path(QStringLiteral("same.html"))).lastModified(), old);
}

TEST_F(PageFrameTest, EncodingIsCp932WithCrLfAndNoBom)
{
    ASSERT_TRUE(writeLines(QStringLiteral("e.html"), {QStringLiteral("<HTML>"), QStringLiteral("ＭＳ 明朝　"),
                                                      QStringLiteral(" "), QStringLiteral("</HTML>")}));
    EXPECT_EQ(test::readBytes(path(QStringLiteral("e.html"))),
              QByteArray("<HTML>\r\n"
                         "\x82\x6C\x82\x72\x20\x96\xBE\x92\xA9\x81\x40\r\n"
                         " \r\n"
                         "</HTML>\r\n"));
}

TEST_F(PageFrameTest, UnmappableCharactersBecomeNumericReferences)
{
    // Hangul and an emoji outside the BMP (one reference, not two halves).
    ASSERT_TRUE(writeLines(QStringLiteral("u.html"), {QStringLiteral("a\uD55Cb\U0001F600c漢")}));
    EXPECT_EQ(test::readBytes(path(QStringLiteral("u.html"))), QByteArray("a&#54620;b&#128512;c\x8A\xBF\r\n"));
}

TEST_F(PageFrameTest, BoardLinkInNavigationBar)
{
    const QString noBoard = QStringLiteral("<A href=\"mailto:\"><B>[ｅ－ｍａｉｌ]</B></A><br>");
    struct Case {
        int tab;
        QString title;
        QString address;
        QString link; // the board line, empty when there must be none
    };
    const Case cases[] = {
        // The default address gives a link to "http://" on every tab but the top page's.
        {TabCommon, QStringLiteral("掲示板"), QStringLiteral("http://"),
         QStringLiteral("<A href=\"http://\"><B>掲示板</B></A>")},
        {TabSub, QStringLiteral("掲示板"), QStringLiteral("http://"),
         QStringLiteral("<A href=\"http://\"><B>掲示板</B></A>")},
        {TabPhoto, QStringLiteral("掲示板"), QStringLiteral("http://"),
         QStringLiteral("<A href=\"http://\"><B>掲示板</B></A>")},
        {TabLink, QStringLiteral(" BBS "), QStringLiteral(" http://b/ "),
         QStringLiteral("<A href=\" http://b/ \"><B> BBS </B></A>")},
        {TabTop, QStringLiteral("掲示板"), QStringLiteral("http://b/"), QString()},
        {TabSelf, QStringLiteral("   "), QStringLiteral("http://b/"), QString()},
        {TabSelf, QStringLiteral("掲示板"), QStringLiteral("  "), QString()},
        {TabSelf, QString(), QStringLiteral("http://b/"), QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringLiteral("tab %1 title '%2' address '%3'").arg(c.tab).arg(c.title, c.address).toStdString());
        doc.setText(Field::Text1, QString());
        doc.setText(Field::Text2, QString());
        doc.setText(Field::Text11, c.title);
        doc.setText(Field::Text12, c.address);
        doc.setCurrentTab(c.tab);
        const QStringList bar = navigationBar();
        // Empty Text1 and Text2 are written without a test (link-collection page).
        QStringList expected{QStringLiteral("<div align=\"center\">"), QStringLiteral("<A href=\"\">") + kHomeEnd};
        if (!c.link.isEmpty())
            expected.append(c.link + QString(6, QChar(0x3000)));
        expected << noBoard << QStringLiteral("</div>");
        EXPECT_EQ(bar, expected);
        EXPECT_EQ(doc.currentTab(), c.tab);
    }
}

TEST_F(PageFrameTest, NavigationBarAppearsTwicePerPage)
{
    doc.setText(Field::Text11, QStringLiteral("掲示板"));
    doc.setCurrentTab(TabSub);
    {
        PageFrame frame(doc, prompter);
        ASSERT_TRUE(frame.open(QStringLiteral("s.html")));
        frame.pageOpening(QStringLiteral("t"));
        frame.heading(QStringLiteral("h"));
        frame.kakikyo();
        frame.line(QStringLiteral("<HR>"));
        frame.pageClosing();
        ASSERT_TRUE(frame.close());
    }
    const QString page = cp932::decode(test::readBytes(path(QStringLiteral("s.html"))));
    EXPECT_EQ(page.count(QStringLiteral("<A href=\"http://\"><B>掲示板</B></A>")), 2);
    EXPECT_EQ(page.count(QStringLiteral("[ＨＯＭＥ]")), 2);
}

TEST_F(PageFrameTest, EmailOfSpacesPassesAndIsEmitted)
{
    doc.setText(Field::Text2, QStringLiteral("   "));
    PageFrame frame(doc, prompter);
    EXPECT_TRUE(frame.requiredCheck({Field::Text1, Field::Text2}));
    EXPECT_TRUE(prompter.messages().isEmpty());
    EXPECT_TRUE(navigationBar().contains(QStringLiteral("<A href=\"mailto:   \"><B>[ｅ－ｍａｉｌ]</B></A><br>")));
}

TEST_F(PageFrameTest, RequiredCheckTestsEveryFieldAndShowsOneMessage)
{
    struct Case {
        QList<Field> empty;
        int tabAfter;
    };
    const Case cases[] = {
        {{}, TabPhoto},
        {{Field::Text1}, TabCommon},
        {{Field::Text2}, TabCommon},
        {{Field::Text13}, TabPhoto},
        {{Field::Text13, Field::Text21}, TabPhoto},
        {{Field::Text1, Field::Text2, Field::Text13, Field::Text21}, TabCommon},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.empty.size());
        for (Field f : {Field::Text1, Field::Text2, Field::Text13, Field::Text21})
            doc.setText(f, c.empty.contains(f) ? QString() : QStringLiteral(" "));
        doc.setCurrentTab(TabPhoto);
        prompter.clear();
        PageFrame frame(doc, prompter);
        EXPECT_EQ(frame.requiredCheck({Field::Text1, Field::Text2, Field::Text13, Field::Text21}), c.empty.isEmpty());
        EXPECT_EQ(prompter.messages().size(), c.empty.isEmpty() ? 0 : 1);
        if (!c.empty.isEmpty()) {
            EXPECT_EQ(prompter.lastMessage(), QStringLiteral("必須項目にデータを入れてください"));
        }
        EXPECT_EQ(doc.currentTab(), c.tabAfter);
    }

    // A missing field before Text2 does not stop the check: Text2 still
    // switches the tab.
    doc.setText(Field::Text13, QString());
    doc.setText(Field::Text2, QString());
    doc.setCurrentTab(TabSub);
    prompter.clear();
    PageFrame frame(doc, prompter);
    EXPECT_FALSE(frame.requiredCheck({Field::Text13, Field::Text2}));
    EXPECT_EQ(doc.currentTab(), TabCommon);
    EXPECT_EQ(prompter.messages().size(), 1);
}

// A page that cannot be opened: the reason is shown, nothing is left behind
// and no success message follows.
TEST_F(PageFrameTest, OpenFailureIsReportedWithFileAndReason)
{
    ASSERT_TRUE(test::writeBytes(path(QStringLiteral("plain.txt")), "x"));
    const QString missing = path(QStringLiteral("missing"));
    const QString underFile = path(QStringLiteral("plain.txt"));
    for (const QString &folder : {missing, underFile}) {
        SCOPED_TRACE(folder.toStdString());
        doc.setText(Field::Label1, folder);
        doc.setText(Field::Text2, QStringLiteral("m@h"));
        doc.setText(Field::Text13, QStringLiteral("題"));
        doc.setCurrentTab(TabTop);
        prompter.clear();
        PageFrame frame(doc, prompter);
        EXPECT_EQ(chktop(frame), PageResult::Failed);
        EXPECT_FALSE(frame.isOpen());
        EXPECT_TRUE(frame.writtenFiles().isEmpty());
        ASSERT_EQ(prompter.messages().size(), 1);
        const QString message = prompter.lastMessage();
        const QString target = folder + QStringLiteral("/index.html");
        EXPECT_TRUE(message.startsWith(target)) << message.toStdString();
        EXPECT_GT(message.size(), target.size() + QStringLiteral(" のファイルを書き込めませんでした。\n").size())
            << "no reason given: " << message.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("plain.txt")});
    EXPECT_EQ(test::readBytes(underFile), QByteArray("x"));
}

// The page is complete but cannot take the place of a folder of its name.
TEST_F(PageFrameTest, ReplaceFailureLeavesNoTemporaryFile)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("index.html")));
    doc.setText(Field::Text2, QStringLiteral("m@h"));
    doc.setText(Field::Text13, QStringLiteral("題"));
    doc.setCurrentTab(TabTop);
    PageFrame frame(doc, prompter);
    EXPECT_EQ(chktop(frame), PageResult::Failed);
    EXPECT_EQ(prompter.messages().size(), 1);
    EXPECT_TRUE(prompter.lastMessage().startsWith(path(QStringLiteral("index.html"))));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("index.html"))).isDir());
    EXPECT_TRUE(entries().isEmpty()) << entries().join(QLatin1Char(' ')).toStdString();
}

// A write that fails part-way (the process may not grow files beyond a few
// bytes, as on a full disk) keeps the earlier page and leaves no temporary file.
TEST_F(PageFrameTest, WriteFailureKeepsEarlierPage)
{
    const QByteArray earlier = "<HTML>earlier page</HTML>\r\n";
    ASSERT_TRUE(test::writeBytes(path(QStringLiteral("index.html")), earlier));
    doc.setText(Field::Text2, QStringLiteral("m@h"));
    doc.setText(Field::Text13, QStringLiteral("題"));
    doc.setCurrentTab(TabTop);

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 64;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    PageResult result;
    QStringList written;
    {
        PageFrame frame(doc, prompter);
        result = chktop(frame);
        written = frame.writtenFiles();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, PageResult::Failed);
    EXPECT_TRUE(written.isEmpty());
    ASSERT_EQ(prompter.messages().size(), 1);
    EXPECT_TRUE(prompter.lastMessage().startsWith(path(QStringLiteral("index.html"))));
    EXPECT_FALSE(prompter.messages().contains(QStringLiteral("作成しました。")));
    EXPECT_EQ(test::readBytes(path(QStringLiteral("index.html"))), earlier);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("index.html")});
}

TEST(NonBlank, OnlyAsciiSpacesAreTrimmed)
{
    EXPECT_FALSE(isNonBlank(QString()));
    EXPECT_FALSE(isNonBlank(QStringLiteral("   ")));
    EXPECT_TRUE(isNonBlank(QStringLiteral(" a ")));
    EXPECT_TRUE(isNonBlank(QStringLiteral("\u3000")));
    EXPECT_EQ(trimSpaces(QStringLiteral("  a b  ")), QStringLiteral("a b"));
    EXPECT_EQ(trimSpaces(QStringLiteral("\u3000a\t")), QStringLiteral("\u3000a\t"));
}

} // namespace

TEST(PageNames, APageNeverLeavesTheBaseFolder)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("site"));
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("site/sub")));
    SiteDocument doc;
    ScriptedPrompter prompter;
    ASSERT_TRUE(loadProjectFile(doc, prompter, test::dataPath(QStringLiteral("project_full/project.txt"))));
    doc.setText(Field::Label1, base);
    auto files = [&dir] {
        QStringList found;
        QDirIterator it(dir.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            found.append(QDir(dir.path()).relativeFilePath(it.next()));
        found.sort();
        return found;
    };

    struct Kind {
        PageResult (*command)(PageFrame &);
        Field field;
    };
    const Kind kinds[] = {{&chktop, Field::Text21},
                          {&chkself, Field::Text44},
                          {&command11, Field::Text43},
                          {&command14, Field::Text49},
                          {&chkpic, Field::Text9}};
    const QString outside = QStringLiteral("「..」で、基準パソコンディレクトリの外に出ます。");
    const QString absolute = QStringLiteral("「/」で始まる名前は、基準パソコンディレクトリの外を指します。");
    for (const Kind &kind : kinds) {
        const bool photo = kind.field == Field::Text9;
        // Typed, and the page name it gives (photo pages number the stem).
        const std::tuple<QString, QString, QString> names[] = {
            {QStringLiteral("../escape.html"), QStringLiteral("../escape.html"), outside},
            {QStringLiteral("sub/../../x"), QStringLiteral("sub/../../x"), outside},
            {QStringLiteral("/tmp/abs.html"), QStringLiteral("/tmp/abs.html"), absolute},
            {QStringLiteral("../e"), QStringLiteral("../e0001.html"), outside},
        };
        for (const auto &[typed, page, reason] : names) {
            if (photo != typed.endsWith(QLatin1Char('e')))
                continue;
            SCOPED_TRACE(fieldName(kind.field).toStdString() + " " + typed.toStdString());
            doc.setText(kind.field, typed);
            const QStringList lists = doc.list(ListId::List1) + doc.list(ListId::List2);
            prompter.clear();
            PageFrame frame(doc, prompter);
            EXPECT_EQ(kind.command(frame), PageResult::Refused);
            EXPECT_EQ(prompter.messages(),
                      QStringList{fieldCaption(kind.field) + QStringLiteral(" の「") + page +
                                  QStringLiteral("」は、ページのファイル名に使えません。\n") + reason});
            EXPECT_TRUE(files().isEmpty()) << files().join(QLatin1Char(' ')).toStdString();
            EXPECT_EQ(doc.list(ListId::List1) + doc.list(ListId::List2), lists);
        }
    }

    // Names that stay inside keep working, into an existing subfolder too.
    for (const QString &name : {QStringLiteral("sub/page.html"), QStringLiteral("./sub/../inside.html")}) {
        doc.setText(Field::Text21, name);
        PageFrame frame(doc, prompter);
        EXPECT_EQ(chktop(frame), PageResult::Written) << name.toStdString();
    }
    EXPECT_EQ(files(), (QStringList{QStringLiteral("site/inside.html"), QStringLiteral("site/sub/page.html")}));
    EXPECT_EQ(prompter.unexpected(), 0);
}
