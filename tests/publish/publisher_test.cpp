// SPDX-License-Identifier: GPL-3.0-or-later
// Publishing a site to a real FTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <map>
#include <sys/inotify.h>
#include <sys/stat.h>

#include "document/project_file.h"
#include "support/folder_watch.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"
#include "net/curl_transfer.h"
#include "net/ftp_server.h"
#include "publish/publisher.h"

namespace webloom {
namespace {

struct Outcome {
    PublishPlan plan;
    PublishSummary summary;
    QStringList sent;
};

class PublishTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(base_.isValid() && photos_.isValid() && root_.isValid() && work_.isValid());
        test::ScriptedPrompter prompter;
        ASSERT_TRUE(
            loadProjectFile(doc_, prompter, test::dataPath(QStringLiteral("../../examples/sample-project.txt"))));
        doc_.setText(Field::Label1, base_.path());
        doc_.setText(Field::Text3, photos_.path());
        doc_.setText(Field::Text6, QStringLiteral("http://")); // photos beside the pages
        for (int i = 1; i <= 3; ++i)
            ASSERT_TRUE(test::writeBytes(photos_.filePath(QStringLiteral("haru%1.jpg").arg(i)),
                                         QByteArray(2000 * i, char('a' + i))));
        ASSERT_TRUE(test::writeBytes(base_.filePath(QStringLiteral("bara.jpg")), "picture of a rose"));
        lstrtxt(doc_);
    }

    void startServer(const test::FtpServerOptions &options = {})
    {
        ASSERT_TRUE(server_.start(root_.path(), QStringLiteral("sakura"), QStringLiteral("hana"), options))
            << server_.log().toStdString();
    }

    // Builds the site and publishes it to public_html; cancelAfter stops it
    // after that many files.
    Outcome publish(int parallel = 2, int cancelAfter = -1)
    {
        Outcome run;
        auto copy = documentCopy(doc_);
        const Transfer::Connection connection{server_.address(), QStringLiteral("sakura"), QStringLiteral("hana")};
        Publisher publisher(
            {connection, QStringLiteral("public_html"), parallel, work_.filePath(u"record.txt"_qs)},
            buildSite(*copy, PublishRecord::knownDigests(work_.filePath(u"record.txt"_qs))),
            [] { return std::make_unique<CurlTransfer>(); }, nullptr);
        QObject::connect(&publisher, &Publisher::planned, [&](const PublishPlan &plan) {
            run.plan = plan;
            publisher.publish();
        });
        QObject::connect(&publisher, &Publisher::fileSent, [&](const QString &name, qint64) {
            run.sent.append(name);
            if (run.sent.size() == cancelAfter)
                publisher.cancel();
        });
        QSignalSpy finished(&publisher, &Publisher::finished);
        publisher.plan();
        EXPECT_TRUE(finished.wait(60000));
        if (!finished.isEmpty())
            run.summary = finished.first().first().value<PublishSummary>();
        return run;
    }

    // What the base and photo folders hold, by name, as the server should.
    std::map<QString, QByteArray> siteFiles() const
    {
        std::map<QString, QByteArray> files;
        for (const QDir &dir : {QDir(base_.path()), QDir(photos_.path())}) {
            for (const QString &name : dir.entryList(QDir::Files))
                files[name] = test::readBytes(dir.filePath(name));
        }
        return files;
    }
    QString remote(const QString &name) const { return root_.filePath(QStringLiteral("public_html/") + name); }
    QStringList temporaryFiles() const
    {
        return QDir(root_.filePath(u"public_html"_qs))
            .entryList({kUploadPrefix + u"*"_qs}, QDir::Files | QDir::Hidden, QDir::Name);
    }
    // A publish that runs while the test goes on; done tells when it ended.
    std::unique_ptr<Publisher> startPublish(Outcome &run, bool &done, int parallel = 2)
    {
        const Transfer::Connection connection{server_.address(), QStringLiteral("sakura"), QStringLiteral("hana")};
        auto copy = documentCopy(doc_);
        auto publisher = std::make_unique<Publisher>(
            Publisher::Settings{connection, QStringLiteral("public_html"), parallel, work_.filePath(u"record.txt"_qs)},
            buildSite(*copy), [] { return std::make_unique<CurlTransfer>(); }, nullptr);
        Publisher *raw = publisher.get();
        QObject::connect(raw, &Publisher::planned, [&run, raw](const PublishPlan &plan) {
            run.plan = plan;
            raw->publish();
        });
        QObject::connect(raw, &Publisher::fileSent, [&run](const QString &name, qint64) { run.sent.append(name); });
        QObject::connect(raw, &Publisher::finished, [&run, &done](const PublishSummary &summary) {
            run.summary = summary;
            done = true;
        });
        raw->plan();
        return publisher;
    }
    int renamesInto(const QString &name) { return int(server_.commands().count(QStringLiteral("RNTO ") + name)); }

    QTemporaryDir base_, photos_, root_, work_;
    SiteDocument doc_;
    test::FtpServer server_;
};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

bool makeOld(const QString &path, int days)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) &&
           file.setFileTime(QDateTime::currentDateTimeUtc().addDays(-days), QFileDevice::FileModificationTime);
}

QStringList leftoverNames(const PublishPlan &plan, PublishPlan::Leftover::Why why)
{
    QStringList names;
    for (const PublishPlan::Leftover &leftover : plan.leftovers) {
        if (leftover.why == why)
            names.append(leftover.name);
    }
    return names;
}

TEST_F(PublishTest, SendsEverythingOnceThenOnlyWhatChanged)
{
    startServer();
    Outcome first = publish();
    ASSERT_TRUE(first.summary.ok()) << first.summary.error.toStdString()
                                    << first.summary.failed.join(u'\n').toStdString();
    const std::map<QString, QByteArray> site = siteFiles();
    ASSERT_GE(site.size(), 9u); // five pages, three photos, the picture
    for (const auto &[name, bytes] : site)
        EXPECT_TRUE(test::sameBytes(bytes, test::readBytes(remote(name)))) << name.toStdString();
    EXPECT_EQ(first.summary.sent, int(site.size()));
    EXPECT_TRUE(QDir(root_.filePath(u"public_html"_qs))
                    .entryList({kUploadPrefix + u"*"_qs}, QDir::Files | QDir::Hidden)
                    .isEmpty());

    // Nothing changed: nothing sent, one listing of the folder.
    const qsizetype before = server_.commands().size();
    Outcome second = publish();
    EXPECT_TRUE(second.summary.ok());
    EXPECT_TRUE(second.plan.send.isEmpty());
    EXPECT_EQ(second.summary.unchanged, int(site.size()));
    const QStringList commands = server_.commands().mid(before);
    EXPECT_EQ(commands.filter(QRegularExpression(u"^(STOR|RNFR|DELE)"_qs)), QStringList());
    EXPECT_EQ(commands.filter(QRegularExpression(u"^(MLSD|LIST)"_qs)).size(), 1);

    // One field edited: exactly the pages whose bytes changed go again.
    doc_.setText(Field::Text33, QStringLiteral("ガーデニングと読書")); // a hobby on the self page
    const std::map<QString, QByteArray> old = siteFiles();
    Outcome third = publish();
    QStringList changed;
    for (const auto &[name, bytes] : siteFiles()) {
        if (old.at(name) != bytes)
            changed.append(name);
    }
    EXPECT_EQ(changed, QStringList{QStringLiteral("self.html")});
    EXPECT_EQ(sorted(third.sent), changed);
    EXPECT_TRUE(
        test::sameBytes(test::readBytes(base_.filePath(u"self.html"_qs)), test::readBytes(remote(u"self.html"_qs))));

    // A page lost on the server behind the program's back is sent again.
    ASSERT_TRUE(QFile::remove(remote(u"link.html"_qs)));
    ASSERT_TRUE(test::writeBytes(remote(u"sub1.html"_qs), "damaged"));
    Outcome fourth = publish();
    EXPECT_EQ(sorted(fourth.sent), (QStringList{QStringLiteral("link.html"), QStringLiteral("sub1.html")}));
    EXPECT_TRUE(QFile::exists(remote(u"link.html"_qs)));
}

// New bytes of the same size under the old modification time, as a program
// that keeps file times might leave them: in place, or by a rename over it.
bool rewriteKeepingSizeAndTime(const QString &path, char fill, bool byRename)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return false;
    const QByteArray bytes(qsizetype(st.st_size), fill);
    const QString written = byRename ? path + u".new"_qs : path;
    QFile file(written);
    if (!file.open(QIODevice::ReadWrite) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::utimensat(AT_FDCWD, QFile::encodeName(written).constData(), times, 0) != 0)
        return false;
    return !byRename || ::rename(QFile::encodeName(written).constData(), name.constData()) == 0;
}

TEST_F(PublishTest, AFileLeftAsLastPublishedIsNotReadAgainButNewBytesUnderItsSizeAndTimeAreSent)
{
    startServer();
    ASSERT_TRUE(publish().summary.ok());
    const QString inPlace = photos_.filePath(u"haru1.jpg"_qs);
    const QString renamed = photos_.filePath(u"haru2.jpg"_qs);
    ASSERT_TRUE(rewriteKeepingSizeAndTime(inPlace, 'x', false)); // a new change time
    ASSERT_TRUE(rewriteKeepingSizeAndTime(renamed, 'y', true));  // a new inode

    test::FolderWatch watch(photos_.path(), IN_OPEN);
    ASSERT_TRUE(watch.isValid());
    Outcome second = publish();
    EXPECT_TRUE(second.summary.ok()) << second.summary.failed.join(u'\n').toStdString();
    EXPECT_EQ(sorted(second.sent), (QStringList{u"haru1.jpg"_qs, u"haru2.jpg"_qs}));
    EXPECT_EQ(test::readBytes(remote(u"haru1.jpg"_qs)), QByteArray(2000, 'x'));
    EXPECT_EQ(test::readBytes(remote(u"haru2.jpg"_qs)), QByteArray(4000, 'y'));
    // Opened to be hashed and sent; haru3.jpg, as it was, not at all.
    QStringList opened = watch.events();
    opened.removeAll(QString()); // the folder, listed
    opened.removeDuplicates();
    EXPECT_EQ(sorted(opened), (QStringList{u"haru1.jpg"_qs, u"haru2.jpg"_qs}));

    // A record without stamps, as older versions write it: every file is
    // read once more, nothing is sent, and the stamps are back.
    const QString record = work_.filePath(u"record.txt"_qs);
    QByteArray withoutStamps;
    for (const QByteArray &line : test::readBytes(record).split('\n')) {
        if (!line.startsWith("stat ") && !line.isEmpty())
            withoutStamps += line + '\n';
    }
    ASSERT_TRUE(test::writeBytes(record, withoutStamps));
    Outcome third = publish();
    EXPECT_TRUE(third.summary.ok());
    EXPECT_TRUE(third.sent.isEmpty()) << third.sent.join(u' ').toStdString();
    EXPECT_TRUE(watch.events().contains(u"haru3.jpg"_qs));
    EXPECT_EQ(test::readBytes(record).count("\nstat "), qsizetype(siteFiles().size()));
}

TEST_F(PublishTest, OneConnectionAtATimeAndAStopThenTheRest)
{
    // The server takes one connection; four are asked for.
    startServer({.bytesPerSecond = 20000, .maxConnections = 1});
    Outcome stopped = publish(4, 2);
    EXPECT_TRUE(stopped.summary.cancelled);
    EXPECT_TRUE(stopped.summary.failed.isEmpty()) << stopped.summary.failed.join(u'\n').toStdString();
    EXPECT_GE(stopped.sent.size(), 2);
    EXPECT_LT(stopped.sent.size(), int(siteFiles().size()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return server_.log().contains(QLatin1String("Too many connections")); }, 5000))
        << "more connections were tried";

    Outcome rest = publish(4);
    ASSERT_TRUE(rest.summary.ok()) << rest.summary.error.toStdString() << rest.summary.failed.join(u'\n').toStdString();
    EXPECT_EQ(stopped.sent.size() + rest.sent.size(), int(siteFiles().size()));
    for (const auto &[name, bytes] : siteFiles()) {
        EXPECT_TRUE(test::sameBytes(bytes, test::readBytes(remote(name)))) << name.toStdString();
        EXPECT_EQ(renamesInto(name) + server_.commands().count(QStringLiteral("STOR ") + name), 1)
            << name.toStdString() << " sent twice";
    }
}

TEST_F(PublishTest, AServerThatWillNotRenameOverAPageNeverLosesIt)
{
    startServer({.refuseRenameOver = true});
    ASSERT_TRUE(publish().summary.ok());
    doc_.setText(Field::Text33, QStringLiteral("ガーデニングと読書"));
    const qsizetype before = server_.commands().size();
    Outcome changed = publish();
    ASSERT_TRUE(changed.summary.ok()) << changed.summary.failed.join(u'\n').toStdString();
    EXPECT_EQ(changed.sent, QStringList{QStringLiteral("self.html")});
    EXPECT_TRUE(
        test::sameBytes(test::readBytes(base_.filePath(u"self.html"_qs)), test::readBytes(remote(u"self.html"_qs))));
    // The live page was renamed aside, never deleted while it had the name.
    const QStringList commands = server_.commands().mid(before);
    EXPECT_FALSE(commands.contains(QStringLiteral("DELE self.html")));
    EXPECT_TRUE(commands.contains(QStringLiteral("RNFR self.html")));
    EXPECT_EQ(temporaryFiles(), QStringList());

    // Where the new page cannot take the name either, the old one keeps it.
    server_.stop();
    startServer({.refuseRenameOver = true, .refuseRenamingUploads = true});
    const QByteArray live = test::readBytes(remote(u"self.html"_qs));
    doc_.setText(Field::Text33, QStringLiteral("読書"));
    Outcome refused = publish();
    ASSERT_EQ(refused.summary.failed.size(), 1);
    EXPECT_TRUE(refused.summary.failed.first().startsWith(QLatin1String("self.html: 553")))
        << refused.summary.failed.first().toStdString();
    EXPECT_EQ(test::readBytes(remote(u"self.html"_qs)), live);
    EXPECT_EQ(temporaryFiles(), QStringList());
}

TEST_F(PublishTest, DeletesOnlyItsOwnTemporaryFilesAndTwoPublishesAtOnceBothArrive)
{
    startServer({.bytesPerSecond = 50000});
    ASSERT_TRUE(QDir(root_.path()).mkdir(u"public_html"_qs));
    // Big enough to be on its way for a while.
    ASSERT_TRUE(test::writeBytes(photos_.filePath(u"haru3.jpg"_qs), QByteArray(150000, 'c')));
    // An older copy on the server, so that the new one travels under a
    // temporary name.
    ASSERT_TRUE(test::writeBytes(remote(u"haru3.jpg"_qs), "an older photo"));
    // A stranger's file of the same prefix, even an old one; one of this
    // program's form on its way from another computer; one of that form
    // left for days.
    const QString stranger = kUploadPrefix + u"notmine.conf"_qs;
    const QString fresh = kUploadPrefix + u"0123abcd-index.html"_qs;
    const QString old = kUploadPrefix + u"89abcdef-self.html"_qs;
    for (const QString &name : {stranger, fresh, old})
        ASSERT_TRUE(test::writeBytes(remote(name), "someone's"));
    ASSERT_TRUE(makeOld(remote(stranger), 3) && makeOld(remote(old), 3));

    // Two at once: the second starts while the first has its files on the way.
    Outcome first, second;
    bool firstDone = false, secondDone = false;
    std::unique_ptr<Publisher> one = startPublish(first, firstDone);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !temporaryFiles().filter(QRegularExpression(u"-haru3\\.jpg$"_qs)).isEmpty(); }, 20000));
    std::unique_ptr<Publisher> two = startPublish(second, secondDone);
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstDone && secondDone; }, 60000));
    EXPECT_TRUE(first.summary.ok()) << first.summary.failed.join(u'\n').toStdString();
    EXPECT_TRUE(second.summary.ok()) << second.summary.failed.join(u'\n').toStdString();
    for (const auto &[name, bytes] : siteFiles())
        EXPECT_TRUE(test::sameBytes(bytes, test::readBytes(remote(name)))) << name.toStdString();
    EXPECT_EQ(leftoverNames(first.plan, PublishPlan::Leftover::Why::Old), QStringList{old});
    EXPECT_EQ(first.plan.leftovers.size(), 1);
    EXPECT_TRUE(second.plan.leftovers.isEmpty());
    EXPECT_EQ(temporaryFiles(), sorted({stranger, fresh}));
}

TEST_F(PublishTest, ALongestNameArrivesAndARelativeLocalPathIsNamed)
{
    startServer();
    const QString longName = QString(240, u'p') + u".jpg"_qs; // 244 bytes, as long as the server takes
    ASSERT_TRUE(test::writeBytes(base_.filePath(longName), "a picture with a long name"));
    doc_.setText(Field::Text22, longName);
    Outcome run = publish();
    EXPECT_TRUE(run.summary.ok()) << run.summary.failed.join(u'\n').toStdString();
    EXPECT_TRUE(run.sent.contains(longName));
    EXPECT_EQ(test::readBytes(remote(longName)), QByteArray("a picture with a long name"));
    EXPECT_EQ(temporaryFiles(), QStringList());

    const Transfer::Connection connection{server_.address(), QStringLiteral("sakura"), QStringLiteral("hana")};
    SiteFiles site;
    site.files.append({u"a.html"_qs, u"a.html"_qs, 1, QByteArray(64, 'a'), LocalFile::Kind::Page, {}});
    Publisher publisher(
        {connection, {}, 1, work_.filePath(u"other.txt"_qs)}, site, [] { return std::make_unique<CurlTransfer>(); },
        nullptr);
    QObject::connect(&publisher, &Publisher::planned, [&] { publisher.publish(); });
    QSignalSpy finished(&publisher, &Publisher::finished);
    publisher.plan();
    ASSERT_TRUE(finished.wait(30000));
    const PublishSummary summary = finished.first().first().value<PublishSummary>();
    EXPECT_EQ(summary.failed, QStringList{QStringLiteral("a.html: ローカルファイルの場所が相対パスです：a.html")});
}

} // namespace
} // namespace webloom
