// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

#include <curl/curl.h>

#include "net/address.h"
#include "net/curl_call.h"
#include "net/list_parser.h"
#include "net/peer_check.h"
#include "net/remote_path.h"
#include "net/transfer.h"
#include "net/trust_store.h"

namespace webloom {

// What differs between FTP (plain or over TLS) and SFTP, chosen once per
// session from the address. The worker runs the calls; the dialect says what
// to send, how the protocol's answers read, and when a try is worth another.
// Nothing outside the dialects asks which protocol runs.
class ProtocolDialect {
public:
    enum class Folder { Make, Remove, DeleteFile };
    // What follows a try that did not do what it should.
    enum class Retry {
        No,
        SameRound,      // again, and the try does not count
        Again,          // the second and last try
        AgainFreshLogIn // the second try, after the kept connections are let go
    };
    struct RichListing {
        QByteArray verb;
        listing::Format format;
    };

    static std::unique_ptr<ProtocolDialect> forAddress(const ServerAddress &address);
    virtual ~ProtocolDialect() = default;

    // The URL path the log-in asks for, and a folder's.
    virtual QByteArray homePath() const = 0;
    virtual QByteArray urlPath(const RemotePath &folder) const = 0;
    // What the trust store keeps for such a server; none without encryption.
    virtual std::optional<TrustStore::Kind> trustKind() const = 0;
    // Which protocol libcurl may speak, encryption and authentication.
    virtual void setOptions(CURL *handle, PeerCheck &peer, const QByteArray &password) = 0;

    // A listing command richer than the plain one, while the server may
    // have it; the plain listing follows when this says the server has not.
    virtual std::optional<RichListing> richListing() const { return std::nullopt; }
    virtual void richListingWorked() {}
    virtual bool richListingUnknown(const CallResult &) { return false; }
    // A folder that can be listed can be entered (no folder on the server).
    virtual bool entersByListing() const { return false; }

    // Commands sent with a call that only enters the current folder.
    virtual QByteArray quoteLine(const QByteArray &command) const = 0;
    virtual CURLoption quoteOption() const = 0;
    virtual QByteArray folderCommand(Folder what, const QByteArray &raw, const RemotePath &folder) const = 0;
    virtual QByteArray removeCommand(const QByteArray &raw, const RemotePath &folder) const = 0;
    virtual QList<QByteArray> renameCommands(const QByteArray &from, const QByteArray &to,
                                             const RemotePath &folder) const = 0;
    // Gives a successful command the reply code an FTP server would.
    virtual void settle(CallResult &) const {}
    virtual bool renamed(const CallResult &result) const = 0;
    // The server refused to rename over the target (not a lost connection).
    virtual bool renameRefused(const CallResult &result) const = 0;

    // Around the tries of one request. keptConnectionsSpent: before the
    // request, whether the kept connections must go first.
    virtual bool keptConnectionsSpent() { return false; }
    virtual void beginTries() {}
    virtual void beginTry() {}
    // Before and after the worker's own look at a failed try (a kept
    // connection the server had closed).
    virtual Retry firstLook(const CallResult &, const PeerCheck &) { return Retry::No; }
    virtual Retry lastLook(const CallResult &, const CurlCall &, const PeerCheck &, bool /*download*/, bool /*stopped*/)
    {
        return Retry::No;
    }
    virtual void endTries(PeerCheck &) {}
    virtual void uploaded() {}

    // Failures: whether the control connection was encrypted when the
    // request failed, and whether the server would not take the encrypted
    // data connection.
    virtual bool controlEncrypted(const CallResult &) const { return false; }
    virtual bool encryptedDataRefused(const CallResult &result) const { return result.replyCode == 522; }
    // The server turned the connection away for the number already open:
    // FTP's 421, or the words servers use for it.
    bool refusesMoreConnections(const QString &reply) const;
};

} // namespace webloom
