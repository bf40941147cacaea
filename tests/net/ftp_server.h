// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A throw-away FTP server on 127.0.0.1 for the transfer tests: pyftpdlib run
// by the system's Python, on a port the system chooses. Header-only, so that
// the command-line and window tests can use it as well.

#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "support/announced_server.h"

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
    // With a certificate and its key: TLS required on the control connection.
    QString tlsCertificate = {};
    QString tlsKey = {};
    bool refuseProt = false;          // with TLS: PROT P gets 534
    bool refuseEncryptedData = false; // with TLS: each data connection gets 522
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
            {QStringLiteral("cert"), options.tlsCertificate},
            {QStringLiteral("key"), options.tlsKey},
            {QStringLiteral("refuse_prot"), options.refuseProt},
            {QStringLiteral("refuse_data"), options.refuseEncryptedData},
        };
        const QStringList arguments = {QStringLiteral("-c"), QString::fromLatin1(kScript),
                                       QString::fromUtf8(QJsonDocument(settings).toJson(QJsonDocument::Compact))};
        log_.clear();
        static const QRegularExpression kAnnounce(QStringLiteral("starting FTP server on 127\\.0\\.0\\.1:(\\d+)"));
        port_ = startAnnounced(process_, QStringLiteral(WEBLOOM_PYTHON), arguments, kAnnounce, log_);
        return port_ != 0;
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
    // Complete for every client that has hung up: the server logs a
    // session's end only after every command before it, so this waits for
    // that line, and for commands still unread in the server's socket, before
    // it answers. "Nothing more was sent" can then be asserted right after a
    // refusal. A client that is still connected and idle costs no wait.
    QStringList commands()
    {
        for (const QDeadlineTimer deadline(10000); !settled() && !deadline.hasExpired();)
            process_.waitForReadyRead(20);
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
    // One end of a TCP connection on 127.0.0.1, as the kernel lists it.
    struct Socket {
        int localPort = 0;
        int remotePort = 0;
        int state = 0;
        qint64 unread = 0;
    };
    static constexpr int kEstablished = 1, kSynReceived = 3, kCloseWait = 8;
    static QList<Socket> loopbackSockets()
    {
        QList<Socket> out;
        QFile file(QStringLiteral("/proc/net/tcp"));
        if (!file.open(QIODevice::ReadOnly))
            return out;
        // "sl local rem st tx_queue:rx_queue ...", addresses as "0100007F:1F90".
        file.readLine();
        for (QByteArray line = file.readLine(); !line.isEmpty(); line = file.readLine()) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() < 5 || !f[1].startsWith("0100007F:") || !f[2].startsWith("0100007F:"))
                continue;
            Socket s;
            s.localPort = f[1].mid(9).toInt(nullptr, 16);
            s.remotePort = f[2].mid(9).toInt(nullptr, 16);
            s.state = f[3].toInt(nullptr, 16);
            s.unread = f[4].mid(f[4].indexOf(':') + 1).toLongLong(nullptr, 16);
            out.append(s);
        }
        return out;
    }

    // True when the log holds every command of every client that hung up,
    // and no command waits unread at the server, as far as the kernel's
    // socket table and the log tell.
    bool settled()
    {
        if (frozen_ || process_.state() != QProcess::Running || port_ == 0)
            return true;
        process_.waitForReadyRead(0); // what the server wrote since, into log()
        static const QRegularExpression kSession(
            QStringLiteral("\\] 127\\.0\\.0\\.1:(\\d+)-\\[[^\\]]*\\] FTP session (opened|closed)"));
        QHash<int, int> sessions; // client port -> sessions open on it
        for (auto it = kSession.globalMatch(log()); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            sessions[m.captured(1).toInt()] += m.captured(2) == QLatin1String("opened") ? 1 : -1;
        }
        const QList<Socket> sockets = loopbackSockets();
        for (const Socket &s : sockets) {
            if (s.localPort != port_)
                continue;
            // Established, half-open or hung up by the client: the server has
            // not closed its end, so it has a session to log.
            const bool serverEndOpen = s.state == kEstablished || s.state == kSynReceived || s.state == kCloseWait;
            if (serverEndOpen && (sessions.value(s.remotePort) <= 0 || s.unread > 0))
                return false; // not yet accepted by the server, or a command not yet read
        }
        for (auto it = sessions.cbegin(); it != sessions.cend(); ++it) {
            if (it.value() <= 0)
                continue;
            bool clientConnected = false;
            for (const Socket &s : sockets)
                clientConnected |= s.localPort == it.key() && s.remotePort == port_ && s.state == kEstablished;
            if (!clientConnected)
                return false; // hung up: its end is not logged yet
        }
        return true;
    }

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
Base = FTPHandler
if opt['cert']:
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler as Base

class Handler(Base):
    def ftp_STOR(self, file, mode='w'):
        self.stored = getattr(self, 'stored', set()) | {file}
        return Base.ftp_STOR(self, file, mode)

    def ftp_PROT(self, line):
        if opt['refuse_prot']:
            self.respond('534 Data protection refused by policy.')
            return
        return Base.ftp_PROT(self, line)

    def ftp_RNTO(self, path):
        source = self._rnfr
        if source and ((opt['refuse_rename_over'] and os.path.exists(path)) or
                       (opt['refuse_renaming_uploads'] and source in getattr(self, 'stored', ()))):
            self._rnfr = None
            self.respond('553 Requested action not taken.')
            return
        return Base.ftp_RNTO(self, path)

    def ftp_QUIT(self, line):
        if opt['silent_quit']:
            return
        return Base.ftp_QUIT(self, line)

    def ftp_MLSD(self, path):
        if not opt['endless']:
            return Base.ftp_MLSD(self, path)
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
    Handler.proto_cmds = {k: v for k, v in Base.proto_cmds.items() if k not in ('MLSD', 'MLST')}
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
if opt['cert']:
    class DTP(TLS_DTPHandler):
        def secure_connection(self, ssl_context):
            if not opt['refuse_data']:
                return TLS_DTPHandler.secure_connection(self, ssl_context)
            self.cmd_channel.respond('522 Encrypted data connections are not available.')
            self.close()
    Handler.certfile = opt['cert']
    Handler.keyfile = opt['key']
    Handler.dtp_handler = DTP
    Handler.tls_control_required = True

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
