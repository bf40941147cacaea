// SPDX-License-Identifier: GPL-3.0-or-later
// "webloom ftp" run as a process against a real FTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "app/ftp_command.h"
#include "app/process_secrets.h"
#include "support/golden.h"
#include "net/ftp_server.h"
#include "net/secure_servers.h"
#include "net/tls_ftp_server.h"

namespace webloom {
namespace {

const QString kUser = QStringLiteral("publisher");
const QString kPassword = QStringLiteral("pa ss");

struct Outcome {
    int exitCode = -1;
    QStringList lines; // standard output, split at LF
    QString errors;
};

class FtpCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid() && local_.isValid());
        QDir root(root_.path());
        ASSERT_TRUE(root.mkpath(QStringLiteral("sub")));
        ASSERT_TRUE(test::writeBytes(root.filePath(QStringLiteral("top.txt")), "top\n"));
        ASSERT_TRUE(test::writeBytes(root.filePath(QStringLiteral("sub/in.txt")), "inside\n"));
        ASSERT_TRUE(test::writeBytes(localPath(QStringLiteral("index.html")), "<html>\r\n"));
        ASSERT_TRUE(test::writeBytes(localPath(QStringLiteral("a b.html")), "spaced\r\n"));
        ASSERT_TRUE(server_.start(root_.path(), kUser, kPassword)) << server_.log().toStdString();
    }

    // Runs "webloom ftp HOST USER --local LOCAL commands..." with the password
    // in the environment, or on standard input when passwordOnInput is set.
    Outcome run(const QStringList &commands, const QString &password = kPassword, bool passwordOnInput = false,
                QStringList arguments = {})
    {
        if (arguments.isEmpty())
            arguments = {QStringLiteral("ftp"), server_.address(), kUser, QStringLiteral("--local"), local_.path()};
        arguments += commands;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        environment.remove(QStringLiteral("WEBLOOM_FTP_TRACE"));
        // Trust remembered by the user lives here, not in the real home.
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config_.path());
        if (passwordOnInput)
            environment.remove(QStringLiteral("WEBLOOM_FTP_PASSWORD"));
        else
            environment.insert(QStringLiteral("WEBLOOM_FTP_PASSWORD"), password);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(WEBLOOM_BINARY), arguments);
        EXPECT_TRUE(process.waitForStarted(10000));
        if (passwordOnInput)
            process.write(password.toUtf8() + '\n');
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(60000));
        Outcome result;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        QString out = QString::fromUtf8(process.readAllStandardOutput());
        if (out.endsWith(QLatin1Char('\n')))
            out.chop(1);
        result.lines = out.split(QLatin1Char('\n'));
        result.errors = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    QString localPath(const QString &name) const { return QDir(local_.path()).filePath(name); }
    QString rootPath(const QString &name) const { return QDir(root_.path()).filePath(name); }

    QTemporaryDir root_;
    QTemporaryDir local_;
    QTemporaryDir config_;
    test::FtpServer server_;
};

// "COMMAND<TAB>ok<TAB>NNN ..." with the server's reply code.
::testing::AssertionResult reported(const Outcome &run, qsizetype line, const QString &command, const char *outcome,
                                    const char *code)
{
    const QString expected =
        command + QLatin1Char('\t') + QLatin1String(outcome) + QLatin1Char('\t') + QLatin1String(code);
    if (line < run.lines.size() && run.lines.at(line).startsWith(expected))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "line " << line << " is not \"" << expected.toStdString() << "...\":\n"
                                         << run.lines.join(QLatin1Char('\n')).toStdString() << "\n"
                                         << run.errors.toStdString();
}

TEST_F(FtpCommandTest, PublishesInOrderAndPrintsListingsEntryByEntry)
{
    const Outcome r =
        run({QStringLiteral("DIR"), QStringLiteral("CD sub"), QStringLiteral("PUT index.html index.html"),
             QStringLiteral("PUT a b.html a b.html"), QStringLiteral("DIR"), QStringLiteral("GET in.txt in.txt")});
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
    ASSERT_EQ(r.lines.size(), 13) << r.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(reported(r, 0, QStringLiteral("DIR"), "ok", "226"));
    EXPECT_EQ(r.lines.mid(1, 3), (QStringList{QStringLiteral("sub/"), QStringLiteral("top.txt"), QString()}));
    EXPECT_TRUE(reported(r, 4, QStringLiteral("CD sub"), "ok", "250"));
    EXPECT_TRUE(reported(r, 5, QStringLiteral("PUT index.html index.html"), "ok", "226"));
    EXPECT_TRUE(reported(r, 6, QStringLiteral("PUT a b.html a b.html"), "ok", "226"));
    EXPECT_TRUE(reported(r, 7, QStringLiteral("DIR"), "ok", "226"));
    EXPECT_EQ(r.lines.mid(8, 4), (QStringList{QStringLiteral("a b.html"), QStringLiteral("in.txt"),
                                              QStringLiteral("index.html"), QString()}));
    EXPECT_TRUE(reported(r, 12, QStringLiteral("GET in.txt in.txt"), "ok", "226"));
    EXPECT_EQ(test::readBytes(rootPath(QStringLiteral("sub/index.html"))), QByteArray("<html>\r\n"));
    EXPECT_EQ(test::readBytes(rootPath(QStringLiteral("sub/a b.html"))), QByteArray("spaced\r\n"));
    EXPECT_EQ(test::readBytes(localPath(QStringLiteral("in.txt"))), QByteArray("inside\n"));
}

TEST(FtpCommandText, SplitsCommandsIntoRequests)
{
    using Op = TransferRequest::Operation;
    const QString folder = QStringLiteral("/site");
    struct Case {
        const char16_t *text;
        std::optional<Op> operation;
        const char16_t *remote;
        const char16_t *local;
    };
    const Case cases[] = {
        {u"DIR", Op::List, u"", u""},
        {u"dir", Op::List, u"", u""},
        {u"CLOSE", Op::Close, u"", u""},
        {u"CD ..", Op::Cd, u"..", u""},
        {u"CD  leading", Op::Cd, u" leading", u""},
        {u"MKDIR new dir", Op::Mkdir, u"new dir", u""},
        {u"RMDIR img", Op::Rmdir, u"img", u""},
        {u"DELETE img/", Op::Delete, u"img/", u""},
        // The same name twice: split in the middle.
        {u"PUT a b.html a b.html", Op::Put, u"a b.html", u"/site/a b.html"},
        {u"GET 写真 1.jpg 写真 1.jpg", Op::Get, u"写真 1.jpg", u"/site/写真 1.jpg"},
        // Otherwise at the first space; one name stands for both.
        {u"PUT a b", Op::Put, u"b", u"/site/a"},
        {u"GET x y z", Op::Get, u"x", u"/site/y z"},
        {u"PUT one.html", Op::Put, u"one.html", u"/site/one.html"},
        // Refused.
        {u"DIR x", std::nullopt, u"", u""},
        {u"CD", std::nullopt, u"", u""},
        {u"CD ", std::nullopt, u"", u""},
        {u"PUT ", std::nullopt, u"", u""},
        {u"PUT a ", std::nullopt, u"", u""},
        {u"LIST", std::nullopt, u"", u""},
        {u"", std::nullopt, u"", u""},
    };
    for (const Case &c : cases) {
        const QString text = QString::fromUtf16(c.text);
        const std::optional<TransferRequest> parsed = parseFtpCommand(text, folder);
        ASSERT_EQ(parsed.has_value(), c.operation.has_value()) << text.toStdString();
        if (!parsed)
            continue;
        EXPECT_EQ(parsed->operation, *c.operation) << text.toStdString();
        EXPECT_EQ(parsed->remote, QString::fromUtf16(c.remote)) << text.toStdString();
        EXPECT_EQ(parsed->local, QString::fromUtf16(c.local)) << text.toStdString();
    }
}

TEST_F(FtpCommandTest, FailedRequestsAreReportedAndTheRunGoesOn)
{
    const Outcome r = run({QStringLiteral("DELETE index.html"), QStringLiteral("PUT index.html index.html"),
                           QStringLiteral("PUT index.html index.html"), QStringLiteral("MKDIR made")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(reported(r, 0, QStringLiteral("DELETE index.html"), "error", "550"));
    EXPECT_TRUE(reported(r, 1, QStringLiteral("PUT index.html index.html"), "ok", "226"));
    EXPECT_TRUE(reported(r, 2, QStringLiteral("PUT index.html index.html"), "error", ""));
    EXPECT_TRUE(reported(r, 3, QStringLiteral("MKDIR made"), "ok", "257"));
    EXPECT_TRUE(QFileInfo(rootPath(QStringLiteral("made"))).isDir());
}

TEST_F(FtpCommandTest, StopsAfterAFailedCdSoNothingLandsInTheWrongFolder)
{
    const Outcome r = run(
        {QStringLiteral("CD missing"), QStringLiteral("DELETE top.txt"), QStringLiteral("PUT index.html index.html")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.lines.size(), 1);
    EXPECT_TRUE(reported(r, 0, QStringLiteral("CD missing"), "error", "550"));
    EXPECT_TRUE(QFileInfo::exists(rootPath(QStringLiteral("top.txt"))));
    EXPECT_FALSE(QFileInfo::exists(rootPath(QStringLiteral("index.html"))));
    EXPECT_FALSE(r.errors.isEmpty());
}

TEST_F(FtpCommandTest, EndsAtOnceWhenTheServerNeverSaysGoodbye)
{
    test::FtpServer silent;
    ASSERT_TRUE(silent.start(root_.path(), kUser, kPassword, {.silentQuit = true}));
    QElapsedTimer clock;
    clock.start();
    const Outcome r = run({QStringLiteral("DIR")}, kPassword, false,
                          {QStringLiteral("ftp"), silent.address(), kUser, QStringLiteral("--local"), local_.path()});
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return silent.commands().contains(QStringLiteral("QUIT")); }, 5000));
    // Log-in and listing take a fraction of a second; the goodbye at most
    // a second and a half more.
    EXPECT_LT(clock.elapsed(), 4000);
}

TEST_F(FtpCommandTest, EncryptionAndTrust)
{
    auto loggedIn = [](const QStringList &commands) {
        return commands.filter(QRegularExpression(QStringLiteral("^(USER|PASS)"))).size() > 0;
    };
    // A plain server without a scheme: nothing sent, and one line naming
    // both ways to go on unencrypted.
    const QStringList noScheme = {QStringLiteral("ftp"), server_.hostPort(), kUser, QStringLiteral("--local"),
                                  local_.path()};
    Outcome r = run({QStringLiteral("DIR")}, kPassword, false, noScheme);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.errors.count(QLatin1Char('\n')), 1) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains(QLatin1String("nothing was sent")) && r.errors.contains(QLatin1String("ftp://")) &&
                r.errors.contains(QLatin1String("--allow-plain")))
        << r.errors.toStdString();
    EXPECT_TRUE(r.lines.join(QString()).isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return server_.commands().contains(QStringLiteral("AUTH SSL")); }, 5000));
    EXPECT_FALSE(loggedIn(server_.commands())) << server_.commands().join(u'\n').toStdString();

    // With --allow-plain: a warning, then plain FTP.
    r = run({QStringLiteral("DIR")}, kPassword, false, noScheme + QStringList{QStringLiteral("--allow-plain")});
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains(QLatin1String("warning"))) << r.errors.toStdString();
    EXPECT_EQ(r.errors.count(QLatin1Char('\n')), 1);
    EXPECT_TRUE(reported(r, 0, QStringLiteral("DIR"), "ok", "226"));

    // Encryption required: nothing sent, exit 1.
    test::FtpServer plain;
    ASSERT_TRUE(plain.start(root_.path(), kUser, kPassword));
    r = run({QStringLiteral("DIR")}, kPassword, false,
            {QStringLiteral("ftp"), QStringLiteral("ftpes://") + plain.hostPort(), kUser});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.errors.contains(QLatin1String("no encryption"))) << r.errors.toStdString();
    EXPECT_FALSE(loggedIn(plain.commands())) << plain.commands().join(u'\n').toStdString();

    // A certificate nobody vouches for: refused with its fingerprint before
    // the log-in, accepted with --trust, and remembered trust counts.
    QTemporaryDir work;
    const QString served = QDir(work.path()).filePath(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(served));
    const test::Certificate certificate = test::Certificate::make(work.path(), QStringLiteral("cli"));
    test::Vsftpd tls;
    ASSERT_TRUE(tls.start(served, work.path(), certificate, false)) << tls.output().toStdString();
    const QStringList base = {QStringLiteral("ftp"), QStringLiteral("ftpes://127.0.0.1:%1").arg(tls.port()),
                              QStringLiteral("ftp"), QStringLiteral("--local"), local_.path()};
    r = run({QStringLiteral("DIR")}, kPassword, false, base);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.errors.contains(certificate.fingerprint)) << r.errors.toStdString();
    EXPECT_TRUE(r.lines.join(QString()).isEmpty());
    EXPECT_FALSE(loggedIn(tls.commands())) << tls.commands().join(u'\n').toStdString();

    r = run({QStringLiteral("PUT index.html index.html"), QStringLiteral("DIR")}, kPassword, false,
            base + QStringList{QStringLiteral("--trust"), certificate.fingerprint});
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString() << r.lines.join(u'\n').toStdString();
    EXPECT_EQ(test::readBytes(QDir(served).filePath(QStringLiteral("index.html"))), QByteArray("<html>\r\n"));

    ASSERT_TRUE(QDir(config_.path()).mkpath(QStringLiteral("webloom")));
    ASSERT_TRUE(test::writeBytes(
        config_.filePath(QStringLiteral("webloom/trusted-servers.txt")),
        QStringLiteral("127.0.0.1:%1 certificate %2\n").arg(tls.port()).arg(certificate.fingerprint).toUtf8()));
    r = run({QStringLiteral("DIR")}, kPassword, false, base);
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
    EXPECT_TRUE(r.lines.contains(QStringLiteral("index.html")));
}

TEST_F(FtpCommandTest, AServerThatWillNotEncryptTheDataGetsNoPlainLogIn)
{
    QTemporaryDir work;
    const test::Certificate certificate = test::Certificate::make(work.path(), QStringLiteral("half"));
    for (const test::TlsRefusal refusal : {test::TlsRefusal::Prot, test::TlsRefusal::Data}) {
        test::FtpServer server;
        ASSERT_TRUE(server.start(root_.path(), kUser, kPassword, test::refusingTls(certificate, refusal)))
            << server.log().toStdString();
        // Neither without a scheme (even with --allow-plain) nor with ftpes://
        // does a refusal after the encrypted log-in lead to a plain one, and
        // the password did go, encrypted: "nothing was sent" would be false.
        for (const QString &address : {server.hostPort(), QStringLiteral("ftpes://") + server.hostPort()}) {
            SCOPED_TRACE(address.toStdString() + (refusal == test::TlsRefusal::Prot ? " PROT" : " data"));
            const Outcome r =
                run({QStringLiteral("DIR"), QStringLiteral("PUT index.html index.html")}, kPassword, false,
                    {QStringLiteral("ftp"), address, kUser, QStringLiteral("--local"), local_.path(),
                     QStringLiteral("--trust"), certificate.fingerprint, QStringLiteral("--allow-plain")});
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.errors.count(QLatin1Char('\n')), 1) << r.errors.toStdString();
            EXPECT_TRUE(r.errors.contains(QLatin1String("refused encrypted data connections")))
                << r.errors.toStdString();
            if (refusal == test::TlsRefusal::Prot) {
                EXPECT_TRUE(r.errors.contains(QLatin1String("534 Data protection refused")));
            }
            EXPECT_FALSE(r.errors.contains(QLatin1String("nothing was sent")));
            EXPECT_FALSE(r.errors.contains(QLatin1String("warning")));
            EXPECT_TRUE(r.lines.join(QString()).isEmpty()) << r.lines.join(u'\n').toStdString();
        }
        const QStringList commands = server.commands();
        EXPECT_EQ(commands.filter(QRegularExpression(QStringLiteral("^USER "))).size(), 2)
            << commands.join(u'\n').toStdString();
        EXPECT_EQ(commands.filter(QRegularExpression(QStringLiteral("^AUTH "))).size(), 2);
        EXPECT_TRUE(commands.filter(QRegularExpression(QStringLiteral("^STOR "))).isEmpty());
    }
    EXPECT_FALSE(QFile::exists(rootPath(QStringLiteral("index.html"))));

    // TLS lost between two connections of one run (the second goes to the
    // plain server): what went before did go, so only "nothing more".
    const QString served = QDir(work.path()).filePath(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(served));
    test::Vsftpd tls;
    ASSERT_TRUE(tls.start(served, work.path(), certificate, false)) << tls.output().toStdString();
    test::SwitchingForwarder forwarder;
    ASSERT_TRUE(forwarder.start(tls.port(), server_.port()));
    const Outcome r = run({QStringLiteral("DIR"), QStringLiteral("CLOSE"), QStringLiteral("DIR")}, kPassword, false,
                          {QStringLiteral("ftp"), QStringLiteral("127.0.0.1:%1").arg(forwarder.port()),
                           QStringLiteral("ftp"), QStringLiteral("--trust"), certificate.fingerprint});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(reported(r, 0, QStringLiteral("DIR"), "ok", "226"));
    EXPECT_TRUE(r.errors.contains(QLatin1String("nothing more was sent"))) << r.errors.toStdString();
}

TEST_F(FtpCommandTest, PasswordComesFromTheEnvironmentOrStandardInput)
{
    Outcome r = run({QStringLiteral("DIR")}, QStringLiteral("wrong"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(reported(r, 0, QStringLiteral("DIR"), "error", "530"));

    r = run({QStringLiteral("DIR")}, kPassword, true);
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
    EXPECT_TRUE(reported(r, 0, QStringLiteral("DIR"), "ok", "226"));
}

TEST_F(FtpCommandTest, ThePasswordLeavesTheEnvironmentAndNoCoreIsDumped)
{
    // A server that lets the connection in and never greets keeps the
    // command waiting, after it has taken the password.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);

    const QByteArray secret = "secret-from-the-environment";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // ASan would set no core size of its own.
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:disable_coredump=0"));
    environment.insert(QStringLiteral("WEBLOOM_FTP_PASSWORD"), QString::fromLatin1(secret));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([] {
        rlimit limit{};
        ::getrlimit(RLIMIT_CORE, &limit);
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_CORE, &limit);
    });
    process.start(QStringLiteral(WEBLOOM_BINARY),
                  {QStringLiteral("ftp"), QStringLiteral("ftp://127.0.0.1:%1").arg(ntohs(address.sin_port)), kUser,
                   QStringLiteral("DIR")});
    ASSERT_TRUE(process.waitForStarted(10000));
    pollfd waiting{listener, POLLIN, 0};
    ASSERT_EQ(::poll(&waiting, 1, 30000), 1) << "webloom ftp never connected";
    const int connection = ::accept(listener, nullptr, nullptr);
    const QString proc = QStringLiteral("/proc/%1/").arg(process.processId());

    QFile limits(proc + QStringLiteral("limits"));
    ASSERT_TRUE(limits.open(QIODevice::ReadOnly));
    const QRegularExpressionMatch core =
        QRegularExpression(QStringLiteral("Max core file size\\s+(\\S+)")).match(QString::fromLatin1(limits.readAll()));
    EXPECT_EQ(core.captured(1), QStringLiteral("0"));
    // Not dumpable: /proc/PID then belongs to root, which alone may read it.
    QFile environFile(proc + QStringLiteral("environ"));
    if (::geteuid() == 0) {
        ASSERT_TRUE(environFile.open(QIODevice::ReadOnly));
        const QByteArray block = environFile.readAll();
        EXPECT_TRUE(block.contains("WEBLOOM_FTP_PASSWORD="));
        EXPECT_FALSE(block.contains(secret));
    } else {
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(proc).constData(), &info), 0);
        EXPECT_EQ(info.st_uid, 0u);
        EXPECT_FALSE(environFile.open(QIODevice::ReadOnly));
    }
    process.kill();
    process.waitForFinished(10000);
    ::close(connection);
    ::close(listener);

    // What root cannot see from outside, the flag itself.
    const pid_t child = ::fork();
    if (child == 0) {
        guardProcessSecrets();
        ::_exit(::prctl(PR_GET_DUMPABLE) == 0 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(FtpCommandTest, ARefusedHostKeyIsNamedWithItsType)
{
    QTemporaryDir work;
    test::SftpServer sftp;
    sftp.addHostKeys({QStringLiteral("ecdsa-sha2-nistp256")});
    ASSERT_TRUE(sftp.start(root_.path(), kUser, kPassword, QDir(work.path()).filePath(QStringLiteral("key"))))
        << sftp.errors().toStdString();
    const Outcome r = run({QStringLiteral("DIR")}, kPassword, false,
                          {QStringLiteral("ftp"), QStringLiteral("sftp://127.0.0.1:%1").arg(sftp.port()), kUser});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.errors.contains(
        QStringLiteral("host key of 127.0.0.1:%1 not trusted: ED25519 %2").arg(sftp.port()).arg(sftp.fingerprint())))
        << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains(QStringLiteral("add --trust %1\n").arg(sftp.fingerprint())));
}

TEST_F(FtpCommandTest, ServerNamesReachTheTerminalEscaped)
{
    ASSERT_TRUE(test::writeBytes(rootPath(QStringLiteral("\x1b]0;owned\x07\x1b[2Jname.txt")), "x"));
    ASSERT_TRUE(QDir(root_.path()).mkdir(QStringLiteral("\u009b31mred")));
    const Outcome r = run({QStringLiteral("DIR")});
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
    EXPECT_EQ(r.lines.mid(1), (QStringList{QStringLiteral("sub/"), QStringLiteral("\\x9b31mred/"),
                                           QStringLiteral("\\x1b]0;owned\\x07\\x1b[2Jname.txt"),
                                           QStringLiteral("top.txt"), QString()}));
}

TEST_F(FtpCommandTest, UsageErrorsExitWithTwoBeforeConnecting)
{
    const QString host = server_.address();
    const QList<QStringList> wrong = {
        {QStringLiteral("ftp")},
        {QStringLiteral("ftp"), host},
        {QStringLiteral("ftp"), host, kUser},
        {QStringLiteral("ftp"), host, kUser, QStringLiteral("LIST")},
        {QStringLiteral("ftp"), host, kUser, QStringLiteral("PUT")},
        {QStringLiteral("ftp"), host, kUser, QStringLiteral("--local")},
        {QStringLiteral("ftp"), host, kUser, QStringLiteral("--local"), rootPath(QStringLiteral("nowhere")),
         QStringLiteral("DIR")},
        {QStringLiteral("ftp"), QStringLiteral("127.0.0.1:0"), kUser, QStringLiteral("DIR")},
        {QStringLiteral("ftp"), QStringLiteral("127.0.0.1:port"), kUser, QStringLiteral("DIR")},
    };
    for (const QStringList &arguments : wrong) {
        const Outcome r = run({}, kPassword, false, arguments);
        EXPECT_EQ(r.exitCode, 2) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(r.errors.contains(QLatin1String("usage: webloom ftp"))) << r.errors.toStdString();
    }
    EXPECT_FALSE(server_.log().contains(QLatin1String("session opened")));
}

} // namespace
} // namespace webloom
