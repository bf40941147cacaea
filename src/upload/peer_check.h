#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

#include <curl/curl.h>

#include "upload/transfer.h"

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

    // For CURLOPT_SSL_CTX_FUNCTION (OpenSSL) and CURLOPT_SSH_HOSTKEYFUNCTION,
    // with this object as their data.
    static CURLcode sslContext(CURL *handle, void *sslContext, void *self);
    static int hostKey(void *self, int keyType, const char *key, size_t length);

    bool accepts(const QString &fingerprint) const;
};

} // namespace webloom
