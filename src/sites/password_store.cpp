// SPDX-License-Identifier: GPL-3.0-or-later
#include "sites/password_store.h"

#include <QEventLoop>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <atomic>
#include <memory>

#include "net/address.h"

namespace webloom {

QString passwordKey(const QString &user, const QString &address)
{
    std::optional<ServerAddress> parsed = ServerAddress::parse(address);
    if (!parsed)
        return user + QLatin1Char('@') + address.trimmed();
    parsed->host = parsed->host.toLower();
    return user + QLatin1Char('@') + parsed->hostPort();
}

namespace {

const QString kService = QStringLiteral("webloom");

// Set once a request went unanswered; see SecretServiceStore.
std::atomic<bool> &givenUp()
{
    static std::atomic<bool> flag{false};
    return flag;
}

// Runs job (which deletes itself once it finishes) and waits at most bound
// for it. The job is never deleted here: the keyring may still answer it
// after the wait, and then it goes by itself.
PasswordStore::Status run(QKeychain::Job *job, std::chrono::milliseconds bound, QString *password = nullptr)
{
    if (givenUp()) {
        delete job; // never started, so the keyring knows nothing of it
        return PasswordStore::Status::Unreachable;
    }
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    QEventLoop loop;
    bool answered = false;
    QKeychain::Error error = QKeychain::OtherError;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job *finished) {
        answered = true;
        error = finished->error();
        if (password && error == QKeychain::NoError)
            *password = static_cast<QKeychain::ReadPasswordJob *>(finished)->textData();
        loop.quit();
    });
    QTimer::singleShot(bound, &loop, &QEventLoop::quit);
    job->start();
    if (!answered)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!answered) {
        givenUp() = true;
        return PasswordStore::Status::Unreachable;
    }
    switch (error) {
    case QKeychain::NoError:
        return PasswordStore::Status::Done;
    case QKeychain::EntryNotFound:
        return PasswordStore::Status::NotFound;
    default:
        // No backend, no session bus, a locked keyring whose unlocking was
        // refused: the file keeps the password.
        return PasswordStore::Status::Unreachable;
    }
}

} // namespace

SecretServiceStore::SecretServiceStore(std::chrono::milliseconds bound) : bound_(bound)
{
}

PasswordStore::Status SecretServiceStore::read(const QString &key, QString *password)
{
    auto *job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(key);
    return run(job, bound_, password);
}

PasswordStore::Status SecretServiceStore::write(const QString &key, const QString &password)
{
    auto *job = new QKeychain::WritePasswordJob(kService);
    job->setKey(key);
    job->setTextData(password);
    return run(job, bound_);
}

PasswordStore::Status SecretServiceStore::remove(const QString &key)
{
    auto *job = new QKeychain::DeletePasswordJob(kService);
    job->setKey(key);
    return run(job, bound_);
}

namespace keyring {

namespace {

PasswordStore *&current()
{
    static SecretServiceStore desktop;
    static PasswordStore *store = &desktop;
    return store;
}

} // namespace

PasswordStore *userStore()
{
    return current();
}

void useStore(PasswordStore *store)
{
    current() = store;
}

QString passwordOf(PasswordStore *store, const QString &user, const QString &address, const QString &filePassword)
{
    if (!filePassword.isEmpty() || !store)
        return filePassword;
    QString password;
    if (store->read(passwordKey(user, address), &password) == PasswordStore::Status::Done)
        return password;
    return {};
}

} // namespace keyring

} // namespace webloom
