#pragma once

#include <QString>
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

} // namespace webloom
