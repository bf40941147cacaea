// SPDX-License-Identifier: GPL-3.0-or-later
// Publishing over FTP with TLS (vsftpd) and SFTP (asyncssh) on 127.0.0.1.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "document/project_file.h"
#include "publish/publisher.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"
#include "net/curl_transfer.h"
#include "net/secure_servers.h"

namespace webloom {
namespace {

constexpr int kWaitMs = 30000;

class SecurePublishTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(work_.isValid() && root_.isValid());
        QDir::setCurrent(work_.path());
        options_.trustFile = work_.filePath(QStringLiteral("trusted.txt"));
    }

    // The sample project's pages, built into a folder of the fixture's.
    SiteFiles sampleSite()
    {
        SiteDocument doc;
        test::ScriptedPrompter prompter;
        EXPECT_TRUE(
            loadProjectFile(doc, prompter, test::dataPath(QStringLiteral("../../examples/sample-project.txt"))));
        doc.setText(Field::Label1, base_.path());
        return buildSite(doc);
    }

    QTemporaryDir work_, root_, base_;
    CurlOptions options_;
};

TEST_F(SecurePublishTest, PublishingWorksOverTlsAndSftpAlike)
{
    const SiteFiles site = sampleSite();
    ASSERT_EQ(site.files.size(), 4);

    const QString tlsRoot = root_.filePath(QStringLiteral("tls"));
    const QString sftpRoot = root_.filePath(QStringLiteral("sftp"));
    ASSERT_TRUE(QDir().mkpath(tlsRoot) && QDir().mkpath(sftpRoot));
    const test::Certificate certificate = test::Certificate::make(work_.path(), QStringLiteral("publish"));
    test::Vsftpd tls;
    ASSERT_TRUE(tls.start(tlsRoot, work_.path(), certificate, false)) << tls.output().toStdString();
    test::SftpServer sftp;
    ASSERT_TRUE(sftp.start(sftpRoot, QStringLiteral("taro"), QStringLiteral("pw"), work_.filePath(u"key"_qs)));
    options_.trustOnce = {certificate.fingerprint, sftp.fingerprint()};

    struct Target {
        Transfer::Connection connection;
        QString root;
    };
    const Target targets[] = {
        {{QStringLiteral("ftpes://127.0.0.1:%1").arg(tls.port()), QStringLiteral("ftp"), QStringLiteral("x")}, tlsRoot},
        {{QStringLiteral("sftp://127.0.0.1:%1").arg(sftp.port()), QStringLiteral("taro"), QStringLiteral("pw")},
         sftpRoot},
    };
    for (const Target &target : targets) {
        SCOPED_TRACE(target.connection.address.toStdString());
        const QString record = work_.filePath(QStringLiteral("record-%1.txt").arg(target.root.size()));
        for (int round = 0; round < 2; ++round) {
            Publisher publisher(
                {target.connection, QStringLiteral("www"), 2, record}, site,
                [this] { return std::make_unique<CurlTransfer>(options_); }, nullptr);
            QObject::connect(&publisher, &Publisher::planned, [&](const PublishPlan &plan) {
                EXPECT_EQ(plan.send.size(), round == 0 ? 4 : 0);
                publisher.publish();
            });
            QSignalSpy finished(&publisher, &Publisher::finished);
            publisher.plan();
            ASSERT_TRUE(finished.wait(kWaitMs));
            const PublishSummary summary = finished.first().first().value<PublishSummary>();
            EXPECT_TRUE(summary.ok()) << summary.error.toStdString() << summary.failed.join(u'\n').toStdString();
            EXPECT_EQ(summary.sent, round == 0 ? 4 : 0);
        }
        for (const LocalFile &file : site.files)
            EXPECT_EQ(test::readBytes(target.root + QStringLiteral("/www/") + file.name), test::readBytes(file.path))
                << file.name.toStdString();
    }
}

TEST_F(SecurePublishTest, LeftoversTheListingHidesAreFoundThroughTheRecord)
{
    const SiteFiles site = sampleSite();

    // vsftpd leaves names starting with a dot out of its listings.
    const QString www = root_.filePath(QStringLiteral("www"));
    ASSERT_TRUE(QDir().mkpath(www));
    const QString leftover = kUploadPrefix + u"deadbeef-index.html"_qs;
    const QString stranger = kUploadPrefix + u"notmine.conf"_qs;
    ASSERT_TRUE(test::writeBytes(www + u'/' + leftover, "half a page") && test::writeBytes(www + u'/' + stranger, "x"));
    // A publish that was killed had recorded its temporary name.
    const QString recordPath = work_.filePath(QStringLiteral("record.txt"));
    PublishRecord record(recordPath);
    {
        const PublishRun killed;
        record.addTemporary(leftover, killed.owner());
    }
    ASSERT_TRUE(record.save(false));

    const test::Certificate certificate = test::Certificate::make(work_.path(), QStringLiteral("hidden"));
    test::Vsftpd tls;
    ASSERT_TRUE(tls.start(root_.path(), work_.path(), certificate, false)) << tls.output().toStdString();
    options_.trustOnce = {certificate.fingerprint};
    const Transfer::Connection connection{QStringLiteral("ftpes://127.0.0.1:%1").arg(tls.port()), QStringLiteral("ftp"),
                                          QStringLiteral("x")};
    Publisher publisher(
        {connection, QStringLiteral("www"), 2, recordPath}, site,
        [this] { return std::make_unique<CurlTransfer>(options_); }, nullptr);
    PublishPlan plan;
    QObject::connect(&publisher, &Publisher::planned, [&](const PublishPlan &planned) {
        plan = planned;
        publisher.publish();
    });
    QSignalSpy finished(&publisher, &Publisher::finished);
    publisher.plan();
    ASSERT_TRUE(finished.wait(kWaitMs));
    EXPECT_TRUE(finished.first().first().value<PublishSummary>().ok());
    ASSERT_EQ(plan.leftovers.size(), 1);
    EXPECT_EQ(plan.leftovers.first().name, leftover);
    EXPECT_FALSE(QFile::exists(www + u'/' + leftover));
    EXPECT_TRUE(QFile::exists(www + u'/' + stranger));
    EXPECT_TRUE(QFile::exists(www + u"/index.html"_qs));
    record.load();
    EXPECT_TRUE(record.temporaries().isEmpty());
}

} // namespace
} // namespace webloom
