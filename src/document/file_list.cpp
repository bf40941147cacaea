// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/file_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <ctime>
#include <optional>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace webloom {

namespace {

// A name with its ASCII lower-case form when it is all ASCII: for two such
// names the case-insensitive order is that of the forms, without folding
// each character again at every comparison.
struct SortKey {
    QString name;
    QByteArray lower; // empty unless the name is ASCII
    bool ascii = false;
};

bool before(const SortKey &a, const SortKey &b)
{
    if (a.ascii && b.ascii) {
        const int c = a.lower.compare(b.lower);
        return c != 0 ? c < 0 : a.name < b.name;
    }
    const int c = a.name.compare(b.name, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a.name < b.name;
}

// Case-insensitively, ties in code-point order.
QStringList sortedByName(QStringList names)
{
    std::vector<SortKey> keys;
    keys.reserve(size_t(names.size()));
    for (QString &name : names) {
        SortKey key{std::move(name), {}, true};
        for (QChar c : key.name) {
            if (c.unicode() >= 0x80) {
                key.ascii = false;
                break;
            }
        }
        if (key.ascii)
            key.lower = key.name.toLatin1().toLower();
        keys.push_back(std::move(key));
    }
    std::sort(keys.begin(), keys.end(), before);
    QStringList sorted;
    sorted.reserve(qsizetype(keys.size()));
    for (SortKey &key : keys)
        sorted.append(std::move(key.name));
    return sorted;
}

std::optional<FileList::Stamp> stampOf(const QByteArray &path)
{
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return std::nullopt;
    return FileList::Stamp{qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                           qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec, quint64(st.st_ino),
                           quint64(st.st_dev)};
}

qint64 nowNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

bool FileList::read(const QString &folder, QStringList *names)
{
    Stamp stamp;
    bool reusable = false;
    return read(folder, names, &stamp, &reusable);
}

bool FileList::read(const QString &folder, QStringList *names, Stamp *stamp, bool *reusable)
{
    *reusable = false;
    if (folder.isEmpty())
        return false;
    QDir dir(folder);
    if (!dir.exists() || !QFileInfo(dir.absolutePath()).isReadable())
        return false;
    // The folder's own entry types spare a stat per file (a photo folder
    // may hold tens of thousands); links and unknown types are followed.
    // Any change to the folder's entries after this moment gives it a change
    // time of at least now less one tick of the kernel's coarse clock; a
    // stamp older than that is told from every later one. Seconds-only
    // times (some file systems) need a wider margin.
    const QByteArray path = QFile::encodeName(dir.absolutePath());
    const std::optional<Stamp> before = stampOf(path);
    const qint64 startedNs = nowNs();
    bool followed = false;
    QStringList found;
    if (DIR *entries = ::opendir(path.constData())) {
        while (const dirent *entry = ::readdir(entries)) {
            // Hidden files, "." and "..".
            if (entry->d_name[0] == '.')
                continue;
            bool file = entry->d_type == DT_REG;
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
                followed = true;
                struct stat st {};
                file = ::fstatat(::dirfd(entries), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
            }
            if (file)
                found.append(QFile::decodeName(entry->d_name));
        }
        ::closedir(entries);
    } else {
        // Unreadable now: nothing to reuse later.
        followed = true;
    }
    *names = sortedByName(std::move(found));
    if (before) {
        *stamp = *before;
        const bool wholeSeconds = before->mtimeNs % 1000000000 == 0 && before->ctimeNs % 1000000000 == 0;
        const qint64 margin = wholeSeconds ? qint64(2000000000) : qint64(50000000);
        // A link's target can change without the folder.
        *reusable = !followed && std::max(before->mtimeNs, before->ctimeNs) < startedNs - margin;
    }
    return true;
}

bool FileList::setFolder(const QString &folder)
{
    // The same folder, not changed since it was last read (a photo folder of
    // tens of thousands is listed again on every build of the photo pages).
    if (reusable_ && folder == folder_ && !folder.isEmpty()) {
        const std::optional<Stamp> now = stampOf(QFile::encodeName(QDir(folder).absolutePath()));
        if (now && *now == stamp_)
            return true;
    }
    QStringList found;
    Stamp stamp;
    bool reusable = false;
    if (!read(folder, &found, &stamp, &reusable))
        return false;
    folder_ = folder;
    names_ = std::move(found);
    stamp_ = stamp;
    reusable_ = reusable;
    return true;
}

bool FileList::refresh()
{
    return setFolder(folder_);
}

void FileList::clear()
{
    folder_.clear();
    names_.clear();
    reusable_ = false;
}

} // namespace webloom
