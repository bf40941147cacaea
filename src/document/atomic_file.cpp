// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/atomic_file.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace webloom {

namespace {

QString reason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// The file a path finally names: symbolic links followed one by one, each
// relative target taken from its link's folder, the last one possibly
// dangling (writing then creates the file it names, as a shell redirect
// does). The temporary file goes beside this file and is renamed onto it, so
// the link stays a link. 0 or the errno of the failure (ELOOP for a cycle).
int resolveLinks(QByteArray &path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return 0;
        QByteArray target(st.st_size > 0 ? st.st_size + 1 : 4096, Qt::Uninitialized);
        const ssize_t n = ::readlink(path.constData(), target.data(), static_cast<size_t>(target.size()));
        if (n < 0)
            return errno;
        if (n >= target.size())
            return ENAMETOOLONG; // the link changed while it was read
        target.truncate(n);
        if (!target.startsWith('/'))
            target = path.left(path.lastIndexOf('/') + 1) + target;
        path = target;
    }
    return ELOOP;
}

// Makes a rename durable: the new directory entry reaches the disk only with
// the folder itself.
int syncFolderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash > 0 ? path.left(slash) : QByteArray("/");
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    // Some file systems cannot sync a folder at all; nothing more can be done there.
    if (err == EINVAL || err == ENOTSUP)
        err = 0;
    return err;
}

} // namespace

AtomicFile::AtomicFile(const QString &path) : AtomicFile(path, Options{})
{
}

AtomicFile::AtomicFile(const QString &path, Options options) : path_(path), options_(options)
{
}

AtomicFile::~AtomicFile()
{
    cancel();
}

bool AtomicFile::fail(int err)
{
    error_ = reason(err);
    cancel();
    return false;
}

bool AtomicFile::open()
{
    cancel();
    error_.clear();
    target_ = QFile::encodeName(QFileInfo(path_).absoluteFilePath());
    if (const int err = resolveLinks(target_))
        return fail(err);
    struct stat st {};
    const bool exists = ::stat(target_.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return fail(EISDIR);

    std::optional<mode_t> mode = options_.mode;
    if (!mode && exists)
        mode = st.st_mode & 07777;
    // A file meant to be private (the registry holds passwords) is never
    // readable by others, not even for the moment before the fchmod below.
    // Without a mode the usual one passes through the umask.
    const mode_t createMode = mode ? (*mode & 0777) : 0666;
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = target_ + ".webloom-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(counter++);
        fd_ = ::open(temp_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
        if (fd_ >= 0)
            break;
        if (errno != EEXIST) {
            const int err = errno;
            temp_.clear();
            return fail(err);
        }
    }
    if (fd_ < 0) {
        temp_.clear();
        return fail(EEXIST);
    }
    if (mode && ::fchmod(fd_, *mode) != 0)
        return fail(errno);
    return true;
}

bool AtomicFile::write(QByteArrayView bytes)
{
    if (fd_ < 0)
        return false;
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (n == 0)
            return fail(ENOSPC);
        data += n;
        left -= n;
    }
    return true;
}

bool AtomicFile::commit()
{
    if (fd_ < 0)
        return false;
    if (options_.sync && ::fsync(fd_) != 0)
        return fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        const int err = errno;
        fd_ = -1;
        ::unlink(temp_.constData());
        temp_.clear();
        error_ = reason(err);
        return false;
    }
    if (std::rename(temp_.constData(), target_.constData()) != 0) {
        const int err = errno;
        ::unlink(temp_.constData());
        temp_.clear();
        error_ = reason(err);
        return false;
    }
    temp_.clear();
    if (options_.sync) {
        // The new content is in place; a failure here means it may not
        // survive a power cut, which a caller asking for durability must hear.
        if (const int err = syncFolderOf(target_)) {
            error_ = reason(err);
            return false;
        }
    }
    return true;
}

void AtomicFile::cancel()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.isEmpty()) {
        ::unlink(temp_.constData());
        temp_.clear();
    }
}

bool writeFileAtomically(const QString &path, QByteArrayView bytes, QString *error, AtomicFile::Options options)
{
    AtomicFile file(path, options);
    const bool ok = file.open() && file.write(bytes) && file.commit();
    if (!ok && error)
        *error = file.errorString();
    return ok;
}

bool fileHolds(const QString &path, QByteArrayView bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == bytes.size();
    // One read more than the size, to see a file that grew since the fstat.
    char chunk[64 * 1024];
    qsizetype at = 0;
    while (same) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            same = n == 0 && at == bytes.size();
            break;
        }
        same = n <= bytes.size() - at && std::memcmp(chunk, bytes.data() + at, static_cast<size_t>(n)) == 0;
        at += n;
    }
    ::close(fd);
    return same;
}

} // namespace webloom
