#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

#include "upload/transfer.h"

namespace webloom {

class CurlWorker;
struct CurlRequest;
struct CurlResult;

// The transfer control over libcurl. One worker thread owns one easy handle
// for the whole session, so one logged-in control connection serves every
// request; results come back to the owner's thread through its event queue,
// in the order the worker produced them.
//
// The server's current directory is kept here as an absolute path and every
// request names it, because curl logs in again on its own after a dropped
// connection and the server's own working directory is then lost.
//
// The host field may carry ":port" (default 21) or "[v6-address]:port".
// Setting the environment variable WEBLOOM_FTP_TRACE writes the FTP dialogue
// to standard error, with the password masked.
class CurlTransfer : public Transfer {
public:
    explicit CurlTransfer(QObject *parent = nullptr);
    // Aborts a running transfer, says goodbye to the server and joins the
    // worker thread.
    ~CurlTransfer() override;

    // Folder that local names of PUT and GET are relative to; empty (the
    // default) means the process's current folder at the time of the request.
    void setLocalFolder(const QString &folder) { localFolder_ = folder; }
    const QString &localFolder() const { return localFolder_; }

    // Whether a host field can address a server (a name or address, and a
    // port from 1 to 65535 when one is given).
    static bool isValidHostField(const QString &host);

    QString url() const override;
    void execute(const QString &url, const QString &command) override;
    bool busy() const override { return busy_; }
    QByteArray nextChunk(int size, ChunkKind kind) override;
    QString lastReply() const override { return lastReply_; }

private:
    void refuse(const QString &reason);
    void finish(const CurlResult &result);

    QThread thread_;
    CurlWorker *worker_ = nullptr;
    std::shared_ptr<std::atomic_bool> abort_;
    QString localFolder_;
    bool busy_ = false;
    quint64 nextId_ = 1;
    quint64 runningId_ = 0;
    QByteArray data_;
    qsizetype dataOffset_ = 0;
    QString lastReply_;
};

} // namespace webloom
