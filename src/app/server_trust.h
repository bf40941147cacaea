#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include "upload/transfer.h"

namespace webloom {

// What the command line says about a server's identity and encryption, the
// same for "webloom ftp" and "webloom publish".

// "SHA256:" and 43 characters of base64, as --trust takes it.
bool isFingerprint(const QString &text);

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
