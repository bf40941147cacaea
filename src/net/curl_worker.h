// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include <curl/curl.h>

#include "net/address.h"
#include "net/curl_call.h"
#include "net/curl_shared.h"
#include "net/list_parser.h"
#include "net/peer_check.h"
#include "net/protocol_dialect.h"
#include "net/remote_folder_cache.h"
#include "net/remote_path.h"
#include "net/transfer.h"
#include "net/trust_lookup.h"

namespace webloom {

struct CurlOptions {
    long connectTimeoutSeconds = 60;
    // How long to wait for each reply of the server.
    long responseTimeoutSeconds = 60;
    // A transfer that moves no byte for this long is given up; there is no
    // limit on the length of a transfer that keeps moving.
    long stallSeconds = 60;
    // The largest listing taken from a server.
    qint64 listingLimit = qint64(64) * 1024 * 1024;
    // Where the certificates and host keys the user trusts are kept; empty
    // for the per-user store.
    QString trustFile;
    // Fingerprints accepted for this run only ("webloom ftp --trust").
    QStringList trustOnce;
};

// One logged-in session over libcurl, used from one thread. Everything here
// runs there, one request after the other, so none of it needs a lock.
//
// The server's current folder is kept here as a path and every request names
// it, because libcurl logs in again on its own after a dropped connection and
// the server's own working folder is then lost. What the last listing showed
// of that folder is kept too, up to date with this session's own changes, so
// that a PUT knows whether its name is taken without listing again.
class CurlWorker {
public:
    using Progress = std::function<void(qint64 done, qint64 total)>;

    CurlWorker(std::shared_ptr<CurlShared> shared, CurlOptions options, Progress progress);
    ~CurlWorker();
    CurlWorker(const CurlWorker &) = delete;
    CurlWorker &operator=(const CurlWorker &) = delete;

    TransferOutcome run(quint64 id, const TransferRequest &request, const Transfer::Connection &connection);
    // Ends the session politely (QUIT); a partial upload left by a stopped
    // request is removed first when the server still answers.
    void close();

private:
    using Attempt = CallResult;
    // Sets a call up for its request; run again for each try.
    using Setup = std::function<void(CURL *, CurlCall &)>;

    TransferOutcome dispatch(const TransferRequest &request);
    bool ensureSession(const Transfer::Connection &connection, TransferOutcome *failed);
    void dropSession();
    void resetFolder();

    TransferOutcome list();
    TransferOutcome changeDirectory(const QString &name);
    TransferOutcome folderCommand(TransferRequest::Operation operation, const QString &name);
    TransferOutcome put(const QString &localPath, const QString &remote, bool freshName);
    TransferOutcome get(const QString &remote, const QString &localPath);
    TransferOutcome rename(const QString &from, const QString &to, QString aside);
    bool removePartialUpload();

    Attempt listDirectory(QByteArray *data, listing::Format *format);
    bool ensureListing(TransferOutcome *failed);
    Attempt quote(const QList<QByteArray> &commands);

    QByteArray folderUrl() const;
    QByteArray fileUrl(const QByteArray &raw) const;

    static TransferOutcome refusal(const QString &text);
    static TransferOutcome success(const Attempt &attempt);
    TransferOutcome failure(const Attempt &attempt) const;

    Attempt perform(const QByteArray &url, const Setup &setup);
    void setCommonOptions(const QByteArray &url);
    void dropConnectionIfHungUp();
    bool openHandles();
    void closeHandles();

    std::shared_ptr<CurlShared> shared_;
    CurlOptions options_;
    Progress progress_;
    bool trace_ = false;
    // Asked before every request, and read from its file only when that
    // changed.
    std::unique_ptr<TrustLookup> trust_;

    CURLM *multi_ = nullptr;
    CURL *handle_ = nullptr;
    // The control connection kept after the last request, if any.
    curl_socket_t controlSocket_ = CURL_SOCKET_BAD;

    Transfer::Connection connection_;
    ServerAddress address_;
    PeerCheck peer_;
    // Chosen when the session starts; holds what the protocol learnt of the
    // server in this session.
    std::unique_ptr<ProtocolDialect> dialect_;
    QByteArray user_;
    QByteArray password_;
    bool loggedIn_ = false;
    RemotePath folder_;
    RemoteFolderCache cache_;
    // An upload stopped part-way: the file it left on the server.
    struct Partial {
        RemotePath folder;
        QByteArray raw;
    };
    std::optional<Partial> partial_;
    // The last request entered a folder by listing it: a listing asked for
    // right after it is that one.
    bool listedJustNow_ = false;

    // The request in progress; what its calls see lives in each CurlCall.
    quint64 requestId_ = 0;
};

} // namespace webloom
