#include "upload/publish_record.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>

#include "document/atomic_file.h"
#include "upload/address.h"

namespace webloom {

namespace {

const QByteArray kHeader = "# webloom publish record: sha256 size name\n";

QString normalFolder(const QString &remoteFolder)
{
    QStringList parts;
    for (const QString &part : remoteFolder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part != QLatin1String("."))
            parts.append(part);
    }
    return (remoteFolder.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString()) + parts.join(QLatin1Char('/'));
}

} // namespace

QString PublishRecord::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/webloom/published");
}

QString PublishRecord::pathFor(const Transfer::Connection &connection, const QString &remoteFolder,
                               const QString &folder)
{
    const std::optional<ServerAddress> address = ServerAddress::parse(connection.address);
    const QString server = address ? address->hostPort() : connection.address;
    const QByteArray key =
        (server + QLatin1Char('\n') + connection.user + QLatin1Char('\n') + normalFolder(remoteFolder)).toUtf8();
    return folder + QLatin1Char('/') +
           QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32)) +
           QStringLiteral(".txt");
}

PublishRecord::PublishRecord(QString path) : path_(std::move(path))
{
}

void PublishRecord::load()
{
    files_.clear();
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype first = line.indexOf(' ');
        const qsizetype second = first < 0 ? -1 : line.indexOf(' ', first + 1);
        if (second < 0)
            continue;
        bool ok = false;
        File entry;
        entry.sha256 = line.left(first);
        entry.size = line.mid(first + 1, second - first - 1).toLongLong(&ok);
        const QString name = QString::fromUtf8(line.mid(second + 1));
        if (ok && entry.sha256.size() == 64 && !name.isEmpty())
            files_.insert(name, entry);
    }
}

bool PublishRecord::save(bool sync, QString *error) const
{
    QStringList names = files_.keys();
    std::sort(names.begin(), names.end());
    QByteArray bytes = kHeader;
    for (const QString &name : names) {
        const File &entry = files_.value(name);
        bytes += entry.sha256 + ' ' + QByteArray::number(entry.size) + ' ' + name.toUtf8() + '\n';
    }
    if (!QDir().mkpath(QFileInfo(path_).absolutePath())) {
        if (error)
            *error = QFileInfo(path_).absolutePath();
        return false;
    }
    return writeFileAtomically(path_, bytes, error, AtomicFile::Options{.sync = sync, .mode = 0600});
}

} // namespace webloom
