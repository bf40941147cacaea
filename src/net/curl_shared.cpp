// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/curl_shared.h"

#include <sys/socket.h>
#include <unistd.h>

namespace webloom {

void CurlShared::cutSockets()
{
    const std::lock_guard lock(mutex_);
    cut_ = true;
    for (curl_socket_t socket : sockets_)
        ::shutdown(socket, SHUT_RDWR);
    if (multi_)
        curl_multi_wakeup(multi_);
}

void CurlShared::wake()
{
    const std::lock_guard lock(mutex_);
    if (multi_)
        curl_multi_wakeup(multi_);
}

bool CurlShared::addSocket(curl_socket_t socket)
{
    const std::lock_guard lock(mutex_);
    if (cut_)
        return false;
    sockets_.insert(socket);
    return true;
}

void CurlShared::removeSocket(curl_socket_t socket)
{
    const std::lock_guard lock(mutex_);
    sockets_.erase(socket);
}

void CurlShared::setMulti(CURLM *multi)
{
    const std::lock_guard lock(mutex_);
    multi_ = multi;
}

void CurlShared::uncut()
{
    const std::lock_guard lock(mutex_);
    cut_ = false;
}

void CurlShared::trackSockets(CURL *handle)
{
    curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, &CurlShared::onOpenSocket);
    curl_easy_setopt(handle, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(handle, CURLOPT_CLOSESOCKETFUNCTION, &CurlShared::onCloseSocket);
    curl_easy_setopt(handle, CURLOPT_CLOSESOCKETDATA, this);
}

curl_socket_t CurlShared::onOpenSocket(void *self, curlsocktype, curl_sockaddr *address)
{
    auto *shared = static_cast<CurlShared *>(self);
    const int socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (socket < 0)
        return CURL_SOCKET_BAD;
    // Once the owner has cut this worker loose, no new connection starts.
    if (!shared->addSocket(socket)) {
        ::close(socket);
        return CURL_SOCKET_BAD;
    }
    return socket;
}

int CurlShared::onCloseSocket(void *self, curl_socket_t socket)
{
    // Forgotten before it is closed, so that a cut from the owner's thread
    // never reaches a number the system has already given to someone else.
    static_cast<CurlShared *>(self)->removeSocket(socket);
    return ::close(socket);
}

} // namespace webloom
