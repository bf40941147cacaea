// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

#include <curl/curl.h>
#include <openssl/x509.h>

#include "net/transfer.h"

namespace webloom {

// "SHA256:" and the unpadded base64 of the SHA-256 of the bytes: how
// certificates (their DER bytes) and host keys (their key blob) are shown,
// the same way ssh-keygen -l shows a key.
QString sha256Fingerprint(QByteArrayView bytes);

// Decides whether the server of one connection is who it says it is, before
// anything else is sent to it: a certificate that verifies against the
// system's authorities and names the host passes, and so does one the user
// chose to trust; anything else is kept in rejected and refused.
struct PeerCheck {
    QString host;
    int port = 0;
    QString trusted;       // the fingerprint remembered for this server
    QStringList trustOnce; // fingerprints accepted for this run
    std::optional<PeerIdentity> rejected;
    bool keySeen = false; // the server got as far as showing its host key

    // For CURLOPT_SSL_CTX_FUNCTION (OpenSSL) and CURLOPT_SSH_HOSTKEYFUNCTION,
    // with this object as their data.
    static CURLcode sslContext(CURL *handle, void *sslContext, void *self);
    static int hostKey(void *self, int keyType, const char *key, size_t length);
    // The certificate check sslContext installs (SSL_CTX_set_cert_verify_callback):
    // 1 when the connection may go on.
    static int verifyCertificate(X509_STORE_CTX *store, void *self);

    bool accepts(const QString &fingerprint) const;
};

// libcurl offers no choice of host key algorithm, and libssh2 on its own
// prefers ECDSA, whereas OpenSSH's client settles on ed25519: the key a user
// knows from "ssh-keygen -l" or from the server's owner. One lever exists: when
// the file of CURLOPT_SSH_KNOWNHOSTS lists the server, libcurl restricts
// libssh2 to the type of the key listed there. This is such a file, kept in
// memory, naming an ed25519 key for one server. The key in it is never
// compared with anything (the host key callback alone decides whom to
// trust), so all it does is make the server show its ed25519 key; a server
// without one fails the key exchange.
class Ed25519Preference {
public:
    Ed25519Preference() = default;
    Ed25519Preference(const Ed25519Preference &) = delete;
    Ed25519Preference &operator=(const Ed25519Preference &) = delete;
    ~Ed25519Preference();

    // The path for CURLOPT_SSH_KNOWNHOSTS, for host (as in the address) and
    // port; empty when the file cannot be made.
    QByteArray fileFor(const QString &host, int port);

private:
    int fd_ = -1;
    QByteArray path_;
};

} // namespace webloom
