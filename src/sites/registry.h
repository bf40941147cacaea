// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "sites/password_store.h"
#include "net/transfer.h"

namespace webloom {

// One named connection of the registry file, as registered: the password
// field is empty when the keyring holds the password (or for anonymous).
struct RegisteredConnection {
    QString name;
    QString address;
    QString user;
    QString password;
    bool operator==(const RegisteredConnection &) const = default;

    // The engine's connection with this password.
    Transfer::Connection toTransfer(const QString &withPassword) const { return {address, user, withPassword}; }
    // The engine's connection with the file's password, else the keyring's
    // (store may be nullptr: no keyring).
    Transfer::Connection toTransfer(PasswordStore *store) const;
};

// The registry file holds at most this many connections.
inline constexpr int kMaxConnections = 11;

// Reads the registry format: four fields per entry, a quoted field running to
// the next double quote, an unquoted one to the next comma or line end (and
// trimmed of blanks). nullopt when an entry is cut short or there are more
// than kMaxConnections entries.
std::optional<QList<RegisteredConnection>> parseRegistry(const QByteArray &bytes);

// The registry file at path, read and parsed; nullopt when it cannot be
// read, is far larger than any registry (over 1 MiB) or does not parse.
std::optional<QList<RegisteredConnection>> readRegistryFile(const QString &path);

// The entry of that name; the last one when the file holds several, as the
// registry says the last entry of a name counts.
std::optional<RegisteredConnection> findConnection(const QList<RegisteredConnection> &entries, const QString &name);

// One line per connection: "name","address","user","password" CR LF, in code
// page 932.
QByteArray registryBytes(const QList<RegisteredConnection> &entries);

// Why a connection cannot be stored as typed, or an empty text when it can: the
// format has no escape for a double quote or a line break, and a character
// without a code page 932 form would come back as "?" (a lost password). The
// commands write no file while any of its entries is refused here.
QString unstorableReason(const RegisteredConnection &c);

// Writes the registry file atomically (a failure leaves the old file whole),
// readable and writable by its owner only, since it holds passwords.
bool writeRegistryFile(const QString &path, const QList<RegisteredConnection> &entries, QString *error);

// Gives the entries of that name and address in the registry file at path
// the new address, without a word; false when the file could not be read or
// written, or holds no such entry.
bool rememberRegistryAddress(const QString &path, const QString &name, const QString &oldAddress,
                             const QString &newAddress);

} // namespace webloom
