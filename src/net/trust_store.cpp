#include "net/trust_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "document/atomic_file.h"
#include "document/settings.h"

namespace webloom {

namespace {

QByteArray kindName(TrustStore::Kind kind)
{
    return kind == TrustStore::Kind::Certificate ? QByteArrayLiteral("certificate") : QByteArrayLiteral("hostkey");
}

QList<QByteArray> readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A trust file is a few lines; anything much larger is not ours.
    return file.read(1024 * 1024).split('\n');
}

} // namespace

QString TrustStore::defaultPath()
{
    return QFileInfo(settings::storePath()).absolutePath() + QStringLiteral("/webloom/trusted-servers.txt");
}

TrustStore::TrustStore(QString path) : path_(std::move(path))
{
}

QString TrustStore::fingerprint(const QString &hostPort, Kind kind) const
{
    const QByteArray host = hostPort.toUtf8();
    QString found;
    for (const QByteArray &line : readLines(path_)) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() == 3 && fields[0] == host && fields[1] == kindName(kind))
            found = QString::fromLatin1(fields[2]);
    }
    return found;
}

bool TrustStore::remember(const QString &hostPort, Kind kind, const QString &fingerprint, QString *error)
{
    const QByteArray host = hostPort.toUtf8();
    QByteArray bytes;
    for (const QByteArray &line : readLines(path_)) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (line.trimmed().isEmpty() || (fields.size() == 3 && fields[0] == host && fields[1] == kindName(kind)))
            continue;
        bytes += line.trimmed() + '\n';
    }
    bytes += host + ' ' + kindName(kind) + ' ' + fingerprint.toLatin1() + '\n';
    const QString folder = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("%1: cannot make the folder").arg(folder);
        return false;
    }
    return writeFileAtomically(path_, bytes, error, AtomicFile::Options{.sync = true, .mode = 0600});
}

} // namespace webloom
