// SPDX-License-Identifier: GPL-3.0-or-later
// "webloom publish" fetching what it sent from a real web server on
// 127.0.0.1, and naming the links that point to nothing.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "document/project_file.h"
#include "net/ftp_server.h"
#include "net/http_server.h"
#include "sites/registry.h"
#include "support/command_run.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"

namespace webloom {
namespace {

using PublishRun = test::CommandRun;

class LiveCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home_.isValid() && base_.isValid() && root_.isValid());
        ASSERT_TRUE(ftp_.start(root_.path(), QStringLiteral("sakura"), QStringLiteral("hana")));
        ASSERT_TRUE(QDir(root_.path()).mkpath(QStringLiteral("public_html")));
        registry_ = home_.filePath(QStringLiteral("hosts.txt"));
        ASSERT_TRUE(test::writeBytes(registry_, registryBytes({{QStringLiteral("さくら"), ftp_.address(),
                                                                QStringLiteral("sakura"), QStringLiteral("hana")}})));
        test::ScriptedPrompter prompter;
        ASSERT_TRUE(loadProjectFile(doc_, prompter, test::dataPath(u"../../examples/sample-project.txt"_qs)));
        doc_.setText(Field::Label1, base_.path());
        save();
    }
    void save()
    {
        project_ = home_.filePath(QStringLiteral("site.txt"));
        ASSERT_TRUE(test::writeBytes(project_, projectBytes(doc_)));
    }
    PublishRun publish(const QStringList &more)
    {
        return test::runProgram(home_.path(),
                                QStringList{QStringLiteral("publish"), project_, QStringLiteral("--connection"),
                                            QStringLiteral("さくら"), QStringLiteral("--registry"), registry_,
                                            QStringLiteral("--remote"), QStringLiteral("public_html")} +
                                    more,
                                {}, 60000);
    }
    static QStringList checked(const PublishRun &run)
    {
        QStringList lines = run.lines.filter(QRegularExpression(QStringLiteral("^checked\t")));
        lines.sort();
        return lines;
    }

    QTemporaryDir home_, base_, root_;
    QString registry_, project_;
    SiteDocument doc_;
    test::FtpServer ftp_;
};

TEST_F(LiveCheckTest, PagesFetchedBackAreComparedWithWhatWasSent)
{
    // Served from the log-in folder, not public_html, with an old top page.
    test::HttpServer wrong;
    ASSERT_TRUE(wrong.start(root_.path()));
    ASSERT_TRUE(test::writeBytes(root_.filePath(QStringLiteral("index.html")), "<HTML>old</HTML>\r\n"));
    PublishRun r = publish({QStringLiteral("--web-address"), wrong.address() + QStringLiteral("index.html")});
    EXPECT_EQ(r.exitCode, 1) << r.errors.toStdString();
    EXPECT_EQ(checked(r), (QStringList{u"checked\tindex.html\tdiffers"_qs, u"checked\tlink.html\tmissing"_qs,
                                       u"checked\tself.html\tmissing"_qs, u"checked\tsub1.html\tmissing"_qs}));
    EXPECT_EQ(r.errors.count(QLatin1String("\"public_html\" is probably not the folder")), 4) << r.errors.toStdString();
    EXPECT_TRUE(r.lines.last().startsWith(QLatin1String("published 4 files ("))) << r.lines.last().toStdString();
    EXPECT_TRUE(wrong.log().contains(QLatin1String("GET /self.html HTTP/1.1 cache=no-cache pragma=no-cache")))
        << wrong.log().toStdString();

    // Served from the folder the files went to: nothing new to send, and
    // the top page is checked all the same.
    test::HttpServer right;
    ASSERT_TRUE(right.start(root_.filePath(QStringLiteral("public_html"))));
    r = publish({QStringLiteral("--web-address"), right.address()});
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
    EXPECT_EQ(r.lines, (QStringList{u"checked\tindex.html\tok"_qs, u"published 0 files (0 bytes), 4 unchanged"_qs}));

    // A host that calls every page UTF-8 garbles these Shift_JIS ones.
    test::HttpServer utf8;
    ASSERT_TRUE(utf8.start(root_.filePath(QStringLiteral("public_html")), QStringLiteral("UTF-8")));
    r = publish({QStringLiteral("--web-address"), utf8.address()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(checked(r), QStringList{u"checked\tindex.html\tcharset"_qs});
    EXPECT_TRUE(r.errors.contains(QLatin1String("served as UTF-8 but the page is Shift_JIS: UTF-8 pages fix it")))
        << r.errors.toStdString();

    // The project's own address, when it is only the default, checks
    // nothing and says so; a dry run never checks.
    doc_.setText(Field::Text1, QStringLiteral("http://"));
    save();
    r = publish({});
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
    EXPECT_TRUE(checked(r).isEmpty());
    EXPECT_EQ(r.errors.count(QLatin1String("nothing checked online")), 1) << r.errors.toStdString();
    r = publish({QStringLiteral("--dry-run"), QStringLiteral("--web-address"), right.address()});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(checked(r).isEmpty());
}

TEST_F(LiveCheckTest, LinksToNothingAreNamedAndDoNotStopThePublish)
{
    // The sample's picture is not in this base folder.
    PublishRun r = publish({QStringLiteral("--dry-run")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.errors.split(QLatin1Char('\n')).filter(QLatin1String("broken link")),
              QStringList{u"broken link\tindex.html\tbara.jpg"_qs})
        << r.errors.toStdString();
    r = publish({QStringLiteral("--no-check")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.errors.contains(u"broken link\tindex.html\tbara.jpg\n"_qs)) << r.errors.toStdString();
    EXPECT_TRUE(r.lines.last().startsWith(QLatin1String("published 4 files ("))) << r.lines.last().toStdString();

    // One already on the server is none.
    ASSERT_TRUE(test::writeBytes(root_.filePath(QStringLiteral("public_html/bara.jpg")), "a rose"));
    r = publish({QStringLiteral("--dry-run")});
    EXPECT_FALSE(r.errors.contains(QLatin1String("broken link"))) << r.errors.toStdString();
}

} // namespace
} // namespace webloom
