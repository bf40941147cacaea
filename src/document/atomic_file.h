// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <sys/types.h>

namespace webloom {

// Writes a file so that its old content is replaced only by a complete new
// one: the bytes go to a temporary file beside the target, which is renamed
// over it on commit. Every short write is seen (disk full, size limit) and
// makes commit fail with the system's reason; a failed or cancelled write
// leaves the old file untouched and no temporary file behind. A path that is
// a symbolic link writes the file the link points to; the link stays.
class AtomicFile {
public:
    struct Options {
        // fsync the file before the rename and its folder after it. Pages,
        // which can always be written again, skip it: a series of a thousand
        // photo pages would otherwise spend seconds waiting for the disk.
        bool sync = true;
        // Permission bits of the new file. Unset: those of the file it
        // replaces, or the usual ones (0666 less the umask) for a new file.
        std::optional<mode_t> mode;
    };

    explicit AtomicFile(const QString &path);
    AtomicFile(const QString &path, Options options);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    const QString &path() const { return path_; }
    // Creates the temporary file; fails when the folder is missing or not
    // writable, or the target is a folder.
    bool open();
    bool write(QByteArrayView bytes);
    bool commit();
    void cancel();
    // The system's reason of the last failure.
    const QString &errorString() const { return error_; }

private:
    bool fail(int err);

    QString path_;
    Options options_;
    QByteArray target_;
    QByteArray temp_;
    int fd_ = -1;
    QString error_;
};

// Convenience: open, write and commit in one call.
bool writeFileAtomically(const QString &path, QByteArrayView bytes, QString *error, AtomicFile::Options options = {});

// Whether path names a regular file (links followed) that holds exactly
// bytes. The size is asked first, so a file of another size is not read.
// Writers call it to leave a file whose content would not change untouched.
bool fileHolds(const QString &path, QByteArrayView bytes);

} // namespace webloom
