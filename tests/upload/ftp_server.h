#pragma once

// A throw-away FTP server on 127.0.0.1 for the transfer tests: pyftpdlib run
// by the system's Python, on a port the system chooses. Header-only, so that
// the command-line and window tests can use it as well.

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <sys/prctl.h>

#include <csignal>

namespace webloom::test {

struct FtpServerOptions {
    bool withoutMlsd = false;           // answers MLSD with 500, as vsftpd does
    double idleTimeout = 0;             // seconds until an idle session gets 421
    int bytesPerSecond = 0;             // throttles every data connection
    bool rawFileNames = false;          // sends names that are not UTF-8 unchanged
    bool dosListing = false;            // LIST in the DOS/IIS form, no MLSD
    bool endlessListing = false;        // MLSD sends lines until the client gives up
    bool silentQuit = false;            // never answers QUIT
    int maxConnections = 0;             // refuses connections beyond this many (421)
    bool refuseRenameOver = false;      // RNTO onto an existing file gets 553
    bool refuseRenamingUploads = false; // RNTO of a file the session stored gets 553
};

class FtpServer {
public:
    FtpServer() = default;
    FtpServer(const FtpServer &) = delete;
    FtpServer &operator=(const FtpServer &) = delete;
    ~FtpServer()
    {
        resume();
        stop();
    }

    // Starts the server sharing root with one user of full rights; false
    // (with log() telling why) when it does not come up within ten seconds.
    // The log holds every command the server received ("<- STOR a.html").
    bool start(const QString &root, const QString &user, const QString &password, const FtpServerOptions &options = {})
    {
        QJsonObject settings{
            {QStringLiteral("root"), root},
            {QStringLiteral("user"), user},
            {QStringLiteral("password"), password},
            {QStringLiteral("without_mlsd"), options.withoutMlsd},
            {QStringLiteral("idle"), options.idleTimeout},
            {QStringLiteral("rate"), options.bytesPerSecond},
            {QStringLiteral("raw"), options.rawFileNames},
            {QStringLiteral("dos"), options.dosListing},
            {QStringLiteral("endless"), options.endlessListing},
            {QStringLiteral("silent_quit"), options.silentQuit},
            {QStringLiteral("max_connections"), options.maxConnections},
            {QStringLiteral("refuse_rename_over"), options.refuseRenameOver},
            {QStringLiteral("refuse_renaming_uploads"), options.refuseRenamingUploads},
        };
        const QStringList arguments = {QStringLiteral("-c"), QString::fromLatin1(kScript),
                                       QString::fromUtf8(QJsonDocument(settings).toJson(QJsonDocument::Compact))};
        log_.clear();
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.setReadChannel(QProcess::StandardError);
        // A test program that crashes must not leave servers behind.
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process_.start(QStringLiteral(WEBLOOM_PYTHON), arguments);
        if (!process_.waitForStarted(5000)) {
            log_ = process_.errorString();
            return false;
        }
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
    // The address field of a connection to this plain FTP server:
    // "ftp://127.0.0.1:PORT"; without the scheme the program would ask for
    // encryption first.
    QString address() const { return QStringLiteral("ftp://127.0.0.1:%1").arg(port_); }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    QString log()
    {
        log_ += QString::fromUtf8(process_.readAllStandardError());
        return log_;
    }
    // The commands received so far, in order ("STOR a.html", "PASS ******").
    QStringList commands()
    {
        QStringList out;
        static const QRegularExpression kCommand(QStringLiteral("\\] <- (.*)$"), QRegularExpression::MultilineOption);
        auto it = kCommand.globalMatch(log());
        while (it.hasNext())
            out.append(it.next().captured(1));
        return out;
    }

    // The server stops answering anything, as a hung machine would; the
    // connections stay open.
    void freeze()
    {
        if (process_.state() == QProcess::Running)
            ::kill(static_cast<pid_t>(process_.processId()), SIGSTOP);
        frozen_ = true;
    }
    void resume()
    {
        if (frozen_ && process_.state() == QProcess::Running)
            ::kill(static_cast<pid_t>(process_.processId()), SIGCONT);
        frozen_ = false;
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
import json, logging, os, sys, time
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import BufferedIteratorProducer, FTPHandler, ThrottledDTPHandler
from pyftpdlib.log import config_logging
from pyftpdlib.servers import FTPServer

opt = json.loads(sys.argv[1])
authorizer = DummyAuthorizer()
authorizer.add_user(opt['user'], opt['password'], opt['root'], perm='elradfmwMT')

class Handler(FTPHandler):
    def ftp_STOR(self, file, mode='w'):
        self.stored = getattr(self, 'stored', set()) | {file}
        return FTPHandler.ftp_STOR(self, file, mode)

    def ftp_RNTO(self, path):
        source = self._rnfr
        if source and ((opt['refuse_rename_over'] and os.path.exists(path)) or
                       (opt['refuse_renaming_uploads'] and source in getattr(self, 'stored', ()))):
            self._rnfr = None
            self.respond('553 Requested action not taken.')
            return
        return FTPHandler.ftp_RNTO(self, path)

    def ftp_QUIT(self, line):
        if opt['silent_quit']:
            return
        return FTPHandler.ftp_QUIT(self, line)

    def ftp_MLSD(self, path):
        if not opt['endless']:
            return FTPHandler.ftp_MLSD(self, path)
        def lines():
            n = 0
            while True:
                n += 1
                yield ('type=file;size=1;modify=20260101000000; endless-%010d.html\r\n' % n).encode() * 64
        self.push_dtp_data(BufferedIteratorProducer(lines()), isproducer=True, cmd='MLSD')

class DosFS(AbstractedFS):
    def format_list(self, basedir, listing, ignore_err=True):
        for name in listing:
            st = os.stat(os.path.join(basedir, name))
            stamp = time.strftime('%m-%d-%y  %I:%M%p', time.localtime(st.st_mtime))
            if os.path.isdir(os.path.join(basedir, name)):
                yield ('%s       <DIR>          %s\r\n' % (stamp, name)).encode('utf8', self.cmd_channel.unicode_errors)
            else:
                yield ('%s %20d %s\r\n' % (stamp, st.st_size, name)).encode('utf8', self.cmd_channel.unicode_errors)

Handler.authorizer = authorizer
if opt['without_mlsd'] or opt['dos']:
    Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k not in ('MLSD', 'MLST')}
if opt['dos']:
    Handler.abstracted_fs = DosFS
if opt['idle'] > 0:
    Handler.timeout = opt['idle']
if opt['raw']:
    Handler.unicode_errors = 'surrogateescape'
if opt['rate'] > 0:
    class Throttled(ThrottledDTPHandler):
        read_limit = opt['rate']
        write_limit = opt['rate']
    Handler.dtp_handler = Throttled

config_logging(level=logging.DEBUG)
server = FTPServer(('127.0.0.1', 0), Handler)
if opt['max_connections'] > 0:
    server.max_cons_per_ip = opt['max_connections']
sys.stderr.write('>>> starting FTP server on 127.0.0.1:%d <<<\n' % server.address[1])
sys.stderr.flush()
server.serve_forever()
)";

    QProcess process_;
    QString log_;
    int port_ = 0;
    bool frozen_ = false;
};

} // namespace webloom::test
