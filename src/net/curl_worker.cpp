#include "net/curl_worker.h"

#include <poll.h>

#include "net/curl_call.h"
#include "net/curl_texts.h"
#include "net/ssh_key.h"
#include "net/trust_store.h"

namespace webloom {

using namespace curltext;

CurlWorker::CurlWorker(std::shared_ptr<CurlShared> shared, CurlOptions options, Progress progress)
    : shared_(std::move(shared)), options_(options), progress_(std::move(progress)),
      trace_(qEnvironmentVariableIsSet("WEBLOOM_FTP_TRACE"))
{
}

CurlWorker::~CurlWorker()
{
    closeHandles();
}

TransferOutcome CurlWorker::run(quint64 id, const TransferRequest &request, const Transfer::Connection &connection)
{
    requestId_ = id;
    if (shared_->stopped(id)) {
        TransferOutcome outcome = refusal(text(kCancelledText));
        outcome.failure = TransferOutcome::Failure::Cancelled;
        return outcome;
    }
    if (request.operation == TransferRequest::Operation::Close) {
        close();
        TransferOutcome outcome;
        outcome.ok = true;
        return outcome;
    }
    TransferOutcome outcome;
    if (ensureSession(connection, &outcome)) {
        // An upload stopped part-way earlier leaves no half file behind.
        if (partial_)
            removePartialUpload();
        outcome = dispatch(request);
    }
    outcome.secure = address_.scheme != ServerAddress::Scheme::Ftp;
    return outcome;
}

void CurlWorker::close()
{
    requestId_ = 0;
    if (partial_ && handle_)
        removePartialUpload();
    partial_.reset();
    dropSession();
}

TransferOutcome CurlWorker::dispatch(const TransferRequest &request)
{
    using Op = TransferRequest::Operation;
    switch (request.operation) {
    case Op::List:
        return list();
    case Op::Cd:
        return changeDirectory(request.remote);
    case Op::Mkdir:
    case Op::Rmdir:
    case Op::Delete:
        return folderCommand(request.operation, request.remote);
    case Op::Put:
        return put(request.local, request.remote, request.freshName);
    case Op::Get:
        return get(request.remote, request.local);
    case Op::Rename:
        return rename(request.remote, request.target, request.aside);
    case Op::Close:
        break;
    }
    return refusal(text(kBadNameText));
}

bool CurlWorker::ensureSession(const Transfer::Connection &connection, TransferOutcome *failed)
{
    if (!(connection == connection_)) {
        dropSession();
        connection_ = connection;
    }
    const std::optional<ServerAddress> address = ServerAddress::parse(connection.address);
    if (!address) {
        *failed = refusal(text(kBadAddressText));
        return false;
    }
    address_ = *address;
    user_ = connection.user.toUtf8();
    password_ = connection.password.toUtf8();
    if (!openHandles()) {
        *failed = refusal(text(kNoHandleText));
        failed->failure = TransferOutcome::Failure::Connection;
        return false;
    }
    if (loggedIn_)
        return true;
    // Logging in shows where the server puts us; from then on every request
    // names its folder by path.
    const QByteArray home = address_.urlBase() + (sftp() ? "/~/" : "/");
    const Attempt attempt = perform(home, [](CURL *h, CurlCall &) { curl_easy_setopt(h, CURLOPT_NOBODY, 1L); });
    if (!attempt.ok()) {
        *failed = failure(attempt);
        return false;
    }
    const char *entry = nullptr;
    curl_easy_getinfo(handle_, CURLINFO_FTP_ENTRY_PATH, &entry);
    folder_ = RemotePath::fromEntryPath(QByteArray(entry ? entry : ""));
    cache_.clear();
    loggedIn_ = true;
    return true;
}

void CurlWorker::dropSession()
{
    closeHandles();
    loggedIn_ = false;
    folder_ = {};
    cache_.clear();
    mlsd_ = Mlsd::Unknown;
    tls13Only_ = false;
    preferEd25519_ = true;
    reuseDemanded_ = false;
    ticketSpent_ = false;
}

void CurlWorker::resetFolder()
{
    cache_.clear();
}

QByteArray CurlWorker::folderUrl() const
{
    return address_.urlBase() + (sftp() ? folder_.sftpUrlPath() : folder_.ftpUrlPath());
}

QByteArray CurlWorker::fileUrl(const QByteArray &raw) const
{
    return folderUrl() + raw.toPercentEncoding();
}

QByteArray CurlWorker::quotedPath(const QByteArray &raw) const
{
    QByteArray path = folder_.plainPath();
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

// A server that gives up on an idle session says 421 and hangs up. libcurl
// would still reuse that connection and read the stray reply as the answer to
// its next command (a use-after-free in libcurl before 8.6), so a kept
// connection on which the server has spoken unasked is let go first. The
// folder is kept: the next request logs in again and goes back there by path.
void CurlWorker::dropConnectionIfHungUp()
{
    if (controlSocket_ == CURL_SOCKET_BAD)
        return;
    pollfd control{controlSocket_, POLLIN, 0};
    if (::poll(&control, 1, 0) <= 0)
        return;
    closeHandles();
    openHandles();
}

// The connections live in the multi handle's cache between requests, so that
// one log-in serves the whole session.
bool CurlWorker::openHandles()
{
    if (!multi_) {
        multi_ = curl_multi_init();
        shared_->setMulti(multi_);
    }
    if (!handle_)
        handle_ = curl_easy_init();
    return multi_ && handle_;
}

void CurlWorker::closeHandles()
{
    if (multi_) {
        shared_->setMulti(nullptr);
        // libcurl says goodbye (QUIT) to the server here.
        curl_multi_cleanup(multi_);
        multi_ = nullptr;
    }
    if (handle_) {
        curl_easy_cleanup(handle_);
        handle_ = nullptr;
    }
    controlSocket_ = CURL_SOCKET_BAD;
}

CurlWorker::Attempt CurlWorker::perform(const QByteArray &url, const Setup &setup)
{
    Attempt attempt;
    dropConnectionIfHungUp();
    if (ticketSpent_) {
        ticketSpent_ = false;
        closeHandles();
    }
    if (!openHandles()) {
        attempt.code = CURLE_FAILED_INIT;
        attempt.error = text(kNoHandleText);
        return attempt;
    }
    // The trust the user gave is read afresh for every request, so that a
    // server trusted in another window counts at once.
    peer_.host = address_.host;
    peer_.port = address_.port;
    peer_.trustOnce = options_.trustOnce;
    if (address_.scheme != ServerAddress::Scheme::Ftp) {
        const TrustStore store(options_.trustFile);
        peer_.trusted =
            store.fingerprint(address_.hostPort(), sftp() ? TrustStore::Kind::HostKey : TrustStore::Kind::Certificate);
    }
    bool ed25519 = sftp() && preferEd25519_;
    std::optional<PeerIdentity> ed25519Rejected;
    qint64 lastTotal = -1;
    bool reportProgress = false;
    for (int round = 0; round < 2; ++round) {
        peer_.rejected.reset();
        peer_.keySeen = false;
        askEd25519_ = ed25519;
        // The handle keeps pointing at the call once it is dropped; the next
        // call resets it before anything can run.
        CurlCall call(*shared_, requestId_, progress_, options_.listingLimit, lastTotal);
        curl_easy_reset(handle_);
        setCommonOptions(url);
        call.install(handle_, trace_);
        if (round > 0)
            curl_easy_setopt(handle_, CURLOPT_FRESH_CONNECT, 1L);
        setup(handle_, call);
        attempt.code = call.run(multi_, handle_, &controlSocket_);
        attempt.replyCode = call.replyCode;
        attempt.replyLine = call.replyLine;
        attempt.replyCodes = call.replyCodes;
        attempt.moved = call.moved;
        if (call.sinkError != 0)
            attempt.sinkError = call.sinkError;
        attempt.error = call.error(attempt.code);
        if (call.bodyTooLarge)
            attempt.error = text(kListingTooLargeText);
        lastTotal = call.lastTotal;
        reportProgress = call.reportProgress;
        long connects = 0;
        curl_easy_getinfo(handle_, CURLINFO_NUM_CONNECTS, &connects);
        const bool reused = connects == 0;
        const bool download = call.download();
        if (ed25519) {
            // Without an ed25519 key the key exchange fails before any key
            // is shown. A key of another type may be the one the user
            // trusted: earlier versions took the one libssh2 prefers.
            const bool noSuchKey = !peer_.keySeen && (attempt.code == CURLE_FAILED_INIT || attempt.code == CURLE_SSH);
            const bool otherTrusted = peer_.rejected && (!peer_.trusted.isEmpty() || !peer_.trustOnce.isEmpty());
            if (noSuchKey || otherTrusted) {
                ed25519 = false;
                preferEd25519_ = false;
                if (otherTrusted)
                    ed25519Rejected = peer_.rejected;
                --round;
                continue;
            }
        }
        const bool lost = call.replyCode == 421 || attempt.code == CURLE_SEND_ERROR ||
                          attempt.code == CURLE_RECV_ERROR || attempt.code == CURLE_GOT_NOTHING ||
                          attempt.code == CURLE_FTP_WEIRD_SERVER_REPLY;
        // A kept connection that died silently (a router forgot it, the
        // server went away without a word) answers nothing at all.
        const bool silent = attempt.code == CURLE_OPERATION_TIMEDOUT && reused && call.replyCodes.isEmpty();
        // A connection kept from an earlier request may have been closed by
        // the server for idling; that is no reason to fail the user's
        // request, so it is tried once more on a fresh log-in.
        if (round == 0 && (lost || silent) && !call.greeted && call.moved == 0 && !shared_->stopped(requestId_))
            continue;
        // Over TLS 1.3 a data connection must resume the control
        // connection's session with a ticket from the server, and servers
        // that demand this (proftpd by default) take each ticket once only.
        // libcurl keeps one ticket and takes the next only when it reads from
        // a data connection, which an upload does not do before it closes:
        // after an upload the next data connection is refused, by a reply or,
        // for a download, by a data connection that ends at once. A fresh
        // log-in brings fresh tickets, and from then on every upload is
        // followed by one.
        const bool dataRefused = call.replyCode == 425 || call.replyCode == 522 ||
                                 (download && !call.replyCodes.isEmpty() && call.replyCodes.last() == 150 &&
                                  call.moved == 0 && !attempt.ok());
        if (round == 0 && tls13Only_ && dataRefused && !shared_->stopped(requestId_)) {
            reuseDemanded_ = true;
            closeHandles();
            if (!openHandles())
                break;
            continue;
        }
        // A server that refuses TLS 1.2 altogether gets TLS 1.3.
        if (round == 0 && attempt.code == CURLE_SSL_CONNECT_ERROR && !tls13Only_ && !peer_.rejected &&
            address_.scheme != ServerAddress::Scheme::Sftp &&
            (attempt.error.contains(QLatin1String("protocol version")) ||
             attempt.error.contains(QLatin1String("unsupported protocol")))) {
            tls13Only_ = true;
            continue;
        }
        break;
    }
    // No other key is trusted either: the one to show, and to trust from now
    // on, is the ed25519 key.
    if (ed25519Rejected && peer_.rejected) {
        peer_.rejected = ed25519Rejected;
        preferEd25519_ = true;
    }
    if (attempt.ok() && reportProgress && lastTotal >= 0)
        progress_(lastTotal, lastTotal);
    return attempt;
}

void CurlWorker::setCommonOptions(const QByteArray &url)
{
    CURL *h = handle_;
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    switch (address_.scheme) {
    case ServerAddress::Scheme::Ftp:
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
        break;
    case ServerAddress::Scheme::Sftp:
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "sftp");
        curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYFUNCTION, &PeerCheck::hostKey);
        curl_easy_setopt(h, CURLOPT_SSH_HOSTKEYDATA, &peer_);
        if (askEd25519_) {
            const QByteArray knownHosts = ed25519_.fileFor(address_.host, address_.port);
            if (!knownHosts.isEmpty())
                curl_easy_setopt(h, CURLOPT_SSH_KNOWNHOSTS, knownHosts.constData());
        }
        // With a password, the password; without, the user's SSH agent or
        // the first of the key files the README names. Never libcurl's own
        // guesses, which end with id_rsa in the current folder.
        if (password_.isEmpty()) {
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
            curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES,
                             static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
        }
        break;
    default:
        // FTP over TLS: the control connection and every data connection
        // (PROT P), never falling back to plain. A server without TLS ends
        // the request before the user name is sent.
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
        curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        curl_easy_setopt(h, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
        // The host name is checked with the chain, where a certificate the
        // user trusts may pass without it.
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &PeerCheck::sslContext);
        curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &peer_);
        // Servers such as vsftpd accept a data connection only when it
        // resumes the control connection's TLS session. TLS 1.3 tickets are
        // used up one per connection and arrive on a data connection only
        // if the client reads after the handshake, which an upload never
        // does, so the second data connection would be refused ("522
        // session reuse required"). TLS 1.2 sessions can be resumed again and
        // again; TLS 1.3 is used only with servers that speak nothing older.
        curl_easy_setopt(h, CURLOPT_SSLVERSION,
                         long(CURL_SSLVERSION_TLSv1_2) |
                             (tls13Only_ ? long(CURL_SSLVERSION_MAX_DEFAULT) : long(CURL_SSLVERSION_MAX_TLSv1_2)));
        break;
    }
    // Without a user name libcurl logs in as "anonymous", which is what an
    // empty user field means to an FTP user.
    if (!user_.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, user_.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, password_.constData());
    }
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, options_.connectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, options_.responseTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, options_.stallSeconds);
    curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(h, CURLOPT_FTP_USE_EPSV, 1L);
    // The data connection goes to the server we logged in to, whatever
    // address a passive reply names (a server behind NAT often names its
    // private one; a hostile one could name a third party).
    curl_easy_setopt(h, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
}

} // namespace webloom
