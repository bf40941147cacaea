// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "net/list_parser.h"

namespace webloom {

// What the last listing showed of the current folder, kept up to date with
// the session's own changes, so that an upload knows whether its name is
// taken without listing again.
class RemoteFolderCache {
public:
    bool known() const { return known_; }
    const QList<listing::ListEntry> &entries() const { return entries_; }

    // A fresh listing of the folder.
    void fill(QList<listing::ListEntry> entries);
    // Forgets the folder; the next question about it lists it again.
    void clear() { *this = {}; }

    const listing::ListEntry *find(const QByteArray &raw) const;
    void add(const QByteArray &raw, bool directory, qint64 size);
    void remove(const QByteArray &raw);

    // The name as the server spelled it in the listing, or as UTF-8 for a
    // name the listing does not hold.
    QByteArray rawName(const QString &name) const;

private:
    bool known_ = false;
    bool foldsCase_ = false; // DOS-style listings: "A.HTML" is "a.html"
    QList<listing::ListEntry> entries_;
};

} // namespace webloom
