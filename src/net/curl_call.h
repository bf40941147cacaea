// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <functional>

#include <curl/curl.h>

#include "net/curl_shared.h"

namespace webloom {

// What a request's call came to, after its last try.
struct CallResult {
    CURLcode code = CURLE_OK;
    long replyCode = 0;
    QByteArray replyLine;
    QList<long> replyCodes; // every final reply of the request, in order
    QString error;
    qint64 moved = 0;  // bytes the last try moved
    int sinkError = 0; // why the download could not be written, if it could not
    bool ok() const { return code == CURLE_OK; }
};

// One libcurl call: what its callbacks read and write while it runs. Made
// for the call and dropped after it, so that nothing of one call reaches
// the next.
class CurlCall {
public:
    using Progress = std::function<void(qint64 done, qint64 total)>;

    // lastTotal: the size the previous try of the same request last saw, for
    // the final progress report.
    CurlCall(CurlShared &shared, quint64 requestId, const Progress &progress, qint64 listingLimit,
             qint64 lastTotal = -1);
    CurlCall(const CurlCall &) = delete;
    CurlCall &operator=(const CurlCall &) = delete;

    // Points the handle's callbacks, error buffer and trace at this call.
    void install(CURL *handle, bool trace);
    // curl_easy_perform() through the multi handle, without its pauses and
    // with a way out. *controlSocket: the connection kept afterwards.
    CURLcode run(CURLM *multi, CURL *handle, curl_socket_t *controlSocket);

    QString error(CURLcode code) const;
    bool download() const { return body || sinkFd >= 0; }

    // Set up by the request before the call runs.
    QByteArray *body = nullptr; // a listing, capped at listingLimit
    int sinkFd = -1;            // a download
    int sourceFd = -1;          // an upload
    bool uploading = false;
    bool reportProgress = false;
    qint64 expectedSize = -1; // the size the listing showed, for a download

    // What the call saw.
    QByteArray replyLine; // the last final reply
    long replyCode = 0;
    QList<long> replyCodes; // every final reply, in order
    bool greeted = false;
    qint64 moved = 0;
    bool bodyTooLarge = false;
    int sinkError = 0; // why the download could not be written
    qint64 lastTotal;

private:
    static size_t onReply(char *data, size_t size, size_t count, void *self);
    static size_t onData(char *data, size_t size, size_t count, void *self);
    static size_t onRead(char *buffer, size_t size, size_t count, void *self);
    static int onProgress(void *self, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal, curl_off_t upNow);
    static int onTrace(CURL *handle, curl_infotype type, char *data, size_t size, void *self);

    CurlShared &shared_;
    const quint64 requestId_;
    const Progress &progress_;
    const qint64 listingLimit_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    QElapsedTimer progressClock_;
    qint64 lastDone_ = -1;
};

} // namespace webloom
