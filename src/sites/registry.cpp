// SPDX-License-Identifier: GPL-3.0-or-later
#include "sites/registry.h"

#include <QFile>

#include "document/atomic_file.h"
#include "document/cp932.h"

namespace webloom {

namespace {

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

std::optional<QList<RegisteredConnection>> parseRegistry(const QByteArray &bytes)
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
    QList<RegisteredConnection> entries;
    for (qsizetype i = 0; i < fields.size(); i += 4)
        entries.append({fields.at(i), fields.at(i + 1), fields.at(i + 2), fields.at(i + 3)});
    return entries;
}

std::optional<QList<RegisteredConnection>> readRegistryFile(const QString &path)
{
    QFile file(path);
    // A registry is a few hundred bytes; anything far larger is not one.
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > 1024 * 1024)
        return std::nullopt;
    return parseRegistry(file.readAll());
}

std::optional<RegisteredConnection> findConnection(const QList<RegisteredConnection> &entries, const QString &name)
{
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        if (it->name == name)
            return *it;
    }
    return std::nullopt;
}

Transfer::Connection RegisteredConnection::toTransfer(PasswordStore *store) const
{
    return toTransfer(keyring::passwordOf(store, user, address, password));
}

QByteArray registryBytes(const QList<RegisteredConnection> &entries)
{
    QByteArray out;
    for (const RegisteredConnection &c : entries) {
        const QString line = quoted(c.name) + QLatin1Char(',') + quoted(c.address) + QLatin1Char(',') + quoted(c.user) +
                             QLatin1Char(',') + quoted(c.password);
        out += cp932::encode(line, cp932::Unmappable::QuestionMark);
        out += "\r\n";
    }
    return out;
}

QString unstorableReason(const RegisteredConnection &c)
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

bool writeRegistryFile(const QString &path, const QList<RegisteredConnection> &entries, QString *error)
{
    // The permissions are set on the temporary file before any byte is
    // written, so the passwords are never readable by others.
    return writeFileAtomically(path, registryBytes(entries), error, AtomicFile::Options{.sync = true, .mode = 0600});
}

bool rememberRegistryAddress(const QString &path, const QString &name, const QString &oldAddress,
                             const QString &newAddress)
{
    std::optional<QList<RegisteredConnection>> entries = readRegistryFile(path);
    if (!entries)
        return false;
    bool changed = false;
    for (RegisteredConnection &c : *entries) {
        if (c.name == name && c.address == oldAddress) {
            c.address = newAddress;
            changed = true;
        }
    }
    QString error;
    return changed && writeRegistryFile(path, *entries, &error);
}

} // namespace webloom
