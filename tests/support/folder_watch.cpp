// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/folder_watch.h"

#include <QFile>

#include <sys/inotify.h>
#include <unistd.h>

namespace webloom::test {

FolderWatch::FolderWatch(const QString &folder, std::uint32_t mask) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (fd_ >= 0)
        watch_ = ::inotify_add_watch(fd_, QFile::encodeName(folder).constData(), mask);
}

FolderWatch::~FolderWatch()
{
    if (fd_ >= 0)
        ::close(fd_);
}

QStringList FolderWatch::events()
{
    QStringList names;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            names.append(event->len > 0 ? QFile::decodeName(event->name) : QString());
            at += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
    return names;
}

} // namespace webloom::test
