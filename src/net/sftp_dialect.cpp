// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/sftp_dialect.h"

#include "net/ssh_key.h"

namespace webloom {

SftpDialect::SftpDialect(const ServerAddress &address) : host_(address.host), port_(address.port)
{
}

void SftpDialect::setOptions(CURL *h, PeerCheck &peer, const QByteArray &password)
{
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "sftp");
    // libcurl 7.88 runs some steps to their end on its own (closing a file
    // after an upload, among them), and without a time limit on the request
    // it polls its socket there without ever waiting: a round trip to the
    // server spins a core, each connection its own. With a limit it waits on
    // the socket. This one is far beyond any real transfer; a stalled one is
    // still given up by the low-speed limit.
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 7L * 24 * 60 * 60);
    // Each write waits for the server's acknowledgement of the whole buffer:
    // a larger one keeps more of a photo on its way over a distant link.
    curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
    curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYFUNCTION, &PeerCheck::hostKey);
    curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYDATA, &peer);
    if (askEd25519_) {
        const QByteArray knownHosts = knownHosts_.fileFor(host_, port_);
        if (!knownHosts.isEmpty())
            curl_easy_setopt(h, CURLOPT_SSH_KNOWNHOSTS, knownHosts.constData());
    }
    // With a password, the password; without, the user's SSH agent or
    // the first of the key files the README names.
    if (password.isEmpty()) {
        long types = CURLSSH_AUTH_AGENT;
        // libcurl keeps its own copies of the names.
        const SshKeyFiles key = findSshKey();
        if (!key.privateKey.isEmpty()) {
            curl_easy_setopt(h, CURLOPT_SSH_PRIVATE_KEYFILE, key.privateKey.constData());
            if (!key.publicKey.isEmpty())
                curl_easy_setopt(h, CURLOPT_SSH_PUBLIC_KEYFILE, key.publicKey.constData());
            types |= CURLSSH_AUTH_PUBLICKEY;
        }
        curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES, types);
    } else {
        curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES, static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
    }
}

QByteArray SftpDialect::quotedPath(const RemotePath &folder, const QByteArray &raw)
{
    QByteArray path = folder.plainPath();
    if (!path.endsWith('/'))
        path += '/';
    path += raw;
    QByteArray quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

QByteArray SftpDialect::folderCommand(Folder what, const QByteArray &raw, const RemotePath &folder) const
{
    const char *verb = what == Folder::Make ? "mkdir " : what == Folder::Remove ? "rmdir " : "rm ";
    return verb + quotedPath(folder, raw);
}

QByteArray SftpDialect::removeCommand(const QByteArray &raw, const RemotePath &folder) const
{
    return "rm " + quotedPath(folder, raw);
}

QList<QByteArray> SftpDialect::renameCommands(const QByteArray &from, const QByteArray &to,
                                              const RemotePath &folder) const
{
    return {"rename " + quotedPath(folder, from) + ' ' + quotedPath(folder, to)};
}

void SftpDialect::settle(CallResult &result) const
{
    if (result.ok())
        result.replyCode = 200;
}

void SftpDialect::beginTries()
{
    ed25519_ = preferEd25519_;
    ed25519Rejected_.reset();
}

ProtocolDialect::Retry SftpDialect::firstLook(const CallResult &result, const PeerCheck &peer)
{
    if (!ed25519_)
        return Retry::No;
    // Without an ed25519 key the key exchange fails before any key is
    // shown. A key of another type may be the one the user trusted: earlier
    // versions took the one libssh2 prefers.
    const bool noSuchKey = !peer.keySeen && (result.code == CURLE_FAILED_INIT || result.code == CURLE_SSH);
    const bool otherTrusted = peer.rejected && (!peer.trusted.isEmpty() || !peer.trustOnce.isEmpty());
    if (!noSuchKey && !otherTrusted)
        return Retry::No;
    ed25519_ = false;
    preferEd25519_ = false;
    if (otherTrusted)
        ed25519Rejected_ = peer.rejected;
    return Retry::SameRound;
}

// No other key is trusted either: the one to show, and to trust from now
// on, is the ed25519 key.
void SftpDialect::endTries(PeerCheck &peer)
{
    if (ed25519Rejected_ && peer.rejected) {
        peer.rejected = ed25519Rejected_;
        preferEd25519_ = true;
    }
}

} // namespace webloom
