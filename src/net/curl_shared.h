// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <mutex>
#include <set>

#include <QtGlobal>

#include <curl/curl.h>

namespace webloom {

// What the owner's thread shares with a worker: the flags that stop it and
// the sockets it has open, so that a worker stuck on a silent server can be
// cut loose from outside within a bounded time.
class CurlShared {
public:
    // Requests with an id up to this one are stopped.
    std::atomic<quint64> cancelUpTo{0};
    // Everything stops; the worker is going away.
    std::atomic_bool abortAll{false};

    bool stopped(quint64 id) const { return abortAll.load() || id <= cancelUpTo.load(); }

    // Shuts every open socket down, so that whatever waits on one returns at
    // once. The sockets stay open until their owner closes them.
    void cutSockets();
    // Wakes the worker from its wait for network activity.
    void wake();

    // Lets the worker open connections again after a cut.
    void uncut();

    // Called by the worker (socket callbacks, handle lifetime). addSocket
    // refuses a new socket once the worker has been cut loose.
    bool addSocket(curl_socket_t socket);
    void removeSocket(curl_socket_t socket);
    void setMulti(CURLM *multi);

    // Sets the socket callbacks on a handle, with this object as their data:
    // libcurl closes a kept connection long after the call that opened it,
    // so their data must live as long as the worker.
    void trackSockets(CURL *handle);

private:
    static curl_socket_t onOpenSocket(void *self, curlsocktype purpose, curl_sockaddr *address);
    static int onCloseSocket(void *self, curl_socket_t socket);

    std::mutex mutex_;
    bool cut_ = false;
    std::set<curl_socket_t> sockets_;
    CURLM *multi_ = nullptr;
};

} // namespace webloom
