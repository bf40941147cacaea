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

} // namespace webloom
