// SPDX-License-Identifier: GPL-3.0-or-later
// The curl transfer over FTP with TLS (vsftpd) and SFTP (asyncssh) on
// 127.0.0.1: every operation once, and the server's identity checked before
// anything else is sent.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "support/golden.h"
#include "support/scoped_env.h"
#include "support/scripted_prompter.h"
#include "net/curl_transfer.h"
#include "net/transfer_request.h"
#include "net/ftp_server.h"
#include "net/secure_servers.h"
#include "connect/trust_questions.h"
#include "net/trust_prompt.h"
#include "net/trust_store.h"

namespace webloom {
namespace {

constexpr int kWaitMs = 30000;

using test::request;
using test::shown;

class SecureTransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(work_.isValid() && root_.isValid() && local_.isValid());
        QDir::setCurrent(work_.path());
        options_.trustFile = work_.filePath(QStringLiteral("trusted.txt"));
        ASSERT_TRUE(test::writeBytes(local_.filePath(QStringLiteral("page.html")), page_));
    }

    std::unique_ptr<CurlTransfer> transfer(const QString &address, const QString &user, const QString &password)
    {
        auto t = std::make_unique<CurlTransfer>(options_);
        t->setConnection({address, user, password});
        return t;
    }

    // Every operation of the window once, in the folder "made" below the
    // log-in folder.
    void roundTrip(Transfer &t, const QString &rootPath)
    {
        TransferOutcome outcome = request(t, TransferRequest::mkdir(QStringLiteral("made")));
        ASSERT_TRUE(outcome.ok) << outcome.reply.toStdString() << " / " << outcome.detail.toStdString();
        ASSERT_TRUE(request(t, TransferRequest::cd(QStringLiteral("made"))).ok);
        EXPECT_FALSE(request(t, TransferRequest::cd(QStringLiteral("missing"))).ok);
        outcome =
            request(t, TransferRequest::put(local_.filePath(QStringLiteral("page.html")), QStringLiteral("page.html")));
        ASSERT_TRUE(outcome.ok) << outcome.reply.toStdString() << " / " << outcome.detail.toStdString();
        EXPECT_EQ(test::readBytes(rootPath + QStringLiteral("/made/page.html")), page_);
        EXPECT_FALSE(
            request(t, TransferRequest::put(local_.filePath(QStringLiteral("page.html")), QStringLiteral("page.html")))
                .ok)
            << "an existing file is never replaced";
        outcome = request(t, TransferRequest::list());
        ASSERT_TRUE(outcome.ok);
        EXPECT_EQ(shown(outcome), QStringList{QStringLiteral("page.html")});
        EXPECT_EQ(outcome.entries.value(0).size, page_.size());
        outcome =
            request(t, TransferRequest::get(QStringLiteral("page.html"), local_.filePath(QStringLiteral("back.html"))));
        ASSERT_TRUE(outcome.ok) << outcome.reply.toStdString();
        EXPECT_EQ(test::readBytes(local_.filePath(QStringLiteral("back.html"))), page_);
        ASSERT_TRUE(test::writeBytes(rootPath + QStringLiteral("/made/next.html"), "next"));
        ASSERT_TRUE(request(t, TransferRequest::rename(QStringLiteral("next.html"), QStringLiteral("page.html"))).ok);
        EXPECT_EQ(test::readBytes(rootPath + QStringLiteral("/made/page.html")), QByteArray("next"));
        ASSERT_TRUE(request(t, TransferRequest::remove(QStringLiteral("page.html"))).ok);
        EXPECT_FALSE(QFile::exists(rootPath + QStringLiteral("/made/page.html")));
        ASSERT_TRUE(request(t, TransferRequest::cd(QStringLiteral(".."))).ok);
        ASSERT_TRUE(request(t, TransferRequest::rmdir(QStringLiteral("made"))).ok);
        EXPECT_FALSE(QFile::exists(rootPath + QStringLiteral("/made")));
    }

    QTemporaryDir work_, root_, local_;
    CurlOptions options_;
    const QByteArray page_ = QByteArray("<html>\r\n\x82\xa0\0end\r\n", 16);
};

bool loggedIn(const QStringList &commands)
{
    for (const QString &command : commands) {
        if (command.startsWith(QLatin1String("USER")) || command.startsWith(QLatin1String("PASS")))
            return true;
    }
    return false;
}

TEST_F(SecureTransferTest, ExplicitTlsTrustsOnlyWhatTheUserAccepted)
{
    // vsftpd serves the folder it is given; a folder inside the temporary one
    // keeps the log-in folder free of the test's own files.
    const QString served = root_.filePath(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(served));
    const test::Certificate first = test::Certificate::make(work_.path(), QStringLiteral("first"));
    ASSERT_FALSE(first.fingerprint.isEmpty());
    test::Vsftpd server;
    ASSERT_TRUE(server.start(served, work_.path(), first, false)) << server.output().toStdString();
    const QString address = QStringLiteral("ftpes://127.0.0.1:%1").arg(server.port());

    // A certificate no authority signed: shown, nothing sent after AUTH TLS.
    auto t = transfer(address, QStringLiteral("ftp"), QStringLiteral("secret"));
    TransferOutcome outcome = request(*t, TransferRequest::list());
    ASSERT_EQ(outcome.failure, TransferOutcome::Failure::Untrusted) << outcome.detail.toStdString();
    EXPECT_EQ(outcome.identity.fingerprint, first.fingerprint);
    EXPECT_TRUE(outcome.identity.rememberedFingerprint.isEmpty());
    EXPECT_TRUE(outcome.identity.subject.contains(QLatin1String("CN=first"))) << outcome.identity.subject.toStdString();
    EXPECT_FALSE(outcome.identity.reason.isEmpty());
    EXPECT_TRUE(outcome.identity.notAfter > QDateTime::currentDateTimeUtc());
    EXPECT_FALSE(loggedIn(server.commands())) << server.commands().join(u'\n').toStdString();

    // Trusted: every operation works, data connections included.
    ASSERT_TRUE(TrustStore(options_.trustFile)
                    .remember(QStringLiteral("127.0.0.1:%1").arg(server.port()), TrustStore::Kind::Certificate,
                              first.fingerprint));
    roundTrip(*t, served);
    EXPECT_TRUE(server.commands().contains(QStringLiteral("PROT P")));
    t.reset();

    // Without a scheme the same server is used encrypted.
    auto automatic =
        transfer(QStringLiteral("127.0.0.1:%1").arg(server.port()), QStringLiteral("ftp"), QStringLiteral("secret"));
    outcome = request(*automatic, TransferRequest::list());
    EXPECT_TRUE(outcome.ok) << outcome.detail.toStdString();
    EXPECT_TRUE(outcome.secure);
    automatic.reset();

    // The server comes back with another certificate: refused, both shown.
    server.stop();
    const test::Certificate second = test::Certificate::make(work_.path(), QStringLiteral("second"));
    test::Vsftpd changed;
    ASSERT_TRUE(changed.start(served, work_.path(), second, false, server.port())) << changed.output().toStdString();
    t = transfer(address, QStringLiteral("ftp"), QStringLiteral("secret"));
    outcome = request(*t, TransferRequest::list());
    ASSERT_EQ(outcome.failure, TransferOutcome::Failure::Untrusted);
    EXPECT_EQ(outcome.identity.fingerprint, second.fingerprint);
    EXPECT_EQ(outcome.identity.rememberedFingerprint, first.fingerprint);
    EXPECT_FALSE(loggedIn(changed.commands()));

    // Accepted for one run only ("webloom ftp --trust").
    options_.trustOnce = {second.fingerprint};
    t = transfer(address, QStringLiteral("ftp"), QStringLiteral("secret"));
    EXPECT_TRUE(request(*t, TransferRequest::list()).ok);
}

TEST_F(SecureTransferTest, ImplicitTlsWorksOnceTrusted)
{
    const QString served = root_.filePath(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(served));
    const test::Certificate certificate = test::Certificate::make(work_.path(), QStringLiteral("implicit"));
    test::Vsftpd server;
    ASSERT_TRUE(server.start(served, work_.path(), certificate, true)) << server.output().toStdString();
    options_.trustOnce = {certificate.fingerprint};
    auto t = transfer(QStringLiteral("ftps://127.0.0.1:%1").arg(server.port()), QStringLiteral("ftp"),
                      QStringLiteral("secret"));
    roundTrip(*t, served);
}

TEST_F(SecureTransferTest, APlainServerGetsNoPasswordWhenEncryptionIsAskedFor)
{
    test::FtpServer plain;
    ASSERT_TRUE(plain.start(root_.path(), QStringLiteral("u"), QStringLiteral("p")));
    for (const QString &address : {QStringLiteral("ftpes://") + plain.hostPort(), plain.hostPort()}) {
        auto t = transfer(address, QStringLiteral("u"), QStringLiteral("p"));
        const TransferOutcome outcome = request(*t, TransferRequest::list());
        EXPECT_EQ(outcome.failure, TransferOutcome::Failure::NoTls) << address.toStdString();
    }
    EXPECT_FALSE(loggedIn(plain.commands())) << plain.commands().join(u'\n').toStdString();
    // Implicit TLS against it fails as a handshake, not as a plain session.
    auto t = transfer(QStringLiteral("ftps://") + plain.hostPort(), QStringLiteral("u"), QStringLiteral("p"));
    EXPECT_EQ(request(*t, TransferRequest::list()).failure, TransferOutcome::Failure::Unsupported);
    EXPECT_FALSE(loggedIn(plain.commands()));
}

TEST_F(SecureTransferTest, SftpChecksTheHostKeyBeforeTheLogIn)
{
    const QString key = work_.filePath(QStringLiteral("host_key"));
    test::SftpServer server;
    ASSERT_TRUE(server.start(root_.path(), QStringLiteral("taro"), QStringLiteral("pass word"), key))
        << server.errors().toStdString();
    const QString address = QStringLiteral("sftp://127.0.0.1:%1").arg(server.port());
    auto t = transfer(address, QStringLiteral("taro"), QStringLiteral("pass word"));
    TransferOutcome outcome = request(*t, TransferRequest::list());
    ASSERT_EQ(outcome.failure, TransferOutcome::Failure::Untrusted) << outcome.detail.toStdString();
    EXPECT_EQ(outcome.identity.kind, PeerIdentity::Kind::HostKey);
    EXPECT_EQ(outcome.identity.fingerprint, server.fingerprint());
    EXPECT_EQ(outcome.identity.keyType, QStringLiteral("ssh-ed25519"));

    const QString hostPort = QStringLiteral("127.0.0.1:%1").arg(server.port());
    ASSERT_TRUE(TrustStore(options_.trustFile).remember(hostPort, TrustStore::Kind::HostKey, server.fingerprint()));
    roundTrip(*t, root_.path());

    auto wrong = transfer(address, QStringLiteral("taro"), QStringLiteral("wrong"));
    outcome = request(*wrong, TransferRequest::list());
    EXPECT_EQ(outcome.failure, TransferOutcome::Failure::Login) << outcome.detail.toStdString();
    EXPECT_TRUE(outcome.secure);
    t.reset();
    wrong.reset();

    // Another key on the same address: refused, both fingerprints shown.
    server.stop();
    test::SftpServer changed;
    ASSERT_TRUE(changed.start(root_.path(), QStringLiteral("taro"), QStringLiteral("pass word"),
                              work_.filePath(QStringLiteral("other_key")), server.port()));
    t = transfer(address, QStringLiteral("taro"), QStringLiteral("pass word"));
    outcome = request(*t, TransferRequest::list());
    ASSERT_EQ(outcome.failure, TransferOutcome::Failure::Untrusted);
    EXPECT_EQ(outcome.identity.fingerprint, changed.fingerprint());
    EXPECT_EQ(outcome.identity.rememberedFingerprint, server.fingerprint());
}

TEST_F(SecureTransferTest, SftpWithoutAPasswordUsesTheUsersKey)
{
    QTemporaryDir home;
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral(".ssh")));
    const test::ScopedEnv useHome("HOME", home.path());
    test::SftpServer server;
    ASSERT_TRUE(server.start(root_.path(), QStringLiteral("taro"), QStringLiteral("unused"),
                             work_.filePath(QStringLiteral("host_key")), 0,
                             home.filePath(QStringLiteral(".ssh/id_ed25519"))))
        << server.errors().toStdString();
    options_.trustOnce = {server.fingerprint()};
    auto t = transfer(QStringLiteral("sftp://127.0.0.1:%1").arg(server.port()), QStringLiteral("taro"), QString());
    const TransferOutcome outcome = request(*t, TransferRequest::list());
    EXPECT_TRUE(outcome.ok) << outcome.reply.toStdString() << " / " << outcome.detail.toStdString();
}

TEST_F(SecureTransferTest, SftpKeyLogInTakesNoKeyTheReadmeDoesNotName)
{
    QTemporaryDir home;
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral(".ssh")));
    const test::ScopedEnv useHome("HOME", home.path());
    const test::ScopedEnv noAgent("SSH_AUTH_SOCK", QByteArray());
    // A key the server accepts, as id_rsa in the current folder and as
    // ~/.ssh/id_dsa: libcurl's own guesses when no key is given.
    const QString key = work_.filePath(QStringLiteral("id_rsa"));
    test::SftpServer server;
    ASSERT_TRUE(server.start(root_.path(), QStringLiteral("taro"), QStringLiteral("unused"),
                             work_.filePath(QStringLiteral("host_key")), 0, key))
        << server.errors().toStdString();
    ASSERT_EQ(QDir::currentPath(), work_.path());
    options_.trustOnce = {server.fingerprint()};
    const QString address = QStringLiteral("sftp://127.0.0.1:%1").arg(server.port());
    for (const bool dsa : {false, true}) {
        SCOPED_TRACE(dsa ? "~/.ssh/id_dsa" : "./id_rsa");
        for (const QString &suffix : {QString(), QStringLiteral(".pub")})
            ASSERT_TRUE(!dsa || QFile::copy(key + suffix, home.filePath(QStringLiteral(".ssh/id_dsa") + suffix)));
        auto t = transfer(address, QStringLiteral("taro"), QString());
        const TransferOutcome outcome = request(*t, TransferRequest::list());
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.failure, TransferOutcome::Failure::Login) << outcome.detail.toStdString();
    }

    // The same key where the README says, with no ".pub" beside it.
    ASSERT_TRUE(QFile::copy(key, home.filePath(QStringLiteral(".ssh/id_ecdsa"))));
    auto t = transfer(address, QStringLiteral("taro"), QString());
    const TransferOutcome outcome = request(*t, TransferRequest::list());
    EXPECT_TRUE(outcome.ok) << outcome.reply.toStdString() << " / " << outcome.detail.toStdString();
}

TEST_F(SecureTransferTest, SftpAsksForTheEd25519KeyAndNamesEveryKeysType)
{
    // ECDSA and RSA keys besides ed25519; libssh2 alone would take ECDSA.
    const QString hostKey = work_.filePath(QStringLiteral("host_key"));
    test::SftpServer server;
    server.addHostKeys({QStringLiteral("ecdsa-sha2-nistp256"), QStringLiteral("ssh-rsa")});
    ASSERT_TRUE(server.start(root_.path(), QStringLiteral("taro"), QStringLiteral("pw"), hostKey))
        << server.errors().toStdString();
    const QString ecdsa = server.otherFingerprints().value(0);
    const QString hostPort = QStringLiteral("127.0.0.1:%1").arg(server.port());
    const QString address = QStringLiteral("sftp://") + hostPort;
    auto t = transfer(address, QStringLiteral("taro"), QStringLiteral("pw"));
    TransferOutcome outcome = request(*t, TransferRequest::list());
    ASSERT_EQ(outcome.failure, TransferOutcome::Failure::Untrusted) << outcome.detail.toStdString();
    EXPECT_EQ(outcome.identity.fingerprint, server.fingerprint());
    const QString shownKey = QStringLiteral("ED25519 ") + server.fingerprint();
    EXPECT_TRUE(secureFailureMessage(outcome).contains(shownKey)) << secureFailureMessage(outcome).toStdString();
    test::ScriptedPrompter prompter;
    prompter.answerNo();
    TrustStore store(options_.trustFile);
    EXPECT_FALSE(askTrust(prompter, &store, hostPort, outcome.identity));
    EXPECT_TRUE(prompter.questions().value(0).contains(QStringLiteral("指紋：") + shownKey))
        << prompter.questions().value(0).toStdString();

    // Trust given to the ECDSA key, as earlier versions showed it, still
    // counts; a key trusted before that has changed shows the ed25519 one.
    ASSERT_TRUE(store.remember(hostPort, TrustStore::Kind::HostKey, ecdsa));
    t = transfer(address, QStringLiteral("taro"), QStringLiteral("pw"));
    outcome = request(*t, TransferRequest::list());
    EXPECT_TRUE(outcome.ok) << outcome.reply.toStdString() << " / " << outcome.detail.toStdString();
    ASSERT_TRUE(store.remember(hostPort, TrustStore::Kind::HostKey, QStringLiteral("SHA256:") + QString(43, u'A')));
    t = transfer(address, QStringLiteral("taro"), QStringLiteral("pw"));
    outcome = request(*t, TransferRequest::list());
    ASSERT_EQ(outcome.failure, TransferOutcome::Failure::Untrusted);
    EXPECT_EQ(outcome.identity.fingerprint, server.fingerprint());
    EXPECT_EQ(outcome.identity.rememberedFingerprint, QStringLiteral("SHA256:") + QString(43, u'A'));
    t.reset();
    server.stop();

    // A server without an ed25519 key is still reached, its key named.
    const QString ecdsaOnly = work_.filePath(QStringLiteral("ecdsa_key"));
    ASSERT_TRUE(QFile::copy(hostKey + QStringLiteral(".ecdsa-sha2-nistp256"), ecdsaOnly));
    test::SftpServer older;
    ASSERT_TRUE(older.start(root_.path(), QStringLiteral("taro"), QStringLiteral("pw"), ecdsaOnly, server.port()));
    ASSERT_TRUE(store.remember(hostPort, TrustStore::Kind::HostKey, QStringLiteral("SHA256:") + QString(43, u'A')));
    t = transfer(address, QStringLiteral("taro"), QStringLiteral("pw"));
    outcome = request(*t, TransferRequest::list());
    ASSERT_EQ(outcome.failure, TransferOutcome::Failure::Untrusted) << outcome.detail.toStdString();
    EXPECT_EQ(outcome.identity.shownFingerprint(), QStringLiteral("ECDSA ") + ecdsa);
    EXPECT_EQ(outcome.identity.keyType, QStringLiteral("ecdsa-sha2-nistp256"));
    options_.trustOnce = {ecdsa};
    t = transfer(address, QStringLiteral("taro"), QStringLiteral("pw"));
    EXPECT_TRUE(request(*t, TransferRequest::list()).ok);
}

// The store keeps what it read and reads again only after the file changed,
// by this process or another.
TEST(TrustStoreTest, SeesEveryChangeOfTheFileAndKeepsTheRunsOwnAcceptances)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("trusted-servers.txt"));
    const QString host = QStringLiteral("127.0.0.1:2121");
    const TrustStore asked(path, {QStringLiteral("SHA256:once")});
    EXPECT_EQ(asked.acceptedOnce(), QStringList{QStringLiteral("SHA256:once")});
    EXPECT_TRUE(asked.fingerprint(host, TrustStore::Kind::Certificate).isEmpty());

    TrustStore other(path);
    ASSERT_TRUE(other.remember(host, TrustStore::Kind::Certificate, QStringLiteral("SHA256:first")));
    EXPECT_EQ(asked.fingerprint(host, TrustStore::Kind::Certificate), QStringLiteral("SHA256:first"));
    EXPECT_TRUE(asked.fingerprint(host, TrustStore::Kind::HostKey).isEmpty());
    // Same length, so only the file's identity tells the change.
    ASSERT_TRUE(other.remember(host, TrustStore::Kind::Certificate, QStringLiteral("SHA256:other")));
    EXPECT_EQ(asked.fingerprint(host, TrustStore::Kind::Certificate), QStringLiteral("SHA256:other"));
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_TRUE(asked.fingerprint(host, TrustStore::Kind::Certificate).isEmpty());
}

} // namespace
} // namespace webloom
