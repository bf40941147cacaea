// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/protocol_dialect.h"

namespace webloom {

// FTP, plain or over TLS (explicit, or implicit with ftps://).
class FtpDialect : public ProtocolDialect {
public:
    explicit FtpDialect(const ServerAddress &address);

    QByteArray homePath() const override { return "/"; }
    QByteArray urlPath(const RemotePath &folder) const override { return folder.ftpUrlPath(); }
    std::optional<TrustStore::Kind> trustKind() const override;
    void setOptions(CURL *handle, PeerCheck &peer, const QByteArray &password) override;

    std::optional<RichListing> richListing() const override;
    void richListingWorked() override { mlsd_ = Mlsd::Yes; }
    bool richListingUnknown(const CallResult &result) override;

    // After libcurl has entered the folder (post-transfer quote); the "*"
    // keeps libcurl from giving up the connection when the server refuses.
    QByteArray quoteLine(const QByteArray &command) const override { return '*' + command; }
    CURLoption quoteOption() const override { return CURLOPT_POSTQUOTE; }
    QByteArray folderCommand(Folder what, const QByteArray &raw, const RemotePath &folder) const override;
    QByteArray removeCommand(const QByteArray &raw, const RemotePath &) const override { return "DELE " + raw; }
    QList<QByteArray> renameCommands(const QByteArray &from, const QByteArray &to,
                                     const RemotePath &folder) const override;
    bool renamed(const CallResult &result) const override;
    bool renameRefused(const CallResult &result) const override;

    bool keptConnectionsSpent() override;
    Retry lastLook(const CallResult &result, const CurlCall &call, const PeerCheck &peer, bool download,
                   bool stopped) override;
    void uploaded() override;

    bool controlEncrypted(const CallResult &result) const override;
    bool encryptedDataRefused(const CallResult &result) const override;

private:
    enum class Mlsd { Unknown, Yes, No };

    ServerAddress::Scheme scheme_;
    Mlsd mlsd_ = Mlsd::Unknown;
    bool tls13Only_ = false;
    // The server accepts a TLS 1.3 data connection only with a ticket it has
    // not seen before.
    bool reuseDemanded_ = false;
    bool ticketSpent_ = false;
};

} // namespace webloom
