#pragma once

// A throw-away FTP server on 127.0.0.1 for the transfer tests: pyftpdlib run
// by the system's Python, on a port the system chooses. Header-only, so that
// the command-line tests can use it as well.

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <sys/prctl.h>

#include <csignal>

namespace webloom::test {

struct FtpServerOptions {
    bool withoutMlsd = false;  // answers MLSD with 500, as vsftpd does
    double idleTimeout = 0;    // seconds until an idle session gets 421
    int bytesPerSecond = 0;    // throttles every data connection
    bool rawFileNames = false; // sends names that are not UTF-8 unchanged
};

class FtpServer {
public:
    FtpServer() = default;
    FtpServer(const FtpServer &) = delete;
    FtpServer &operator=(const FtpServer &) = delete;
    ~FtpServer() { stop(); }

    // Starts the server sharing root with one user of full rights; false
    // (with log() telling why) when it does not come up within ten seconds.
    bool start(const QString &root, const QString &user, const QString &password, const FtpServerOptions &options = {})
    {
        const bool plain =
            !options.withoutMlsd && options.idleTimeout <= 0 && options.bytesPerSecond <= 0 && !options.rawFileNames;
        QStringList arguments;
        if (plain) {
            arguments = {QStringLiteral("-m"),
                         QStringLiteral("pyftpdlib"),
                         QStringLiteral("-i"),
                         QStringLiteral("127.0.0.1"),
                         QStringLiteral("-p"),
                         QStringLiteral("0"),
                         QStringLiteral("-w"),
                         QStringLiteral("-d"),
                         root,
                         QStringLiteral("-u"),
                         user,
                         QStringLiteral("-P"),
                         password};
        } else {
            arguments = {QStringLiteral("-c"),
                         QString::fromLatin1(kScript),
                         root,
                         user,
                         password,
                         options.withoutMlsd ? QStringLiteral("1") : QStringLiteral("0"),
                         QString::number(options.idleTimeout),
                         QString::number(options.bytesPerSecond),
                         options.rawFileNames ? QStringLiteral("1") : QStringLiteral("0")};
        }
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.setReadChannel(QProcess::StandardError);
        // A test program that crashes must not leave servers behind.
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process_.start(QStringLiteral(WEBLOOM_PYTHON), arguments);
        if (!process_.waitForStarted(5000)) {
            log_ = process_.errorString();
            return false;
        }
        // pyftpdlib announces ">>> starting FTP server on 127.0.0.1:PORT, ...".
        static const QRegularExpression kAnnounce(QStringLiteral("starting FTP server on 127\\.0\\.0\\.1:(\\d+)"));
        const QDeadlineTimer deadline(10000);
        for (;;) {
            log_ += QString::fromUtf8(process_.readAllStandardError());
            const QRegularExpressionMatch match = kAnnounce.match(log_);
            if (match.hasMatch()) {
                port_ = match.captured(1).toInt();
                return true;
            }
            if (process_.state() != QProcess::Running || deadline.hasExpired())
                return false;
            process_.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
        return false;
    }

    int port() const { return port_; }
    // The address field of a connection: "127.0.0.1:PORT".
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    QString log()
    {
        log_ += QString::fromUtf8(process_.readAllStandardError());
        return log_;
    }

    // Ends the server at once, as a crash or a pulled cable would.
    void kill()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    void stop()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000))
                kill();
        }
    }

private:
    static constexpr const char *kScript = R"(
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.log import config_logging
from pyftpdlib.servers import FTPServer

root, user, password = sys.argv[1], sys.argv[2], sys.argv[3]
without_mlsd, idle, rate, raw = sys.argv[4] == '1', float(sys.argv[5]), int(sys.argv[6]), sys.argv[7] == '1'
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm='elradfmwMT')

class Handler(FTPHandler):
    pass

Handler.authorizer = authorizer
if without_mlsd:
    Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k not in ('MLSD', 'MLST')}
if idle > 0:
    Handler.timeout = idle
if raw:
    Handler.unicode_errors = 'surrogateescape'
if rate > 0:
    class Throttled(ThrottledDTPHandler):
        read_limit = rate
        write_limit = rate
    Handler.dtp_handler = Throttled

config_logging()
server = FTPServer(('127.0.0.1', 0), Handler)
sys.stderr.write('>>> starting FTP server on 127.0.0.1:%d <<<\n' % server.address[1])
sys.stderr.flush()
server.serve_forever()
)";

    QProcess process_;
    QString log_;
    int port_ = 0;
};

} // namespace webloom::test
