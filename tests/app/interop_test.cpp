// SPDX-License-Identifier: GPL-3.0-or-later
// The common Linux servers, each for a whole session through the transfer
// layer and for a publish from the command line: pure-ftpd with TLS required,
// proftpd with TLS 1.2 and with TLS 1.3 only (both demanding that data
// connections resume the control connection's TLS session), and OpenSSH's
// sshd with a key log-in.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <dlfcn.h>

#include <atomic>
#include <thread>

#include "document/project_file.h"
#include "support/golden.h"
#include "support/scoped_env.h"
#include "support/scripted_prompter.h"
#include "net/curl_transfer.h"
#include "net/more_servers.h"
#include "sites/registry.h"
#include "net/transfer_request.h"

// Counts the threads, other than the tests' own, that free their OpenSSL
// state, and passes the call on to OpenSSL.
namespace {
std::atomic_int otherThreadStops{0};
const std::thread::id testThread = std::this_thread::get_id();
} // namespace

extern "C" void OPENSSL_thread_stop(void)
{
    if (std::this_thread::get_id() != testThread)
        otherThreadStops.fetch_add(1);
    using Stop = void (*)();
    static const auto next = reinterpret_cast<Stop>(::dlsym(RTLD_NEXT, "OPENSSL_thread_stop"));
    if (next)
        next();
}

namespace webloom {
namespace {

const QString kUser = QStringLiteral("tester");
const QString kPassword = QStringLiteral("se cret");

struct ProgramRun {
    int exitCode = -1;
    bool crashed = false;
    QStringList lines;
    QString errors;
};

class InteropTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(work_.isValid());
        // The servers' users must reach the served folders.
        ASSERT_TRUE(QFile::setPermissions(work_.path(), QFile::permissions(work_.path()) | QFile::ExeOther |
                                                            QFile::ReadOther | QFile::ExeGroup | QFile::ReadGroup));
        served_ = work_.filePath(QStringLiteral("served"));
        home_ = work_.filePath(QStringLiteral("home"));
        ASSERT_TRUE(QDir().mkpath(served_) && QDir().mkpath(home_));
        certificate_ = test::Certificate::make(work_.path(), QStringLiteral("interop"));
        ASSERT_FALSE(certificate_.fingerprint.isEmpty());
    }

    // Runs the program with HOME (and so ~/.ssh) and the settings in the
    // test's own folders.
    ProgramRun run(const QStringList &arguments, const QString &password = kPassword)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        environment.insert(QStringLiteral("HOME"), home_);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), work_.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), work_.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("WEBLOOM_FTP_PASSWORD"), password);
        environment.remove(QStringLiteral("WEBLOOM_FTP_TRACE"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(WEBLOOM_BINARY), arguments);
        ProgramRun result;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "webloom did not finish: " << arguments.join(u' ').toStdString();
            return result;
        }
        result.crashed = process.exitStatus() != QProcess::NormalExit;
        result.exitCode = result.crashed ? -1 : process.exitCode();
        QString out = QString::fromUtf8(process.readAllStandardOutput());
        out.chop(out.endsWith(QLatin1Char('\n')) ? 1 : 0);
        result.lines = out.split(QLatin1Char('\n'));
        result.errors = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    // A whole session through the transfer layer, each file checked byte for
    // byte where it landed and where it came back to.
    void roundTrip(const QString &address, const QString &user, const QString &password, const QString &trust)
    {
        const test::ScopedEnv home("HOME", home_);
        CurlOptions options;
        options.trustFile = work_.filePath(QStringLiteral("trusted.txt"));
        options.trustOnce = {trust};
        CurlTransfer transfer(options);
        transfer.setConnection({address, user, password});
        QByteArray big(200 * 1024 + 7, '\0');
        for (char &c : big)
            c = char(QRandomGenerator::global()->bounded(256));
        const QString local = work_.filePath(QStringLiteral("random.bin"));
        const QString small = work_.filePath(QStringLiteral("small.txt"));
        ASSERT_TRUE(test::writeBytes(local, big) && test::writeBytes(small, "small\r\n"));

        auto ok = [&](const TransferRequest &request) {
            const TransferOutcome outcome = test::request(transfer, request);
            EXPECT_TRUE(outcome.ok) << int(request.operation) << " " << request.remote.toStdString() << ": "
                                    << outcome.reply.toStdString() << " / " << outcome.detail.toStdString();
            return outcome;
        };
        ok(TransferRequest::list());
        ok(TransferRequest::mkdir(QStringLiteral("rt")));
        ok(TransferRequest::cd(QStringLiteral("rt")));
        EXPECT_EQ(ok(TransferRequest::put(local, QStringLiteral("random.bin"))).bytes, big.size());
        ok(TransferRequest::put(small, QStringLiteral("small.txt")));
        EXPECT_EQ(test::shown(ok(TransferRequest::list())),
                  (QStringList{QStringLiteral("random.bin"), QStringLiteral("small.txt")}));
        const QString back = work_.filePath(QStringLiteral("back.bin"));
        EXPECT_EQ(ok(TransferRequest::get(QStringLiteral("random.bin"), back)).bytes, big.size());
        EXPECT_TRUE(test::sameBytes(big, test::readBytes(back)));
        EXPECT_TRUE(test::sameBytes(big, test::readBytes(served_ + QStringLiteral("/rt/random.bin"))));
        ok(TransferRequest::rename(QStringLiteral("random.bin"), QStringLiteral("renamed.bin")));
        // Renaming over an existing file replaces it.
        ok(TransferRequest::rename(QStringLiteral("small.txt"), QStringLiteral("renamed.bin")));
        EXPECT_EQ(test::readBytes(served_ + QStringLiteral("/rt/renamed.bin")), QByteArray("small\r\n"));
        EXPECT_EQ(test::shown(ok(TransferRequest::list())), QStringList{QStringLiteral("renamed.bin")});
        ok(TransferRequest::remove(QStringLiteral("renamed.bin")));
        ok(TransferRequest::cd(QStringLiteral("..")));
        ok(TransferRequest::rmdir(QStringLiteral("rt")));
        EXPECT_FALSE(test::shown(ok(TransferRequest::list())).contains(QStringLiteral("rt/")));
        EXPECT_FALSE(QFileInfo::exists(served_ + QStringLiteral("/rt")));
        ok(TransferRequest::close());
    }

    // "webloom publish" of the sample site into served/site; every page
    // arrives byte for byte.
    void publish(const QString &address, const QString &user, const QString &password, const QString &trust)
    {
        const QString base = work_.filePath(QStringLiteral("base"));
        ASSERT_TRUE(QDir().mkpath(base));
        SiteDocument doc;
        test::ScriptedPrompter prompter;
        ASSERT_TRUE(
            loadProjectFile(doc, prompter, test::dataPath(QStringLiteral("../../examples/sample-project.txt"))));
        doc.setText(Field::Label1, base);
        const QString project = work_.filePath(QStringLiteral("site.txt"));
        const QString registry = work_.filePath(QStringLiteral("hosts.txt"));
        ASSERT_TRUE(test::writeBytes(project, projectBytes(doc)));
        ASSERT_TRUE(test::writeBytes(registry, registryBytes({{QStringLiteral("サーバー"), address, user, password}})));
        const ProgramRun r =
            run({QStringLiteral("publish"), project, QStringLiteral("--connection"), QStringLiteral("サーバー"),
                 QStringLiteral("--registry"), registry, QStringLiteral("--remote"), QStringLiteral("site"),
                 QStringLiteral("--trust"), trust, QStringLiteral("--no-check")},
                password);
        EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString() << r.lines.join(u'\n').toStdString();
        const QStringList sent = r.lines.filter(QRegularExpression(QStringLiteral("^uploaded\t")));
        EXPECT_EQ(sent.size(), 4) << r.lines.join(u'\n').toStdString() << r.errors.toStdString();
        for (const QString &line : sent) {
            const QString name = line.split(QLatin1Char('\t')).value(1);
            EXPECT_TRUE(test::sameBytes(test::readBytes(QDir(base).filePath(name)),
                                        test::readBytes(served_ + QStringLiteral("/site/") + name)))
                << name.toStdString();
        }
        EXPECT_EQ(r.lines.last().left(18), QStringLiteral("published 4 files "));
    }

    QTemporaryDir work_;
    QString served_, home_;
    test::Certificate certificate_;
};

#define START_OR_SKIP(server, ...)                                                                                     \
    do {                                                                                                               \
        if (!(server).start(__VA_ARGS__)) {                                                                            \
            if (!(server).unavailable().isEmpty())                                                                     \
                GTEST_SKIP() << (server).unavailable().toStdString();                                                  \
            FAIL() << "server did not start: " << (server).output().toStdString();                                     \
        }                                                                                                              \
    } while (false)

TEST_F(InteropTest, PureFtpdWithTlsRequired)
{
    test::PureFtpd server;
    START_OR_SKIP(server, served_, work_.path(), certificate_, kUser, kPassword);
    const QString address = QStringLiteral("ftpes://") + server.hostPort();
    roundTrip(address, kUser, kPassword, certificate_.fingerprint);
    publish(address, kUser, kPassword, certificate_.fingerprint);
}

// A run that ends right after a request refused before reaching the server:
// the process exits while the transfer's thread is still going away, which
// once ended in a double free. Repeated, as it hides in an order of events.
TEST_F(InteropTest, RefusedRequestThenExitAgainstPureFtpd)
{
    test::PureFtpd server;
    START_OR_SKIP(server, served_, work_.path(), certificate_, kUser, kPassword);
    ASSERT_TRUE(QDir(served_).mkdir(QStringLiteral("rt")));
    ASSERT_EQ(
        ::chown(QFile::encodeName(served_ + QStringLiteral("/rt")).constData(), test::kPureFtpdUid, test::kPureFtpdUid),
        0);
    const QStringList arguments = {QStringLiteral("ftp"),
                                   QStringLiteral("ftpes://") + server.hostPort(),
                                   kUser,
                                   QStringLiteral("--local"),
                                   work_.path(),
                                   QStringLiteral("--trust"),
                                   certificate_.fingerprint,
                                   QStringLiteral("CD rt"),
                                   QStringLiteral("PUT a b.txt random.bin")};
    for (int i = 0; i < 12; ++i) {
        const ProgramRun r = run(arguments);
        ASSERT_FALSE(r.crashed) << r.errors.toStdString();
        ASSERT_EQ(r.exitCode, 1) << r.errors.toStdString();
        ASSERT_EQ(r.lines.size(), 2) << r.lines.join(u'\n').toStdString();
        EXPECT_TRUE(r.lines.at(0).startsWith(QLatin1String("CD rt\tok\t250")));
        EXPECT_EQ(r.lines.at(1), QStringLiteral("PUT a b.txt random.bin\terror\tローカルファイルを読み取れません"));
        EXPECT_TRUE(r.errors.isEmpty()) << r.errors.toStdString();
    }
}

// What makes that exit safe: by the time the transfer is gone, its thread has
// freed its OpenSSL state itself, rather than in the thread-local destructors
// that run after its owner has stopped waiting for it.
TEST_F(InteropTest, TransferThreadFreesItsOpenSslStateBeforeItIsGone)
{
    test::PureFtpd server;
    START_OR_SKIP(server, served_, work_.path(), certificate_, kUser, kPassword);
    const int before = otherThreadStops.load();
    {
        CurlOptions options;
        options.trustFile = work_.filePath(QStringLiteral("trusted.txt"));
        options.trustOnce = {certificate_.fingerprint};
        CurlTransfer transfer(options);
        transfer.setConnection({QStringLiteral("ftpes://") + server.hostPort(), kUser, kPassword});
        EXPECT_TRUE(test::request(transfer, TransferRequest::list()).ok);
        EXPECT_FALSE(
            test::request(transfer, TransferRequest::put(work_.filePath(QStringLiteral("a")), QStringLiteral("b"))).ok);
    }
    EXPECT_EQ(otherThreadStops.load(), before + 1);
}

TEST_F(InteropTest, ProftpdWithTls12)
{
    test::Proftpd server;
    START_OR_SKIP(server, served_, work_.path(), certificate_, kUser, kPassword, test::Proftpd::Tls::UpTo12);
    const QString address = QStringLiteral("ftpes://") + server.hostPort();
    roundTrip(address, kUser, kPassword, certificate_.fingerprint);
    publish(address, kUser, kPassword, certificate_.fingerprint);
}

// Every data connection must resume the control connection's TLS 1.3 session
// with a ticket the server has not seen before, and an upload brings none.
TEST_F(InteropTest, ProftpdWithTls13OnlyAndSessionReuseRequired)
{
    test::Proftpd server;
    START_OR_SKIP(server, served_, work_.path(), certificate_, kUser, kPassword, test::Proftpd::Tls::Only13);
    const QString address = QStringLiteral("ftpes://") + server.hostPort();
    // Each session has only the first data connection after its first
    // upload refused, and tries that again on a fresh log-in.
    const QLatin1String refused("did not reuse");
    roundTrip(address, kUser, kPassword, certificate_.fingerprint);
    const qsizetype afterRoundTrip = server.tlsLog().count(refused);
    EXPECT_LE(afterRoundTrip, 1) << server.tlsLog().toStdString();
    publish(address, kUser, kPassword, certificate_.fingerprint);
    // The publish's two connections.
    EXPECT_LE(server.tlsLog().count(refused) - afterRoundTrip, 2) << server.tlsLog().toStdString();
    EXPECT_TRUE(server.tlsLog().contains(QLatin1String("TLSv1.3 data connection accepted")));
}

TEST_F(InteropTest, OpenSshWithKeyLogIn)
{
    test::Sshd server;
    START_OR_SKIP(server, served_, work_.path(), home_);
    const QString address = QStringLiteral("sftp://") + server.hostPort();
    roundTrip(address, test::Sshd::user(), QString(), server.fingerprint());
    publish(address, test::Sshd::user(), QString(), server.fingerprint());
}

} // namespace
} // namespace webloom
