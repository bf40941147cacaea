// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/peer_check.h"

#include <QCryptographicHash>
#include <QUrl>
#include <QtEndian>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <ctime>
#include <sys/mman.h>
#include <unistd.h>

namespace webloom {

namespace {

QString nameText(const X509_NAME *name)
{
    BIO *bio = BIO_new(BIO_s_mem());
    if (!bio)
        return {};
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char *data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    const QString text = QString::fromUtf8(data, static_cast<qsizetype>(length));
    BIO_free(bio);
    return text;
}

QDateTime timeOf(const ASN1_TIME *time)
{
    std::tm parts{};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return {};
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                     QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

// Why a certificate did not verify, in the words the window uses.
QString reasonText(int error)
{
    switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return QStringLiteral("自己署名の証明書です（認証局の署名がありません）");
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return QStringLiteral("発行した認証局が信頼できる認証局の中にありません");
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return QStringLiteral("有効期限が切れています");
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return QStringLiteral("まだ有効期間になっていません");
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return QStringLiteral("証明書の名前がサーバーのアドレスと一致しません");
    default:
        return QString::fromUtf8(X509_verify_cert_error_string(error));
    }
}

// Certificates and libcurl name a host in its ASCII form ("xn--..."), which
// the address may hold in either form; an address QUrl cannot convert (an IP
// address) stays as it is.
QByteArray asciiHost(const QString &host)
{
    const QByteArray ace = QUrl::toAce(host);
    return ace.isEmpty() ? host.toUtf8() : ace;
}

} // namespace

// Replaces OpenSSL's own chain check for the connection: the chain and the
// host name are checked as usual, and a certificate that fails either passes
// only when the user trusts exactly this one.
int PeerCheck::verifyCertificate(X509_STORE_CTX *store, void *self)
{
    auto *check = static_cast<PeerCheck *>(self);
    const int chainOk = X509_verify_cert(store);
    const int chainError = X509_STORE_CTX_get_error(store);
    X509 *leaf = X509_STORE_CTX_get0_cert(store);
    if (!leaf)
        return 0;
    const QByteArray host = asciiHost(check->host);
    const QByteArray ip = check->host.toUtf8();
    // "f*.example.jp" names no host, as browsers and curl see it.
    const bool nameOk = X509_check_host(leaf, host.constData(), size_t(host.size()),
                                        X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr) == 1 ||
                        X509_check_ip_asc(leaf, ip.constData(), 0) == 1;
    if (chainOk == 1 && nameOk)
        return 1;

    unsigned char *der = nullptr;
    const int length = i2d_X509(leaf, &der);
    if (length <= 0)
        return 0;
    const QString fingerprint = sha256Fingerprint(QByteArrayView(reinterpret_cast<const char *>(der), length));
    OPENSSL_free(der);
    if (check->accepts(fingerprint)) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    PeerIdentity identity;
    identity.kind = PeerIdentity::Kind::Certificate;
    identity.host = check->host;
    identity.port = check->port;
    identity.fingerprint = fingerprint;
    if (!check->trusted.isEmpty() && check->trusted != fingerprint)
        identity.rememberedFingerprint = check->trusted;
    identity.subject = nameText(X509_get_subject_name(leaf));
    identity.issuer = nameText(X509_get_issuer_name(leaf));
    identity.notBefore = timeOf(X509_get0_notBefore(leaf));
    identity.notAfter = timeOf(X509_get0_notAfter(leaf));
    identity.reason = reasonText(chainOk == 1 ? X509_V_ERR_HOSTNAME_MISMATCH : chainError);
    check->rejected = identity;
    if (chainOk == 1)
        X509_STORE_CTX_set_error(store, X509_V_ERR_HOSTNAME_MISMATCH);
    return 0;
}

namespace {

QString keyTypeName(int type)
{
    switch (type) {
    case CURLKHTYPE_RSA1:
    case CURLKHTYPE_RSA:
        return QStringLiteral("ssh-rsa");
    case CURLKHTYPE_DSS:
        return QStringLiteral("ssh-dss");
    case CURLKHTYPE_ECDSA:
        return QStringLiteral("ecdsa-sha2-nistp256");
    case CURLKHTYPE_ED25519:
        return QStringLiteral("ssh-ed25519");
    default:
        return QStringLiteral("unknown");
    }
}

// The type as the key blob itself names it in its first field
// ("ecdsa-sha2-nistp384"), which says more than libcurl's type code.
QString blobKeyType(QByteArrayView blob, int curlType)
{
    if (blob.size() > 4) {
        const quint32 length = qFromBigEndian<quint32>(blob.data());
        if (length > 0 && length <= 64 && length <= quint32(blob.size() - 4)) {
            const QByteArrayView name = blob.sliced(4, qsizetype(length));
            if (std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7f; }))
                return QString::fromLatin1(name);
        }
    }
    return keyTypeName(curlType);
}

} // namespace

QString sha256Fingerprint(QByteArrayView bytes)
{
    const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    return QStringLiteral("SHA256:") +
           QString::fromLatin1(digest.toBase64(QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals));
}

bool PeerCheck::accepts(const QString &fingerprint) const
{
    return (!trusted.isEmpty() && fingerprint == trusted) || trustOnce.contains(fingerprint);
}

CURLcode PeerCheck::sslContext(CURL *, void *sslContext, void *self)
{
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX *>(sslContext), &verifyCertificate, self);
    return CURLE_OK;
}

int PeerCheck::hostKey(void *self, int keyType, const char *key, size_t length)
{
    auto *check = static_cast<PeerCheck *>(self);
    check->keySeen = true;
    const QByteArrayView blob(key, qsizetype(length));
    const QString fingerprint = sha256Fingerprint(blob);
    if (check->accepts(fingerprint))
        return CURLKHMATCH_OK;
    PeerIdentity identity;
    identity.kind = PeerIdentity::Kind::HostKey;
    identity.host = check->host;
    identity.port = check->port;
    identity.fingerprint = fingerprint;
    if (!check->trusted.isEmpty())
        identity.rememberedFingerprint = check->trusted;
    identity.keyType = blobKeyType(blob, keyType);
    check->rejected = identity;
    return CURLKHMATCH_MISMATCH;
}

Ed25519Preference::~Ed25519Preference()
{
    if (fd_ >= 0)
        ::close(fd_);
}

QByteArray Ed25519Preference::fileFor(const QString &host, int port)
{
    if (fd_ < 0) {
        fd_ = ::memfd_create("webloom-known-hosts", MFD_CLOEXEC);
        if (fd_ < 0)
            return {};
        path_ = "/proc/self/fd/" + QByteArray::number(fd_);
    }
    // libcurl looks the server up by the name in its URL, "[name]:port", and
    // reads only the type of the key; the key blob is a well-formed one of
    // zeros.
    const QByteArray type = "ssh-ed25519";
    QByteArray blob(4, '\0');
    qToBigEndian<quint32>(quint32(type.size()), blob.data());
    blob += type;
    QByteArray size(4, '\0');
    qToBigEndian<quint32>(32, size.data());
    blob += size + QByteArray(32, '\0');
    const QByteArray line =
        '[' + asciiHost(host) + "]:" + QByteArray::number(port) + ' ' + type + ' ' + blob.toBase64() + '\n';
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, line.constData(), size_t(line.size()), 0) != line.size())
        return {};
    return path_;
}

} // namespace webloom
