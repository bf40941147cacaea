// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

namespace webloom {

// The local side of a transfer: the file an upload reads and the hidden file
// a download is written to before it takes its real name.

// Opens a regular file for reading; -1 when there is none to read.
int openUploadSource(const QString &path, qint64 *size);

// Creates a new hidden ".part" file in the folder; -1 with errno set when
// none can be made.
int createPartFile(const QByteArray &folder, QByteArray *path);

// Gives a finished download its name, never replacing: a file that appeared
// meanwhile wins.
bool renameNoReplace(const QByteArray &from, const QByteArray &to, int *err);

// Writes all of it; false with the reason in *err otherwise (a full disk
// that takes no byte counts as ENOSPC).
bool writeAll(int fd, const char *data, size_t length, int *err);

// Reads what is there, retrying an interrupted read; -1 on an error.
qint64 readSome(int fd, char *buffer, size_t length);

} // namespace webloom
