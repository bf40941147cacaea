// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/http_fetch.h"

#include <QStringList>

#include <curl/curl.h>

#include <vector>

namespace webloom {

namespace {

struct Call {
    HttpReply *reply = nullptr;
    qint64 limit = 0;
    CURL *handle = nullptr;
    curl_slist *headers = nullptr;
    char error[CURL_ERROR_SIZE] = {};
};

size_t onBody(char *data, size_t size, size_t count, void *self)
{
    auto *call = static_cast<Call *>(self);
    const qint64 bytes = qint64(size * count);
    if (call->reply->body.size() + bytes > call->limit) {
        call->reply->cutShort = true;
        return 0;
    }
    call->reply->body.append(data, bytes);
    return size * count;
}

size_t onHeader(char *data, size_t size, size_t count, void *self)
{
    auto *call = static_cast<Call *>(self);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed().toLower();
    // A redirect's headers come first; only the last answer's count.
    if (line.startsWith("http/"))
        call->reply->fromCache = false;
    else if (line.startsWith("age:") || (line.startsWith("x-cache:") && line.contains("hit")))
        call->reply->fromCache = true;
    return size * count;
}

void setUp(Call &call, const HttpFetchOptions &options)
{
    CURL *h = call.handle;
    curl_easy_setopt(h, CURLOPT_URL, call.reply->url.toUtf8().constData());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#endif
#if LIBCURL_VERSION_NUM >= 0x075700
    // Stopping must not wait for a name lookup to end.
    curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
#endif
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, options.timeoutSeconds);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, call.error);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &call);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &call);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "webloom");
    call.headers = curl_slist_append(call.headers, "Cache-Control: no-cache");
    call.headers = curl_slist_append(call.headers, "Pragma: no-cache");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, call.headers);
}

void finish(Call &call, CURLcode code)
{
    HttpReply &reply = *call.reply;
    long status = 0;
    curl_easy_getinfo(call.handle, CURLINFO_RESPONSE_CODE, &status);
    reply.status = status;
    const char *type = nullptr;
    if (curl_easy_getinfo(call.handle, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        reply.contentType = QString::fromLatin1(type);
    reply.fromCache = reply.fromCache || status == 304;
    if (code != CURLE_OK && !reply.cutShort) {
        reply.error = QString::fromUtf8(call.error[0] ? call.error : curl_easy_strerror(code));
        if (status == 0)
            reply.body.clear();
    }
}

} // namespace

QList<HttpReply> fetchPages(const QStringList &urls, const HttpFetchOptions &options, const std::atomic_bool &stop)
{
    QList<HttpReply> replies;
    for (const QString &url : urls) {
        HttpReply reply;
        reply.url = url;
        replies.append(reply);
    }
    std::vector<Call> calls(size_t(urls.size()));
    CURLM *multi = curl_multi_init();
    qsizetype next = 0, running = 0;
    auto startMore = [&] {
        while (running < options.atOnce && next < urls.size()) {
            Call &call = calls[size_t(next)];
            call.reply = &replies[next];
            call.limit = options.bodyLimit;
            call.handle = curl_easy_init();
            setUp(call, options);
            curl_easy_setopt(call.handle, CURLOPT_PRIVATE, &call);
            curl_multi_add_handle(multi, call.handle);
            ++next;
            ++running;
        }
    };
    startMore();
    while (running > 0 && !stop.load()) {
        int active = 0;
        curl_multi_perform(multi, &active);
        int left = 0;
        while (CURLMsg *message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            Call *call = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &call);
            finish(*call, message->data.result);
            curl_multi_remove_handle(multi, call->handle);
            curl_easy_cleanup(call->handle);
            call->handle = nullptr;
            --running;
        }
        startMore();
        if (running > 0)
            curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    }
    for (Call &call : calls) {
        if (call.handle) {
            call.reply->error = QStringLiteral("stopped");
            curl_multi_remove_handle(multi, call.handle);
            curl_easy_cleanup(call.handle);
        }
        curl_slist_free_all(call.headers);
    }
    for (qsizetype i = next; i < replies.size(); ++i)
        replies[i].error = QStringLiteral("stopped");
    curl_multi_cleanup(multi);
    return replies;
}

} // namespace webloom
