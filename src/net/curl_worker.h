#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

#include <curl/curl.h>

#include "net/address.h"
#include "net/list_parser.h"
#include "net/peer_check.h"
#include "net/remote_path.h"
#include "net/transfer.h"

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

private:
    std::mutex mutex_;
    bool cut_ = false;
    std::set<curl_socket_t> sockets_;
    CURLM *multi_ = nullptr;
};

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
    struct Attempt {
        CURLcode code = CURLE_OK;
        long replyCode = 0;
        QByteArray replyLine;
        QList<long> replyCodes; // every final reply of the request, in order
        QString error;
        bool ok() const { return code == CURLE_OK; }
    };
    using Setup = std::function<void(CURL *)>;
    enum class Mlsd { Unknown, Yes, No };

    // What the last listing showed of the current folder.
    struct FolderCache {
        bool known = false;
        bool foldsCase = false; // DOS-style listings: "A.HTML" is "a.html"
        QList<listing::ListEntry> entries;

        const listing::ListEntry *find(const QByteArray &raw) const;
        void add(const QByteArray &raw, bool directory, qint64 size);
        void remove(const QByteArray &raw);
    };

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

    QByteArray rawName(const QString &name) const;
    QByteArray folderUrl() const;
    QByteArray fileUrl(const QByteArray &raw) const;
    // A path in the current folder as an SFTP quote command takes it.
    QByteArray quotedPath(const QByteArray &raw) const;
    bool sftp() const { return address_.isSftp(); }

    static TransferOutcome refusal(const QString &text);
    static TransferOutcome success(const Attempt &attempt);
    bool controlEncrypted(const Attempt &attempt) const;
    TransferOutcome failure(const Attempt &attempt) const;

    Attempt perform(const QByteArray &url, const Setup &setup);
    CURLcode runTransfer();
    void setCommonOptions(const QByteArray &url);
    void dropConnectionIfHungUp();
    bool openHandles();
    void closeHandles();

    static size_t onReply(char *data, size_t size, size_t count, void *self);
    static size_t onData(char *data, size_t size, size_t count, void *self);
    static size_t onRead(char *buffer, size_t size, size_t count, void *self);
    static int onProgress(void *self, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal, curl_off_t upNow);
    static int onTrace(CURL *handle, curl_infotype type, char *data, size_t size, void *self);
    static curl_socket_t onOpenSocket(void *self, curlsocktype purpose, curl_sockaddr *address);
    static int onCloseSocket(void *self, curl_socket_t socket);

    std::shared_ptr<CurlShared> shared_;
    CurlOptions options_;
    Progress progress_;
    bool trace_ = false;

    CURLM *multi_ = nullptr;
    CURL *handle_ = nullptr;
    // The control connection kept after the last request, if any.
    curl_socket_t controlSocket_ = CURL_SOCKET_BAD;

    Transfer::Connection connection_;
    ServerAddress address_;
    PeerCheck peer_;
    QByteArray sshKeyFile_;
    QByteArray sshPublicKeyFile_;
    // SFTP asks the server for its ed25519 key first; not again in this
    // session once the server turned out to have none, or another key of it
    // was the one trusted.
    Ed25519Preference ed25519_;
    bool preferEd25519_ = true;
    bool askEd25519_ = false; // for the attempt under way
    bool tls13Only_ = false;
    // The server accepts a TLS 1.3 data connection only with a ticket it has
    // not seen before.
    bool reuseDemanded_ = false;
    bool ticketSpent_ = false;
    QByteArray user_;
    QByteArray password_;
    bool loggedIn_ = false;
    RemotePath folder_;
    FolderCache cache_;
    Mlsd mlsd_ = Mlsd::Unknown;
    // An upload stopped part-way: the file it left on the server.
    struct Partial {
        RemotePath folder;
        QByteArray raw;
    };
    std::optional<Partial> partial_;

    // State of the request in progress, read by the callbacks.
    quint64 requestId_ = 0;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    QByteArray replyLine_;
    long replyCode_ = 0;
    QList<long> replyCodes_;
    bool greeted_ = false;
    qint64 moved_ = 0;
    QByteArray *body_ = nullptr;
    bool bodyTooLarge_ = false;
    int sinkFd_ = -1;
    bool sinkFailed_ = false;
    int sinkError_ = 0;
    int sourceFd_ = -1;
    bool reportProgress_ = false;
    bool uploading_ = false;
    QElapsedTimer progressClock_;
    qint64 lastDone_ = -1;
    qint64 lastTotal_ = -1;
    qint64 expectedSize_ = -1;
};

} // namespace webloom
