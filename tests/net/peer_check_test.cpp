// SPDX-License-Identifier: GPL-3.0-or-later
// The certificate check on its own, with certificates made by openssl and
// signed by an authority the test makes: which host names they name.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include "net/peer_check.h"
#include "net/secure_servers.h"

namespace webloom {
namespace {

// An EC key pair and a certificate for it, self-signed or signed by the
// authority "<authority>.pem" and ".key"; the certificate, read back.
X509 *makeCertificate(const QString &folder, const QString &name, const QString &extension,
                      const QString &authority = {})
{
    const QString base = QDir(folder).filePath(name);
    QStringList arguments = QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2")
                                .split(QLatin1Char(' '));
    arguments << QStringLiteral("-keyout") << base + QStringLiteral(".key") << QStringLiteral("-out")
              << base + QStringLiteral(".pem") << QStringLiteral("-subj") << QStringLiteral("/CN=") + name
              << QStringLiteral("-addext") << extension;
    if (!authority.isEmpty())
        arguments << QStringLiteral("-CA") << QDir(folder).filePath(authority + QStringLiteral(".pem"))
                  << QStringLiteral("-CAkey") << QDir(folder).filePath(authority + QStringLiteral(".key"));
    test::runTool(QStringLiteral("openssl"), arguments);
    BIO *bio = BIO_new_file(QFile::encodeName(base + QStringLiteral(".pem")).constData(), "r");
    X509 *certificate = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    return certificate;
}

TEST(PeerCheckTest, HostNamesAreMatchedInAsciiFormAndPartialWildcardsNameNoHost)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    X509 *authority = makeCertificate(folder.path(), QStringLiteral("authority"),
                                      QStringLiteral("basicConstraints=critical,CA:TRUE"));
    X509 *international =
        makeCertificate(folder.path(), QStringLiteral("international"),
                        QStringLiteral("subjectAltName=DNS:xn--bcher-kva.example.test"), QStringLiteral("authority"));
    X509 *wildcards = makeCertificate(folder.path(), QStringLiteral("wildcards"),
                                      QStringLiteral("subjectAltName=DNS:f*.example.test,DNS:*.full.example.test"),
                                      QStringLiteral("authority"));
    ASSERT_TRUE(authority && international && wildcards);
    X509_STORE *store = X509_STORE_new();
    X509_STORE_add_cert(store, authority);

    struct Case {
        X509 *certificate;
        QString host;
        bool accepted;
    };
    const Case cases[] = {
        // Typed in Unicode or in the ASCII form the certificate holds.
        {international, QStringLiteral("bücher.example.test"), true},
        {international, QStringLiteral("xn--bcher-kva.example.test"), true},
        {international, QStringLiteral("bucher.example.test"), false},
        // "f*" names no host; a whole label "*" still does.
        {wildcards, QStringLiteral("foo.example.test"), false},
        {wildcards, QStringLiteral("f.example.test"), false},
        {wildcards, QStringLiteral("www.full.example.test"), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host.toStdString());
        X509_STORE_CTX *context = X509_STORE_CTX_new();
        ASSERT_EQ(X509_STORE_CTX_init(context, store, c.certificate, nullptr), 1);
        PeerCheck check;
        check.host = c.host;
        check.port = 990;
        EXPECT_EQ(PeerCheck::verifyCertificate(context, &check), c.accepted ? 1 : 0);
        EXPECT_EQ(check.rejected.has_value(), !c.accepted);
        if (check.rejected) {
            EXPECT_EQ(check.rejected->reason, QStringLiteral("証明書の名前がサーバーのアドレスと一致しません"));
            EXPECT_EQ(check.rejected->host, c.host);
        }
        X509_STORE_CTX_free(context);
    }
    X509_STORE_free(store);
    X509_free(authority);
    X509_free(international);
    X509_free(wildcards);
}

} // namespace
} // namespace webloom
