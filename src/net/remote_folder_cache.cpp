// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/remote_folder_cache.h"

#include <algorithm>

namespace webloom {

void RemoteFolderCache::fill(QList<listing::ListEntry> entries)
{
    entries_ = std::move(entries);
    known_ = true;
    foldsCase_ =
        std::any_of(entries_.begin(), entries_.end(), [](const listing::ListEntry &entry) { return entry.dosStyle; });
}

const listing::ListEntry *RemoteFolderCache::find(const QByteArray &raw) const
{
    for (const listing::ListEntry &entry : entries_) {
        if (entry.name == raw)
            return &entry;
    }
    if (foldsCase_) {
        const QString name = listing::decodeName(raw);
        for (const listing::ListEntry &entry : entries_) {
            if (listing::decodeName(entry.name).compare(name, Qt::CaseInsensitive) == 0)
                return &entry;
        }
    }
    return nullptr;
}

void RemoteFolderCache::add(const QByteArray &raw, bool directory, qint64 size)
{
    remove(raw);
    listing::ListEntry entry;
    entry.name = raw;
    entry.directory = directory;
    entry.size = size;
    entries_.append(entry);
}

void RemoteFolderCache::remove(const QByteArray &raw)
{
    entries_.removeIf([&](const listing::ListEntry &entry) { return entry.name == raw; });
}

QByteArray RemoteFolderCache::rawName(const QString &name) const
{
    for (const listing::ListEntry &entry : entries_) {
        if (listing::decodeName(entry.name) == name)
            return entry.name;
    }
    return name.toUtf8();
}

} // namespace webloom
