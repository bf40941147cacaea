// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "document/addresses.h"
#include "document/cp932.h"
#include "document/project_file.h"
#include "pages/top_page.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"

using namespace webloom;
using webloom::test::ScriptedPrompter;

namespace {

const QString kSideCell = QStringLiteral("<td nowrap width=\"15%\" align=\"center\">");
const QString kTitleCell = QStringLiteral("<td nowrap width=\"70%\" align=\"center\">");
const QString kMenuTable = QStringLiteral("<table border=\"0\" face=\"ＭＳ 明朝\">");
const QString kRequired = QStringLiteral("必須項目にデータを入れてください");

QString menuRow(const QString &target, const QString &text)
{
    return QStringLiteral("<tr><td nowrap align=\"center\"><A href=\"") + target + QStringLiteral("\">") + text +
           QStringLiteral("</A></td></tr>");
}

class TopPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        doc.setText(Field::Label1, dir.path());
        doc.setText(Field::Text2, QStringLiteral("hanako@example.jp"));
        doc.setText(Field::Text13, QStringLiteral("はなこのページ"));
        doc.setCurrentTab(TabTop);
    }

    QString pagePath() const { return dir.filePath(QStringLiteral("index.html")); }

    // Runs the button's command and returns the written page as lines.
    QStringList write()
    {
        PageFrame frame(doc, prompter);
        const PageResult result = chktop(frame);
        EXPECT_EQ(result, PageResult::Written);
        EXPECT_EQ(prompter.lastMessage(), QStringLiteral("作成しました。"));
        QStringList lines = cp932::decode(test::readBytes(pagePath())).split(QStringLiteral("\r\n"));
        EXPECT_EQ(lines.takeLast(), QString());
        return lines;
    }

    // Loads a golden project, then writes its top page into the temporary folder.
    void buildFromProject(const QString &caseName)
    {
        ASSERT_TRUE(loadProjectFile(doc, prompter, test::dataPath(caseName + QStringLiteral("/project.txt"))));
        doc.setText(Field::Label1, dir.path());
        doc.setCurrentTab(TabTop);
        PageFrame frame(doc, prompter);
        ASSERT_EQ(chktop(frame), PageResult::Written);
        EXPECT_EQ(frame.writtenFiles(), QStringList{pagePath()});
        EXPECT_EQ(prompter.messages(), (QStringList{QStringLiteral("読込み完了"), QStringLiteral("作成しました。")}));
    }

    QTemporaryDir dir;
    SiteDocument doc;
    ScriptedPrompter prompter;
};

TEST_F(TopPageTest, GoldenPagesFromProjectFiles)
{
    buildFromProject(QStringLiteral("top_full"));
    EXPECT_TRUE(test::matchesGolden(QStringLiteral("top_full/index.html"), pagePath()));

    SiteDocument fresh;
    ScriptedPrompter freshPrompter;
    ASSERT_TRUE(loadProjectFile(fresh, freshPrompter, test::dataPath(QStringLiteral("top_defaults/project.txt"))));
    fresh.setText(Field::Label1, dir.path());
    fresh.setCurrentTab(TabTop);
    PageFrame frame(fresh, freshPrompter);
    ASSERT_EQ(chktop(frame), PageResult::Written);
    EXPECT_TRUE(test::matchesGolden(QStringLiteral("top_defaults/index.html"), pagePath()));
}

TEST_F(TopPageTest, BannerCellDependsOnLengthOnly)
{
    struct Case {
        QString text;
        bool banner;
    };
    const Case cases[] = {
        {QStringLiteral("http://"), false},        {QStringLiteral("a.gif"), false},
        {QStringLiteral("abc.gif"), false},        // 7 characters
        {QStringLiteral("abcd.gif"), true},        // 8 characters
        {QStringLiteral("        "), true},        // 8 spaces: nothing but the length counts
        {QStringLiteral("ばなーのがぞう"), false}, // 7 characters although 14 bytes on disk
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        doc.setText(Field::Text42, c.text);
        const QStringList lines = write();
        const qsizetype title = lines.indexOf(kTitleCell);
        ASSERT_GT(title, 0);
        if (c.banner) {
            EXPECT_EQ(
                lines.mid(title - 3, 3),
                (QStringList{kSideCell, QStringLiteral("<img src=\"") + c.text + QStringLiteral("\" border=\"0\">"),
                             QStringLiteral("</td>")}));
        } else {
            EXPECT_EQ(lines.at(title - 1), QStringLiteral("<table border=\"0\" face=\"ＭＳ 明朝\"><tr>"));
            EXPECT_FALSE(lines.contains(kSideCell));
        }
    }
}

TEST_F(TopPageTest, CounterCellForAnyFilledText)
{
    doc.setText(Field::Text50, QStringLiteral(" "));
    QStringList lines = write();
    qsizetype title = lines.indexOf(kTitleCell);
    EXPECT_EQ(lines.mid(title + 3, 4),
              (QStringList{kSideCell, QStringLiteral(" "), QStringLiteral("</td>"), QStringLiteral("</tr></TABLE>")}));

    doc.setText(Field::Text50, QString());
    lines = write();
    title = lines.indexOf(kTitleCell);
    EXPECT_EQ(lines.at(title + 3), QStringLiteral("</tr></TABLE>"));

    // Banner and counter open with the same line.
    doc.setText(Field::Text42, QStringLiteral("banner.png"));
    doc.setText(Field::Text50, QStringLiteral("<!--#exec cmd=\"count.pl\"-->"));
    lines = write();
    EXPECT_EQ(lines.count(kSideCell), 2);
    EXPECT_TRUE(lines.contains(QStringLiteral("<!--#exec cmd=\"count.pl\"-->")));
}

TEST_F(TopPageTest, PictureCellNeedsBothFieldsAndAlwaysSpansEleven)
{
    const QString firstEntry = QStringLiteral("<td nowrap align=\"center\"><A href=\"\"></A></td></tr>");
    for (const auto &[picture, caption] :
         {std::pair{QStringLiteral("umi.jpg"), QString()}, std::pair{QString(), QStringLiteral("海")}}) {
        doc.setText(Field::Text22, picture);
        doc.setText(Field::Text29, caption);
        const QStringList lines = write();
        const qsizetype table = lines.indexOf(kMenuTable);
        ASSERT_GT(table, 0);
        EXPECT_EQ(lines.at(table + 1), firstEntry);
        EXPECT_FALSE(lines.join(QLatin1Char('\n')).contains(QStringLiteral("rowspan")));
    }

    // No optional row follows the entries, yet the span stays 11.
    doc.setText(Field::Text22, QStringLiteral("umi.jpg"));
    doc.setText(Field::Text29, QStringLiteral("海"));
    const QStringList lines = write();
    const qsizetype table = lines.indexOf(kMenuTable);
    EXPECT_EQ(lines.mid(table + 1, 4), (QStringList{QStringLiteral("<tr><td rowspan=\"11\" align=\"center\">海<br>"),
                                                    QStringLiteral("<img src=\"umi.jpg\"><br>"),
                                                    QString(15, QChar(0x3000)) + QStringLiteral("</td>"), firstEntry}));
    EXPECT_EQ(lines.at(table + 11), menuRow(addresses::kFortunePage, QStringLiteral("おみくじ")));
    EXPECT_EQ(lines.at(table + 12), QStringLiteral("</TABLE>"));
}

TEST_F(TopPageTest, OptionalMenuRowsUseNonBlankTest)
{
    const QString selfRow = QStringLiteral("自己紹介");
    doc.setText(Field::Text45, QStringLiteral("   "));
    doc.setText(Field::Text46, QStringLiteral(" "));
    doc.setText(Field::Text11, QStringLiteral("  "));
    QStringList lines = write();
    const qsizetype fortune = lines.indexOf(menuRow(addresses::kFortunePage, QStringLiteral("おみくじ")));
    ASSERT_GT(fortune, 0);
    EXPECT_EQ(lines.at(fortune - 1), menuRow(QString(), QString())); // entry 7 directly before

    doc.setText(Field::Text45, QStringLiteral(" self.html"));
    doc.setText(Field::Text46, QStringLiteral("link.html "));
    doc.setText(Field::Text11, QStringLiteral(" 掲示板 "));
    doc.setText(Field::Text12, QStringLiteral("http://"));
    lines = write();
    const qsizetype board = lines.indexOf(menuRow(QStringLiteral("http://"), QStringLiteral(" 掲示板 ")));
    ASSERT_GT(board, 0);
    EXPECT_EQ(lines.mid(board + 1, 3), (QStringList{menuRow(QStringLiteral(" self.html"), selfRow),
                                                    menuRow(QStringLiteral("link.html "), QStringLiteral("リンク集")),
                                                    menuRow(addresses::kFortunePage, QStringLiteral("おみくじ"))}));

    // An address of spaces removes the board row even with a title.
    doc.setText(Field::Text12, QStringLiteral("   "));
    lines = write();
    EXPECT_FALSE(lines.join(QLatin1Char('\n')).contains(QStringLiteral("掲示板")));
}

TEST_F(TopPageTest, RequiredFieldsRefuseWithOneMessage)
{
    doc.setText(Field::Text1, QString());
    doc.setText(Field::Text13, QString());
    {
        PageFrame frame(doc, prompter);
        EXPECT_EQ(chktop(frame), PageResult::Refused);
        EXPECT_TRUE(frame.writtenFiles().isEmpty());
    }
    EXPECT_EQ(prompter.messages(), QStringList{kRequired});
    EXPECT_EQ(doc.currentTab(), TabCommon);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    // A missing title alone leaves the tab where it was.
    prompter.clear();
    doc.setText(Field::Text1, QStringLiteral("http://"));
    doc.setCurrentTab(TabTop);
    {
        PageFrame frame(doc, prompter);
        EXPECT_EQ(chktop(frame), PageResult::Refused);
    }
    EXPECT_EQ(prompter.messages(), QStringList{kRequired});
    EXPECT_EQ(doc.currentTab(), TabTop);

    prompter.clear();
    doc.setText(Field::Text13, QStringLiteral("題"));
    doc.setText(Field::Text21, QString());
    {
        PageFrame frame(doc, prompter);
        EXPECT_EQ(chktop(frame), PageResult::Refused);
    }
    EXPECT_EQ(prompter.messages(), QStringList{kRequired});
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

TEST_F(TopPageTest, FileNameAndFieldsUsedUntrimmed)
{
    doc.setText(Field::Text2, QStringLiteral("  "));
    doc.setText(Field::Text13, QStringLiteral(" "));
    doc.setText(Field::Text21, QStringLiteral(" top.html"));
    PageFrame frame(doc, prompter);
    ASSERT_EQ(chktop(frame), PageResult::Written);
    const QString path = dir.filePath(QStringLiteral(" top.html"));
    EXPECT_EQ(frame.writtenFiles(), QStringList{path});
    const QByteArray bytes = test::readBytes(path);
    EXPECT_TRUE(bytes.contains("<TITLE> </TITLE>\r\n"));
    EXPECT_TRUE(bytes.contains("<A href=\"mailto:  \">"));
}

} // namespace
