// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <chrono>

namespace webloom {

// Where the passwords of registered connections live when they are not in
// the registry file: the desktop keyring. Every call answers before it
// returns; a keyring that cannot be reached, refuses or does not answer in
// time reads as Unreachable, and the caller keeps the password in the file.
class PasswordStore {
public:
    enum class Status { Done, NotFound, Unreachable };

    virtual ~PasswordStore() = default;
    virtual Status read(const QString &key, QString *password) = 0;
    virtual Status write(const QString &key, const QString &password) = 0;
    // NotFound when there was nothing to remove.
    virtual Status remove(const QString &key) = 0;
};

// The key of a connection's password: "user@host:port", the port the
// address's scheme implies when none is given ("ftp.example.jp" and
// "ftp://ftp.example.jp:21" share one password, "sftp://ftp.example.jp" is
// another). An address that does not parse is taken as typed.
QString passwordKey(const QString &user, const QString &address);

// The desktop keyring through the Secret Service, service "webloom". Each
// call runs the keyring's answer in a local event loop (user input held
// back) for at most bound. A keyring that has not answered by then is given
// up for the rest of the process: its requests run one after another, so
// every later one would wait behind the one that hangs.
class SecretServiceStore : public PasswordStore {
public:
    explicit SecretServiceStore(std::chrono::milliseconds bound = std::chrono::seconds(3));
    Status read(const QString &key, QString *password) override;
    Status write(const QString &key, const QString &password) override;
    Status remove(const QString &key) override;

private:
    std::chrono::milliseconds bound_;
};

namespace keyring {

// The store the windows and commands use unless told otherwise: the desktop
// keyring, or what useStore set. nullptr means no keyring at all: every
// password stays in the registry file, and nothing is said about it.
PasswordStore *userStore();
// Replaces the user's store for the rest of the process (tests).
void useStore(PasswordStore *store);

// The password of a registered connection: the file's when it holds one,
// else the keyring's for that user and address, else empty (anonymous).
QString passwordOf(PasswordStore *store, const QString &user, const QString &address, const QString &filePassword);

} // namespace keyring

} // namespace webloom
