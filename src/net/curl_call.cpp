// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/curl_call.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sys/select.h>

#include "net/local_file.h"

namespace webloom {

namespace {

constexpr qint64 kProgressIntervalMs = 100;

} // namespace

CurlCall::CurlCall(CurlShared &shared, quint64 requestId, const Progress &progress, qint64 listingLimit,
                   qint64 lastTotal)
    : lastTotal(lastTotal), shared_(shared), requestId_(requestId), progress_(progress), listingLimit_(listingLimit)
{
    progressClock_.start();
}

void CurlCall::install(CURL *h, bool trace)
{
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CurlCall::onReply);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlCall::onData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &CurlCall::onRead);
    curl_easy_setopt(h, CURLOPT_READDATA, this);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CurlCall::onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    shared_.trackSockets(h);
    if (trace) {
        curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &CurlCall::onTrace);
        curl_easy_setopt(h, CURLOPT_DEBUGDATA, this);
    }
}

QString CurlCall::error(CURLcode code) const
{
    return QString::fromUtf8(errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(code));
}

// libcurl 7.88 sometimes has no socket to wait on right after the
// passive-mode reply and then sleeps a whole second before opening the data
// connection, a second lost on every listing and every file. Here such a
// wait is cut to a few milliseconds, and a stop asked for from outside ends
// the wait at once.
CURLcode CurlCall::run(CURLM *multi, CURL *handle, curl_socket_t *controlSocket)
{
    constexpr int kNothingToWaitOnMs = 5;
    constexpr long kLongestWaitMs = 1000;
    curl_multi_add_handle(multi, handle);
    CURLcode result = CURLE_RECV_ERROR;
    for (;;) {
        if (shared_.stopped(requestId_) && requestId_ != 0) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        bool done = false;
        int left = 0;
        while (CURLMsg *message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == handle) {
                result = message->data.result;
                done = true;
            }
        }
        if (done || running == 0)
            break;
        long timeout = -1;
        curl_multi_timeout(multi, &timeout);
        if (timeout == 0)
            continue;
        fd_set read, write, error;
        FD_ZERO(&read);
        FD_ZERO(&write);
        FD_ZERO(&error);
        int highest = -1;
        curl_multi_fdset(multi, &read, &write, &error, &highest);
        long wait = timeout < 0 ? kLongestWaitMs : std::min(timeout, kLongestWaitMs);
        if (highest < 0)
            wait = std::min<long>(wait, kNothingToWaitOnMs);
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait), nullptr);
    }
    *controlSocket = CURL_SOCKET_BAD;
    curl_easy_getinfo(handle, CURLINFO_ACTIVESOCKET, controlSocket);
    curl_multi_remove_handle(multi, handle);
    return result;
}

size_t CurlCall::onReply(char *data, size_t size, size_t count, void *self)
{
    auto *call = static_cast<CurlCall *>(self);
    const size_t length = size * count;
    QByteArray line(data, static_cast<qsizetype>(length));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    // Only the final line of a reply counts ("230 ..."), not "230-"
    // continuations nor the headers libcurl makes up for a file's size.
    const bool isReply = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                         std::isdigit(static_cast<unsigned char>(line[1])) &&
                         std::isdigit(static_cast<unsigned char>(line[2])) && (line.size() == 3 || line[3] == ' ');
    if (isReply) {
        const long code = line.left(3).toLong();
        call->replyCodes.append(code);
        // A preliminary reply ("150 Opening data connection") is not the
        // outcome of anything.
        if (code >= 200 || call->replyCode == 0) {
            call->replyCode = code;
            call->replyLine = line;
        }
        if (code == 220)
            call->greeted = true;
    }
    return length;
}

size_t CurlCall::onData(char *data, size_t size, size_t count, void *self)
{
    auto *call = static_cast<CurlCall *>(self);
    const size_t length = size * count;
    if (call->sinkFd >= 0) {
        if (!writeAll(call->sinkFd, data, length, &call->sinkError))
            return 0;
    } else if (call->body) {
        if (call->body->size() + qint64(length) > call->listingLimit_) {
            call->bodyTooLarge = true;
            return 0;
        }
        call->body->append(data, static_cast<qsizetype>(length));
    }
    return length;
}

size_t CurlCall::onRead(char *buffer, size_t size, size_t count, void *self)
{
    auto *call = static_cast<CurlCall *>(self);
    if (call->sourceFd < 0)
        return 0;
    const qint64 n = readSome(call->sourceFd, buffer, size * count);
    return n < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(n);
}

int CurlCall::onProgress(void *self, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal, curl_off_t upNow)
{
    auto *call = static_cast<CurlCall *>(self);
    if (call->requestId_ != 0 && call->shared_.stopped(call->requestId_))
        return 1;
    call->moved = std::max<qint64>(call->moved, std::max(downNow, upNow));
    if (!call->reportProgress)
        return 0;
    const bool upload = call->uploading;
    const qint64 done = upload ? upNow : downNow;
    qint64 total = upload ? upTotal : downTotal;
    if (total <= 0)
        total = upload ? -1 : call->expectedSize;
    call->lastTotal = total;
    // Batched, so that a fast transfer does not flood the window.
    if (done != call->lastDone_ && call->progressClock_.elapsed() >= kProgressIntervalMs) {
        call->progressClock_.restart();
        call->lastDone_ = done;
        call->progress_(done, total);
    }
    return 0;
}

// WEBLOOM_FTP_TRACE: the dialogue with the server on standard error, the
// password masked.
int CurlCall::onTrace(CURL *, curl_infotype type, char *data, size_t size, void *)
{
    const char *prefix = nullptr;
    switch (type) {
    case CURLINFO_TEXT:
        prefix = "* ";
        break;
    case CURLINFO_HEADER_IN:
        prefix = "< ";
        break;
    case CURLINFO_HEADER_OUT:
        prefix = "> ";
        break;
    default:
        return 0;
    }
    QByteArray line(data, static_cast<qsizetype>(size));
    if (type == CURLINFO_HEADER_OUT && line.startsWith("PASS "))
        line = "PASS ****\r\n";
    // What the server says reaches the terminal with its control characters
    // shown, never obeyed.
    QByteArray shown;
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\r' && c != '\n' && c != '\t') || byte == 0x7f)
            shown += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            shown += c;
    }
    std::fprintf(stderr, "%s%.*s", prefix, static_cast<int>(shown.size()), shown.constData());
    return 0;
}

} // namespace webloom
