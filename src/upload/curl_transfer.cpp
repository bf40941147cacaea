#include "upload/curl_transfer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>

#include <curl/curl.h>
#include <poll.h>
#include <sys/select.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>

#include "upload/list_parser.h"

namespace webloom {

namespace {

constexpr long kConnectTimeoutSeconds = 60;
constexpr long kResponseTimeoutSeconds = 60;
// A transfer that moves no byte for this long is given up; there is no limit
// on the length of a transfer that keeps moving.
constexpr long kStallSeconds = 60;
constexpr qint64 kProgressIntervalMs = 100;
constexpr int kDefaultPort = 21;

// Failures found before or without asking the server. They stand in for the
// server's reply line in messages and in the log.
const char16_t kBusyText[] = u"前の要求がまだ終わっていません";
const char16_t kBadCommandText[] = u"コマンドが正しくありません";
const char16_t kBadAddressText[] = u"アドレスが正しくありません";
const char16_t kBadNameText[] = u"この名前は使えません";
const char16_t kLocalMissingText[] = u"ローカルファイルを読み取れません";
const char16_t kLocalExistsText[] = u"同じ名前のローカルファイルがあります";
const char16_t kLocalWriteText[] = u"ローカルファイルを書き込めません";
const char16_t kRemoteExistsText[] = u"サーバーに同じ名前のファイルがあります";
const char16_t kNoHandleText[] = u"通信を始められません";

struct HostPort {
    QString host;
    int port = kDefaultPort;
    bool ok = false;
};

// The address field as a user types it: "ftp.example.jp", "ftp.example.jp:2121",
// "ftp://ftp.example.jp/", "[2001:db8::1]:21" or a bare IPv6 address.
HostPort splitHostField(const QString &field)
{
    HostPort result;
    QString text = field.trimmed();
    if (text.startsWith(QLatin1String("ftp://"), Qt::CaseInsensitive))
        text = text.mid(6);
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return result;
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return result;
        portText = rest.mid(1);
        if (rest.startsWith(QLatin1Char(':')) && portText.isEmpty())
            return result;
        text = text.mid(1, close - 1);
    } else if (text.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        portText = text.mid(colon + 1);
        text.truncate(colon);
        if (portText.isEmpty())
            return result;
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        const int port = portText.toInt(&ok);
        if (!ok || port < 1 || port > 65535 || !std::all_of(portText.begin(), portText.end(), [](QChar c) {
                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
            }))
            return result;
        result.port = port;
    }
    result.host = text;
    result.ok = !text.isEmpty();
    return result;
}

bool isSafeLocalName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\r')) && !name.contains(QLatin1Char('\n')) &&
           !name.contains(QChar(0));
}

// A name that can travel in one FTP command line.
bool isSendableName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('\r')) && !name.contains(QLatin1Char('\n')) &&
           !name.contains(QChar(0));
}

bool notUnderstood(long code)
{
    return code == 500 || code == 501 || code == 502 || code == 504;
}

} // namespace

struct ServerAddress {
    QByteArray base; // "ftp://host:port", no user information
    QByteArray user;
    QByteArray password;
    bool operator==(const ServerAddress &) const = default;
};

struct CurlRequest {
    quint64 id = 0;
    TransferCommand command;
    ServerAddress server;
    QString localFolder;
};

struct CurlResult {
    quint64 id = 0;
    int state = Transfer::kStateError;
    QString reply;
    QByteArray data;
};

// Lives on the worker thread; everything here runs there, one request after
// the other, so none of it needs a lock.
class CurlWorker : public QObject {
public:
    CurlWorker(std::shared_ptr<std::atomic_bool> abort, std::function<void(const CurlResult &)> deliver,
               std::function<void(qint64, qint64)> progress)
        : abort_(std::move(abort)), deliver_(std::move(deliver)), progress_(std::move(progress))
    {
    }
    ~CurlWorker() override { dropConnection(); }

    void run(const CurlRequest &request)
    {
        if (abort_->load())
            return;
        CurlResult result = dispatch(request);
        result.id = request.id;
        deliver_(result);
    }

    // Ends the session: curl says QUIT when it lets the connection go.
    void dropConnection()
    {
        closeHandles();
        server_ = {};
        pathKnown_ = false;
        absolute_ = true;
        path_.clear();
        mlsd_ = Mlsd::Unknown;
        rawNames_.clear();
        sizes_.clear();
    }

private:
    struct Attempt {
        CURLcode code = CURLE_OK;
        long replyCode = 0;
        QByteArray replyLine;
        QString error;
        bool ok() const { return code == CURLE_OK; }
    };
    enum class Mlsd { Unknown, Yes, No };
    using Setup = std::function<void(CURL *)>;

    CurlResult dispatch(const CurlRequest &request)
    {
        const TransferCommand &command = request.command;
        if (command.kind == TransferCommand::Kind::Close) {
            // libcurl reads the server's goodbye on a handle of its own, so
            // there is no reply line to show.
            dropConnection();
            return {0, Transfer::kStateCompleted, {}, {}};
        }
        Attempt login;
        if (!ensureSession(request.server, &login))
            return failure(login);
        switch (command.kind) {
        case TransferCommand::Kind::Dir:
            return listCurrent();
        case TransferCommand::Kind::Cd:
            return changeDirectory(command.first);
        case TransferCommand::Kind::Mkdir:
            return simpleCommand("MKD ", command.first);
        case TransferCommand::Kind::Rmdir:
            return simpleCommand("RMD ", command.first);
        case TransferCommand::Kind::Delete:
            return simpleCommand("DELE ", command.first);
        case TransferCommand::Kind::Put:
            return put(QDir(request.localFolder).filePath(command.first), command.second);
        case TransferCommand::Kind::Get:
            return get(command.first, request.localFolder, command.second);
        case TransferCommand::Kind::Close:
            break;
        }
        return refusal(kBadCommandText);
    }

    static CurlResult refusal(const char16_t *text) { return {0, Transfer::kStateError, QString::fromUtf16(text), {}}; }
    static CurlResult success(const Attempt &attempt, QByteArray data = {})
    {
        return {0, Transfer::kStateCompleted, decodeReply(attempt.replyLine), std::move(data)};
    }
    // The server's refusal when it gave one; otherwise curl's account of what
    // went wrong (no connection, lost connection, time-out).
    static CurlResult failure(const Attempt &attempt)
    {
        const QString reply =
            attempt.replyCode >= 400 && !attempt.replyLine.isEmpty() ? decodeReply(attempt.replyLine) : attempt.error;
        return {0, Transfer::kStateError, reply, {}};
    }
    static QString decodeReply(const QByteArray &line) { return listing::decodeName(line); }

    bool ensureSession(const ServerAddress &server, Attempt *failed)
    {
        if (!(server == server_))
            dropConnection();
        server_ = server;
        if (!openHandles()) {
            failed->code = CURLE_FAILED_INIT;
            failed->error = QString::fromUtf16(kNoHandleText);
            return false;
        }
        if (pathKnown_)
            return true;
        // Logging in shows where the server puts us; from then on every
        // request names its directory by absolute path.
        const Attempt attempt = perform(server_.base + '/', [](CURL *h) { curl_easy_setopt(h, CURLOPT_NOBODY, 1L); });
        if (!attempt.ok()) {
            *failed = attempt;
            return false;
        }
        const char *entry = nullptr;
        curl_easy_getinfo(handle_, CURLINFO_FTP_ENTRY_PATH, &entry);
        const QByteArray entryPath(entry ? entry : "");
        // A server that does not answer PWD with a Unix path keeps paths
        // relative to its log-in folder, which curl returns to on every new
        // connection.
        absolute_ = entryPath.startsWith('/');
        path_.clear();
        if (absolute_) {
            for (const QByteArray &part : entryPath.split('/')) {
                if (!part.isEmpty())
                    path_.append(part);
            }
        }
        pathKnown_ = true;
        return true;
    }

    void remember(const QList<listing::ListEntry> &entries, const listing::Listing &shown)
    {
        rawNames_ = shown.rawNames;
        sizes_.clear();
        for (const listing::ListEntry &entry : entries)
            sizes_.insert(entry.name, entry.size);
    }

    QByteArray rawName(const QString &name) const { return rawNames_.value(name, name.toUtf8()); }

    QByteArray directoryUrl(const QList<QByteArray> &path) const
    {
        QByteArray url = server_.base + '/';
        if (absolute_)
            url += path.isEmpty() ? QByteArray("%2F/") : QByteArray("%2F");
        for (qsizetype i = 0; i < path.size(); ++i) {
            url += path[i].toPercentEncoding();
            url += '/';
        }
        return url;
    }
    QByteArray fileUrl(const QByteArray &raw) const { return directoryUrl(path_) + raw.toPercentEncoding(); }

    QList<QByteArray> resolve(const QString &name) const
    {
        QList<QByteArray> target = path_;
        QList<QByteArray> parts;
        if (name.contains(QLatin1Char('/'))) {
            if (name.startsWith(QLatin1Char('/')) && absolute_)
                target.clear();
            for (const QString &part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts))
                parts.append(part.toUtf8());
        } else {
            parts.append(rawName(name));
        }
        for (const QByteArray &part : parts) {
            if (part == ".")
                continue;
            if (part == "..") {
                if (!target.isEmpty() && target.last() != "..")
                    target.removeLast();
                else if (!absolute_)
                    target.append(part);
                continue;
            }
            target.append(part);
        }
        return target;
    }

    // MLSD where the server has it, LIST on the same connection where it
    // answers that it does not know the command.
    Attempt listDirectory(const QList<QByteArray> &path, QByteArray *data, listing::Format *format)
    {
        const QByteArray url = directoryUrl(path);
        if (mlsd_ != Mlsd::No) {
            const Attempt attempt = perform(url, [&](CURL *h) {
                data->clear();
                body_ = data;
                curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "MLSD");
            });
            if (attempt.ok()) {
                mlsd_ = Mlsd::Yes;
                *format = listing::Format::Mlsd;
                return attempt;
            }
            if (attempt.code != CURLE_FTP_COULDNT_RETR_FILE || !notUnderstood(attempt.replyCode))
                return attempt;
            mlsd_ = Mlsd::No;
        }
        *format = listing::Format::List;
        return perform(url, [&](CURL *) {
            data->clear();
            body_ = data;
        });
    }

    CurlResult listCurrent()
    {
        QByteArray data;
        listing::Format format = listing::Format::List;
        const Attempt attempt = listDirectory(path_, &data, &format);
        if (!attempt.ok())
            return failure(attempt);
        const QList<listing::ListEntry> entries = listing::parseListing(data, format);
        listing::Listing result = listing::formatListing(entries);
        remember(entries, result);
        return success(attempt, result.text);
    }

    CurlResult changeDirectory(const QString &name)
    {
        if (!isSendableName(name))
            return refusal(kBadNameText);
        const QList<QByteArray> target = resolve(name);
        // Asking for the directory itself makes curl enter it (CWD) and
        // nothing more; it succeeds only when the server lets us in.
        const Attempt attempt = perform(directoryUrl(target), [](CURL *h) { curl_easy_setopt(h, CURLOPT_NOBODY, 1L); });
        if (!attempt.ok())
            return failure(attempt);
        path_ = target;
        rawNames_.clear();
        sizes_.clear();
        return success(attempt);
    }

    // MKD, RMD and DELE run after curl has entered the current directory
    // (post-transfer quote). The "*" keeps curl from dropping the connection
    // when the server refuses; the reply code tells the outcome.
    CurlResult simpleCommand(const char *verb, const QString &name)
    {
        if (!isSendableName(name))
            return refusal(kBadNameText);
        const QByteArray line = QByteArray("*") + verb + rawName(name);
        curl_slist *quote = curl_slist_append(nullptr, line.constData());
        Attempt attempt = perform(directoryUrl(path_), [&](CURL *h) {
            curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
            curl_easy_setopt(h, CURLOPT_POSTQUOTE, quote);
        });
        curl_slist_free_all(quote);
        if (attempt.ok() && attempt.replyCode >= 200 && attempt.replyCode < 300)
            return success(attempt);
        if (attempt.ok() && attempt.replyCode < 400)
            attempt.replyCode = 400; // an odd reply still counts as a refusal
        return failure(attempt);
    }

    CurlResult put(const QString &localPath, const QString &remote)
    {
        if (!isSafeLocalName(remote))
            return refusal(kBadNameText);
        QFile source(localPath);
        if (!QFileInfo(localPath).isFile() || !source.open(QIODevice::ReadOnly))
            return refusal(kLocalMissingText);
        // STOR would replace a file the user chose to keep, so look first.
        QByteArray data;
        listing::Format format = listing::Format::List;
        const Attempt listed = listDirectory(path_, &data, &format);
        if (!listed.ok())
            return failure(listed);
        const QList<listing::ListEntry> entries = listing::parseListing(data, format);
        const listing::Listing shown = listing::formatListing(entries);
        const QByteArray raw = shown.rawNames.value(remote, remote.toUtf8());
        for (const listing::ListEntry &entry : entries) {
            if (entry.name == raw)
                return refusal(kRemoteExistsText);
        }
        remember(entries, shown);
        const qint64 size = source.size();
        const Attempt attempt = perform(fileUrl(raw), [&](CURL *h) {
            source.seek(0);
            source_ = &source;
            reportProgress_ = true;
            curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
        });
        if (!attempt.ok())
            return failure(attempt);
        return success(attempt);
    }

    CurlResult get(const QString &remote, const QString &folder, const QString &local)
    {
        // The name comes from the server's listing: it must not lead
        // anywhere but into the local folder.
        if (!isSafeLocalName(remote) || !isSafeLocalName(local))
            return refusal(kBadNameText);
        const QString target = QDir(folder).filePath(local);
        const QFileInfo targetInfo(target);
        if (targetInfo.exists() || targetInfo.isSymLink())
            return refusal(kLocalExistsText);
        // The download goes to a hidden file beside the target and takes the
        // real name only when complete, so a broken transfer leaves no
        // half file under that name.
        QFile part;
        for (int tries = 0; tries < 100 && !part.isOpen(); ++tries) {
            part.setFileName(
                QDir(folder).filePath(QStringLiteral(".webloom-%1.part")
                                          .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))));
            if (!part.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !part.exists())
                return refusal(kLocalWriteText);
        }
        if (!part.isOpen())
            return refusal(kLocalWriteText);
        localWriteFailed_ = false;
        const QByteArray raw = rawName(remote);
        // Not every server announces the size when it starts sending; the
        // listing the file was chosen from knows it.
        expectedSize_ = sizes_.value(raw, -1);
        const Attempt attempt = perform(fileUrl(raw), [&](CURL *) {
            part.resize(0);
            part.seek(0);
            sink_ = &part;
            reportProgress_ = true;
        });
        if (!attempt.ok() || localWriteFailed_) {
            part.remove();
            return localWriteFailed_ ? refusal(kLocalWriteText) : failure(attempt);
        }
        if (!part.flush()) {
            part.remove();
            return refusal(kLocalWriteText);
        }
        part.close();
        // Never replaces: a file that appeared meanwhile wins.
        if (!QFile::rename(part.fileName(), target)) {
            part.remove();
            return refusal(QFileInfo::exists(target) ? kLocalExistsText : kLocalWriteText);
        }
        return success(attempt);
    }

    // A server that gives up on an idle session says 421 and hangs up. curl
    // would still reuse that connection and read the stray reply as the
    // answer to its next command (a use-after-free in libcurl before 8.6), so
    // a kept connection on which the server has spoken unasked is let go
    // first. The directory is kept: the next request logs in again and goes
    // back there by absolute path.
    void dropConnectionIfHungUp()
    {
        if (controlSocket_ == CURL_SOCKET_BAD)
            return;
        pollfd control{controlSocket_, POLLIN, 0};
        if (::poll(&control, 1, 0) <= 0)
            return;
        closeHandles();
        openHandles();
    }

    // The connections live in the multi handle's cache between requests, so
    // that one log-in serves the whole session.
    bool openHandles()
    {
        if (!multi_)
            multi_ = curl_multi_init();
        if (!handle_)
            handle_ = curl_easy_init();
        return multi_ && handle_;
    }
    void closeHandles()
    {
        if (multi_) {
            curl_multi_cleanup(multi_);
            multi_ = nullptr;
        }
        if (handle_) {
            curl_easy_cleanup(handle_);
            handle_ = nullptr;
        }
        controlSocket_ = CURL_SOCKET_BAD;
    }

    // curl_easy_perform() without its pauses: libcurl 7.88 sometimes has no
    // socket to wait on right after the passive-mode reply and then sleeps a
    // whole second before opening the data connection, a second lost on
    // every listing and every file. Here such a wait is cut to a few
    // milliseconds; any other wait still sleeps until a socket is ready.
    CURLcode transfer()
    {
        constexpr int kNothingToWaitOnMs = 5;
        constexpr long kLongestWaitMs = 1000;
        curl_multi_add_handle(multi_, handle_);
        CURLcode result = CURLE_RECV_ERROR;
        for (;;) {
            int running = 0;
            if (curl_multi_perform(multi_, &running) != CURLM_OK)
                break;
            bool done = false;
            int left = 0;
            while (CURLMsg *message = curl_multi_info_read(multi_, &left)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == handle_) {
                    result = message->data.result;
                    done = true;
                }
            }
            if (done || running == 0)
                break;
            long timeout = -1;
            curl_multi_timeout(multi_, &timeout);
            if (timeout == 0)
                continue;
            fd_set read, write, error;
            FD_ZERO(&read);
            FD_ZERO(&write);
            FD_ZERO(&error);
            int highest = -1;
            curl_multi_fdset(multi_, &read, &write, &error, &highest);
            long wait = timeout < 0 ? kLongestWaitMs : std::min(timeout, kLongestWaitMs);
            if (highest < 0)
                wait = std::min<long>(wait, kNothingToWaitOnMs);
            curl_multi_poll(multi_, nullptr, 0, static_cast<int>(wait), nullptr);
        }
        controlSocket_ = CURL_SOCKET_BAD;
        curl_easy_getinfo(handle_, CURLINFO_ACTIVESOCKET, &controlSocket_);
        curl_multi_remove_handle(multi_, handle_);
        return result;
    }

    Attempt perform(const QByteArray &url, const Setup &setup)
    {
        Attempt attempt;
        dropConnectionIfHungUp();
        if (!handle_ || !multi_) {
            attempt.code = CURLE_FAILED_INIT;
            attempt.error = QString::fromUtf16(kNoHandleText);
            return attempt;
        }
        for (int round = 0; round < 2; ++round) {
            curl_easy_reset(handle_);
            setCommonOptions(url);
            if (round > 0)
                curl_easy_setopt(handle_, CURLOPT_FRESH_CONNECT, 1L);
            replyLine_.clear();
            replyCode_ = 0;
            greeted_ = false;
            moved_ = 0;
            lastDone_ = -1;
            errorBuffer_[0] = '\0';
            progressClock_.start();
            setup(handle_);
            attempt.code = transfer();
            attempt.replyCode = replyCode_;
            attempt.replyLine = replyLine_;
            attempt.error = QString::fromUtf8(errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(attempt.code));
            body_ = nullptr;
            sink_ = nullptr;
            source_ = nullptr;
            const bool lost = replyCode_ == 421 || attempt.code == CURLE_SEND_ERROR ||
                              attempt.code == CURLE_RECV_ERROR || attempt.code == CURLE_GOT_NOTHING ||
                              attempt.code == CURLE_FTP_WEIRD_SERVER_REPLY;
            // A connection kept from an earlier request may have been closed
            // by the server for idling; that is no reason to fail the user's
            // request, so it is tried once more on a fresh log-in.
            if (round == 0 && lost && !greeted_ && moved_ == 0 && !abort_->load()) {
                reportProgress_ = false;
                continue;
            }
            break;
        }
        if (attempt.ok() && reportProgress_ && lastTotal_ >= 0)
            progress_(lastTotal_, lastTotal_);
        reportProgress_ = false;
        lastTotal_ = -1;
        expectedSize_ = -1;
        return attempt;
    }

    void setCommonOptions(const QByteArray &url)
    {
        CURL *h = handle_;
        curl_easy_setopt(h, CURLOPT_URL, url.constData());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
        // Without a user name curl logs in as "anonymous", which is what an
        // empty user field means to an FTP user.
        if (!server_.user.isEmpty()) {
            curl_easy_setopt(h, CURLOPT_USERNAME, server_.user.constData());
            curl_easy_setopt(h, CURLOPT_PASSWORD, server_.password.constData());
        }
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
        curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, kResponseTimeoutSeconds);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
        curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(h, CURLOPT_FTP_USE_EPSV, 1L);
        curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer_);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CurlWorker::onReply);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlWorker::onData);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &CurlWorker::onRead);
        curl_easy_setopt(h, CURLOPT_READDATA, this);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CurlWorker::onProgress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
        if (qEnvironmentVariableIsSet("WEBLOOM_FTP_TRACE")) {
            curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
            curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &CurlWorker::onTrace);
        }
    }

    static size_t onReply(char *data, size_t size, size_t count, void *self)
    {
        auto *worker = static_cast<CurlWorker *>(self);
        const size_t length = size * count;
        QByteArray line(data, static_cast<qsizetype>(length));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        // Only the final line of a reply counts ("230 ..."), not "230-"
        // continuations nor the headers curl makes up for a file's size.
        const bool isReply = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                             std::isdigit(static_cast<unsigned char>(line[1])) &&
                             std::isdigit(static_cast<unsigned char>(line[2])) && (line.size() == 3 || line[3] == ' ');
        if (isReply) {
            worker->replyCode_ = line.left(3).toLong();
            worker->replyLine_ = line;
            if (worker->replyCode_ == 220)
                worker->greeted_ = true;
        }
        return length;
    }

    static size_t onData(char *data, size_t size, size_t count, void *self)
    {
        auto *worker = static_cast<CurlWorker *>(self);
        const size_t length = size * count;
        if (worker->sink_) {
            if (worker->sink_->write(data, static_cast<qint64>(length)) != static_cast<qint64>(length)) {
                worker->localWriteFailed_ = true;
                return 0;
            }
        } else if (worker->body_) {
            worker->body_->append(data, static_cast<qsizetype>(length));
        }
        return length;
    }

    static size_t onRead(char *buffer, size_t size, size_t count, void *self)
    {
        auto *worker = static_cast<CurlWorker *>(self);
        if (!worker->source_)
            return 0;
        const qint64 read = worker->source_->read(buffer, static_cast<qint64>(size * count));
        return read < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(read);
    }

    static int onProgress(void *self, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal, curl_off_t upNow)
    {
        auto *worker = static_cast<CurlWorker *>(self);
        if (worker->abort_->load())
            return 1;
        worker->moved_ = std::max<qint64>(worker->moved_, std::max(downNow, upNow));
        if (!worker->reportProgress_)
            return 0;
        const bool upload = worker->source_ != nullptr;
        const qint64 done = upload ? upNow : downNow;
        qint64 total = upload ? upTotal : downTotal;
        if (total <= 0)
            total = upload ? -1 : worker->expectedSize_;
        worker->lastTotal_ = total;
        // Batched, so that a fast transfer does not flood the window.
        if (done != worker->lastDone_ && worker->progressClock_.elapsed() >= kProgressIntervalMs) {
            worker->progressClock_.restart();
            worker->lastDone_ = done;
            worker->progress_(done, total);
        }
        return 0;
    }

    static int onTrace(CURL *, curl_infotype type, char *data, size_t size, void *)
    {
        const char *prefix = nullptr;
        switch (type) {
        case CURLINFO_TEXT:
            prefix = "* ";
            break;
        case CURLINFO_HEADER_IN:
            prefix = "< ";
            break;
        case CURLINFO_HEADER_OUT:
            prefix = "> ";
            break;
        default:
            return 0;
        }
        QByteArray text(data, static_cast<qsizetype>(size));
        if (type == CURLINFO_HEADER_OUT && text.startsWith("PASS "))
            text = "PASS ****\r\n";
        std::fprintf(stderr, "%s%.*s", prefix, static_cast<int>(text.size()), text.constData());
        return 0;
    }

    std::shared_ptr<std::atomic_bool> abort_;
    std::function<void(const CurlResult &)> deliver_;
    std::function<void(qint64, qint64)> progress_;

    CURLM *multi_ = nullptr;
    CURL *handle_ = nullptr;
    // The control connection kept after the last request, if any.
    curl_socket_t controlSocket_ = CURL_SOCKET_BAD;
    ServerAddress server_;
    bool pathKnown_ = false;
    bool absolute_ = true;
    QList<QByteArray> path_;
    Mlsd mlsd_ = Mlsd::Unknown;
    // Server bytes of the names of the last listing, by the text shown.
    QHash<QString, QByteArray> rawNames_;
    // Sizes from the last listing, by the server's bytes of the name.
    QHash<QByteArray, qint64> sizes_;

    // State of the transfer in progress, read by the callbacks.
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    QByteArray replyLine_;
    long replyCode_ = 0;
    bool greeted_ = false;
    qint64 moved_ = 0;
    QByteArray *body_ = nullptr;
    QFile *sink_ = nullptr;
    QFile *source_ = nullptr;
    bool localWriteFailed_ = false;
    bool reportProgress_ = false;
    QElapsedTimer progressClock_;
    qint64 lastDone_ = -1;
    qint64 lastTotal_ = -1;
    qint64 expectedSize_ = -1;
};

CurlTransfer::CurlTransfer(QObject *parent) : Transfer(parent), abort_(std::make_shared<std::atomic_bool>(false))
{
    worker_ = new CurlWorker(
        abort_,
        [this](const CurlResult &result) {
            QMetaObject::invokeMethod(
                this, [this, result] { finish(result); }, Qt::QueuedConnection);
        },
        [this](qint64 done, qint64 total) {
            QMetaObject::invokeMethod(
                this, [this, done, total] { emit progress(done, total); }, Qt::QueuedConnection);
        });
    worker_->moveToThread(&thread_);
    thread_.setObjectName(QStringLiteral("webloom-ftp"));
    thread_.start();
}

CurlTransfer::~CurlTransfer()
{
    abort_->store(true);
    // Queued behind any request still waiting, which the abort flag skips.
    QMetaObject::invokeMethod(
        worker_,
        [worker = worker_] {
            worker->dropConnection();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    thread_.wait();
    delete worker_;
}

bool CurlTransfer::isValidHostField(const QString &host)
{
    const HostPort address = splitHostField(host);
    QUrl url;
    url.setScheme(QStringLiteral("ftp"));
    url.setHost(address.host);
    return address.ok && url.isValid() && !url.host().isEmpty();
}

QString CurlTransfer::url() const
{
    const HostPort address = splitHostField(host());
    QUrl url;
    url.setScheme(QStringLiteral("ftp"));
    if (!user().isEmpty())
        url.setUserName(user(), QUrl::DecodedMode);
    url.setHost(address.host);
    url.setPort(address.port);
    if (!address.ok || !url.isValid() || url.host().isEmpty())
        return QStringLiteral("ftp:");
    return url.toString(QUrl::FullyEncoded);
}

void CurlTransfer::execute(const QString &url, const QString &command)
{
    const std::optional<TransferCommand> parsed = parseTransferCommand(command);
    if (busy_) {
        // The window's disconnect does not wait: the connection is let go as
        // soon as the running request is over, though this request itself is
        // refused like any other.
        if (parsed && parsed->kind == TransferCommand::Kind::Close)
            QMetaObject::invokeMethod(
                worker_, [worker = worker_] { worker->dropConnection(); }, Qt::QueuedConnection);
        refuse(QString::fromUtf16(kBusyText));
        return;
    }
    busy_ = true;
    runningId_ = nextId_++;
    // The previous response stays readable until this one's result arrives:
    // a listing may still be being read by a handler that let this request
    // start from inside its event processing.

    CurlRequest request;
    request.id = runningId_;
    request.localFolder = localFolder_.isEmpty() ? QDir::currentPath() : localFolder_;
    const QUrl address(url);
    const bool addressOk = address.isValid() && address.scheme() == QLatin1String("ftp") && !address.host().isEmpty();
    if (!parsed || (!addressOk && parsed->kind != TransferCommand::Kind::Close)) {
        const QString reason = QString::fromUtf16(parsed ? kBadAddressText : kBadCommandText);
        const CurlResult result{runningId_, kStateError, reason, {}};
        QMetaObject::invokeMethod(
            this, [this, result] { finish(result); }, Qt::QueuedConnection);
        return;
    }
    request.command = *parsed;
    if (addressOk) {
        QUrl base;
        base.setScheme(QStringLiteral("ftp"));
        base.setHost(address.host());
        base.setPort(address.port(kDefaultPort));
        request.server.base = base.toEncoded();
        request.server.user = address.userName(QUrl::FullyDecoded).toUtf8();
        const QString password = address.password(QUrl::FullyDecoded);
        request.server.password = (password.isEmpty() ? this->password() : password).toUtf8();
    }
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, request] { worker->run(request); }, Qt::QueuedConnection);
}

QByteArray CurlTransfer::nextChunk(int size, ChunkKind kind)
{
    if (size <= 0 || dataOffset_ >= data_.size())
        return {};
    qsizetype end = dataOffset_;
    if (kind == ChunkKind::Bytes) {
        end = std::min<qsizetype>(data_.size(), dataOffset_ + size);
    } else {
        // Whole characters only, so that each chunk decodes on its own.
        for (int count = 0; count < size && end < data_.size(); ++count) {
            const auto lead = static_cast<unsigned char>(data_.at(end));
            end += lead < 0x80             ? 1
                   : (lead & 0xE0) == 0xC0 ? 2
                   : (lead & 0xF0) == 0xE0 ? 3
                   : (lead & 0xF8) == 0xF0 ? 4
                                           : 1;
        }
        end = std::min(end, data_.size());
    }
    const QByteArray chunk = data_.mid(dataOffset_, end - dataOffset_);
    dataOffset_ = end;
    return chunk;
}

void CurlTransfer::refuse(const QString &reason)
{
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            lastReply_ = reason;
            emit stateChanged(kStateError);
        },
        Qt::QueuedConnection);
}

void CurlTransfer::finish(const CurlResult &result)
{
    if (result.id != runningId_)
        return;
    // Idle before the notification goes out: a handler that starts the next
    // request from inside it must not find the control still busy.
    busy_ = false;
    runningId_ = 0;
    lastReply_ = result.reply;
    data_ = result.data;
    dataOffset_ = 0;
    emit stateChanged(result.state);
}

} // namespace webloom
