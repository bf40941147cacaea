// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/trust_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

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

TrustStore::TrustStore(QString path, QStringList acceptedOnce)
    : path_(std::move(path)), acceptedOnce_(std::move(acceptedOnce))
{
}

const QList<QByteArray> &TrustStore::lines() const
{
    struct stat st {};
    QByteArray identity = "none";
    if (::stat(QFile::encodeName(path_).constData(), &st) == 0)
        identity = QByteArray::number(quint64(st.st_dev)) + ' ' + QByteArray::number(quint64(st.st_ino)) + ' ' +
                   QByteArray::number(qint64(st.st_size)) + ' ' + QByteArray::number(qint64(st.st_ctim.tv_sec)) + '.' +
                   QByteArray::number(qint64(st.st_ctim.tv_nsec)) + ' ' +
                   QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' + QByteArray::number(qint64(st.st_mtim.tv_nsec));
    if (identity != readFrom_ || identity == "none") {
        lines_ = readLines(path_);
        readFrom_ = identity;
    }
    return lines_;
}

QString TrustStore::fingerprint(const QString &hostPort, Kind kind) const
{
    const QByteArray host = hostPort.toUtf8();
    QString found;
    for (const QByteArray &line : lines()) {
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
