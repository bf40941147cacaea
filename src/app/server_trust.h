// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include "connect/connection_questions.h"
#include "net/transfer.h"

namespace webloom {

// What the command line says about a server's identity and encryption, the
// same for "webloom ftp" and "webloom publish".

// "SHA256:" and 43 characters of base64, as --trust takes it.
bool isFingerprint(const QString &text);

// The usage error of the first value of --trust that is no fingerprint, or
// an empty text when they all are.
QString trustOptionProblem(const QStringList &values);

// The password of a command: WEBLOOM_FTP_PASSWORD when set (then removed
// from the environment), else filePassword, else the keyring's for user
// and address, else (typeIfNone) one line of standard input, else empty.
QString commandPassword(const QString &user, const QString &address, const QString &filePassword, bool typeIfNone,
                        QTextStream &err);

// The command line's answers: an identity not trusted is reported (--trust
// is how to accept one, before the run), a server without TLS is reported,
// or warned about and gone on with when allowPlain.
class CommandLineQuestions : public ConnectionQuestions {
public:
    CommandLineQuestions(QTextStream &err, const char *command, bool allowPlain)
        : err_(err), command_(command), allowPlain_(allowPlain)
    {
    }
    bool trust(const QString &hostPort, const PeerIdentity &identity) override;
    bool goUnencrypted(const QString &hostPort) override;
    void noTls(const QString &hostPort, bool schemeless) override;

    // Some requests went through before (the report then says nothing more
    // was sent).
    bool earlier = false;

private:
    QTextStream &err_;
    const char *command_;
    bool allowPlain_;
};

// One line: whose certificate or host key was refused, its fingerprint, and
// how to accept it.
void reportUntrusted(QTextStream &err, const char *command, const QString &hostPort, const PeerIdentity &identity);

// One line: the server offers no TLS and what follows goes unencrypted.
void warnUnencrypted(QTextStream &err, const char *command, const QString &hostPort);

// One line: the server offers no TLS, so nothing (more, when earlier requests
// went through) was sent, and how to go on unencrypted (ftp:// always,
// --allow-plain where the address has no scheme).
void reportNoTls(QTextStream &err, const char *command, const QString &hostPort, bool offerAllowPlain,
                 bool earlier = false);

// One line: the server took the encrypted log-in but refused encrypted data
// connections; what it said.
void reportTlsDataRefused(QTextStream &err, const char *command, const QString &hostPort, const QString &reply);

// One line: a further connection presented another certificate or host key
// than the one trusted (trusted: the fingerprints that were, when known).
void reportOtherIdentity(QTextStream &err, const char *command, const QString &hostPort, const PeerIdentity &identity,
                         const QStringList &trusted);

} // namespace webloom
