// SPDX-License-Identifier: GPL-3.0-or-later
#include "photos/copy_cache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "document/atomic_file.h"

namespace webloom::photos {

QString CopyCache::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/webloom/photos");
}

CopyCache::CopyCache(QString folder) : folder_(std::move(folder))
{
}

QString CopyCache::pathFor(const QByteArray &sourceSha256, const Options &options) const
{
    const QByteArray key = QStringLiteral("%1|%2|%3")
                               .arg(webCopyVersion(), QString::fromLatin1(sourceSha256))
                               .arg(options.longestSide)
                               .toUtf8();
    return folder_ + QLatin1Char('/') +
           QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex()) +
           QStringLiteral(".web");
}

std::optional<CachedCopy> CopyCache::find(const QByteArray &sourceSha256, const Options &options) const
{
    const QString path = pathFor(sourceSha256, options);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return std::nullopt;
    return CachedCopy{path, file.size(), hash.result().toHex()};
}

std::optional<CachedCopy> CopyCache::store(const QByteArray &sourceSha256, const Options &options,
                                           const QByteArray &bytes, QString *error) const
{
    const QString path = pathFor(sourceSha256, options);
    if (!QDir().mkpath(folder_)) {
        if (error)
            *error = QStringLiteral("フォルダを作れません：") + folder_;
        return std::nullopt;
    }
    // A copy can always be made again: no need to wait for the disk.
    if (!writeFileAtomically(path, bytes, error, {false, {}}))
        return std::nullopt;
    return CachedCopy{path, bytes.size(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()};
}

} // namespace webloom::photos
