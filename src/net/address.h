// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace webloom {

// The address field of a connection: [SCHEME://]HOST[:PORT], as a user types
// it ("ftp.example.jp", "ftp.example.jp:2121", "sftp://example.jp",
// "[2001:db8::1]:21" or a bare IPv6 address). A trailing "/" is allowed.
struct ServerAddress {
    enum class Scheme {
        Auto,  // no scheme: encrypted when the server offers it
        Ftp,   // ftp://    plain FTP
        Ftpes, // ftpes://  FTP with explicit TLS, required
        Ftps,  // ftps://   FTP with implicit TLS
        Sftp,  // sftp://   SFTP over SSH
    };
    Scheme scheme = Scheme::Auto;
    QString host; // without brackets
    int port = 21;
    bool portGiven = false;

    static std::optional<ServerAddress> parse(const QString &field);
    static int defaultPort(Scheme scheme);
    // "ftp://", "sftp://", ...; empty for Auto.
    static QString schemePrefix(Scheme scheme);

    bool isSftp() const { return scheme == Scheme::Sftp; }
    // To be encrypted (TLS or SSH); an address without a scheme tries TLS.
    bool encrypted() const { return scheme != Scheme::Ftp; }
    // "host:port" with brackets around an IPv6 address; the key of trust.
    QString hostPort() const;
    // The start of every request's URL for libcurl: "ftp://host:port",
    // "ftps://…" or "sftp://…".
    QByteArray urlBase() const;
    // The field's text with another scheme, the port kept only when given.
    QString withScheme(Scheme scheme) const;
};

} // namespace webloom
