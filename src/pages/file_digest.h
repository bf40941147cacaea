// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

namespace webloom {

// What the file system says of a file without reading it. Two equal stamps
// of one path mean the same bytes (as version-control tools assume): a
// rewrite in place moves the change time, a replacement by rename the inode,
// and neither can be set back by a program.
struct FileStamp {
    qint64 size = 0;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    quint64 inode = 0;
    quint64 device = 0;
    bool operator==(const FileStamp &) const = default;
};

// A file's SHA-256 and its stamp as it was read. Not reusable when the file
// changed while it was read, or changed so recently that a further change
// within the same tick of the file system's clock would leave the stamp as it
// is: such a digest must not be taken on trust later.
struct FileDigest {
    FileStamp stamp;
    QByteArray sha256; // hex
    bool reusable = false;
    bool operator==(const FileDigest &) const = default;
};

// Digests known from before, by absolute local path.
using KnownDigests = QHash<QString, FileDigest>;

// The stamp and SHA-256 of the regular file at path (links followed): the
// digest known for path when the stamp is still the same, without opening the
// file; otherwise the bytes read and hashed. Nothing when path is no regular
// file or cannot be read.
std::optional<FileDigest> fileDigest(const QString &path, const KnownDigests &known = {});

} // namespace webloom
