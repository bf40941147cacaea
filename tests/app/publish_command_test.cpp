// "webloom publish" run as a process against a real FTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "document/project_file.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"
#include "upload/ftp_server.h"
#include "upload/registry.h"

namespace webloom {
namespace {

struct Result {
    int exitCode = -1;
    QStringList lines;
    QString errors;
};

class PublishCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home_.isValid() && base_.isValid() && root_.isValid());
        ASSERT_TRUE(server_.start(root_.path(), QStringLiteral("sakura"), QStringLiteral("hana")));
        registry_ = home_.filePath(QStringLiteral("hosts.txt"));
        ASSERT_TRUE(test::writeBytes(registry_, registryBytes({{QStringLiteral("さくら"), server_.address(),
                                                                QStringLiteral("sakura"), QStringLiteral("hana")}})));
        SiteDocument doc;
        test::ScriptedPrompter prompter;
        ASSERT_TRUE(
            loadProjectFile(doc, prompter, test::dataPath(QStringLiteral("../../examples/sample-project.txt"))));
        doc.setText(Field::Label1, base_.path());
        project_ = home_.filePath(QStringLiteral("site.txt"));
        ASSERT_TRUE(test::writeBytes(project_, projectBytes(doc)));
    }

    Result run(const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home_.filePath(QStringLiteral("data")));
        environment.remove(QStringLiteral("WEBLOOM_FTP_PASSWORD"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(WEBLOOM_BINARY), QStringList{QStringLiteral("publish")} + arguments);
        Result result;
        if (!process.waitForFinished(60000))
            return result;
        result.exitCode = process.exitCode();
        QString out = QString::fromUtf8(process.readAllStandardOutput());
        out.chop(out.endsWith(QLatin1Char('\n')) ? 1 : 0);
        result.lines = out.split(QLatin1Char('\n'));
        result.errors = QString::fromUtf8(process.readAllStandardError());
        return result;
    }
    QStringList arguments(const QStringList &more = {}) const
    {
        return QStringList{
                   project_,  QStringLiteral("--connection"), QStringLiteral("さくら"), QStringLiteral("--registry"),
                   registry_, QStringLiteral("--remote"),     QStringLiteral("site")} +
               more;
    }

    QTemporaryDir home_, base_, root_;
    QString registry_, project_;
    test::FtpServer server_;
};

TEST_F(PublishCommandTest, DryRunThenPublishThenNothingNew)
{
    // A dry run lists what would go, and sends, makes and records nothing.
    Result dry = run(arguments({QStringLiteral("--dry-run")}));
    EXPECT_EQ(dry.exitCode, 0) << dry.errors.toStdString();
    const QStringList would = dry.lines.filter(QRegularExpression(QStringLiteral("^would upload\t")));
    ASSERT_EQ(would.size(), 4) << dry.lines.join(u'\n').toStdString(); // top, self, link and sub page
    EXPECT_EQ(dry.lines.last(), QStringLiteral("published 0 files (0 bytes), 0 unchanged"));
    EXPECT_TRUE(dry.errors.contains(QLatin1String("photo page not built"))) << dry.errors.toStdString();
    EXPECT_FALSE(QDir(root_.filePath(QStringLiteral("site"))).exists());
    EXPECT_TRUE(server_.commands().filter(QRegularExpression(QStringLiteral("^(STOR|MKD)"))).isEmpty());
    EXPECT_FALSE(QDir(home_.filePath(QStringLiteral("data/webloom/published"))).exists());

    // The real thing sends exactly those, byte for byte.
    Result real = run(arguments());
    EXPECT_EQ(real.exitCode, 0) << real.errors.toStdString();
    QStringList sent = real.lines.filter(QRegularExpression(QStringLiteral("^uploaded\t")));
    sent.replaceInStrings(QStringLiteral("uploaded\t"), QStringLiteral("would upload\t"));
    sent.sort();
    QStringList expected = would;
    expected.sort();
    EXPECT_EQ(sent, expected);
    for (const QString &line : would) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        EXPECT_TRUE(test::sameBytes(test::readBytes(base_.filePath(fields.at(1))),
                                    test::readBytes(root_.filePath(QStringLiteral("site/") + fields.at(1)))));
        EXPECT_EQ(QFileInfo(base_.filePath(fields.at(1))).size(), fields.at(2).toLongLong());
    }
    EXPECT_TRUE(real.lines.last().startsWith(QLatin1String("published 4 files (")));

    Result again = run(arguments());
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.lines, QStringList{QStringLiteral("published 0 files (0 bytes), 4 unchanged")});

    // Mistakes before anything is built or sent.
    EXPECT_EQ(run({project_}).exitCode, 2);
    EXPECT_EQ(
        run({project_, QStringLiteral("--connection"), QStringLiteral("ない"), QStringLiteral("--registry"), registry_})
            .exitCode,
        2);
    EXPECT_EQ(run({home_.filePath(QStringLiteral("missing.txt")), QStringLiteral("--connection"),
                   QStringLiteral("さくら"), QStringLiteral("--registry"), registry_})
                  .exitCode,
              2);
}

} // namespace
} // namespace webloom
