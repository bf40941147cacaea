// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/publisher.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>

#include "net/trust_prompt.h"

namespace webloom {

struct Publisher::Lane {
    std::unique_ptr<Transfer> transfer;
    Step step = Step::Enter;
    TransferRequest request;
    std::optional<PublishPlan::Entry> file;
    QString temporary;
    QString aside; // where the old file waits if the server will not rename over it
    qint64 inFlightBytes = 0;
    bool busy = false;
    bool retired = false;
    // Idle until the files of an earlier wave have arrived.
    bool waiting = false;
    // Opened ahead into the remote folder while the plan was made.
    bool entered = false;
};

namespace {

QString randomStem()
{
    return QString::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, QLatin1Char('0'));
}

} // namespace

qint64 PublishProgress::remainingMs() const
{
    if (bytesDone <= 0 || elapsedMs <= 0 || bytesTotal <= bytesDone)
        return bytesTotal <= bytesDone ? 0 : -1;
    return (bytesTotal - bytesDone) * elapsedMs / bytesDone;
}

Publisher::Publisher(Settings settings, SiteFiles site, MakeTransfer makeTransfer, Resolve resolve, QObject *parent)
    : QObject(parent), settings_(std::move(settings)), site_(std::move(site)), makeTransfer_(std::move(makeTransfer)),
      resolve_(std::move(resolve)), record_(settings_.recordPath)
{
    qRegisterMetaType<PublishPlan>();
    qRegisterMetaType<PublishProgress>();
    qRegisterMetaType<PublishSummary>();
    settings_.parallel = std::clamp(settings_.parallel, 1, kMaxParallel);
    record_.load();
    // Kept whether or not a file goes: they are facts of this computer.
    KnownDigests digests;
    for (const LocalFile &file : site_.files) {
        if (file.stamp)
            digests.insert(file.path, {*file.stamp, file.sha256, true});
    }
    record_.setDigests(std::move(digests));
}

Publisher::~Publisher() = default;

Publisher::Lane &Publisher::addLane()
{
    auto lane = std::make_unique<Lane>();
    lane->transfer = makeTransfer_();
    lane->transfer->setConnection(settings_.connection);
    Lane *raw = lane.get();
    connect(lane->transfer.get(), &Transfer::finished, this,
            [this, raw](const TransferOutcome &outcome) { onOutcome(*raw, outcome); });
    connect(lane->transfer.get(), &Transfer::progress, this, [this, raw](qint64 done, qint64) {
        raw->inFlightBytes = done;
        reportProgress();
    });
    lanes_.push_back(std::move(lane));
    return *raw;
}

void Publisher::plan()
{
    if (settings_.photos)
        startPhotos();
    enterFolder(addLane());
}

void Publisher::enterFolder(Lane &lane)
{
    send(lane, Step::Enter,
         TransferRequest::cd(settings_.remoteFolder.isEmpty() ? QStringLiteral(".") : settings_.remoteFolder));
}

void Publisher::publish()
{
    if (done_ || publishing_ || lanes_.empty() || settings_.dryRun)
        return;
    publishing_ = true;
    clock_.start();
    queue_.assign(plan_.send.begin(), plan_.send.end());
    leftovers_.clear();
    for (const PublishPlan::Leftover &leftover : plan_.leftovers)
        leftovers_.push_back(leftover.name);
    for (const QString &name : plan_.gone)
        record_.removeTemporary(name);
    progress_.filesTotal = int(plan_.send.size());
    progress_.bytesTotal = plan_.bytesToSend();
    reportProgress();
    const int wanted = std::min<int>(settings_.parallel, int(queue_.size()));
    // Connections opened while the plan was made and not needed now close.
    for (size_t i = 1; i < lanes_.size(); ++i) {
        if (int(i) >= wanted) {
            lanes_[i]->retired = true;
            lanes_[i]->transfer->cancel();
        }
    }
    next(*lanes_.front());
    // The others go into the folder; any still missing open now.
    for (size_t i = 1; i < lanes_.size() && !done_; ++i) {
        Lane &lane = *lanes_[i];
        if (!lane.retired && !lane.busy && lane.entered)
            next(lane);
        else if (!lane.retired && !lane.busy)
            enterFolder(lane);
    }
    while (int(lanes_.size()) < wanted && !done_)
        enterFolder(addLane());
}

void Publisher::cancel()
{
    cancelled_ = true;
    if (!publishing_) {
        finish();
        return;
    }
    for (const auto &lane : lanes_) {
        if (!lane->busy && !lane->retired)
            next(*lane);
    }
}

void Publisher::send(Lane &lane, Step step, const TransferRequest &request)
{
    lane.step = step;
    lane.request = request;
    lane.busy = true;
    lane.transfer->start(request);
}

QString Publisher::describe(const TransferOutcome &outcome) const
{
    const QString secure = secureFailureMessage(outcome);
    if (!secure.isEmpty())
        return secure;
    QString text = outcome.reply;
    if (!outcome.detail.isEmpty() && outcome.detail != outcome.reply)
        text += (text.isEmpty() ? QString() : QStringLiteral(" (")) + outcome.detail +
                (text.isEmpty() ? QString() : QStringLiteral(")"));
    return text;
}

void Publisher::onOutcome(Lane &lane, const TransferOutcome &outcome)
{
    lane.busy = false;
    if (done_)
        return;
    using Failure = TransferOutcome::Failure;
    // Only the first connection asks the user; the others start after it
    // has got through.
    const bool first = &lane == lanes_.front().get();
    // A further connection that shows another certificate or host key than
    // the one the first got through with ends the publish: someone may
    // stand between us and the server. It is no server refusing more
    // connections.
    if (!first && outcome.failure == Failure::Untrusted) {
        emit otherIdentity(outcome.identity);
        finish(otherIdentityMessage(outcome.identity));
        return;
    }
    if (!outcome.ok && first && (outcome.failure == Failure::Untrusted || outcome.failure == Failure::NoTls) &&
        resolve_) {
        if (const std::optional<Transfer::Connection> again = resolve_(outcome, settings_.connection)) {
            settings_.connection = *again;
            for (const auto &each : lanes_)
                each->transfer->setConnection(*again);
            send(lane, lane.step, lane.request);
            return;
        }
    }
    const bool planning = !publishing_;
    switch (lane.step) {
    case Step::Login:
        // A connection opened ahead, while the plan was being made.
        lane.entered = outcome.ok;
        if (!outcome.ok)
            retire(lane);
        else if (publishing_ && !lane.retired)
            next(lane);
        else if (publishing_)
            next(*lanes_.front());
        return;
    case Step::Enter:
        if (outcome.ok) {
            if (planning && first) {
                const TransferRequest enter = lane.request;
                send(lane, Step::List, TransferRequest::list());
                openAhead(enter);
            } else {
                next(lane);
            }
        } else if (planning && outcome.failure == Failure::Server && !settings_.remoteFolder.isEmpty() &&
                   settings_.dryRun) {
            plan_ = makePlan(site_, record_, {});
            planPhotos();
            emit planned(plan_);
        } else if (planning && outcome.failure == Failure::Server && !settings_.remoteFolder.isEmpty()) {
            // A folder that is not there yet is made, once.
            send(lane, Step::MakeFolder, TransferRequest::mkdir(settings_.remoteFolder));
        } else if (planning) {
            finish(describe(outcome));
        } else {
            retire(lane);
        }
        return;
    case Step::MakeFolder:
        if (outcome.ok) {
            send(lane, Step::Enter, TransferRequest::cd(settings_.remoteFolder));
            openAhead(lane.request);
        } else {
            finish(describe(outcome));
        }
        return;
    case Step::List:
        if (!outcome.ok) {
            finish(describe(outcome));
            return;
        }
        for (const RemoteEntry &entry : outcome.entries) {
            if (!entry.directory)
                listed_.insert(entry.name, entry.size);
        }
        plan_ = makePlan(site_, record_, outcome.entries);
        planPhotos();
        summary_.unchanged = int(plan_.unchanged.size());
        emit planned(plan_);
        return;
    case Step::Clean:
        // A name the server has not got, or will not delete, is no longer
        // asked about; one cut off by the connection is, next time.
        if (outcome.ok || outcome.failure == Failure::Server) {
            record_.removeTemporary(lane.request.remote);
            if (outcome.ok)
                emit leftoverDeleted(lane.request.remote);
        }
        next(lane);
        return;
    case Step::Tidy:
        if (outcome.ok || outcome.failure == Failure::Server)
            record_.removeTemporary(lane.request.remote);
        saveRecord();
        next(lane);
        return;
    case Step::Put:
        if (outcome.ok) {
            lane.aside = temporaryName(randomStem(), lane.file->file.name);
            record_.addTemporary(lane.aside, run_.owner());
            saveRecord();
            send(lane, Step::Rename, TransferRequest::rename(lane.temporary, lane.file->file.name, lane.aside));
            return;
        }
        if (outcome.tooManyConnections) {
            // Refused before anything was stored.
            record_.removeTemporary(lane.temporary);
            saveRecord();
            retire(lane);
        } else {
            // Part of the file may be there; the name stays recorded until
            // the server says it is gone.
            const QString temporary = lane.temporary;
            fileDone(lane, describe(outcome));
            send(lane, Step::Tidy, TransferRequest::remove(temporary));
        }
        return;
    case Step::PutInPlace: {
        const LocalFile &file = lane.file->file;
        if (outcome.ok) {
            record_.set(file.name, {file.size, file.sha256});
            record_.clearUnconfirmed(file.name);
            fileDone(lane, {});
            // Written with the mark of the connection's next file, in one
            // go; until then the file only counts as unconfirmed.
            unsaved_ = true;
            next(lane);
            if (unsaved_)
                saveRecord();
        } else if (outcome.tooManyConnections) {
            // Refused before anything was stored.
            record_.clearUnconfirmed(file.name);
            saveRecord();
            retire(lane);
        } else {
            // Whatever part of it arrived is linked from nowhere, and the
            // mark has the next publish send it again.
            fileDone(lane, describe(outcome));
            next(lane);
        }
        return;
    }
    case Step::Rename:
        // The old file is back under its name or deleted, whichever way it
        // went.
        record_.removeTemporary(lane.aside);
        if (outcome.ok) {
            const LocalFile &file = lane.file->file;
            record_.set(file.name, {file.size, file.sha256});
            record_.clearUnconfirmed(file.name);
            record_.removeTemporary(lane.temporary);
            saveRecord();
            fileDone(lane, {});
            next(lane);
        } else {
            const QString temporary = lane.temporary;
            fileDone(lane, describe(outcome));
            send(lane, Step::Tidy, TransferRequest::remove(temporary));
        }
        return;
    }
}

// The other connections log in and enter the folder while the plan is made,
// so that the files can start at once when it is agreed to. Only once the
// first has got through: they must not ask the user again.
void Publisher::openAhead(const TransferRequest &enter)
{
    if (lanes_.size() > 1 || settings_.dryRun)
        return;
    for (int i = 1; i < settings_.parallel; ++i)
        send(addLane(), Step::Login, enter);
}

void Publisher::next(Lane &lane)
{
    if (done_ || !publishing_ || lane.busy)
        return;
    if (lane.retired) {
        finishWhenIdle();
        return;
    }
    if (&lane == lanes_.front().get() && !leftovers_.empty()) {
        const QString name = leftovers_.front();
        leftovers_.pop_front();
        send(lane, Step::Clean, TransferRequest::remove(name));
        return;
    }
    if (!cancelled_ && !queue_.empty()) {
        lane.waiting = earlierWaveOnTheWay();
        if (lane.waiting)
            return;
        // Within the wave, the first file that is ready: a photo still being
        // made is left for photoDone(), which wakes the lanes.
        const int wave = queue_.front().wave;
        const auto ready = std::find_if(queue_.begin(), queue_.end(), [this, wave](const PublishPlan::Entry &entry) {
            return entry.wave == wave && !waiting_.contains(entry.file.name);
        });
        if (ready == queue_.end())
            return;
        lane.file = *ready;
        queue_.erase(ready);
        lane.inFlightBytes = 0;
        const QString &path = lane.file->file.path;
        if (!QFileInfo(path).isAbsolute()) {
            fileDone(lane, QStringLiteral("ローカルファイルの場所が相対パスです：") + path);
            next(lane);
            return;
        }
        if (!lane.file->replaces) {
            // Nothing on the server to keep whole: one upload instead of an
            // upload and a rename.
            record_.setUnconfirmed(lane.file->file.name, run_.owner());
            saveRecord();
            reportProgress();
            send(lane, Step::PutInPlace, TransferRequest::put(path, lane.file->file.name, true));
            return;
        }
        // Recorded before the file starts, so that a publish killed on the
        // way leaves its name to the next one.
        lane.temporary = temporaryName(randomStem(), lane.file->file.name);
        record_.addTemporary(lane.temporary, run_.owner());
        saveRecord();
        reportProgress();
        send(lane, Step::Put, TransferRequest::put(path, lane.temporary, true));
        return;
    }
    finishWhenIdle();
}

bool Publisher::earlierWaveOnTheWay() const
{
    const int wave = queue_.front().wave;
    return std::any_of(lanes_.begin(), lanes_.end(),
                       [wave](const std::unique_ptr<Lane> &each) { return each->file && each->file->wave < wave; });
}

void Publisher::saveRecord()
{
    unsaved_ = false;
    QString error;
    if (!record_.save(false, &error) && recordError_.isEmpty())
        recordError_ = QStringLiteral("公開の記録を保存できませんでした。\n") + error;
}

void Publisher::finishWhenIdle()
{
    const bool allIdle =
        std::all_of(lanes_.begin(), lanes_.end(), [](const std::unique_ptr<Lane> &each) { return !each->busy; });
    if (allIdle)
        finish();
}

// A connection the server would not take: its file goes back to the queue
// for the others. Without any connection left, what remains cannot go.
void Publisher::retire(Lane &lane)
{
    lane.retired = true;
    if (lane.file) {
        queue_.push_front(*lane.file);
        lane.file.reset();
        lane.inFlightBytes = 0;
    }
    const bool anyLeft =
        std::any_of(lanes_.begin(), lanes_.end(), [](const std::unique_ptr<Lane> &each) { return !each->retired; });
    if (!anyLeft) {
        for (const PublishPlan::Entry &entry : queue_)
            summary_.failed.append(entry.file.name + QStringLiteral(": サーバーに接続できません"));
        queue_.clear();
        finish();
        return;
    }
    for (const auto &each : lanes_) {
        if (!each->retired && !each->busy)
            next(*each);
    }
}

void Publisher::fileDone(Lane &lane, const QString &failure)
{
    const LocalFile file = lane.file->file;
    lane.file.reset();
    lane.inFlightBytes = 0;
    ++progress_.filesDone;
    progress_.bytesDone += file.size;
    if (failure.isEmpty()) {
        ++summary_.sent;
        summary_.bytesSent += file.size;
        emit fileSent(file.name, file.size);
    } else {
        summary_.failed.append(file.name + QStringLiteral(": ") + failure);
        emit fileFailed(file.name, failure);
    }
    reportProgress();
    // The next wave may start on the connections that waited for it.
    for (const auto &each : lanes_) {
        if (each.get() != &lane && each->waiting && !each->busy && !each->retired)
            next(*each);
    }
}

void Publisher::reportProgress()
{
    if (!publishing_)
        return;
    PublishProgress now = progress_;
    now.elapsedMs = clock_.elapsed();
    for (const auto &lane : lanes_) {
        if (lane->file) {
            now.current.append(lane->file->file.name);
            now.bytesDone += lane->inFlightBytes;
        }
    }
    emit progress(now);
}

void Publisher::finish(const QString &error)
{
    if (done_)
        return;
    done_ = true;
    summary_.cancelled = cancelled_ && (summary_.sent + int(summary_.failed.size()) < int(plan_.send.size()));
    summary_.error = error;
    if (publishing_) {
        unsaved_ = false;
        QString saveError;
        if (!record_.save(true, &saveError) && recordError_.isEmpty())
            recordError_ = QStringLiteral("公開の記録を保存できませんでした。\n") + saveError;
    }
    if (summary_.error.isEmpty())
        summary_.error = recordError_;
    // Every connection says goodbye at the same time rather than one after
    // the other when they are destroyed.
    for (const auto &lane : lanes_) {
        if (lane->busy)
            lane->transfer->cancel();
        else
            lane->transfer->start(TransferRequest::close());
    }
    emit finished(summary_);
}

void Publisher::startPhotos()
{
    photos_ = std::make_unique<PhotoStage>(*settings_.photos);
    connect(photos_.get(), &PhotoStage::ready, this, &Publisher::photoDone);
    connect(photos_.get(), &PhotoStage::failed, this, &Publisher::photoFailed);
    const QList<LocalFile> toMake = photos_->sortOut(site_);
    if (!settings_.photos->webCopies)
        return;
    // Made while the connections log in and the folder is listed.
    for (const LocalFile &file : toMake)
        waiting_.insert(file.name);
    if (!settings_.dryRun)
        photos_->make(toMake);
}

void Publisher::planPhotos()
{
    planned_ = true;
    if (!photos_)
        return;
    if (settings_.photos->webCopies) {
        for (PublishPlan::Entry &entry : plan_.send) {
            if (waiting_.contains(entry.file.name))
                entry.why = PublishPlan::Why::WebCopy;
        }
        // The record may know the photo under its old bytes: whether the
        // copy is what the server has is known only once it is made.
        for (qsizetype i = plan_.unchanged.size() - 1; i >= 0; --i) {
            if (waiting_.contains(plan_.unchanged.at(i).name))
                plan_.send.append({plan_.unchanged.takeAt(i), PublishPlan::Why::WebCopy});
        }
    } else {
        // Originals are decoded once before they go; only those that go.
        QList<LocalFile> toCheck;
        for (const PublishPlan::Entry &entry : std::as_const(plan_.send)) {
            if (photos_->sourceSizes().contains(entry.file.name)) {
                toCheck.append(entry.file);
                waiting_.insert(entry.file.name);
            }
        }
        if (!settings_.dryRun)
            photos_->make(toCheck);
    }
    updatePhotoTotals();
}

void Publisher::updatePhotoTotals()
{
    PublishPlan::Photos totals;
    const QHash<QString, qint64> &sizes = photos_->sourceSizes();
    for (const LocalFile &file : std::as_const(site_.files)) {
        if (!sizes.contains(file.name))
            continue;
        ++totals.count;
        totals.before += sizes.value(file.name);
        if (waiting_.contains(file.name) && settings_.photos->webCopies)
            ++totals.waiting;
        else
            totals.after += file.size;
    }
    plan_.photos = totals;
}

void Publisher::photoDone(const LocalFile &file)
{
    waiting_.remove(file.name);
    for (LocalFile &each : site_.files) {
        if (each.name == file.name)
            each = file;
    }
    if (!planned_)
        return; // makePlan() compares it with the record
    bool unchanged = false;
    for (qsizetype i = 0; i < plan_.send.size(); ++i) {
        PublishPlan::Entry &entry = plan_.send[i];
        if (entry.file.name != file.name)
            continue;
        const qint64 before = entry.file.size;
        entry.file = file;
        if (entry.why == PublishPlan::Why::WebCopy) {
            const auto published = record_.files().constFind(file.name);
            const bool recorded = published != record_.files().constEnd();
            const qint64 there = listed_.value(file.name, -2);
            unchanged = recorded && published->sha256 == file.sha256 && published->size == file.size &&
                        (there == file.size || there == -1);
            entry.why = !recorded ? PublishPlan::Why::New : PublishPlan::Why::Changed;
        }
        if (unchanged) {
            plan_.unchanged.append(file);
            plan_.send.removeAt(i);
            ++summary_.unchanged;
        }
        if (publishing_) {
            for (auto it = queue_.begin(); it != queue_.end(); ++it) {
                if (it->file.name != file.name)
                    continue;
                if (unchanged) {
                    queue_.erase(it);
                    --progress_.filesTotal;
                    progress_.bytesTotal -= before;
                } else {
                    it->file = file;
                    progress_.bytesTotal += file.size - before;
                }
                break;
            }
        }
        break;
    }
    updatePhotoTotals();
    emit photoReady(file.name, file.size, unchanged);
    wakeLanes();
}

void Publisher::photoFailed(const QString &name, const QString &reason)
{
    waiting_.remove(name);
    const auto at = std::find_if(site_.files.begin(), site_.files.end(),
                                 [&name](const LocalFile &file) { return file.name == name; });
    if (at == site_.files.end())
        return;
    const LocalFile file = *at;
    site_.files.erase(at);
    if (!planned_) {
        site_.notSent.append({file.name, file.path, reason});
        return;
    }
    plan_.send.removeIf([&name](const PublishPlan::Entry &entry) { return entry.file.name == name; });
    plan_.notSent.append({file.name, file.path, reason});
    if (publishing_) {
        for (auto it = queue_.begin(); it != queue_.end(); ++it) {
            if (it->file.name == name) {
                queue_.erase(it);
                --progress_.filesTotal;
                progress_.bytesTotal -= file.size;
                break;
            }
        }
    }
    summary_.failed.append(name + QStringLiteral(": ") + reason);
    updatePhotoTotals();
    emit fileFailed(name, reason);
    wakeLanes();
}

void Publisher::wakeLanes()
{
    if (!publishing_ || done_)
        return;
    for (size_t i = 0; i < lanes_.size() && !done_; ++i) {
        Lane &lane = *lanes_[i];
        if (!lane.busy && !lane.retired)
            next(lane);
    }
}

} // namespace webloom
