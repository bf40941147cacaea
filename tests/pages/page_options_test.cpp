// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "document/cp932.h"
#include "document/project_file.h"
#include "pages/page_kinds.h"
#include "pages/site_build.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"

using namespace webloom;
using webloom::test::ScriptedPrompter;

namespace {

// The pages every kind writes from the project of one case.
const QStringList kPages{QStringLiteral("index.html"), QStringLiteral("self.html"), QStringLiteral("link.html"),
                         QStringLiteral("sub1.html"), QStringLiteral("umi00001.html")};

class PageOptionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        photos = dir.filePath(QStringLiteral("photos"));
        ASSERT_TRUE(QDir().mkpath(photos));
        for (const char *name : {"umi001.jpg", "umi002.jpg"}) {
            QFile f(QDir(photos).filePath(QLatin1String(name)));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
    }

    // Loads a case's project and writes every kind of page into the folder.
    void writeAll(SiteDocument &doc, const QString &caseName)
    {
        ASSERT_TRUE(loadProjectFile(doc, prompter, test::dataPath(caseName + QStringLiteral("/project.txt"))));
        doc.setText(Field::Label1, dir.path());
        doc.setText(Field::Text3, photos);
        for (const PageKind &kind : pageKinds()) {
            doc.setCurrentTab(kind.tab);
            PageFrame frame(doc, prompter);
            ASSERT_EQ(kind.command(frame), PageResult::Written) << kind.name.toStdString();
        }
    }

    QByteArray page(const QString &name) const { return test::readBytes(dir.filePath(name)); }

    QTemporaryDir dir;
    QString photos;
    ScriptedPrompter prompter;
};

} // namespace

TEST_F(PageOptionsTest, GoldenPagesOfEveryKindForEachOption)
{
    for (const QString &caseName : {QStringLiteral("options_utf8"), QStringLiteral("options_phone")}) {
        SiteDocument doc;
        writeAll(doc, caseName);
        for (const QString &name : kPages)
            EXPECT_TRUE(test::matchesGolden(caseName + QLatin1Char('/') + name, dir.filePath(name)));

        // A character code page 932 lacks: as typed in UTF-8, as a reference
        // in Shift_JIS.
        doc.setText(Field::Text31, QStringLiteral("はなこ🐟"));
        doc.setCurrentTab(TabSelf);
        PageFrame frame(doc, prompter);
        ASSERT_EQ(pageKinds().at(1).command(frame), PageResult::Written);
        const bool utf8 = doc.pageOptions().encoding == PageEncoding::Utf8;
        EXPECT_EQ(page(QStringLiteral("self.html")).contains(QStringLiteral("はなこ🐟").toUtf8()), utf8);
        EXPECT_EQ(page(QStringLiteral("self.html"))
                      .contains(cp932::encode(u"はなこ&#128031;", cp932::Unmappable::NumericReference)),
                  !utf8);
    }
}

TEST_F(PageOptionsTest, PublishingCopyKeepsWhatUtf8PagesCanShow)
{
    SiteDocument doc;
    doc.setText(Field::Text13, QStringLiteral("はなこ🐟"));
    doc.setList(ListId::List3, {QStringLiteral("魚🐟：http://a/：")});
    EXPECT_EQ(documentCopy(doc)->text(Field::Text13), QStringLiteral("はなこ?")); // as a project file keeps it
    doc.setPageOptions({PageEncoding::Utf8, false});
    const std::unique_ptr<SiteDocument> copy = documentCopy(doc);
    EXPECT_EQ(copy->text(Field::Text13), QStringLiteral("はなこ🐟"));
    EXPECT_EQ(copy->list(ListId::List3), doc.list(ListId::List3));
    EXPECT_EQ(copy->pageOptions(), doc.pageOptions());
}
