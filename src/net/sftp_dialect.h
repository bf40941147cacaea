// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/protocol_dialect.h"

namespace webloom {

// SFTP: paths quoted in its commands, no folder on the server, a host key
// instead of a certificate and SSH authentication.
class SftpDialect : public ProtocolDialect {
public:
    explicit SftpDialect(const ServerAddress &address);

    QByteArray homePath() const override { return "/~/"; }
    QByteArray urlPath(const RemotePath &folder) const override { return folder.sftpUrlPath(); }
    std::optional<TrustStore::Kind> trustKind() const override { return TrustStore::Kind::HostKey; }
    void setOptions(CURL *handle, PeerCheck &peer, const QByteArray &password) override;

    bool entersByListing() const override { return true; }

    // Run before the (empty) transfer, stopping at the first that fails,
    // which is what the callers want.
    QByteArray quoteLine(const QByteArray &command) const override { return command; }
    CURLoption quoteOption() const override { return CURLOPT_QUOTE; }
    QByteArray folderCommand(Folder what, const QByteArray &raw, const RemotePath &folder) const override;
    QByteArray removeCommand(const QByteArray &raw, const RemotePath &folder) const override;
    QList<QByteArray> renameCommands(const QByteArray &from, const QByteArray &to,
                                     const RemotePath &folder) const override;
    void settle(CallResult &result) const override;
    bool renamed(const CallResult &result) const override { return result.ok(); }
    // SFTP servers of protocol version 3 refuse to rename over a file.
    bool renameRefused(const CallResult &result) const override { return result.code == CURLE_QUOTE_ERROR; }

    void beginTries() override;
    void beginTry() override { askEd25519_ = ed25519_; }
    Retry firstLook(const CallResult &result, const PeerCheck &peer) override;
    void endTries(PeerCheck &peer) override;

private:
    // A path in the folder as an SFTP quote command takes it.
    static QByteArray quotedPath(const RemotePath &folder, const QByteArray &raw);

    QString host_;
    int port_ = 0;
    // SFTP asks the server for its ed25519 key first; not again in this
    // session once the server turned out to have none, or another key of it
    // was the one trusted.
    Ed25519Preference knownHosts_;
    bool preferEd25519_ = true;
    bool ed25519_ = false;    // for the request under way
    bool askEd25519_ = false; // for the try under way
    std::optional<PeerIdentity> ed25519Rejected_;
};

} // namespace webloom
