// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/curl_worker.h"

#include "net/curl_texts.h"

// What a call's result means to the caller.

namespace webloom {

using namespace curltext;

TransferOutcome CurlWorker::refusal(const QString &reply)
{
    TransferOutcome outcome;
    outcome.failure = TransferOutcome::Failure::Refused;
    outcome.reply = reply;
    return outcome;
}

TransferOutcome CurlWorker::success(const Attempt &attempt)
{
    TransferOutcome outcome;
    outcome.ok = true;
    outcome.reply = listing::decodeName(attempt.replyLine);
    return outcome;
}

// The server's refusal when it gave one; otherwise libcurl's account of what
// went wrong (no connection, lost connection, time-out).
TransferOutcome CurlWorker::failure(const Attempt &attempt) const
{
    using Failure = TransferOutcome::Failure;
    TransferOutcome outcome;
    outcome.detail = attempt.error;
    if (attempt.code == CURLE_ABORTED_BY_CALLBACK && shared_->stopped(requestId_)) {
        outcome.failure = Failure::Cancelled;
        outcome.reply = text(kCancelledText);
        return outcome;
    }
    if (peer_.rejected) {
        outcome.failure = Failure::Untrusted;
        outcome.identity = *peer_.rejected;
        outcome.reply = outcome.identity.reason;
        return outcome;
    }
    switch (attempt.code) {
    case CURLE_USE_SSL_FAILED:
        // The same code for AUTH refused and for PROT P refused after the
        // encrypted log-in; only the first means the server has no TLS.
        if (dialect_->controlEncrypted(attempt)) {
            outcome.failure = Failure::TlsDataRefused;
            outcome.reply = attempt.replyCode >= 400 && !attempt.replyLine.isEmpty()
                                ? listing::decodeName(attempt.replyLine)
                                : attempt.error;
        } else {
            outcome.failure = Failure::NoTls;
            outcome.reply = attempt.error;
        }
        return outcome;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSH:
        outcome.failure = Failure::Unsupported;
        outcome.reply = attempt.error;
        return outcome;
    case CURLE_QUOTE_ERROR:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS:
        // An SFTP server's refusal has no reply line; libcurl's words say it.
        if (attempt.replyCode < 400) {
            outcome.failure = Failure::Server;
            outcome.reply = attempt.error;
            return outcome;
        }
        break;
    default:
        break;
    }
    if (attempt.code == CURLE_LOGIN_DENIED || attempt.replyCode == 530)
        outcome.failure = Failure::Login;
    else if (dialect_->encryptedDataRefused(attempt))
        // The server would not take the encrypted data connection (its
        // handshake failed, or it wants no TLS there).
        outcome.failure = Failure::TlsDataRefused;
    else if (attempt.replyCode >= 400 && !attempt.replyLine.isEmpty())
        outcome.failure = Failure::Server;
    else
        outcome.failure = Failure::Connection;
    outcome.reply = attempt.replyCode >= 400 && !attempt.replyLine.isEmpty() ? listing::decodeName(attempt.replyLine)
                                                                             : attempt.error;
    return outcome;
}

} // namespace webloom
