// SPDX-License-Identifier: GPL-3.0-or-later
#include "controllers/registry_form.h"

#include <QFileInfo>

#include <algorithm>

#include "document/settings.h"

namespace webloom {

namespace {

const QString kNotRegistered = QStringLiteral("接続名とホストの登録を行ってください");
const QString kNotRegisteredShort = QStringLiteral("接続名とホスト等の登録を行ってください");
const QString kReadFailed = QStringLiteral("登録を行ってください");
const QString kWriteDone = QStringLiteral("書込み完了");
const QString kNotSaved = QStringLiteral("接続名保存は、完了していません！");
const QString kNoKeyring = QStringLiteral("キーリングを使えないため、パスワードは登録ファイルに保存します。");

} // namespace

ConnectionRegistry::ConnectionRegistry(RegistryForm &form, HostmeiSetting &hostmei, Prompter &prompter,
                                       PasswordStore *passwords)
    : form_(form), hostmei_(hostmei), prompter_(prompter), passwords_(passwords)
{
    cobftp_.filter = QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ|*.txt|All Files|*.*|");
    cobftp_.fileName = QStringLiteral("hostname.txt");
    cobftp_.defaultExt = QStringLiteral("txt");
}

bool ConnectionRegistry::precondition(const QString &missingMessage)
{
    const QString path = hostmei_.read();
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        prompter_.message(missingMessage);
        return false;
    }
    return true;
}

std::optional<QList<RegisteredConnection>> ConnectionRegistry::readStored()
{
    std::optional<QList<RegisteredConnection>> entries = readRegistryFile(hostmei_.read());
    if (!entries)
        prompter_.message(kReadFailed);
    return entries;
}

std::optional<QList<RegisteredConnection>> ConnectionRegistry::beginRead(const QString &missingMessage)
{
    if (!precondition(missingMessage))
        return std::nullopt;
    clearFields();
    std::optional<QList<RegisteredConnection>> entries = readStored();
    if (entries)
        offerMove(*entries);
    return entries;
}

bool ConnectionRegistry::keyringFor(const QString &path) const
{
    return passwords_ && !settings::readPasswordsStayInFile(path);
}

void ConnectionRegistry::unreachable()
{
    // Once a run: a desktop without a keyring stays without one.
    static bool told = false;
    if (told)
        return;
    told = true;
    prompter_.message(kNoKeyring);
}

void ConnectionRegistry::offerMove(QList<RegisteredConnection> &entries)
{
    const QString path = hostmei_.read();
    const auto withPassword = std::find_if(entries.cbegin(), entries.cend(),
                                           [](const RegisteredConnection &c) { return !c.password.isEmpty(); });
    if (moveOffered_ || withPassword == entries.cend() || !keyringFor(path))
        return;
    moveOffered_ = true;
    // Asked only of a keyring that answers.
    QString unused;
    if (passwords_->read(passwordKey(withPassword->user, withPassword->address), &unused) ==
        PasswordStore::Status::Unreachable) {
        unreachable();
        return;
    }
    if (!prompter_.question(kApplicationTitle,
                            framedQuestion(QStringLiteral("パスワードをキーリングに移しますか？")))) {
        settings::savePasswordsStayInFile(path);
        return;
    }
    QList<RegisteredConnection> moved = entries;
    for (RegisteredConnection &c : moved) {
        if (c.password.isEmpty())
            continue;
        // The file is rewritten only once every password is in the keyring.
        if (passwords_->write(passwordKey(c.user, c.address), c.password) != PasswordStore::Status::Done) {
            unreachable();
            return;
        }
        c.password.clear();
    }
    if (store(path, moved))
        entries = moved;
}

bool ConnectionRegistry::store(const QString &path, const QList<RegisteredConnection> &entries)
{
    // An entry of a file edited by hand may hold what the format cannot carry
    // (a double quote inside an unquoted field, bytes that are no character);
    // writing it back would change it, a password included, without a word.
    for (const RegisteredConnection &c : entries) {
        if (const QString reason = unstorableReason(c); !reason.isEmpty()) {
            prompter_.message(path + QStringLiteral(" の接続名「") + c.name +
                              QStringLiteral("」は、このままでは書き戻せません。\n") + reason + QLatin1Char('\n') +
                              kNotSaved);
            return false;
        }
    }
    QString error;
    if (writeRegistryFile(path, entries, &error))
        return true;
    prompter_.message(kNotSaved + QLatin1Char('\n') + path + QLatin1Char('\n') + error);
    return false;
}

void ConnectionRegistry::clearFields()
{
    form_.comboItems.clear();
    form_.text1.clear();
    form_.text2.clear();
    form_.text3.clear();
}

void ConnectionRegistry::load(const RegisteredConnection &c)
{
    form_.curname = c.name;
    form_.comboText = c.name;
    form_.label9 = c.name;
    form_.text1 = c.address;
    form_.text2 = c.user;
    form_.text3 = c.password;
    if (c.password.isEmpty() && passwords_) {
        // Anonymous unless the keyring holds a password for the account.
        QString password;
        const PasswordStore::Status status = passwords_->read(passwordKey(c.user, c.address), &password);
        if (status == PasswordStore::Status::Done)
            form_.text3 = password;
        else if (status == PasswordStore::Status::Unreachable)
            unreachable();
    }
}

void ConnectionRegistry::fyomiko()
{
    const std::optional<QList<RegisteredConnection>> entries = beginRead(kNotRegistered);
    if (!entries)
        return;
    for (const RegisteredConnection &c : *entries)
        form_.comboItems.append(c.name);
    load(entries->isEmpty() ? RegisteredConnection{} : entries->first());
}

void ConnectionRegistry::henkou(const QString &name)
{
    const std::optional<QList<RegisteredConnection>> entries = beginRead(kNotRegisteredShort);
    if (!entries)
        return;
    for (const RegisteredConnection &c : *entries)
        form_.comboItems.append(c.name);
    if (const std::optional<RegisteredConnection> c = findConnection(*entries, name))
        load(*c);
}

QString ConnectionRegistry::hsttxt()
{
    if (!prompter_.saveFile(cobftp_)) {
        prompter_.message(kNotSaved);
        return {};
    }
    return cobftp_.fileName.size() > 3 ? cobftp_.fileName : QString();
}

void ConnectionRegistry::fkakiko(const QString &path)
{
    const RegisteredConnection current{form_.comboText, form_.text1, form_.text2, form_.text3};
    const QString unstorable = unstorableReason(current);
    if (!unstorable.isEmpty()) {
        prompter_.message(unstorable);
        return;
    }

    QList<RegisteredConnection> entries;
    bool appended = false;
    if (QFileInfo::exists(path)) {
        const std::optional<QList<RegisteredConnection>> stored = readRegistryFile(path);
        if (!stored) {
            // Never rewrite a file we could not read: its entries would be lost.
            prompter_.message(path + QStringLiteral(" の接続名を読み取れません。\n") + kNotSaved);
            return;
        }
        entries = *stored;
        bool found = false;
        for (RegisteredConnection &c : entries) {
            if (c.name == current.name) {
                c = current;
                found = true;
            }
        }
        if (!found) {
            if (entries.size() >= kMaxConnections) {
                prompter_.message(QStringLiteral("接続名は、%1個までしか登録できません。").arg(kMaxConnections));
                return;
            }
            entries.append(current);
            appended = true;
        }
    } else {
        entries.append(current);
    }

    // Into the keyring first: should the file then fail, the password is
    // still somewhere.
    if (!current.password.isEmpty() && keyringFor(path)) {
        if (passwords_->write(passwordKey(current.user, current.address), current.password) ==
            PasswordStore::Status::Done) {
            for (RegisteredConnection &c : entries) {
                if (c.name == current.name)
                    c.password.clear();
            }
        } else {
            unreachable();
        }
    }
    if (!store(path, entries))
        return;
    if (appended) {
        form_.comboItems.append(current.name);
        form_.label9 = current.name;
    }
    prompter_.message(kWriteDone);
}

void ConnectionRegistry::fsakujyo(const QString &name)
{
    const std::optional<QList<RegisteredConnection>> entries = beginRead(kNotRegisteredShort);
    if (!entries)
        return;
    QList<RegisteredConnection> kept;
    QList<RegisteredConnection> removed;
    for (const RegisteredConnection &c : *entries)
        (c.name != name ? kept : removed).append(c);
    const QString path = hostmei_.read();
    if (!store(path, kept))
        return;
    if (passwords_) {
        QStringList keys;
        for (const RegisteredConnection &c : removed)
            keys.append(passwordKey(c.user, c.address));
        // Two names for one account share its password.
        for (const RegisteredConnection &c : kept)
            keys.removeAll(passwordKey(c.user, c.address));
        keys.removeDuplicates();
        for (const QString &key : keys) {
            if (passwords_->remove(key) == PasswordStore::Status::Unreachable)
                unreachable();
        }
    }
    prompter_.message(kWriteDone);
}

void ConnectionRegistry::command2()
{
    QString path = hostmei_.read();
    if (path.isEmpty()) {
        path = hsttxt();
        hostmei_.save(path);
    }
    if (path.isEmpty())
        return;
    const std::pair<const QString *, const char *> checks[] = {
        {&form_.text1, "アドレスを入れてください"},
        {&form_.text2, "ユーザー名を入れてください"},
        {&form_.text3, "パスワードを入れてください"},
        {&form_.comboText, "接続名を入れてください"},
    };
    for (const auto &[field, message] : checks) {
        if (field->isEmpty()) {
            prompter_.message(QString::fromUtf8(message));
            return;
        }
    }
    fkakiko(path);
}

void ConnectionRegistry::command3()
{
    fsakujyo(form_.label9);
    fyomiko();
}

void ConnectionRegistry::command8(bool shiftOnlyHeld)
{
    if (shiftOnlyHeld)
        hostmei_.save(QString());
    const QString path = hsttxt();
    if (!path.isEmpty())
        hostmei_.save(path);
    else
        prompter_.message(QStringLiteral("もう一度ファイルを指定してください"));
}

void ConnectionRegistry::command9()
{
    prompter_.message(QStringLiteral("接続名登録場所=") + hostmei_.read());
}

void ConnectionRegistry::comboEdited(const QString &text)
{
    form_.label9 = text;
}

void ConnectionRegistry::comboChosen(const QString &name)
{
    if (name != form_.curname)
        henkou(name);
}

bool ConnectionRegistry::rememberAddress(const QString &name, const QString &oldAddress, const QString &newAddress)
{
    return rememberRegistryAddress(hostmei_.read(), name, oldAddress, newAddress);
}

} // namespace webloom
