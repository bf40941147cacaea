// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/address.h"

#include <QUrl>

#include <algorithm>

namespace webloom {

namespace {

struct SchemeName {
    const char *prefix;
    ServerAddress::Scheme scheme;
};

constexpr SchemeName kSchemes[] = {
    {"ftp://", ServerAddress::Scheme::Ftp},
    {"ftpes://", ServerAddress::Scheme::Ftpes},
    {"ftps://", ServerAddress::Scheme::Ftps},
    {"sftp://", ServerAddress::Scheme::Sftp},
};

bool allDigits(const QString &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(),
                                          [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

} // namespace

int ServerAddress::defaultPort(Scheme scheme)
{
    switch (scheme) {
    case Scheme::Ftps:
        return 990;
    case Scheme::Sftp:
        return 22;
    default:
        return 21;
    }
}

QString ServerAddress::schemePrefix(Scheme scheme)
{
    for (const SchemeName &name : kSchemes) {
        if (name.scheme == scheme)
            return QString::fromLatin1(name.prefix);
    }
    return {};
}

std::optional<ServerAddress> ServerAddress::parse(const QString &field)
{
    ServerAddress address;
    QString text = field.trimmed();
    for (const SchemeName &name : kSchemes) {
        const QLatin1String prefix(name.prefix);
        if (text.startsWith(prefix, Qt::CaseInsensitive)) {
            address.scheme = name.scheme;
            text = text.mid(prefix.size());
            break;
        }
    }
    if (text.contains(QLatin1String("://")))
        return std::nullopt; // a scheme we do not speak
    if (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    QString portText;
    bool portGiven = false;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return std::nullopt;
        portGiven = !rest.isEmpty();
        portText = rest.mid(1);
        text = text.mid(1, close - 1);
    } else if (text.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        portGiven = true;
        portText = text.mid(colon + 1);
        text.truncate(colon);
    }
    address.port = defaultPort(address.scheme);
    if (portGiven) {
        const int port = allDigits(portText) && portText.size() <= 5 ? portText.toInt() : 0;
        if (port < 1 || port > 65535)
            return std::nullopt;
        address.port = port;
        address.portGiven = true;
    }
    if (text.isEmpty() || text.contains(QLatin1Char('/')) || text.contains(QLatin1Char('@')))
        return std::nullopt;
    // QUrl knows which host names and addresses are well formed.
    QUrl url;
    url.setScheme(QStringLiteral("ftp"));
    url.setHost(text);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    address.host = url.host(QUrl::FullyDecoded);
    return address;
}

QString ServerAddress::hostPort() const
{
    const QString shown = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shown + QLatin1Char(':') + QString::number(port);
}

QByteArray ServerAddress::urlBase() const
{
    QUrl url;
    switch (scheme) {
    case Scheme::Ftps:
        url.setScheme(QStringLiteral("ftps"));
        break;
    case Scheme::Sftp:
        url.setScheme(QStringLiteral("sftp"));
        break;
    default:
        url.setScheme(QStringLiteral("ftp"));
        break;
    }
    url.setHost(host);
    url.setPort(port);
    return url.toEncoded();
}

QString ServerAddress::withScheme(Scheme newScheme) const
{
    QString text = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    if (portGiven)
        text += QLatin1Char(':') + QString::number(port);
    return schemePrefix(newScheme) + text;
}

} // namespace webloom
