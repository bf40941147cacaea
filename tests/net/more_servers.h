// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The common Linux servers on 127.0.0.1, each with its own configuration in a
// work folder the test owns: pure-ftpd (TLS required) and proftpd (mod_tls),
// unpacked from Debian's packages into the build folder because they conflict
// with the installed vsftpd, and OpenSSH's sshd (installed), which lets in the
// current user with a key only. Header-only, like secure_servers.h.
//
// A server that cannot be had says why in unavailable(); the test then skips
// with that reason rather than passing.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/secure_servers.h"

namespace webloom::test {

// The user pure-ftpd's files belong to: it lets no one log in as root.
constexpr uid_t kPureFtpdUid = 65534;

// Where tests/scripts/unpack_servers.sh puts the servers: beside the program
// under test, so one build folder holds everything its tests run.
inline QString unpackedServers(QString *why)
{
    static QString root;
    static QString failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        const QString dest = QFileInfo(QStringLiteral(WEBLOOM_BINARY)).absolutePath() + QStringLiteral("/test-servers");
        QProcess unpack;
        unpack.setProcessChannelMode(QProcess::MergedChannels);
        unpack.start(QStringLiteral(WEBLOOM_TEST_DATA "/../scripts/unpack_servers.sh"), {dest});
        if (unpack.waitForFinished(180000) && unpack.exitStatus() == QProcess::NormalExit && unpack.exitCode() == 0)
            root = dest + QStringLiteral("/root");
        else
            failure = QStringLiteral("cannot unpack pure-ftpd and proftpd: ") +
                      QString::fromLocal8Bit(unpack.readAll()).trimmed() + unpack.errorString();
    }
    *why = failure;
    return root;
}

inline bool writeText(const QString &path, const QString &text, QFile::Permissions permissions = {})
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool ok = file.write(text.toUtf8()) >= 0;
    file.close();
    if (permissions)
        file.setPermissions(permissions);
    return ok;
}

// One server process, killed with the test (or the test program).
class ServerProcess {
public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;
    ~ServerProcess() { stop(); }

    int port() const { return port_; }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    // Why the server cannot run here; empty when it can.
    QString unavailable() const { return unavailable_; }
    QString output() { return output_ += QString::fromUtf8(process_.readAll()); }
    void stop()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

protected:
    bool launch(const QString &program, const QStringList &arguments, const QStringList &libraries = {})
    {
        if (!libraries.isEmpty()) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("LD_LIBRARY_PATH"), libraries.join(QLatin1Char(':')));
            process_.setProcessEnvironment(environment);
        }
        return startListening(process_, program, arguments, port_);
    }

    QProcess process_;
    int port_ = 0;
    QString unavailable_;
    QString output_;
};

// pure-ftpd with TLS required on the control and data connections, for one
// virtual user whose files belong to kPureFtpdUid. Needs root.
class PureFtpd : public ServerProcess {
public:
    bool start(const QString &root, const QString &work, const Certificate &certificate, const QString &user,
               const QString &password)
    {
        const QString servers = unpackedServers(&unavailable_);
        if (servers.isEmpty())
            return false;
        if (::geteuid() != 0) {
            unavailable_ = QStringLiteral("pure-ftpd needs root to run its users' sessions");
            return false;
        }
        // pure-ftpd wants the key and the certificate in one file.
        const QString pem = QDir(work).filePath(QStringLiteral("pure-ftpd.pem"));
        QFile key(certificate.key), cert(certificate.certificate);
        if (!key.open(QIODevice::ReadOnly) || !cert.open(QIODevice::ReadOnly) ||
            !writeText(pem, QString::fromLatin1(key.readAll() + cert.readAll()), QFile::ReadOwner | QFile::WriteOwner))
            return false;
        const QByteArray hash =
            runTool(QStringLiteral("openssl"), {QStringLiteral("passwd"), QStringLiteral("-6"), password}).trimmed();
        const QString users = QDir(work).filePath(QStringLiteral("pure-ftpd.passwd"));
        const QString database = QDir(work).filePath(QStringLiteral("pure-ftpd.pdb"));
        // "/./" ends the path the session is shut in.
        if (hash.isEmpty() || !writeText(users, QStringLiteral("%1:%2:%3:%3::%4/./::::::::::::\n")
                                                    .arg(user, QString::fromLatin1(hash))
                                                    .arg(kPureFtpdUid)
                                                    .arg(root)))
            return false;
        QFile::remove(database);
        runTool(servers + QStringLiteral("/usr/bin/pure-pw"),
                {QStringLiteral("mkdb"), database, QStringLiteral("-f"), users});
        if (!QFileInfo::exists(database))
            return false;
        if (::chown(QFile::encodeName(root).constData(), kPureFtpdUid, kPureFtpdUid) != 0)
            return false;
        port_ = freePort();
        return launch(servers + QStringLiteral("/usr/sbin/pure-ftpd"),
                      {QStringLiteral("-S"), QStringLiteral("127.0.0.1,%1").arg(port_), QStringLiteral("-l"),
                       QStringLiteral("puredb:") + database, QStringLiteral("-Y"), QStringLiteral("2"),
                       QStringLiteral("-2"), pem, QStringLiteral("-E"), QStringLiteral("-H"), QStringLiteral("-A"),
                       QStringLiteral("-f"), QStringLiteral("none")});
    }
};

// proftpd with mod_tls, TLS required, either at most TLS 1.2 or TLS 1.3 only,
// keeping mod_tls's default of accepting a data connection only when it
// resumes the control connection's TLS session. One user, the current one,
// whose home is the served folder.
class Proftpd : public ServerProcess {
public:
    enum class Tls { UpTo12, Only13 };

    bool start(const QString &root, const QString &work, const Certificate &certificate, const QString &user,
               const QString &password, Tls tls)
    {
        const QString servers = unpackedServers(&unavailable_);
        if (servers.isEmpty())
            return false;
        const QByteArray hash =
            runTool(QStringLiteral("openssl"), {QStringLiteral("passwd"), QStringLiteral("-6"), password}).trimmed();
        const QString users = QDir(work).filePath(QStringLiteral("proftpd.passwd"));
        const QString groups = QDir(work).filePath(QStringLiteral("proftpd.group"));
        const auto uid = QString::number(::getuid());
        const auto gid = QString::number(::getgid());
        if (hash.isEmpty() ||
            !writeText(users,
                       QStringLiteral("%1:%2:%3:%4::%5:/bin/sh\n").arg(user, QString::fromLatin1(hash), uid, gid, root),
                       QFile::ReadOwner | QFile::WriteOwner) ||
            !writeText(groups, QStringLiteral("users:x:%1:\n").arg(gid), QFile::ReadOwner | QFile::WriteOwner))
            return false;
        port_ = freePort();
        log_ = QDir(work).filePath(QStringLiteral("proftpd-tls-%1.log").arg(port_));
        const QString config = QDir(work).filePath(QStringLiteral("proftpd-%1.conf").arg(port_));
        const QString self = QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name);
        const QString group = QString::fromLocal8Bit(::getgrgid(::getgid())->gr_name);
        if (!writeText(config,
                       QStringLiteral("ServerType standalone\nServerName \"test\"\nDefaultServer on\n"
                                      "Port %1\nDefaultAddress 127.0.0.1\nUseIPv6 off\n"
                                      "ScoreboardFile %2/proftpd-%1.scoreboard\nPidFile %2/proftpd-%1.pid\n"
                                      "DelayTable none\nWtmpLog off\nUseReverseDNS off\nUser %3\nGroup %4\n"
                                      "ModulePath %5/usr/lib/proftpd\nLoadModule mod_tls.c\n"
                                      "AuthOrder mod_auth_file.c\nAuthUserFile %6\nAuthGroupFile %7\n"
                                      "RequireValidShell off\nRootLogin on\nAllowOverwrite on\nUmask 022\n"
                                      "SystemLog %2/proftpd-%1.log\nTransferLog none\n"
                                      "TLSEngine on\nTLSRequired on\nTLSRSACertificateFile %8\n"
                                      "TLSRSACertificateKeyFile %9\nTLSProtocol %10\nTLSLog %11\n"
                                      "TLSVerifyClient off\n")
                           .arg(port_)
                           .arg(work, self, group, servers, users, groups, certificate.certificate, certificate.key)
                           .arg(tls == Tls::Only13 ? QStringLiteral("TLSv1.3") : QStringLiteral("TLSv1.2"), log_)))
            return false;
        return launch(servers + QStringLiteral("/usr/sbin/proftpd"),
                      {QStringLiteral("-n"), QStringLiteral("-q"), QStringLiteral("-c"), config});
    }

    // mod_tls's own log ("client did not reuse TLS session ...").
    QString tlsLog() const
    {
        QFile file(log_);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QString log_;
};

// OpenSSH's sshd for the current user, public key only, SFTP starting in the
// served folder. The client's key is made as home/.ssh/id_ed25519, where the
// program looks for it when the password is empty.
class Sshd : public ServerProcess {
public:
    bool start(const QString &root, const QString &work, const QString &home)
    {
        const QString sshd = QStringLiteral("/usr/sbin/sshd");
        if (!QFileInfo(sshd).isExecutable()) {
            unavailable_ = QStringLiteral("no /usr/sbin/sshd (package openssh-server)");
            return false;
        }
        const QString hostKey = QDir(work).filePath(QStringLiteral("sshd_host_ed25519"));
        const QString clientKey = QDir(home).filePath(QStringLiteral(".ssh/id_ed25519"));
        if (!QDir().mkpath(QDir(home).filePath(QStringLiteral(".ssh"))))
            return false;
        for (const QString &key : {hostKey, clientKey}) {
            if (!QFileInfo::exists(key))
                runTool(QStringLiteral("ssh-keygen"),
                        {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"),
                         QString(), QStringLiteral("-f"), key});
            if (!QFileInfo::exists(key + QStringLiteral(".pub")))
                return false;
        }
        const QByteArray line =
            runTool(QStringLiteral("ssh-keygen"), {QStringLiteral("-l"), QStringLiteral("-E"), QStringLiteral("sha256"),
                                                   QStringLiteral("-f"), hostKey + QStringLiteral(".pub")});
        fingerprint_ = QString::fromLatin1(line.split(' ').value(1));
        const QString authorized = QDir(work).filePath(QStringLiteral("sshd_authorized_keys"));
        QFile::remove(authorized);
        if (!QFile::copy(clientKey + QStringLiteral(".pub"), authorized))
            return false;
        // sshd's privilege separation wants its empty folder.
        if (::geteuid() == 0)
            QDir().mkpath(QStringLiteral("/run/sshd"));
        if (!QFileInfo(QStringLiteral("/run/sshd")).isDir()) {
            unavailable_ = QStringLiteral("sshd needs the folder /run/sshd, which only root can make");
            return false;
        }
        port_ = freePort();
        const QString config = QDir(work).filePath(QStringLiteral("sshd-%1.conf").arg(port_));
        const QString self = QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name);
        if (!writeText(config, QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\nPidFile %3/sshd-%1.pid\n"
                                              "AuthorizedKeysFile %4\nStrictModes no\nUsePAM no\n"
                                              "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                                              "PubkeyAuthentication yes\nPermitRootLogin prohibit-password\n"
                                              "AllowUsers %5\nSubsystem sftp internal-sftp\n"
                                              "ForceCommand internal-sftp -d %6\nLogLevel VERBOSE\n")
                                   .arg(port_)
                                   .arg(hostKey, work, authorized, self, root)))
            return false;
        return launch(sshd, {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), config});
    }

    QString fingerprint() const { return fingerprint_; }
    static QString user() { return QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name); }

private:
    QString fingerprint_;
};

} // namespace webloom::test
