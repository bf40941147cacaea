// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Servers that speak FTP over TLS (vsftpd) and SFTP (asyncssh) on 127.0.0.1,
// with certificates and host keys made for the test. Header-only, like
// ftp_server.h, so that the command-line and window tests can use them.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace webloom::test {

inline QByteArray runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

// A self-signed certificate for "localhost" and 127.0.0.1, and its
// fingerprint as the openssl tool computes it (the SHA-256 of the DER bytes),
// written the way the program shows it.
struct Certificate {
    QString certificate;
    QString key;
    QString fingerprint;

    static Certificate make(const QString &folder, const QString &name)
    {
        Certificate c;
        c.certificate = QDir(folder).filePath(name + QStringLiteral(".pem"));
        c.key = QDir(folder).filePath(name + QStringLiteral(".key"));
        runTool(QStringLiteral("openssl"),
                {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                 QStringLiteral("-nodes"), QStringLiteral("-keyout"), c.key, QStringLiteral("-out"), c.certificate,
                 QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=") + name,
                 QStringLiteral("-addext"), QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1")});
        const QByteArray line =
            runTool(QStringLiteral("openssl"),
                    {QStringLiteral("x509"), QStringLiteral("-in"), c.certificate, QStringLiteral("-noout"),
                     QStringLiteral("-fingerprint"), QStringLiteral("-sha256")});
        const QByteArray hex = line.mid(line.indexOf('=') + 1).trimmed().replace(":", "");
        if (!hex.isEmpty())
            c.fingerprint = QStringLiteral("SHA256:") +
                            QString::fromLatin1(QByteArray::fromHex(hex).toBase64(QByteArray::OmitTrailingEquals));
        return c;
    }
};

inline int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

inline bool accepting(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(s);
    return ok;
}

// Starts a server that writes nothing useful, dies with the test program,
// and tells it is ready only by listening on port: true once it does, within
// ten seconds.
inline bool startListening(QProcess &process, const QString &program, const QStringList &arguments, int port)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return false;
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(20)) {
        if (process.state() != QProcess::Running)
            return false;
        if (accepting(port))
            return true;
    }
    return false;
}

// vsftpd with TLS required for log-in and data, explicit (AUTH TLS) or
// implicit. It lets in the anonymous user "ftp" (whatever the password) with
// full rights below root, running as whoever starts it.
class Vsftpd {
public:
    ~Vsftpd() { stop(); }

    bool start(const QString &root, const QString &work, const Certificate &certificate, bool implicit, int port = 0)
    {
        port_ = port > 0 ? port : freePort();
        log_ = QDir(work).filePath(QStringLiteral("vsftpd-%1.log").arg(port_));
        QFile::remove(log_);
        const QString empty = QDir(work).filePath(QStringLiteral("empty"));
        QDir().mkpath(empty);
        const QString config = QDir(work).filePath(QStringLiteral("vsftpd-%1.conf").arg(port_));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(QStringLiteral("listen=YES\nlisten_address=127.0.0.1\nlisten_port=%1\nbackground=NO\n"
                                  "run_as_launching_user=YES\nseccomp_sandbox=NO\nsecure_chroot_dir=%2\n"
                                  "anonymous_enable=YES\nlocal_enable=NO\nno_anon_password=NO\nanon_root=%3\n"
                                  "write_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                                  "anon_other_write_enable=YES\nanon_umask=022\nconnect_from_port_20=NO\n"
                                  "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
                                  "force_anon_data_ssl=YES\nrsa_cert_file=%4\nrsa_private_key_file=%5\n"
                                  "implicit_ssl=%6\nlog_ftp_protocol=YES\nvsftpd_log_file=%7\nxferlog_enable=YES\n"
                                  "dual_log_enable=YES\nxferlog_file=%7.xfer\n")
                       .arg(port_)
                       .arg(empty, root, certificate.certificate, certificate.key,
                            implicit ? QStringLiteral("YES") : QStringLiteral("NO"), log_)
                       .toUtf8());
        file.close();
        return startListening(process_, QStringLiteral("/usr/sbin/vsftpd"), {config}, port_);
    }
    void stop()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    int port() const { return port_; }
    QString output() { return QString::fromUtf8(process_.readAll()); }
    // The commands received so far ("USER ftp", "PASS <password>", ...).
    QStringList commands() const
    {
        QFile file(log_);
        QStringList out;
        if (!file.open(QIODevice::ReadOnly))
            return out;
        static const QRegularExpression kCommand(QStringLiteral("FTP command: Client \"[^\"]*\", \"(.*)\"$"),
                                                 QRegularExpression::MultilineOption);
        auto it = kCommand.globalMatch(QString::fromUtf8(file.readAll()));
        while (it.hasNext())
            out.append(it.next().captured(1));
        return out;
    }

private:
    QProcess process_;
    int port_ = 0;
    QString log_;
};

// An SFTP server (asyncssh) for one user with a password, serving root as
// "/". Its host key lives in keyFile and is made there when missing;
// fingerprint() is what the server itself says of it.
class SftpServer {
public:
    ~SftpServer() { stop(); }

    // Before start: host keys of these types ("ecdsa-sha2-nistp256") besides
    // the one of keyFile, each in keyFile + "." + type, offered before it.
    void addHostKeys(const QStringList &types) { keyTypes_ = types; }

    // clientKey: when given, a key pair made there (if missing) whose public
    // half the server also accepts for the user.
    bool start(const QString &root, const QString &user, const QString &password, const QString &keyFile, int port = 0,
               const QString &clientKey = {})
    {
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(QStringLiteral(WEBLOOM_PYTHON),
                       {QStringLiteral("-W"), QStringLiteral("ignore"), QStringLiteral("-c"),
                        QString::fromLatin1(kScript), root, user, password, keyFile, QString::number(port), clientKey,
                        keyTypes_.join(QLatin1Char(','))});
        if (!process_.waitForStarted(5000))
            return false;
        QByteArray out;
        for (QDeadlineTimer deadline(20000); !out.contains('\n') && !deadline.hasExpired();)
            if (process_.waitForReadyRead(200))
                out += process_.readAllStandardOutput();
        const QList<QByteArray> fields = out.trimmed().split(' ');
        if (fields.size() != 2 + keyTypes_.size())
            return false;
        port_ = fields[0].toInt();
        fingerprint_ = QString::fromLatin1(fields[1]);
        for (const QByteArray &field : fields.mid(2))
            otherFingerprints_.append(QString::fromLatin1(field));
        return port_ > 0;
    }
    void stop()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    int port() const { return port_; }
    QString fingerprint() const { return fingerprint_; }
    // Those of the keys of addHostKeys, in its order.
    QStringList otherFingerprints() const { return otherFingerprints_; }
    QString errors() { return QString::fromUtf8(process_.readAllStandardError()); }

private:
    static constexpr const char *kScript = R"(
import asyncio, os, sys, asyncssh
root, user, password, keyfile, port, client = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]), sys.argv[6]
def host_key(path, kind):
    if not os.path.exists(path):
        asyncssh.generate_private_key(kind).write_private_key(path)
    return asyncssh.read_private_key(path)
key = host_key(keyfile, 'ssh-ed25519')
others = [host_key(keyfile + '.' + kind, kind) for kind in sys.argv[7].split(',') if kind]
client_keys = None
if client:
    if not os.path.exists(client):
        pair = asyncssh.generate_private_key('ssh-ed25519')
        pair.write_private_key(client)
        pair.write_public_key(client + '.pub')
    client_keys = asyncssh.read_authorized_keys(client + '.pub')
class Server(asyncssh.SSHServer):
    def begin_auth(self, username):
        if client_keys is not None:
            self._conn.set_authorized_keys(client_keys)
        return True
    def connection_made(self, conn):
        self._conn = conn
    def public_key_auth_supported(self):
        return client_keys is not None
    def password_auth_supported(self):
        return True
    def validate_password(self, username, pw):
        return username == user and pw == password
class SFTP(asyncssh.SFTPServer):
    def __init__(self, chan):
        super().__init__(chan, chroot=root)
async def main():
    server = await asyncssh.listen('127.0.0.1', port, server_host_keys=others + [key], server_factory=Server,
                                   sftp_factory=SFTP, allow_scp=False)
    print(server.sockets[0].getsockname()[1], key.get_fingerprint('sha256'),
          *[other.get_fingerprint('sha256') for other in others], flush=True)
    await asyncio.Future()
asyncio.run(main())
)";

    QProcess process_;
    int port_ = 0;
    QString fingerprint_;
    QStringList keyTypes_;
    QStringList otherFingerprints_;
};

} // namespace webloom::test
