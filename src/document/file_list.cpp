// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/file_list.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace webloom {

bool FileList::read(const QString &folder, QStringList *names)
{
    if (folder.isEmpty())
        return false;
    QDir dir(folder);
    if (!dir.exists() || !QFileInfo(dir.absolutePath()).isReadable())
        return false;
    // QDir::Files without QDir::Hidden leaves out dot files on Unix.
    QStringList found = dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(found.begin(), found.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    *names = std::move(found);
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
