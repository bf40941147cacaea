// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QThread>
#include <QTimer>

#include <memory>

#include "net/curl_worker.h"
#include "net/transfer.h"

namespace webloom {

// The transfer over libcurl: one worker thread owns one session, so one
// logged-in control connection serves every request; outcomes come back to
// the owner's thread through its event queue, in order.
//
// Setting the environment variable WEBLOOM_FTP_TRACE writes the dialogue with
// the server to standard error, with the password masked.
class CurlTransfer : public Transfer {
    Q_OBJECT
public:
    explicit CurlTransfer(QObject *parent = nullptr);
    explicit CurlTransfer(CurlOptions options, QObject *parent = nullptr);
    // Stops a running request, says goodbye to the server and joins the
    // worker thread; never longer than about kCloseLimitMs, however silent
    // the server.
    ~CurlTransfer() override;

    static constexpr int kCloseLimitMs = 1500;

    void start(const TransferRequest &request) override;
    bool busy() const override { return runningId_ != 0; }
    void cancel() override;

private:
    void deliver(quint64 id, const TransferOutcome &outcome);

    std::shared_ptr<CurlShared> shared_;
    QThread thread_;
    QObject *context_ = nullptr; // lives on the worker thread
    std::shared_ptr<CurlWorker> worker_;
    quint64 nextId_ = 1;
    quint64 runningId_ = 0;
    // Cuts a goodbye that the server does not answer.
    QTimer closeLimit_;
};

} // namespace webloom
