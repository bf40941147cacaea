// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include "photos/web_copy.h"

namespace webloom::photos {

// One web copy as it lies in the cache.
struct CachedCopy {
    QString path;
    qint64 size = 0;
    QByteArray sha256; // hex
};

// The web copies made so far, one file each, named after the source's
// content, the options and the rules they were made with: a source that
// changes, another size or another version of the rules names another file,
// so nothing in the cache is ever stale. Files are written whole or not at
// all; any number of publishes may share the folder.
class CopyCache {
public:
    // <per-user cache>/webloom/photos
    static QString defaultFolder();
    explicit CopyCache(QString folder = defaultFolder());
    const QString &folder() const { return folder_; }

    QString pathFor(const QByteArray &sourceSha256, const Options &options) const;
    std::optional<CachedCopy> find(const QByteArray &sourceSha256, const Options &options) const;
    // Nothing, with error set, when the folder cannot take the file.
    std::optional<CachedCopy> store(const QByteArray &sourceSha256, const Options &options, const QByteArray &bytes,
                                    QString *error = nullptr) const;

private:
    QString folder_;
};

} // namespace webloom::photos
