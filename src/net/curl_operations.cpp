// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/curl_worker.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "document/file_name.h"
#include "net/curl_call.h"
#include "net/curl_texts.h"
#include "net/local_file.h"

// The requests of a session: listing, entering folders, folder commands,
// uploads, downloads and renames.

namespace webloom {

using namespace curltext;

namespace {

// A name that can travel in one command line to the server.
bool isSendableName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('\r')) && !name.contains(QLatin1Char('\n')) &&
           !name.contains(QChar(0));
}

bool positive(long code)
{
    return code >= 200 && code < 300;
}

} // namespace

// The dialect's richer listing where the server has it, the plain one on
// the same connection where it answers that it does not know the command.
CurlWorker::Attempt CurlWorker::listDirectory(QByteArray *data, listing::Format *format)
{
    const QByteArray url = folderUrl();
    if (const std::optional<ProtocolDialect::RichListing> rich = dialect_->richListing()) {
        const Attempt attempt = perform(url, [&](CURL *h, CurlCall &call) {
            data->clear();
            call.body = data;
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, rich->verb.constData());
        });
        if (attempt.ok()) {
            dialect_->richListingWorked();
            *format = rich->format;
            return attempt;
        }
        if (!dialect_->richListingUnknown(attempt))
            return attempt;
    }
    *format = listing::Format::List;
    return perform(url, [&](CURL *, CurlCall &call) {
        data->clear();
        call.body = data;
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
    cache_.fill(listing::parseListing(data, format));
    TransferOutcome outcome = success(attempt);
    outcome.entries = listing::remoteEntries(cache_.entries());
    return outcome;
}

bool CurlWorker::ensureListing(TransferOutcome *failed)
{
    if (cache_.known())
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
    const RemotePath target = folder_.resolved(name, cache_.rawName(name));
    const RemotePath from = folder_;
    folder_ = target;
    if (dialect_->entersByListing()) {
        const TransferOutcome listed = list();
        if (!listed.ok) {
            folder_ = from;
            resetFolder();
            return listed;
        }
        listedJustNow_ = true;
        TransferOutcome outcome;
        outcome.ok = true;
        return outcome;
    }
    // Asking for the folder itself makes libcurl enter it (CWD) and nothing
    // more; it succeeds only when the server lets us in.
    const Attempt attempt = perform(folderUrl(), [](CURL *h, CurlCall &) { curl_easy_setopt(h, CURLOPT_NOBODY, 1L); });
    if (!attempt.ok()) {
        folder_ = from;
        resetFolder();
        return failure(attempt);
    }
    resetFolder();
    return success(attempt);
}

// Commands sent with a call that only enters the current folder, in the
// dialect's way; the reply codes tell the outcome.
CurlWorker::Attempt CurlWorker::quote(const QList<QByteArray> &commands)
{
    curl_slist *list = nullptr;
    for (const QByteArray &command : commands)
        list = curl_slist_append(list, dialect_->quoteLine(command).constData());
    Attempt attempt = perform(folderUrl(), [&](CURL *h, CurlCall &) {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(h, dialect_->quoteOption(), list);
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
    const QByteArray raw = cache_.rawName(name);
    using Folder = ProtocolDialect::Folder;
    const Folder what = operation == Op::Mkdir   ? Folder::Make
                        : operation == Op::Rmdir ? Folder::Remove
                                                 : Folder::DeleteFile;
    Attempt attempt = quote({dialect_->folderCommand(what, raw, folder_)});
    dialect_->settle(attempt);
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
    qint64 size = 0;
    const int fd = openUploadSource(localPath, &size);
    if (fd < 0) {
        TransferOutcome outcome = refusal(text(kLocalMissingText));
        outcome.failure = TransferOutcome::Failure::Local;
        return outcome;
    }
    TransferOutcome outcome;
    // STOR would replace a file the user chose to keep.
    const QByteArray raw = cache_.rawName(remote);
    if (!freshName && !ensureListing(&outcome)) {
        ::close(fd);
        return outcome;
    }
    if (cache_.find(raw)) {
        ::close(fd);
        return refusal(text(kRemoteExistsText));
    }
    const Attempt attempt = perform(fileUrl(raw), [&](CURL *h, CurlCall &call) {
        ::lseek(fd, 0, SEEK_SET);
        call.sourceFd = fd;
        call.uploading = true;
        call.reportProgress = true;
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    });
    ::close(fd);
    dialect_->uploaded();
    if (!attempt.ok()) {
        // Once the server has opened the file, a broken upload leaves part of
        // it there; it goes as soon as the server can be asked.
        const bool started = attempt.replyCodes.contains(150) || attempt.replyCodes.contains(125) || attempt.moved > 0;
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
    Attempt attempt = quote({dialect_->removeCommand(partial.raw, partial.folder)});
    folder_ = current;
    if (current == partial.folder)
        cache_.remove(partial.raw);
    dialect_->settle(attempt);
    return attempt.ok() && positive(attempt.replyCode);
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
    const int fd = createPartFile(folder, &partPath);
    if (fd < 0) {
        TransferOutcome outcome = refusal(text(kLocalWriteText));
        outcome.failure = TransferOutcome::Failure::Local;
        outcome.detail = systemReason(errno);
        return outcome;
    }
    const QByteArray raw = cache_.rawName(remote);
    // Not every server announces the size when it starts sending; the
    // listing the file was chosen from knows it.
    const listing::ListEntry *known = cache_.find(raw);
    const qint64 expectedSize = known ? known->size : -1;
    const Attempt attempt = perform(fileUrl(raw), [&](CURL *, CurlCall &call) {
        ::ftruncate(fd, 0);
        ::lseek(fd, 0, SEEK_SET);
        call.sinkFd = fd;
        call.reportProgress = true;
        call.expectedSize = expectedSize;
    });
    int sinkError = attempt.sinkError;
    if (::close(fd) != 0 && sinkError == 0)
        sinkError = errno;
    auto giveUp = [&](TransferOutcome outcome) {
        ::unlink(partPath.constData());
        return outcome;
    };
    if (sinkError != 0) {
        TransferOutcome outcome = refusal(text(kLocalWriteText));
        outcome.failure = TransferOutcome::Failure::Local;
        outcome.detail = systemReason(sinkError);
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
    const QByteArray rawFrom = cache_.rawName(from);
    const QByteArray rawTo = cache_.rawName(to);
    const QByteArray rawAside = cache_.rawName(aside);
    auto move = [this](const QByteArray &a, const QByteArray &b, Attempt *attempt) {
        *attempt = quote(dialect_->renameCommands(a, b, folder_));
        return dialect_->renamed(*attempt);
    };
    auto remove = [this](const QByteArray &name) { quote({dialect_->removeCommand(name, folder_)}); };
    Attempt attempt;
    bool done = move(rawFrom, rawTo, &attempt);
    // Only a refusal of the server's own (not a lost connection) is worth
    // the second way, and never over a folder.
    const bool refused = dialect_->renameRefused(attempt);
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

} // namespace webloom
