// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/curl_worker.h"

#include <poll.h>

#include "net/curl_call.h"
#include "net/curl_texts.h"
#include "net/trust_store.h"

namespace webloom {

using namespace curltext;

CurlWorker::CurlWorker(std::shared_ptr<CurlShared> shared, CurlOptions options, Progress progress)
    : shared_(std::move(shared)), options_(options), progress_(std::move(progress)),
      trace_(qEnvironmentVariableIsSet("WEBLOOM_FTP_TRACE")),
      trust_(std::make_unique<TrustStore>(options_.trustFile, options_.trustOnce))
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
    outcome.secure = address_.encrypted();
    if (!outcome.ok && dialect_)
        outcome.tooManyConnections = dialect_->refusesMoreConnections(outcome.reply);
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
    const bool listedJustNow = listedJustNow_;
    listedJustNow_ = false;
    switch (request.operation) {
    case Op::List:
        if (listedJustNow && cache_.known()) {
            TransferOutcome outcome;
            outcome.ok = true;
            outcome.entries = listing::remoteEntries(cache_.entries());
            return outcome;
        }
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
    if (!dialect_)
        dialect_ = ProtocolDialect::forAddress(address_);
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
    const QByteArray home = address_.urlBase() + dialect_->homePath();
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
    dialect_.reset();
}

void CurlWorker::resetFolder()
{
    cache_.clear();
}

QByteArray CurlWorker::folderUrl() const
{
    return address_.urlBase() + dialect_->urlPath(folder_);
}

QByteArray CurlWorker::fileUrl(const QByteArray &raw) const
{
    return folderUrl() + raw.toPercentEncoding();
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
    if (dialect_->keptConnectionsSpent())
        closeHandles();
    if (!openHandles()) {
        attempt.code = CURLE_FAILED_INIT;
        attempt.error = text(kNoHandleText);
        return attempt;
    }
    // The trust the user gave is asked for every request, so that a server
    // trusted in another window counts at once.
    peer_.host = address_.host;
    peer_.port = address_.port;
    peer_.trustOnce = trust_->acceptedOnce();
    if (const std::optional<TrustLookup::Kind> kind = dialect_->trustKind())
        peer_.trusted = trust_->fingerprint(address_.hostPort(), *kind);
    dialect_->beginTries();
    qint64 lastTotal = -1;
    bool reportProgress = false;
    for (int round = 0; round < 2; ++round) {
        peer_.rejected.reset();
        peer_.keySeen = false;
        dialect_->beginTry();
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
        if (dialect_->firstLook(attempt, peer_) == ProtocolDialect::Retry::SameRound) {
            --round;
            continue;
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
        if (round > 0)
            break;
        const ProtocolDialect::Retry retry =
            dialect_->lastLook(attempt, call, peer_, download, shared_->stopped(requestId_));
        if (retry == ProtocolDialect::Retry::AgainFreshLogIn) {
            closeHandles();
            if (!openHandles())
                break;
            continue;
        }
        if (retry == ProtocolDialect::Retry::Again)
            continue;
        break;
    }
    dialect_->endTries(peer_);
    if (attempt.ok() && reportProgress && lastTotal >= 0)
        progress_(lastTotal, lastTotal);
    return attempt;
}

void CurlWorker::setCommonOptions(const QByteArray &url)
{
    CURL *h = handle_;
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    dialect_->setOptions(h, peer_, password_);
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
}

} // namespace webloom
