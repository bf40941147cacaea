// SPDX-License-Identifier: GPL-3.0-or-later
// "webloom publish" run as a process against a real FTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "document/project_file.h"
#include "support/command_run.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"
#include "net/ftp_server.h"
#include "sites/registry.h"
#include "net/secure_servers.h"
#include "net/tls_ftp_server.h"

namespace webloom {
namespace {

using Result = test::CommandRun;

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

    void start(QProcess &process, const QStringList &arguments, const QString &folder = {})
    {
        test::startProgram(process, home_.path(), QStringList{QStringLiteral("publish")} + arguments, folder);
    }
    Result run(const QStringList &arguments, const QString &folder = {})
    {
        return test::runProgram(home_.path(), QStringList{QStringLiteral("publish")} + arguments, folder, 60000);
    }
    QStringList arguments(const QStringList &more = {}) const
    {
        return QStringList{
                   project_,  QStringLiteral("--connection"), QStringLiteral("さくら"), QStringLiteral("--registry"),
                   registry_, QStringLiteral("--remote"),     QStringLiteral("site"),   QStringLiteral("--no-check")} +
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

TEST_F(PublishCommandTest, NothingGoesUnencryptedUnlessAllowed)
{
    // The registered address without a scheme, at a server without TLS:
    // no user name, no password, no file; one line names the ways on.
    const QByteArray registry = registryBytes(
        {{QStringLiteral("さくら"), server_.hostPort(), QStringLiteral("sakura"), QStringLiteral("hana")}});
    ASSERT_TRUE(test::writeBytes(registry_, registry));
    Result r = run(arguments());
    EXPECT_EQ(r.exitCode, 1);
    const QStringList refusal = r.errors.split(QLatin1Char('\n')).filter(QLatin1String("encrypt"));
    ASSERT_EQ(refusal.size(), 1) << r.errors.toStdString();
    EXPECT_TRUE(refusal.first().contains(QLatin1String("nothing was sent")) &&
                refusal.first().contains(QLatin1String("ftp://")) &&
                refusal.first().contains(QLatin1String("--allow-plain")))
        << r.errors.toStdString();
    EXPECT_FALSE(r.errors.contains(QStringLiteral("暗号化"))) << r.errors.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server_.commands().contains(QStringLiteral("AUTH SSL")); }, 5000));
    EXPECT_TRUE(server_.commands().filter(QRegularExpression(QStringLiteral("^(USER|PASS|STOR|MKD)"))).isEmpty())
        << server_.commands().join(u'\n').toStdString();
    EXPECT_EQ(r.lines.last(), QStringLiteral("published 0 files (0 bytes), 0 unchanged"));

    // Told to, it warns once and publishes; the registry stays as it was.
    r = run(arguments({QStringLiteral("--allow-plain")}));
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
    EXPECT_EQ(r.errors.count(QLatin1String("warning")), 1) << r.errors.toStdString();
    EXPECT_TRUE(r.lines.last().startsWith(QLatin1String("published 4 files ("))) << r.lines.last().toStdString();
    EXPECT_EQ(test::readBytes(registry_), registry);
}

TEST_F(PublishCommandTest, AnotherCertificateOnALaterConnectionStopsThePublish)
{
    // Two servers on the same folder, one certificate each; the forwarder
    // hands the first connection to one and every later one to the other.
    QTemporaryDir work;
    const test::Certificate trusted = test::Certificate::make(work.path(), QStringLiteral("trusted"));
    const test::Certificate other = test::Certificate::make(work.path(), QStringLiteral("other"));
    test::Vsftpd first, later;
    ASSERT_TRUE(first.start(root_.path(), work.path(), trusted, false)) << first.output().toStdString();
    ASSERT_TRUE(later.start(root_.path(), work.path(), other, false)) << later.output().toStdString();
    test::SwitchingForwarder forwarder;
    ASSERT_TRUE(forwarder.start(first.port(), later.port()));
    const QString hostPort = QStringLiteral("127.0.0.1:%1").arg(forwarder.port());
    ASSERT_TRUE(
        test::writeBytes(registry_, registryBytes({{QStringLiteral("さくら"), QStringLiteral("ftpes://") + hostPort,
                                                    QStringLiteral("ftp"), QStringLiteral("x")}})));

    const Result r = run(
        arguments({QStringLiteral("--parallel"), QStringLiteral("4"), QStringLiteral("--trust"), trusted.fingerprint}));
    EXPECT_EQ(r.exitCode, 1);
    const QStringList lines = r.errors.split(QLatin1Char('\n')).filter(QLatin1String("another connection"));
    ASSERT_EQ(lines.size(), 1) << r.errors.toStdString();
    EXPECT_TRUE(lines.first().contains(hostPort) && lines.first().contains(other.fingerprint) &&
                lines.first().contains(trusted.fingerprint))
        << lines.first().toStdString();
    EXPECT_FALSE(r.lines.last().startsWith(QLatin1String("published 4 files"))) << r.lines.last().toStdString();
    EXPECT_FALSE(later.commands().contains(QStringLiteral("USER ftp"))) << later.commands().join(u'\n').toStdString();
}

TEST_F(PublishCommandTest, AKilledRunsFileIsDeletedAfterADryRunShowsItAndAStrangersNever)
{
    // The site is on the server already, so that the killed run replaces
    // its files through temporary names.
    ASSERT_EQ(run(arguments()).exitCode, 0);
    test::FtpServer slow;
    ASSERT_TRUE(slow.start(root_.path(), QStringLiteral("sakura"), QStringLiteral("hana"), {.bytesPerSecond = 500}));
    ASSERT_TRUE(test::writeBytes(registry_, registryBytes({{QStringLiteral("さくら"), slow.address(),
                                                            QStringLiteral("sakura"), QStringLiteral("hana")}})));
    const QDir site(root_.filePath(QStringLiteral("site")));
    ASSERT_TRUE(site.mkpath(QStringLiteral(".")));
    const QString stranger = QStringLiteral(".webloom-up-notmine.conf");
    ASSERT_TRUE(test::writeBytes(site.filePath(stranger), "not ours"));
    auto ours = [&] {
        QStringList names = site.entryList({QStringLiteral(".webloom-up-*")}, QDir::Files | QDir::Hidden);
        names.removeOne(stranger);
        return names;
    };

    QProcess killed;
    start(killed, arguments({QStringLiteral("--parallel"), QStringLiteral("1")}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ours().isEmpty(); }, 30000));
    killed.kill();
    ASSERT_TRUE(killed.waitForFinished(5000));
    const QStringList left = ours();
    ASSERT_EQ(left.size(), 1);

    Result dry = run(arguments({QStringLiteral("--dry-run")}));
    EXPECT_EQ(dry.exitCode, 0) << dry.errors.toStdString();
    EXPECT_EQ(dry.lines.filter(QRegularExpression(QStringLiteral("^would delete\t"))),
              QStringList{QStringLiteral("would delete\t") + left.first()});
    EXPECT_EQ(ours(), left);

    Result real = run(arguments());
    EXPECT_EQ(real.exitCode, 0) << real.errors.toStdString();
    EXPECT_EQ(real.lines.first(), QStringLiteral("deleted\t") + left.first());
    EXPECT_EQ(ours(), QStringList());
    EXPECT_EQ(test::readBytes(site.filePath(stranger)), QByteArray("not ours"));
    EXPECT_TRUE(real.lines.last().startsWith(QLatin1String("published 4 files ("))) << real.lines.last().toStdString();
}

TEST_F(PublishCommandTest, AKilledFirstPublishLeavesNoPageLinkingToAPartialFileAndTheTopPageGoesLast)
{
    // The top page shows a picture that takes a few seconds to send.
    SiteDocument doc;
    test::ScriptedPrompter prompter;
    ASSERT_TRUE(loadProjectFile(doc, prompter, project_));
    doc.setText(Field::Text22, QStringLiteral("bara.jpg"));
    ASSERT_TRUE(test::writeBytes(project_, projectBytes(doc)));
    // A real picture (what comes after its end is no part of it) that goes
    // as it is.
    const QByteArray picture = test::readBytes(test::dataPath(u"../../examples/bara.jpg"_qs));
    ASSERT_FALSE(picture.isEmpty());
    ASSERT_TRUE(test::writeBytes(base_.filePath(QStringLiteral("bara.jpg")), picture + QByteArray(300000, 'r')));
    test::FtpServer slow;
    ASSERT_TRUE(slow.start(root_.path(), QStringLiteral("sakura"), QStringLiteral("hana"), {.bytesPerSecond = 100000}));
    ASSERT_TRUE(test::writeBytes(registry_, registryBytes({{QStringLiteral("さくら"), slow.address(),
                                                            QStringLiteral("sakura"), QStringLiteral("hana")}})));
    const QDir site(root_.filePath(QStringLiteral("site")));
    const QStringList parallel = {QStringLiteral("--parallel"), QStringLiteral("2"),
                                  QStringLiteral("--original-photos")};

    // Killed while the picture is on its way: the top page, which links to
    // it, has not even started.
    QProcess killed;
    start(killed, arguments(parallel));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QFileInfo(site.filePath(QStringLiteral("bara.jpg"))).size() > 0; }, 30000));
    killed.kill();
    ASSERT_TRUE(killed.waitForFinished(5000));
    EXPECT_LT(QFileInfo(site.filePath(QStringLiteral("bara.jpg"))).size(), 300000);
    EXPECT_FALSE(site.exists(QStringLiteral("index.html")));
    EXPECT_FALSE(slow.commands().contains(QStringLiteral("STOR index.html")));
    const QDir records(home_.filePath(QStringLiteral("data/webloom/published")));
    const QStringList record = records.entryList({QStringLiteral("*.txt")}, QDir::Files);
    ASSERT_EQ(record.size(), 1);
    EXPECT_TRUE(QString::fromUtf8(test::readBytes(records.filePath(record.first())))
                    .contains(QRegularExpression(QStringLiteral("\nunconfirmed \\S+ bara\\.jpg\n"))));

    // The next publish sends every file whole, the top page once the others
    // have all arrived.
    slow.commands(); // the killed run's log is complete
    const qsizetype before = slow.log().size();
    Result again = run(arguments(parallel));
    EXPECT_EQ(again.exitCode, 0) << again.errors.toStdString();
    const QStringList pages = {u"bara.jpg"_qs, u"self.html"_qs, u"link.html"_qs, u"sub1.html"_qs, u"index.html"_qs};
    for (const QString &page : pages)
        EXPECT_TRUE(test::sameBytes(test::readBytes(base_.filePath(page)), test::readBytes(site.filePath(page))))
            << page.toStdString();
    slow.commands(); // waits for the log to be complete
    const QString log = slow.log().mid(before);
    const qsizetype top = log.indexOf(QLatin1String("<- STOR index.html"));
    ASSERT_GE(top, 0) << log.toStdString();
    // Nothing arrives after the top page has started: the partial picture
    // is replaced before it.
    const QString after = log.mid(top);
    EXPECT_EQ(after.count(QLatin1String("completed=1")), 1) << after.toStdString();
    EXPECT_TRUE(after.contains(QLatin1String("/site/index.html completed=1"))) << after.toStdString();
    EXPECT_FALSE(after.contains(QLatin1String("<- RNTO"))) << after.toStdString();
    EXPECT_TRUE(log.left(top).contains(QLatin1String("<- RNTO bara.jpg"))) << log.toStdString();
    // Once there whole, it counts as published.
    EXPECT_EQ(run(arguments(parallel)).lines.join(u'\n').toStdString(), "published 0 files (0 bytes), 5 unchanged");
}

TEST_F(PublishCommandTest, ARelativeBaseFolderSendsEveryPageAndAPageNotSentEndsWithOne)
{
    // The sample project as it comes: its base folder is ".", the folder
    // the program runs in.
    QTemporaryDir folder;
    const QString project = folder.filePath(QStringLiteral("sample-project.txt"));
    ASSERT_TRUE(test::writeBytes(project, test::readBytes(test::dataPath(u"../../examples/sample-project.txt"_qs))));
    const QStringList sample = {QStringLiteral("sample-project.txt"),
                                QStringLiteral("--connection"),
                                QStringLiteral("さくら"),
                                QStringLiteral("--registry"),
                                registry_,
                                QStringLiteral("--remote"),
                                QStringLiteral("relative"),
                                QStringLiteral("--no-check")};
    Result sent = run(sample, folder.path());
    EXPECT_EQ(sent.exitCode, 0) << sent.errors.toStdString();
    const QStringList uploaded = sent.lines.filter(QRegularExpression(QStringLiteral("^uploaded\t")));
    EXPECT_EQ(uploaded.size(), 4) << sent.errors.toStdString();
    for (const QString &page : {u"index.html"_qs, u"self.html"_qs, u"link.html"_qs, u"sub1.html"_qs})
        EXPECT_TRUE(test::sameBytes(test::readBytes(folder.filePath(page)),
                                    test::readBytes(root_.filePath(u"relative/"_qs + page))))
            << page.toStdString();

    // A server that takes the files but will not give them their names
    // (older copies of the pages are there, so the new ones need them).
    QTemporaryDir otherRoot;
    ASSERT_TRUE(QDir(otherRoot.path()).mkdir(QStringLiteral("relative")));
    for (const QString &page : {u"index.html"_qs, u"self.html"_qs, u"link.html"_qs, u"sub1.html"_qs})
        ASSERT_TRUE(test::writeBytes(otherRoot.filePath(u"relative/"_qs + page), "an older page"));
    test::FtpServer refusing;
    ASSERT_TRUE(refusing.start(otherRoot.path(), QStringLiteral("sakura"), QStringLiteral("hana"),
                               {.refuseRenamingUploads = true}));
    ASSERT_TRUE(test::writeBytes(registry_, registryBytes({{QStringLiteral("さくら"), refusing.address(),
                                                            QStringLiteral("sakura"), QStringLiteral("hana")}})));
    Result refused = run(sample, folder.path());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.errors.count(QLatin1String(" not sent: 553")), 4) << refused.errors.toStdString();
    EXPECT_EQ(refused.lines.last(), QStringLiteral("published 0 files (0 bytes), 0 unchanged"));
}

} // namespace
} // namespace webloom
