// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/file_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
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

} // namespace

bool FileList::read(const QString &folder, QStringList *names)
{
    if (folder.isEmpty())
        return false;
    QDir dir(folder);
    if (!dir.exists() || !QFileInfo(dir.absolutePath()).isReadable())
        return false;
    // The folder's own entry types spare a stat per file (a photo folder
    // may hold tens of thousands); links and unknown types are followed.
    QStringList found;
    if (DIR *entries = ::opendir(QFile::encodeName(dir.absolutePath()).constData())) {
        while (const dirent *entry = ::readdir(entries)) {
            // Hidden files, "." and "..".
            if (entry->d_name[0] == '.')
                continue;
            bool file = entry->d_type == DT_REG;
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
                struct stat st {};
                file = ::fstatat(::dirfd(entries), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
            }
            if (file)
                found.append(QFile::decodeName(entry->d_name));
        }
        ::closedir(entries);
    }
    *names = sortedByName(std::move(found));
    return true;
}

bool FileList::setFolder(const QString &folder)
{
    QStringList found;
    if (!read(folder, &found))
        return false;
    folder_ = folder;
    names_ = std::move(found);
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
}

} // namespace webloom
