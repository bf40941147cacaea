// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/local_file.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace webloom {

int openUploadSource(const QString &path, qint64 *size)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    *size = st.st_size;
    return fd;
}

int createPartFile(const QByteArray &folder, QByteArray *path)
{
    int fd = -1;
    for (int tries = 0; tries < 100 && fd < 0; ++tries) {
        *path = folder + "/.webloom-" +
                QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0') + ".part";
        fd = ::open(path->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    return fd;
}

bool renameNoReplace(const QByteArray &from, const QByteArray &to, int *err)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *err = errno;
        return false;
    }
    // File systems without RENAME_NOREPLACE: a hard link fails on an
    // existing name just the same.
    if (::link(from.constData(), to.constData()) != 0) {
        *err = errno;
        return false;
    }
    ::unlink(from.constData());
    return true;
}

bool writeAll(int fd, const char *data, size_t length, int *err)
{
    size_t written = 0;
    while (written < length) {
        const ssize_t n = ::write(fd, data + written, length - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *err = n < 0 ? errno : ENOSPC;
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

qint64 readSome(int fd, char *buffer, size_t length)
{
    for (;;) {
        const ssize_t n = ::read(fd, buffer, length);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

} // namespace webloom
