// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace webloom {

// A folder on the server, kept by the program rather than by the server, so
// that a request can always name its folder (a dropped connection logs in
// afresh and the server's own current folder is lost). Elements are the
// server's bytes.
struct RemotePath {
    // False on servers that do not show a Unix path for their log-in folder:
    // the path is then relative to that folder, where every new connection
    // starts.
    bool absolute = true;
    QList<QByteArray> elements;

    // The log-in folder as the server names it (the reply to PWD); empty or
    // not starting with "/" gives the relative form.
    static RemotePath fromEntryPath(const QByteArray &entryPath);

    // The folder a CD argument leads to: a single name (one element, already
    // in the server's bytes), or a text path split at "/" (UTF-8), which
    // starts at the root when it begins with "/". "." stays, ".." goes up
    // and never above the root.
    RemotePath resolved(const QString &argument, const QByteArray &singleName = {}) const;

    // The path part of a libcurl URL for this folder, ending in "/". FTP
    // URLs name an absolute folder with a leading "%2F"; SFTP URLs are
    // absolute by themselves and relative ones go through "~".
    QByteArray ftpUrlPath() const;
    QByteArray sftpUrlPath() const;
    // "/a/b" for commands that take a path (SFTP quote commands).
    QByteArray plainPath() const;

    bool operator==(const RemotePath &) const = default;
};

} // namespace webloom
