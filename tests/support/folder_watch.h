// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace webloom::test {

// What happens to the files of one folder from now on, as the kernel reports
// it (inotify): every event is queued before the call that caused it returns,
// so events() after an action sees all of it without waiting.
class FolderWatch {
public:
    // mask: IN_OPEN, IN_CREATE, ... (sys/inotify.h)
    FolderWatch(const QString &folder, std::uint32_t mask);
    ~FolderWatch();
    FolderWatch(const FolderWatch &) = delete;
    FolderWatch &operator=(const FolderWatch &) = delete;

    bool isValid() const { return watch_ >= 0; }
    // The names of the files the events so far were about, in order, one per
    // event ("" for the folder itself), read and forgotten.
    QStringList events();

private:
    int fd_ = -1;
    int watch_ = -1;
};

} // namespace webloom::test
