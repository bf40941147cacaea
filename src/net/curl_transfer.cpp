// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/curl_transfer.h"

#include <openssl/crypto.h>

#include "net/trust_store.h"

namespace webloom {

namespace {

const char16_t kBusyText[] = u"前の要求がまだ終わっていません";

} // namespace

CurlTransfer::CurlTransfer(QObject *parent) : CurlTransfer(CurlOptions{}, parent)
{
}

CurlTransfer::CurlTransfer(CurlOptions options, QObject *parent)
    : Transfer(parent), shared_(std::make_shared<CurlShared>())
{
    qRegisterMetaType<TransferOutcome>();
    // Looked up here: the settings store is not for the worker's thread.
    if (options.trustFile.isEmpty())
        options.trustFile = TrustStore::defaultPath();
    worker_ = std::make_shared<CurlWorker>(shared_, options, [this](qint64 done, qint64 total) {
        QMetaObject::invokeMethod(
            this, [this, done, total] { emit progress(done, total); }, Qt::QueuedConnection);
    });
    context_ = new QObject;
    context_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, context_, &QObject::deleteLater);
    // Qt's threads are detached: wait() returns before the thread has run
    // its thread-local destructors, OpenSSL's among them, and those then race
    // with OpenSSL's own clean-up when the process exits right after (a
    // double free after the last request). So the thread frees its OpenSSL
    // state itself, while its owner still waits for it.
    connect(
        &thread_, &QThread::finished, context_, [] { OPENSSL_thread_stop(); }, Qt::DirectConnection);
    thread_.setObjectName(QStringLiteral("webloom-transfer"));
    thread_.start();
    closeLimit_.setSingleShot(true);
    closeLimit_.setInterval(kCloseLimitMs);
    connect(&closeLimit_, &QTimer::timeout, this, [this] { shared_->cutSockets(); });
}

CurlTransfer::~CurlTransfer()
{
    shared_->abortAll.store(true);
    shared_->wake();
    // Queued behind any request still waiting, which the abort skips.
    QMetaObject::invokeMethod(
        context_,
        [worker = worker_] {
            worker->close();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (!thread_.wait(kCloseLimitMs)) {
        // The server is silent: its goodbye is not waited for.
        shared_->cutSockets();
        thread_.wait();
    }
}

void CurlTransfer::start(const TransferRequest &request)
{
    if (busy()) {
        TransferOutcome refused;
        refused.failure = TransferOutcome::Failure::Refused;
        refused.reply = QString::fromUtf16(kBusyText);
        // The running request goes on; the refusal arrives like any outcome,
        // but leaves busy() as it is.
        QMetaObject::invokeMethod(
            this, [this, refused] { emit finished(refused); }, Qt::QueuedConnection);
        return;
    }
    const quint64 id = nextId_++;
    runningId_ = id;
    shared_->uncut();
    if (request.operation == TransferRequest::Operation::Close)
        closeLimit_.start();
    const Connection connection = this->connection();
    QMetaObject::invokeMethod(
        context_,
        [this, worker = worker_, shared = shared_, id, request, connection] {
            const TransferOutcome outcome = worker->run(id, request, connection);
            if (shared->abortAll.load())
                return;
            QMetaObject::invokeMethod(
                this, [this, id, outcome] { deliver(id, outcome); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void CurlTransfer::cancel()
{
    if (runningId_ == 0)
        return;
    shared_->cancelUpTo.store(runningId_);
    shared_->wake();
}

void CurlTransfer::deliver(quint64 id, const TransferOutcome &outcome)
{
    if (id != runningId_)
        return;
    closeLimit_.stop();
    // Idle before the outcome goes out: a handler that starts the next
    // request from inside it must not find the transfer still busy.
    runningId_ = 0;
    emit finished(outcome);
}

} // namespace webloom
