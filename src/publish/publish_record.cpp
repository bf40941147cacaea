// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/publish_record.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <utility>
#include <set>
#include <sys/file.h>
#include <unistd.h>

#include "document/atomic_file.h"
#include "net/address.h"

namespace webloom {

namespace {

const QByteArray kHeader = "# webloom publish record: sha256 size name\n";
// Lines of temporary names: "temporary OWNER NAME". Older versions of the
// program skip them, as they skip every line without a SHA-256 in front.
const QByteArray kTemporary = "temporary";
// Lines of local files as last hashed:
// "stat SHA256 SIZE MTIME-NS CTIME-NS INODE DEVICE PATH". Older versions skip
// them too ("stat" is no SHA-256) and drop them when they save; the files
// are then only read once more.
const QByteArray kStat = "stat";

// One stat line after its word, or nothing when it is not one.
std::optional<std::pair<QString, FileDigest>> statLine(const QByteArray &line)
{
    QList<QByteArray> fields;
    qsizetype at = 0;
    for (int i = 0; i < 6; ++i) {
        const qsizetype space = line.indexOf(' ', at);
        if (space < 0)
            return std::nullopt;
        fields.append(line.mid(at, space - at));
        at = space + 1;
    }
    const QString path = QString::fromUtf8(line.mid(at));
    bool ok[5] = {};
    FileDigest digest{{fields[1].toLongLong(&ok[0]), fields[2].toLongLong(&ok[1]), fields[3].toLongLong(&ok[2]),
                       fields[4].toULongLong(&ok[3]), fields[5].toULongLong(&ok[4])},
                      fields[0],
                      true};
    if (path.isEmpty() || digest.sha256.size() != 64 ||
        !std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }))
        return std::nullopt;
    return std::make_pair(path, digest);
}
// Lines of names whose arrival is not confirmed: "unconfirmed OWNER NAME".
const QByteArray kUnconfirmed = "unconfirmed";

// The start time of a process in clock ticks since boot (field 22 of
// /proc/PID/stat), which tells a process from a later one with its number;
// empty when there is no such process.
QByteArray startTime(const QByteArray &pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = file.readAll();
    // The command name in parentheses may hold blanks.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 19 ? fields.at(19) : QByteArray();
}

QByteArray hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    return QByteArray(name).replace(' ', '_').replace('/', '_');
}

struct Runs {
    std::mutex mutex;
    std::set<QString> alive;
    quint64 next = 0;
};

Runs &runs()
{
    static Runs instance;
    return instance;
}

const QByteArray &ownPrefix()
{
    static const QByteArray prefix =
        hostName() + '/' + QByteArray::number(::getpid()) + '/' + startTime(QByteArray::number(::getpid())) + '/';
    return prefix;
}

void readRecord(const QByteArray &bytes, QHash<QString, PublishRecord::File> &files,
                QHash<QString, QString> &temporaries, KnownDigests &digests, QHash<QString, QString> &unconfirmed)
{
    for (const QByteArray &line : bytes.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith(kStat + ' ')) {
            if (const auto entry = statLine(line.mid(kStat.size() + 1)))
                digests.insert(entry->first, entry->second);
            continue;
        }
        const qsizetype first = line.indexOf(' ');
        const qsizetype second = first < 0 ? -1 : line.indexOf(' ', first + 1);
        if (second < 0)
            continue;
        const QString name = QString::fromUtf8(line.mid(second + 1));
        if (name.isEmpty())
            continue;
        if (line.left(first) == kTemporary || line.left(first) == kUnconfirmed) {
            (line.left(first) == kTemporary ? temporaries : unconfirmed)
                .insert(name, QString::fromUtf8(line.mid(first + 1, second - first - 1)));
            continue;
        }
        bool ok = false;
        PublishRecord::File entry;
        entry.sha256 = line.left(first);
        entry.size = line.mid(first + 1, second - first - 1).toLongLong(&ok);
        if (ok && entry.sha256.size() == 64)
            files.insert(name, entry);
    }
}

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

KnownDigests PublishRecord::knownDigests(const QString &path)
{
    PublishRecord record(path);
    record.load();
    return record.digests();
}

void PublishRecord::load()
{
    files_.clear();
    temporaries_.clear();
    digests_.clear();
    digestsSet_ = false;
    setFiles_.clear();
    addedTemporaries_.clear();
    removedTemporaries_.clear();
    unconfirmed_.clear();
    setUnconfirmed_.clear();
    clearedUnconfirmed_.clear();
    QFile file(path_);
    if (file.open(QIODevice::ReadOnly))
        readRecord(file.readAll(), files_, temporaries_, digests_, unconfirmed_);
}

void PublishRecord::addTemporary(const QString &name, const QString &owner)
{
    temporaries_.insert(name, owner);
    addedTemporaries_.insert(name);
    removedTemporaries_.remove(name);
}

void PublishRecord::removeTemporary(const QString &name)
{
    temporaries_.remove(name);
    addedTemporaries_.remove(name);
    removedTemporaries_.insert(name);
}

void PublishRecord::setUnconfirmed(const QString &name, const QString &owner)
{
    unconfirmed_.insert(name, owner);
    setUnconfirmed_.insert(name);
    clearedUnconfirmed_.remove(name);
}

void PublishRecord::clearUnconfirmed(const QString &name)
{
    unconfirmed_.remove(name);
    setUnconfirmed_.remove(name);
    clearedUnconfirmed_.insert(name);
}

bool PublishRecord::save(bool sync, QString *error)
{
    const QString folder = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = folder;
        return false;
    }
    // Held from reading to writing; it goes with the process however that
    // ends. Without it the record is still written, only perhaps over
    // another publish's last step.
    const int lock =
        ::open(QFile::encodeName(path_ + QStringLiteral(".lock")).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock >= 0)
        ::flock(lock, LOCK_EX);
    QHash<QString, File> files;
    QHash<QString, QString> temporaries;
    KnownDigests digests;
    QHash<QString, QString> unconfirmed;
    QFile current(path_);
    if (current.open(QIODevice::ReadOnly))
        readRecord(current.readAll(), files, temporaries, digests, unconfirmed);
    if (digestsSet_)
        digests = digests_;
    current.close();
    for (const QString &name : setFiles_)
        files.insert(name, files_.value(name));
    for (const QString &name : addedTemporaries_)
        temporaries.insert(name, temporaries_.value(name));
    for (const QString &name : removedTemporaries_)
        temporaries.remove(name);
    for (const QString &name : setUnconfirmed_)
        unconfirmed.insert(name, unconfirmed_.value(name));
    for (const QString &name : clearedUnconfirmed_)
        unconfirmed.remove(name);

    QStringList names = files.keys();
    std::sort(names.begin(), names.end());
    QByteArray bytes = kHeader;
    for (const QString &name : names) {
        const File &entry = files.value(name);
        bytes += entry.sha256 + ' ' + QByteArray::number(entry.size) + ' ' + name.toUtf8() + '\n';
    }
    names = temporaries.keys();
    std::sort(names.begin(), names.end());
    for (const QString &name : names)
        bytes += kTemporary + ' ' + temporaries.value(name).toUtf8() + ' ' + name.toUtf8() + '\n';
    QStringList paths = digests.keys();
    std::sort(paths.begin(), paths.end());
    for (const QString &path : paths) {
        const FileDigest &digest = digests.value(path);
        const FileStamp &stamp = digest.stamp;
        // A line break would end the line inside the path.
        if (!digest.reusable || path.contains(QLatin1Char('\n')))
            continue;
        bytes += kStat + ' ' + digest.sha256 + ' ' + QByteArray::number(stamp.size) + ' ' +
                 QByteArray::number(stamp.mtimeNs) + ' ' + QByteArray::number(stamp.ctimeNs) + ' ' +
                 QByteArray::number(stamp.inode) + ' ' + QByteArray::number(stamp.device) + ' ' + path.toUtf8() + '\n';
    }
    names = unconfirmed.keys();
    std::sort(names.begin(), names.end());
    for (const QString &name : names)
        bytes += kUnconfirmed + ' ' + unconfirmed.value(name).toUtf8() + ' ' + name.toUtf8() + '\n';
    const bool ok = writeFileAtomically(path_, bytes, error, AtomicFile::Options{.sync = sync, .mode = 0600});
    if (lock >= 0)
        ::close(lock);
    if (ok) {
        files_ = files;
        temporaries_ = temporaries;
        digests_ = digests;
        digestsSet_ = false;
        unconfirmed_ = unconfirmed;
        setFiles_.clear();
        addedTemporaries_.clear();
        removedTemporaries_.clear();
        setUnconfirmed_.clear();
        clearedUnconfirmed_.clear();
    }
    return ok;
}

PublishRun::PublishRun()
{
    Runs &all = runs();
    const std::lock_guard<std::mutex> guard(all.mutex);
    owner_ = QString::fromUtf8(ownPrefix() + QByteArray::number(++all.next));
    all.alive.insert(owner_);
}

PublishRun::~PublishRun()
{
    Runs &all = runs();
    const std::lock_guard<std::mutex> guard(all.mutex);
    all.alive.erase(owner_);
}

bool PublishRun::running(const QString &owner)
{
    const QList<QByteArray> parts = owner.toUtf8().split('/');
    if (parts.size() != 4 || parts.at(0) != hostName())
        return true;
    if (owner.toUtf8().startsWith(ownPrefix())) {
        Runs &all = runs();
        const std::lock_guard<std::mutex> guard(all.mutex);
        return all.alive.count(owner) > 0;
    }
    bool number = false;
    parts.at(1).toUInt(&number);
    if (!number)
        return true;
    const QByteArray started = startTime(parts.at(1));
    return !started.isEmpty() && started == parts.at(2);
}

} // namespace webloom
