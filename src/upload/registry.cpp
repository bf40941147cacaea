#include "upload/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include "document/atomic_file.h"
#include "document/cp932.h"
#include "document/settings.h"

namespace webloom {

namespace {

const QString kNotRegistered = QStringLiteral("接続名とホストの登録を行ってください");
const QString kNotRegisteredShort = QStringLiteral("接続名とホスト等の登録を行ってください");
const QString kReadFailed = QStringLiteral("登録を行ってください");
const QString kWriteDone = QStringLiteral("書込み完了");
const QString kNotSaved = QStringLiteral("接続名保存は、完了していません！");
const QString kNoKeyring = QStringLiteral("キーリングを使えないため、パスワードは登録ファイルに保存します。");

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}
bool isLineEnd(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

// Consumes one line end (CR LF, LF or CR) at pos, if there is one.
void skipLineEnd(const QString &text, qsizetype &pos)
{
    if (pos < text.size() && text.at(pos) == QLatin1Char('\r'))
        ++pos;
    if (pos < text.size() && text.at(pos) == QLatin1Char('\n'))
        ++pos;
}

QString quoted(const QString &field)
{
    return QLatin1Char('"') + field + QLatin1Char('"');
}

} // namespace

std::optional<QList<Connection>> parseRegistry(const QByteArray &bytes)
{
    const QString text = cp932::decode(bytes);
    QStringList fields;
    qsizetype pos = 0;
    const qsizetype n = text.size();
    while (true) {
        // Blank lines between entries carry no field.
        if (fields.size() % 4 == 0) {
            while (pos < n && (isBlank(text.at(pos)) || isLineEnd(text.at(pos))))
                ++pos;
        } else {
            while (pos < n && isBlank(text.at(pos)))
                ++pos;
        }
        if (pos >= n)
            break;
        QString field;
        if (text.at(pos) == QLatin1Char('"')) {
            const qsizetype close = text.indexOf(QLatin1Char('"'), pos + 1);
            if (close < 0)
                return std::nullopt; // an unterminated quote: the entry is cut short
            field = text.mid(pos + 1, close - pos - 1);
            pos = close + 1;
            // Anything up to the separator after the closing quote is dropped.
            while (pos < n && text.at(pos) != QLatin1Char(',') && !isLineEnd(text.at(pos)))
                ++pos;
        } else {
            const qsizetype start = pos;
            while (pos < n && text.at(pos) != QLatin1Char(',') && !isLineEnd(text.at(pos)))
                ++pos;
            field = text.mid(start, pos - start).trimmed();
        }
        if (pos < n && text.at(pos) == QLatin1Char(','))
            ++pos;
        else
            skipLineEnd(text, pos);
        fields.append(field);
        if (fields.size() > 4 * kMaxConnections)
            return std::nullopt;
    }
    if (fields.size() % 4 != 0)
        return std::nullopt;
    QList<Connection> entries;
    for (qsizetype i = 0; i < fields.size(); i += 4)
        entries.append({fields.at(i), fields.at(i + 1), fields.at(i + 2), fields.at(i + 3)});
    return entries;
}

QByteArray registryBytes(const QList<Connection> &entries)
{
    QByteArray out;
    for (const Connection &c : entries) {
        const QString line = quoted(c.name) + QLatin1Char(',') + quoted(c.address) + QLatin1Char(',') + quoted(c.user) +
                             QLatin1Char(',') + quoted(c.password);
        out += cp932::encode(line, cp932::Unmappable::QuestionMark);
        out += "\r\n";
    }
    return out;
}

QString unstorableReason(const Connection &c)
{
    for (const QString *field : {&c.name, &c.address, &c.user, &c.password}) {
        if (field->contains(QLatin1Char('"')))
            return QStringLiteral("接続名・アドレス・ユーザー名・パスワードには、\" を使えません。");
        if (field->contains(QLatin1Char('\r')) || field->contains(QLatin1Char('\n')))
            return QStringLiteral("接続名・アドレス・ユーザー名・パスワードには、改行を使えません。");
        if (cp932::decode(cp932::encode(*field, cp932::Unmappable::QuestionMark)) != *field)
            return QStringLiteral("接続名・アドレス・ユーザー名・パスワードに、保存できない文字があります。");
    }
    return {};
}

bool writeRegistryFile(const QString &path, const QList<Connection> &entries, QString *error)
{
    // The permissions are set on the temporary file before any byte is
    // written, so the passwords are never readable by others.
    return writeFileAtomically(path, registryBytes(entries), error, AtomicFile::Options{.sync = true, .mode = 0600});
}

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

std::optional<QList<Connection>> ConnectionRegistry::readStored()
{
    QFile file(hostmei_.read());
    std::optional<QList<Connection>> entries;
    // A registry is a few hundred bytes; anything far larger is not one.
    if (file.open(QIODevice::ReadOnly) && file.size() <= 1024 * 1024)
        entries = parseRegistry(file.readAll());
    if (!entries)
        prompter_.message(kReadFailed);
    return entries;
}

std::optional<QList<Connection>> ConnectionRegistry::beginRead(const QString &missingMessage)
{
    if (!precondition(missingMessage))
        return std::nullopt;
    clearFields();
    std::optional<QList<Connection>> entries = readStored();
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

void ConnectionRegistry::offerMove(QList<Connection> &entries)
{
    const QString path = hostmei_.read();
    const auto withPassword =
        std::find_if(entries.cbegin(), entries.cend(), [](const Connection &c) { return !c.password.isEmpty(); });
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
    QList<Connection> moved = entries;
    for (Connection &c : moved) {
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

bool ConnectionRegistry::store(const QString &path, const QList<Connection> &entries)
{
    // An entry of a file edited by hand may hold what the format cannot carry
    // (a double quote inside an unquoted field, bytes that are no character);
    // writing it back would change it, a password included, without a word.
    for (const Connection &c : entries) {
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

void ConnectionRegistry::load(const Connection &c)
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
    const std::optional<QList<Connection>> entries = beginRead(kNotRegistered);
    if (!entries)
        return;
    for (const Connection &c : *entries)
        form_.comboItems.append(c.name);
    load(entries->isEmpty() ? Connection{} : entries->first());
}

void ConnectionRegistry::henkou(const QString &name)
{
    const std::optional<QList<Connection>> entries = beginRead(kNotRegisteredShort);
    if (!entries)
        return;
    for (const Connection &c : *entries) {
        form_.comboItems.append(c.name);
        if (c.name == name)
            load(c);
    }
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
    const Connection current{form_.comboText, form_.text1, form_.text2, form_.text3};
    const QString unstorable = unstorableReason(current);
    if (!unstorable.isEmpty()) {
        prompter_.message(unstorable);
        return;
    }

    QList<Connection> entries;
    bool appended = false;
    if (QFileInfo::exists(path)) {
        QFile file(path);
        std::optional<QList<Connection>> stored;
        if (file.open(QIODevice::ReadOnly) && file.size() <= 1024 * 1024)
            stored = parseRegistry(file.readAll());
        if (!stored) {
            // Never rewrite a file we could not read: its entries would be lost.
            prompter_.message(path + QStringLiteral(" の接続名を読み取れません。\n") + kNotSaved);
            return;
        }
        entries = *stored;
        bool found = false;
        for (Connection &c : entries) {
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
            for (Connection &c : entries) {
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
    const std::optional<QList<Connection>> entries = beginRead(kNotRegisteredShort);
    if (!entries)
        return;
    QList<Connection> kept;
    QList<Connection> removed;
    for (const Connection &c : *entries)
        (c.name != name ? kept : removed).append(c);
    const QString path = hostmei_.read();
    if (!store(path, kept))
        return;
    if (passwords_) {
        QStringList keys;
        for (const Connection &c : removed)
            keys.append(passwordKey(c.user, c.address));
        // Two names for one account share its password.
        for (const Connection &c : kept)
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

bool rememberRegistryAddress(const QString &path, const QString &name, const QString &oldAddress,
                             const QString &newAddress)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > 1024 * 1024)
        return false;
    std::optional<QList<Connection>> entries = parseRegistry(file.readAll());
    file.close();
    if (!entries)
        return false;
    bool changed = false;
    for (Connection &c : *entries) {
        if (c.name == name && c.address == oldAddress) {
            c.address = newAddress;
            changed = true;
        }
    }
    QString error;
    return changed && writeRegistryFile(path, *entries, &error);
}

} // namespace webloom
