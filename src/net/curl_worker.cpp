#include "net/curl_worker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "document/file_name.h"
#include "net/trust_store.h"

namespace webloom {

namespace {

constexpr qint64 kProgressIntervalMs = 100;

// Failures found before or without asking the server. They stand in for the
// server's reply line in messages and in the log.
const char16_t kBadAddressText[] = u"アドレスが正しくありません";
const char16_t kBadNameText[] = u"この名前は使えません";
const char16_t kLocalMissingText[] = u"ローカルファイルを読み取れません";
const char16_t kLocalExistsText[] = u"同じ名前のローカルファイルがあります";
const char16_t kLocalWriteText[] = u"ローカルファイルを書き込めません";
const char16_t kRemoteExistsText[] = u"サーバーに同じ名前のファイルがあります";
const char16_t kNoHandleText[] = u"通信を始められません";
const char16_t kListingTooLargeText[] = u"ディレクトリの一覧が大きすぎます（64 MiB まで）";
const char16_t kCancelledText[] = u"中止しました";

QString text(const char16_t *utf16)
{
    return QString::fromUtf16(utf16);
}

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// A name that can travel in one command line to the server.
bool isSendableName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('\r')) && !name.contains(QLatin1Char('\n')) &&
           !name.contains(QChar(0));
}

bool notUnderstood(long code)
{
    return code == 500 || code == 501 || code == 502 || code == 504;
}

bool positive(long code)
{
    return code >= 200 && code < 300;
}

// Never replaces: a file that appeared meanwhile wins.
bool renameNoReplace(const QByteArray &from, const QByteArray &to, int *err)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *err = errno;
        return false;
    }
    // File systems without RENAME_NOREPLACE: a hard link fails on an
    // existing name just the same.
    if (::link(from.constData(), to.constData()) != 0) {
        *err = errno;
        return false;
    }
    ::unlink(from.constData());
    return true;
}

} // namespace

// CurlShared.

void CurlShared::cutSockets()
{
    const std::lock_guard lock(mutex_);
    cut_ = true;
    for (curl_socket_t socket : sockets_)
        ::shutdown(socket, SHUT_RDWR);
    if (multi_)
        curl_multi_wakeup(multi_);
}

void CurlShared::wake()
{
    const std::lock_guard lock(mutex_);
    if (multi_)
        curl_multi_wakeup(multi_);
}

bool CurlShared::addSocket(curl_socket_t socket)
{
    const std::lock_guard lock(mutex_);
    if (cut_)
        return false;
    sockets_.insert(socket);
    return true;
}

void CurlShared::removeSocket(curl_socket_t socket)
{
    const std::lock_guard lock(mutex_);
    sockets_.erase(socket);
}

void CurlShared::setMulti(CURLM *multi)
{
    const std::lock_guard lock(mutex_);
    multi_ = multi;
}

void CurlShared::uncut()
{
    const std::lock_guard lock(mutex_);
    cut_ = false;
}

// FolderCache.

const listing::ListEntry *CurlWorker::FolderCache::find(const QByteArray &raw) const
{
    for (const listing::ListEntry &entry : entries) {
        if (entry.name == raw)
            return &entry;
    }
    if (foldsCase) {
        const QString name = listing::decodeName(raw);
        for (const listing::ListEntry &entry : entries) {
            if (listing::decodeName(entry.name).compare(name, Qt::CaseInsensitive) == 0)
                return &entry;
        }
    }
    return nullptr;
}

void CurlWorker::FolderCache::add(const QByteArray &raw, bool directory, qint64 size)
{
    remove(raw);
    listing::ListEntry entry;
    entry.name = raw;
    entry.directory = directory;
    entry.size = size;
    entries.append(entry);
}

void CurlWorker::FolderCache::remove(const QByteArray &raw)
{
    entries.removeIf([&](const listing::ListEntry &entry) { return entry.name == raw; });
}

// CurlWorker.

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
    const Attempt attempt = perform(home, [](CURL *h) { curl_easy_setopt(h, CURLOPT_NOBODY, 1L); });
    if (!attempt.ok()) {
        *failed = failure(attempt);
        return false;
    }
    const char *entry = nullptr;
    curl_easy_getinfo(handle_, CURLINFO_FTP_ENTRY_PATH, &entry);
    folder_ = RemotePath::fromEntryPath(QByteArray(entry ? entry : ""));
    cache_ = {};
    loggedIn_ = true;
    return true;
}

void CurlWorker::dropSession()
{
    closeHandles();
    loggedIn_ = false;
    folder_ = {};
    cache_ = {};
    mlsd_ = Mlsd::Unknown;
    tls13Only_ = false;
    preferEd25519_ = true;
    reuseDemanded_ = false;
    ticketSpent_ = false;
}

void CurlWorker::resetFolder()
{
    cache_ = {};
}

QByteArray CurlWorker::rawName(const QString &name) const
{
    for (const listing::ListEntry &entry : cache_.entries) {
        if (listing::decodeName(entry.name) == name)
            return entry.name;
    }
    return name.toUtf8();
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
        if (controlEncrypted(attempt)) {
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
    else if (attempt.replyCode == 522 && address_.scheme != ServerAddress::Scheme::Ftp)
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

// Whether the control connection was encrypted when the request failed:
// implicit TLS always is, explicit TLS once the server accepted AUTH (234, or
// 334 from servers that still answer in the old way).
bool CurlWorker::controlEncrypted(const Attempt &attempt) const
{
    return address_.scheme == ServerAddress::Scheme::Ftps || attempt.replyCodes.contains(234) ||
           attempt.replyCodes.contains(334);
}

// MLSD where the server has it, LIST on the same connection where it answers
// that it does not know the command.
CurlWorker::Attempt CurlWorker::listDirectory(QByteArray *data, listing::Format *format)
{
    const QByteArray url = folderUrl();
    // SFTP lists in the "ls -l" form.
    if (!sftp() && mlsd_ != Mlsd::No) {
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

TransferOutcome CurlWorker::list()
{
    QByteArray data;
    listing::Format format = listing::Format::List;
    const Attempt attempt = listDirectory(&data, &format);
    if (!attempt.ok()) {
        resetFolder();
        return failure(attempt);
    }
    cache_.entries = listing::parseListing(data, format);
    cache_.known = true;
    cache_.foldsCase = std::any_of(cache_.entries.begin(), cache_.entries.end(),
                                   [](const listing::ListEntry &entry) { return entry.dosStyle; });
    TransferOutcome outcome = success(attempt);
    outcome.entries = listing::remoteEntries(cache_.entries);
    return outcome;
}

bool CurlWorker::ensureListing(TransferOutcome *failed)
{
    if (cache_.known)
        return true;
    const TransferOutcome listed = list();
    if (!listed.ok)
        *failed = listed;
    return listed.ok;
}

TransferOutcome CurlWorker::changeDirectory(const QString &name)
{
    if (!isSendableName(name))
        return refusal(text(kBadNameText));
    const RemotePath target = folder_.resolved(name, rawName(name));
    const RemotePath from = folder_;
    folder_ = target;
    if (sftp()) {
        // SFTP has no current folder on the server: a folder that can be
        // listed can be entered.
        const TransferOutcome listed = list();
        if (!listed.ok) {
            folder_ = from;
            resetFolder();
            return listed;
        }
        TransferOutcome outcome;
        outcome.ok = true;
        return outcome;
    }
    // Asking for the folder itself makes libcurl enter it (CWD) and nothing
    // more; it succeeds only when the server lets us in.
    const Attempt attempt = perform(folderUrl(), [](CURL *h) { curl_easy_setopt(h, CURLOPT_NOBODY, 1L); });
    if (!attempt.ok()) {
        folder_ = from;
        resetFolder();
        return failure(attempt);
    }
    resetFolder();
    return success(attempt);
}

// Commands sent after libcurl has entered the current folder (post-transfer
// quote). The "*" keeps libcurl from giving up the connection when the
// server refuses; the reply codes tell the outcome.
CurlWorker::Attempt CurlWorker::quote(const QList<QByteArray> &commands)
{
    // SFTP runs them before its (empty) transfer and stops at the first
    // that fails, which is what its callers want.
    curl_slist *list = nullptr;
    for (const QByteArray &command : commands)
        list = curl_slist_append(list, QByteArray(sftp() ? command : '*' + command).constData());
    Attempt attempt = perform(folderUrl(), [&](CURL *h) {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(h, sftp() ? CURLOPT_QUOTE : CURLOPT_POSTQUOTE, list);
    });
    curl_slist_free_all(list);
    // A request that had to log in again first also holds the log-in's
    // replies; callers read the replies to their own commands.
    if (attempt.replyCodes.size() > commands.size())
        attempt.replyCodes = attempt.replyCodes.mid(attempt.replyCodes.size() - commands.size());
    return attempt;
}

TransferOutcome CurlWorker::folderCommand(TransferRequest::Operation operation, const QString &name)
{
    using Op = TransferRequest::Operation;
    if (!isSendableName(name))
        return refusal(text(kBadNameText));
    const QByteArray raw = rawName(name);
    Attempt attempt;
    if (sftp()) {
        const char *verb = operation == Op::Mkdir ? "mkdir " : operation == Op::Rmdir ? "rmdir " : "rm ";
        attempt = quote({verb + quotedPath(raw)});
        if (attempt.ok())
            attempt.replyCode = 200;
    } else {
        const char *verb = operation == Op::Mkdir ? "MKD " : operation == Op::Rmdir ? "RMD " : "DELE ";
        attempt = quote({verb + raw});
    }
    if (attempt.ok() && positive(attempt.replyCode)) {
        if (operation == Op::Mkdir)
            cache_.add(raw, true, -1);
        else
            cache_.remove(raw);
        return success(attempt);
    }
    resetFolder();
    if (attempt.ok() && attempt.replyCode < 400)
        attempt.replyCode = 400; // an odd reply still counts as a refusal
    return failure(attempt);
}

TransferOutcome CurlWorker::put(const QString &localPath, const QString &remote, bool freshName)
{
    if (!isPlainFileName(remote) || !QFileInfo(localPath).isAbsolute())
        return refusal(text(kBadNameText));
    const int fd = ::open(QFile::encodeName(localPath).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        TransferOutcome outcome = refusal(text(kLocalMissingText));
        outcome.failure = TransferOutcome::Failure::Local;
        return outcome;
    }
    TransferOutcome outcome;
    // STOR would replace a file the user chose to keep.
    const QByteArray raw = rawName(remote);
    if (!freshName && !ensureListing(&outcome)) {
        ::close(fd);
        return outcome;
    }
    if (cache_.find(raw)) {
        ::close(fd);
        return refusal(text(kRemoteExistsText));
    }
    const qint64 size = st.st_size;
    const Attempt attempt = perform(fileUrl(raw), [&](CURL *h) {
        ::lseek(fd, 0, SEEK_SET);
        sourceFd_ = fd;
        uploading_ = true;
        reportProgress_ = true;
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    });
    ::close(fd);
    // The upload left no TLS 1.3 ticket for the next data connection.
    ticketSpent_ = tls13Only_ && reuseDemanded_;
    if (!attempt.ok()) {
        // Once the server has opened the file, a broken upload leaves part of
        // it there; it goes as soon as the server can be asked.
        const bool started = attempt.replyCodes.contains(150) || attempt.replyCodes.contains(125) || moved_ > 0;
        resetFolder();
        if (started) {
            partial_ = Partial{folder_, raw};
            if (!shared_->stopped(requestId_) && attempt.code != CURLE_OPERATION_TIMEDOUT)
                removePartialUpload();
        }
        return failure(attempt);
    }
    cache_.add(raw, false, size);
    outcome = success(attempt);
    outcome.bytes = size;
    return outcome;
}

bool CurlWorker::removePartialUpload()
{
    if (!partial_)
        return true;
    const Partial partial = *partial_;
    partial_.reset();
    const RemotePath current = folder_;
    folder_ = partial.folder;
    const Attempt attempt = quote({(sftp() ? "rm " + quotedPath(partial.raw) : "DELE " + partial.raw)});
    folder_ = current;
    if (current == partial.folder)
        cache_.remove(partial.raw);
    return attempt.ok() && (sftp() || positive(attempt.replyCode));
}

TransferOutcome CurlWorker::get(const QString &remote, const QString &localPath)
{
    // The name comes from the server's listing: it must not lead anywhere
    // but into the local folder the caller chose.
    const QFileInfo target(localPath);
    if (!isPlainFileName(remote) || !target.isAbsolute() || !isPlainFileName(target.fileName()))
        return refusal(text(kBadNameText));
    const QByteArray targetPath = QFile::encodeName(target.filePath());
    struct stat st {};
    if (::lstat(targetPath.constData(), &st) == 0)
        return refusal(text(kLocalExistsText));
    // The download goes to a hidden file beside the target and takes the
    // real name only when complete, so a broken transfer leaves no half
    // file under that name.
    const QByteArray folder = QFile::encodeName(target.absolutePath());
    QByteArray partPath;
    int fd = -1;
    for (int tries = 0; tries < 100 && fd < 0; ++tries) {
        partPath = folder + "/.webloom-" +
                   QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0') + ".part";
        fd = ::open(partPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        TransferOutcome outcome = refusal(text(kLocalWriteText));
        outcome.failure = TransferOutcome::Failure::Local;
        outcome.detail = systemReason(errno);
        return outcome;
    }
    const QByteArray raw = rawName(remote);
    // Not every server announces the size when it starts sending; the
    // listing the file was chosen from knows it.
    const listing::ListEntry *known = cache_.find(raw);
    expectedSize_ = known ? known->size : -1;
    sinkFailed_ = false;
    sinkError_ = 0;
    const Attempt attempt = perform(fileUrl(raw), [&](CURL *) {
        ::ftruncate(fd, 0);
        ::lseek(fd, 0, SEEK_SET);
        sinkFd_ = fd;
        reportProgress_ = true;
    });
    if (::close(fd) != 0 && !sinkFailed_) {
        sinkFailed_ = true;
        sinkError_ = errno;
    }
    auto giveUp = [&](TransferOutcome outcome) {
        ::unlink(partPath.constData());
        return outcome;
    };
    if (sinkFailed_) {
        TransferOutcome outcome = refusal(text(kLocalWriteText));
        outcome.failure = TransferOutcome::Failure::Local;
        outcome.detail = systemReason(sinkError_);
        return giveUp(outcome);
    }
    if (!attempt.ok())
        return giveUp(failure(attempt));
    int err = 0;
    if (!renameNoReplace(partPath, targetPath, &err)) {
        TransferOutcome outcome = refusal(text(err == EEXIST ? kLocalExistsText : kLocalWriteText));
        outcome.failure = TransferOutcome::Failure::Local;
        outcome.detail = systemReason(err);
        return giveUp(outcome);
    }
    TransferOutcome outcome = success(attempt);
    curl_off_t bytes = 0;
    curl_easy_getinfo(handle_, CURLINFO_SIZE_DOWNLOAD_T, &bytes);
    outcome.bytes = bytes;
    return outcome;
}

// Replaces the target. Where the server will not rename over an existing
// file, the old one is first renamed aside, the new one renamed into place
// and only then the old one deleted; when the new one cannot take the name,
// the old one gets it back. A refusal never leaves the name missing.
TransferOutcome CurlWorker::rename(const QString &from, const QString &to, QString aside)
{
    if (aside.isEmpty())
        aside = QStringLiteral(".webloom-") +
                QString::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, QLatin1Char('0')) +
                QStringLiteral(".old");
    if (!isPlainFileName(from) || !isPlainFileName(to) || !isPlainFileName(aside))
        return refusal(text(kBadNameText));
    const QByteArray rawFrom = rawName(from);
    const QByteArray rawTo = rawName(to);
    const QByteArray rawAside = rawName(aside);
    std::function<bool(const QByteArray &, const QByteArray &, Attempt *)> move;
    std::function<void(const QByteArray &)> remove;
    if (sftp()) {
        // SFTP servers of protocol version 3 refuse to rename over a file.
        move = [this](const QByteArray &a, const QByteArray &b, Attempt *attempt) {
            *attempt = quote({"rename " + quotedPath(a) + ' ' + quotedPath(b)});
            return attempt->ok();
        };
        remove = [this](const QByteArray &name) { quote({"rm " + quotedPath(name)}); };
    } else {
        move = [this](const QByteArray &a, const QByteArray &b, Attempt *attempt) {
            *attempt = quote({"RNFR " + a, "RNTO " + b});
            return attempt->ok() && attempt->replyCodes.size() >= 2 && attempt->replyCodes.at(0) == 350 &&
                   positive(attempt->replyCodes.at(1));
        };
        remove = [this](const QByteArray &name) { quote({"DELE " + name}); };
    }
    Attempt attempt;
    bool done = move(rawFrom, rawTo, &attempt);
    // Only a refusal of the server's own (not a lost connection) is worth
    // the second way, and never over a folder.
    const bool refused =
        sftp() ? attempt.code == CURLE_QUOTE_ERROR : attempt.ok() && attempt.replyCodes.value(0) == 350;
    const listing::ListEntry *known = cache_.find(rawTo);
    if (!done && refused && !(known && known->directory)) {
        Attempt asideAttempt;
        if (move(rawTo, rawAside, &asideAttempt)) {
            done = move(rawFrom, rawTo, &attempt);
            if (done) {
                remove(rawAside);
            } else {
                Attempt back;
                move(rawAside, rawTo, &back);
            }
        }
    }
    if (!done) {
        resetFolder();
        if (attempt.ok() && attempt.replyCode < 400)
            attempt.replyCode = 400;
        return failure(attempt);
    }
    const listing::ListEntry *moved = cache_.find(rawFrom);
    const qint64 size = moved ? moved->size : -1;
    cache_.remove(rawFrom);
    cache_.add(rawTo, false, size);
    return success(attempt);
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

// curl_easy_perform() without its pauses, and with a way out: libcurl 7.88
// sometimes has no socket to wait on right after the passive-mode reply and
// then sleeps a whole second before opening the data connection, a second
// lost on every listing and every file. Here such a wait is cut to a few
// milliseconds, and a stop asked for from outside ends the wait at once.
CURLcode CurlWorker::runTransfer()
{
    constexpr int kNothingToWaitOnMs = 5;
    constexpr long kLongestWaitMs = 1000;
    curl_multi_add_handle(multi_, handle_);
    CURLcode result = CURLE_RECV_ERROR;
    for (;;) {
        if (shared_->stopped(requestId_) && requestId_ != 0) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
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
    for (int round = 0; round < 2; ++round) {
        peer_.rejected.reset();
        peer_.keySeen = false;
        askEd25519_ = ed25519;
        curl_easy_reset(handle_);
        setCommonOptions(url);
        if (round > 0)
            curl_easy_setopt(handle_, CURLOPT_FRESH_CONNECT, 1L);
        replyLine_.clear();
        replyCode_ = 0;
        replyCodes_.clear();
        greeted_ = false;
        moved_ = 0;
        lastDone_ = -1;
        bodyTooLarge_ = false;
        errorBuffer_[0] = '\0';
        progressClock_.start();
        setup(handle_);
        attempt.code = runTransfer();
        attempt.replyCode = replyCode_;
        attempt.replyLine = replyLine_;
        attempt.replyCodes = replyCodes_;
        attempt.error = QString::fromUtf8(errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(attempt.code));
        if (bodyTooLarge_)
            attempt.error = text(kListingTooLargeText);
        long connects = 0;
        curl_easy_getinfo(handle_, CURLINFO_NUM_CONNECTS, &connects);
        const bool reused = connects == 0;
        const bool download = body_ || sinkFd_ >= 0;
        body_ = nullptr;
        sinkFd_ = -1;
        sourceFd_ = -1;
        uploading_ = false;
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
        const bool lost = replyCode_ == 421 || attempt.code == CURLE_SEND_ERROR || attempt.code == CURLE_RECV_ERROR ||
                          attempt.code == CURLE_GOT_NOTHING || attempt.code == CURLE_FTP_WEIRD_SERVER_REPLY;
        // A kept connection that died silently (a router forgot it, the
        // server went away without a word) answers nothing at all.
        const bool silent = attempt.code == CURLE_OPERATION_TIMEDOUT && reused && replyCodes_.isEmpty();
        // A connection kept from an earlier request may have been closed by
        // the server for idling; that is no reason to fail the user's
        // request, so it is tried once more on a fresh log-in.
        if (round == 0 && (lost || silent) && !greeted_ && moved_ == 0 && !shared_->stopped(requestId_))
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
        const bool dataRefused =
            replyCode_ == 425 || replyCode_ == 522 ||
            (download && !replyCodes_.isEmpty() && replyCodes_.last() == 150 && moved_ == 0 && !attempt.ok());
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
    if (attempt.ok() && reportProgress_ && lastTotal_ >= 0)
        progress_(lastTotal_, lastTotal_);
    reportProgress_ = false;
    lastTotal_ = -1;
    expectedSize_ = -1;
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
            sshKeyFile_.clear();
            sshPublicKeyFile_.clear();
            const QString home = QDir::homePath();
            for (const char *name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
                const QString key = home + QStringLiteral("/.ssh/") + QLatin1String(name);
                if (QDir::isAbsolutePath(home) && QFileInfo(key).isFile()) {
                    sshKeyFile_ = QFile::encodeName(key);
                    curl_easy_setopt(h, CURLOPT_SSH_PRIVATE_KEYFILE, sshKeyFile_.constData());
                    // Without a ".pub" beside it libssh2 reads the public
                    // half from the private key.
                    if (QFileInfo(key + QStringLiteral(".pub")).isFile()) {
                        sshPublicKeyFile_ = sshKeyFile_ + ".pub";
                        curl_easy_setopt(h, CURLOPT_SSH_PUBLIC_KEYFILE, sshPublicKeyFile_.constData());
                    }
                    types |= CURLSSH_AUTH_PUBLICKEY;
                    break;
                }
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
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &CurlWorker::onOpenSocket);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, &CurlWorker::onCloseSocket);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, this);
    if (trace_) {
        curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &CurlWorker::onTrace);
        curl_easy_setopt(h, CURLOPT_DEBUGDATA, this);
    }
}

size_t CurlWorker::onReply(char *data, size_t size, size_t count, void *self)
{
    auto *worker = static_cast<CurlWorker *>(self);
    const size_t length = size * count;
    QByteArray line(data, static_cast<qsizetype>(length));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    // Only the final line of a reply counts ("230 ..."), not "230-"
    // continuations nor the headers libcurl makes up for a file's size.
    const bool isReply = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                         std::isdigit(static_cast<unsigned char>(line[1])) &&
                         std::isdigit(static_cast<unsigned char>(line[2])) && (line.size() == 3 || line[3] == ' ');
    if (isReply) {
        const long code = line.left(3).toLong();
        worker->replyCodes_.append(code);
        // A preliminary reply ("150 Opening data connection") is not the
        // outcome of anything.
        if (code >= 200 || worker->replyCode_ == 0) {
            worker->replyCode_ = code;
            worker->replyLine_ = line;
        }
        if (code == 220)
            worker->greeted_ = true;
    }
    return length;
}

size_t CurlWorker::onData(char *data, size_t size, size_t count, void *self)
{
    auto *worker = static_cast<CurlWorker *>(self);
    const size_t length = size * count;
    if (worker->sinkFd_ >= 0) {
        size_t written = 0;
        while (written < length) {
            const ssize_t n = ::write(worker->sinkFd_, data + written, length - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                worker->sinkFailed_ = true;
                worker->sinkError_ = n < 0 ? errno : ENOSPC;
                return 0;
            }
            written += static_cast<size_t>(n);
        }
    } else if (worker->body_) {
        if (worker->body_->size() + qint64(length) > worker->options_.listingLimit) {
            worker->bodyTooLarge_ = true;
            return 0;
        }
        worker->body_->append(data, static_cast<qsizetype>(length));
    }
    return length;
}

size_t CurlWorker::onRead(char *buffer, size_t size, size_t count, void *self)
{
    auto *worker = static_cast<CurlWorker *>(self);
    if (worker->sourceFd_ < 0)
        return 0;
    for (;;) {
        const ssize_t n = ::read(worker->sourceFd_, buffer, size * count);
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(n);
    }
}

int CurlWorker::onProgress(void *self, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal, curl_off_t upNow)
{
    auto *worker = static_cast<CurlWorker *>(self);
    if (worker->requestId_ != 0 && worker->shared_->stopped(worker->requestId_))
        return 1;
    worker->moved_ = std::max<qint64>(worker->moved_, std::max(downNow, upNow));
    if (!worker->reportProgress_)
        return 0;
    const bool upload = worker->uploading_;
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

// WEBLOOM_FTP_TRACE: the dialogue with the server on standard error, the
// password masked.
int CurlWorker::onTrace(CURL *, curl_infotype type, char *data, size_t size, void *)
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
    QByteArray line(data, static_cast<qsizetype>(size));
    if (type == CURLINFO_HEADER_OUT && line.startsWith("PASS "))
        line = "PASS ****\r\n";
    // What the server says reaches the terminal with its control characters
    // shown, never obeyed.
    QByteArray shown;
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\r' && c != '\n' && c != '\t') || byte == 0x7f)
            shown += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            shown += c;
    }
    std::fprintf(stderr, "%s%.*s", prefix, static_cast<int>(shown.size()), shown.constData());
    return 0;
}

curl_socket_t CurlWorker::onOpenSocket(void *self, curlsocktype, curl_sockaddr *address)
{
    auto *worker = static_cast<CurlWorker *>(self);
    const int socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (socket < 0)
        return CURL_SOCKET_BAD;
    // Once the owner has cut this worker loose, no new connection starts.
    if (!worker->shared_->addSocket(socket)) {
        ::close(socket);
        return CURL_SOCKET_BAD;
    }
    return socket;
}

int CurlWorker::onCloseSocket(void *self, curl_socket_t socket)
{
    // Forgotten before it is closed, so that a cut from the owner's thread
    // never reaches a number the system has already given to someone else.
    static_cast<CurlWorker *>(self)->shared_->removeSocket(socket);
    return ::close(socket);
}

} // namespace webloom
