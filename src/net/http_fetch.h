// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>

namespace webloom {

// One web page fetched over HTTP or HTTPS as a visitor's browser would get
// it today: the system's certificate authorities, at most five redirects,
// ten seconds, and no copy a cache on the way may keep ("no-cache").
struct HttpReply {
    QString url;
    long status = 0; // 0 when no HTTP answer came
    QByteArray body; // cut after the limit
    bool cutShort = false;
    QString contentType;    // the Content-Type header, empty when none
    bool fromCache = false; // an Age or X-Cache: HIT header, or 304
    QString error;          // why no answer came (libcurl's words)
};

struct HttpFetchOptions {
    int atOnce = 4;
    long timeoutSeconds = 10;
    // Bodies are kept up to this many bytes; a longer one is cut short.
    qint64 bodyLimit = qint64(16) * 1024 * 1024;
};

// Fetches every address, a few at once, and answers in the order given.
// Blocks; run it off the window's thread. Setting stop makes it return soon
// with what it has (the rest as errors).
QList<HttpReply> fetchPages(const QStringList &urls, const HttpFetchOptions &options, const std::atomic_bool &stop);

} // namespace webloom
