// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "document/project_file.h"
#include "pages/self_page.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"

using namespace webloom;

namespace {

const QString kWritten = QStringLiteral("作成しました。");
const QString kMissing = QStringLiteral("必須項目にデータを入れてください");

// A document loaded from tests/data/<name>/project.txt, writing into a fresh
// base folder, with the self-introduction tab showing.
struct SelfCase {
    QTemporaryDir dir;
    SiteDocument doc;
    test::ScriptedPrompter prompter;

    explicit SelfCase(const QString &name = {})
    {
        if (!name.isEmpty()) {
            EXPECT_TRUE(loadProjectFile(doc, prompter, test::dataPath(name + QStringLiteral("/project.txt"))));
            prompter.clear();
        }
        doc.setText(Field::Label1, dir.path());
        doc.setCurrentTab(TabSelf);
    }

    PageResult press()
    {
        PageFrame frame(doc, prompter);
        return chkself(frame);
    }

    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }
    QString path(const QString &name) const { return dir.filePath(name); }
};

} // namespace

TEST(SelfPage, FullyFilledPageMatchesGolden)
{
    // Every item with its continuation lines, the bulletin board in both bars,
    // a second word line with spaces around it and a file name " self.html ".
    SelfCase c(QStringLiteral("self_full"));
    EXPECT_EQ(c.press(), PageResult::Written);
    EXPECT_EQ(c.prompter.messages(), QStringList{kWritten});
    EXPECT_EQ(c.files(), QStringList{QStringLiteral("self.html")});
    EXPECT_TRUE(test::matchesGolden(QStringLiteral("self_full/self.html"), c.path(QStringLiteral("self.html"))));
}

TEST(SelfPage, RequiredFieldsOnlyGiveFiveSpacerRows)
{
    SelfCase c(QStringLiteral("self_minimal"));
    EXPECT_EQ(c.press(), PageResult::Written);
    EXPECT_TRUE(test::matchesGolden(QStringLiteral("self_minimal/self.html"), c.path(QStringLiteral("self.html"))));
}

TEST(SelfPage, ContinuationNeedsItsFirstLineAndBlankItemsAreLeftOut)
{
    // Second hobby and qualification lines without their first lines, a third
    // word line without the second, a birthday and a board title of spaces:
    // none of them shows, so the page is the one of the required fields only.
    SelfCase c(QStringLiteral("self_gaps"));
    EXPECT_EQ(c.press(), PageResult::Written);
    EXPECT_TRUE(test::matchesGolden(QStringLiteral("self_minimal/self.html"), c.path(QStringLiteral("self.html"))));
}

TEST(SelfPage, EachMissingRequiredFieldRefusesWithoutWriting)
{
    struct Row {
        Field field;
        int tabAfter;
    };
    const Row rows[] = {{Field::Text1, TabCommon},
                        {Field::Text2, TabCommon},
                        {Field::Text31, TabSelf},
                        {Field::Text37, TabSelf},
                        {Field::Text44, TabSelf}};
    for (const Row &row : rows) {
        SelfCase c(QStringLiteral("self_minimal"));
        c.doc.setText(row.field, QString());
        EXPECT_EQ(c.press(), PageResult::Refused) << fieldName(row.field).toStdString();
        EXPECT_EQ(c.prompter.messages(), QStringList{kMissing}) << fieldName(row.field).toStdString();
        EXPECT_EQ(c.doc.currentTab(), row.tabAfter) << fieldName(row.field).toStdString();
        EXPECT_TRUE(c.files().isEmpty()) << fieldName(row.field).toStdString();
    }

    // Several missing at once still give one message.
    SelfCase c;
    c.doc.setText(Field::Text1, QString());
    EXPECT_EQ(c.press(), PageResult::Refused);
    EXPECT_EQ(c.prompter.messages(), QStringList{kMissing});
    EXPECT_EQ(c.doc.currentTab(), TabCommon);
}

TEST(SelfPage, RequiredFieldsOfSpacesPassAndAreWrittenAsTyped)
{
    SelfCase c(QStringLiteral("self_minimal"));
    c.doc.setText(Field::Text31, QStringLiteral("  "));
    c.doc.setText(Field::Text37, QStringLiteral(" hi "));
    EXPECT_EQ(c.press(), PageResult::Written);
    const QByteArray page = test::readBytes(c.path(QStringLiteral("self.html")));
    EXPECT_TRUE(page.contains("\r\n<td nowrap align=\"left\">  </td></tr>\r\n"));
    EXPECT_TRUE(page.contains("\r\n<td nowrap align=\"left\"> hi </td>\r\n"));
}

TEST(SelfPage, FileNameOfSpacesOnlyIsAFileErrorNotASuccess)
{
    SelfCase c(QStringLiteral("self_minimal"));
    c.doc.setText(Field::Text44, QStringLiteral("   "));
    EXPECT_EQ(c.press(), PageResult::Failed);
    ASSERT_EQ(c.prompter.messages().size(), 1);
    EXPECT_NE(c.prompter.lastMessage(), kWritten);
    EXPECT_TRUE(c.files().isEmpty());

    SelfCase missingFolder(QStringLiteral("self_minimal"));
    missingFolder.doc.setText(Field::Label1, missingFolder.path(QStringLiteral("no/such/folder")));
    EXPECT_EQ(missingFolder.press(), PageResult::Failed);
    EXPECT_FALSE(missingFolder.prompter.messages().contains(kWritten));
}
