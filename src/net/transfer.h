// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include "net/remote_entry.h"

namespace webloom {

// What a transfer is asked to do. Every path is fixed by the caller when the
// user acts: nothing below reads the process's current folder, so a folder
// changed elsewhere while a batch runs never changes which file goes where.
struct TransferRequest {
    enum class Operation {
        List,   // the current remote folder
        Cd,     // remote: a folder name, "..", or a path ("a/b", "/x")
        Mkdir,  // remote: a name in the current folder
        Rmdir,  // remote: a name in the current folder
        Delete, // remote: a name in the current folder
        Put,    // local file (absolute path) -> remote name; never replaces
        Get,    // remote name -> local file (absolute path); never replaces
        Rename, // remote -> target in the current folder; replaces target
        Close,  // ends the session; the next request logs in afresh
    };
    Operation operation = Operation::List;
    QString remote;
    QString local;
    QString target;
    // Put: the caller made the name up itself (a temporary name), or a
    // listing it just made shows no such name, so it need not be looked up.
    bool freshName = false;
    // Rename: where the server will not rename over an existing target, the
    // old target waits under this name until the new one is in place (and
    // goes back when that fails). Empty: a name is made up.
    QString aside;

    static TransferRequest list() { return {Operation::List, {}, {}, {}, false, {}}; }
    static TransferRequest cd(const QString &path) { return {Operation::Cd, path, {}, {}, false, {}}; }
    static TransferRequest mkdir(const QString &name) { return {Operation::Mkdir, name, {}, {}, false, {}}; }
    static TransferRequest rmdir(const QString &name) { return {Operation::Rmdir, name, {}, {}, false, {}}; }
    static TransferRequest remove(const QString &name) { return {Operation::Delete, name, {}, {}, false, {}}; }
    static TransferRequest put(const QString &localPath, const QString &remoteName, bool freshName = false)
    {
        return {Operation::Put, remoteName, localPath, {}, freshName, {}};
    }
    static TransferRequest get(const QString &remoteName, const QString &localPath)
    {
        return {Operation::Get, remoteName, localPath, {}, false, {}};
    }
    static TransferRequest rename(const QString &from, const QString &to, const QString &aside = {})
    {
        return {Operation::Rename, from, {}, to, false, aside};
    }
    static TransferRequest close() { return {Operation::Close, {}, {}, {}, false, {}}; }
};

// What the server presented to prove who it is, when the user must decide
// whether to trust it: a certificate (FTP over TLS) or a host key (SFTP).
struct PeerIdentity {
    enum class Kind { Certificate, HostKey };
    Kind kind = Kind::Certificate;
    QString host;
    int port = 0;
    QString fingerprint;           // "SHA256:" + unpadded base64
    QString rememberedFingerprint; // set when it differs from the one trusted before
    // Certificates: who it names, who signed it, how long it is valid, and why
    // it did not verify. Host keys: the key type in keyType.
    QString subject;
    QString issuer;
    QDateTime notBefore;
    QDateTime notAfter;
    QString reason;
    QString keyType; // as the key names itself: "ssh-ed25519", "ecdsa-sha2-nistp256", ...

    // The fingerprint as the user compares it: a host key's with its type
    // first, the way "ssh-keygen -l" names it ("ED25519 SHA256:..."), a
    // certificate's alone.
    QString shownFingerprint() const
    {
        if (kind != Kind::HostKey || keyType.isEmpty())
            return fingerprint;
        QString type = keyType;
        if (type == QLatin1String("ssh-ed25519"))
            type = QStringLiteral("ED25519");
        else if (type.startsWith(QLatin1String("ecdsa-sha2-")))
            type = QStringLiteral("ECDSA");
        else if (type == QLatin1String("ssh-rsa"))
            type = QStringLiteral("RSA");
        else if (type == QLatin1String("ssh-dss"))
            type = QStringLiteral("DSA");
        return type + QLatin1Char(' ') + fingerprint;
    }
};

struct TransferOutcome {
    // Why a request failed, where the caller can do something about it.
    enum class Failure {
        None,
        Server,     // the server refused; reply holds its words
        Connection, // no connection, lost connection, time-out
        Local,      // a local file could not be read or written
        Refused,    // refused before asking the server (busy, bad name, exists)
        Untrusted,  // the certificate or host key needs the user's decision
        NoTls,      // the server offers no encryption where it was required
        // The server took TLS for the log-in (the password went encrypted)
        // but refused to encrypt what follows: PBSZ or PROT P, or an
        // encrypted data connection. Never a reason to go on unencrypted.
        TlsDataRefused,
        Login,       // user name or password not accepted
        Cancelled,   // stopped by the caller
        Unsupported, // the server does not speak the protocol, or the TLS or
                     // SSH handshake failed
    };
    bool ok = false;
    Failure failure = Failure::None;
    // The server's last reply line, or our own account when there was none.
    QString reply;
    // The library's account of a failure, for a second line of a message.
    QString detail;
    // List: the entries in the order a listing shows them (folders first,
    // then files, each by name without regard to case), without "." and "..".
    QList<RemoteEntry> entries;
    qint64 bytes = 0;      // Put, Get: bytes moved
    PeerIdentity identity; // Untrusted
    // The connection was to be encrypted (TLS or SSH), whether or not it got
    // that far.
    bool secure = false;
    // The server turned the connection away for the number of connections
    // already open; nothing was done.
    bool tooManyConnections = false;
};

// The transfer layer of an FTP session: one connection to one server, one
// request at a time, run in the background.
//
// Contract:
// - busy() is true from start() until the request's outcome has been
//   delivered through finished() on the owner's thread.
// - Every request ends with exactly one finished(), queued (never inside
//   start()).
// - start() while busy refuses the new request: it gets a failed outcome
//   (queued) and the running request goes on undisturbed.
// - Put and Get never replace an existing target; such a request fails.
class Transfer : public QObject {
    Q_OBJECT
public:
    struct Connection {
        QString address; // [scheme://]host[:port]
        QString user;
        QString password;
        bool operator==(const Connection &) const = default;
    };

    using QObject::QObject;
    ~Transfer() override = default;

    // Takes effect with the next request; a session on another server or as
    // another user is closed first.
    void setConnection(const Connection &connection) { connection_ = connection; }
    const Connection &connection() const { return connection_; }

    virtual void start(const TransferRequest &request) = 0;
    virtual bool busy() const = 0;
    // Stops the running request as soon as possible; it ends Cancelled.
    virtual void cancel() = 0;

signals:
    void finished(const webloom::TransferOutcome &outcome);
    // Byte progress of the running Put or Get; total is -1 when unknown.
    void progress(qint64 done, qint64 total);

private:
    Connection connection_;
};

} // namespace webloom

Q_DECLARE_METATYPE(webloom::TransferOutcome)
