// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "publish/photo_stage.h"
#include "publish/publish_plan.h"
#include "publish/publish_record.h"
#include "net/transfer.h"

namespace webloom {

struct PublishProgress {
    int filesDone = 0;
    int filesTotal = 0;
    qint64 bytesDone = 0;
    qint64 bytesTotal = 0;
    QStringList current; // the files on their way now
    qint64 elapsedMs = 0;
    // Milliseconds still to go at the pace so far; -1 while unknown.
    qint64 remainingMs() const;
};

struct PublishSummary {
    int sent = 0;
    qint64 bytesSent = 0;
    int unchanged = 0;
    QStringList failed; // "name: reason"
    bool cancelled = false;
    QString error; // the publish could not start or the record not be kept
    bool ok() const { return failed.isEmpty() && error.isEmpty() && !cancelled; }
};

// Publishes a site to one folder of one server: first a plan (log in, enter
// the folder, making it when missing, list it once, compare with the record
// of the last publish), then, when asked, the files of the plan over up to N
// connections at once. A file the server already has travels under a
// temporary name in the same folder and is renamed over the old one, so the
// server never shows a missing or half file; a file it has not got goes
// straight under its own name, marked unconfirmed in the record until it has
// arrived, and before any page the server shows can link to it (the plan's
// waves). The record is brought up to date after each file that arrived, and
// holds each temporary name before it is used. Temporary
// files are deleted only when they are this publish's own or those of one
// that has ended (see makePlan()), and those deletions are part of the plan.
// Where the server refuses more connections, the publish goes on with those
// it has; a further connection that presents another certificate or host
// key than the first stops it.
class Publisher : public QObject {
    Q_OBJECT
public:
    struct Settings {
        Transfer::Connection connection;
        QString remoteFolder; // relative to the log-in folder; empty: that folder
        int parallel = 2;     // 1 to 8
        QString recordPath;
        // Plan only: a remote folder that is not there is taken as empty
        // rather than made.
        bool dryRun = false;
        // Without it, photos and pictures go as the site lists them. With
        // it, only pictures go, and with web copies each photo's copy,
        // sent as soon as it is ready (see PhotoStage).
        std::optional<PhotoChoice> photos = {};
    };
    using MakeTransfer = std::function<std::unique_ptr<Transfer>()>;
    // Asked about a failure the user may resolve (an unknown certificate or
    // host key, a server without encryption): the connection to try again
    // with, or nothing to give up.
    using Resolve =
        std::function<std::optional<Transfer::Connection>(const TransferOutcome &, const Transfer::Connection &)>;

    static constexpr int kMaxParallel = 8;

    Publisher(Settings settings, SiteFiles site, MakeTransfer makeTransfer, Resolve resolve, QObject *parent = nullptr);
    ~Publisher() override;

    // Step one: planned() or finished() with an error.
    void plan();
    // Step two, after planned(): sends what the plan says.
    void publish();
    // Stops after the files on their way; nothing that arrived is lost.
    void cancel();

    const PublishPlan &currentPlan() const { return plan_; }
    const Transfer::Connection &connection() const { return settings_.connection; }
    // Up to date after every photoReady().
    const PublishPlan::Photos &photos() const { return plan_.photos; }

signals:
    void planned(const webloom::PublishPlan &plan);
    void fileSent(const QString &name, qint64 bytes);
    void fileFailed(const QString &name, const QString &reason);
    // A temporary file of the plan's leftovers is gone from the server.
    void leftoverDeleted(const QString &name);
    void progress(const webloom::PublishProgress &progress);
    // A photo of the plan is ready to go, with the size it has on the
    // server; unchanged: it turned out to be what the server has already.
    void photoReady(const QString &name, qint64 bytes, bool unchanged);
    void finished(const webloom::PublishSummary &summary);
    // A further connection presented another certificate or host key than
    // the first; finished() follows with the publish stopped.
    void otherIdentity(const webloom::PeerIdentity &identity);

private:
    struct Lane;
    enum class Step { Login, Enter, MakeFolder, List, Clean, Put, Rename, Tidy, PutInPlace };

    Lane &addLane();
    void enterFolder(Lane &lane);
    void openAhead(const TransferRequest &enter);
    void send(Lane &lane, Step step, const TransferRequest &request);
    void onOutcome(Lane &lane, const TransferOutcome &outcome);
    void next(Lane &lane);
    // Ends the publish once no connection has a request running.
    void finishWhenIdle();
    void retire(Lane &lane);
    void fileDone(Lane &lane, const QString &failure);
    // Whether a file of an earlier wave than the next one is still on its way.
    bool earlierWaveOnTheWay() const;
    void finish(const QString &error = {});
    void reportProgress();
    // Keeps the record's temporary names true before a step that depends
    // on them; a failure is reported at the end.
    void saveRecord();
    QString describe(const TransferOutcome &outcome) const;
    void startPhotos();
    // After makePlan(): the photos still being made, or still to be checked.
    void planPhotos();
    void photoDone(const LocalFile &file);
    void photoFailed(const QString &name, const QString &reason);
    void updatePhotoTotals();
    // The lanes that wait for a photo take the next file.
    void wakeLanes();

    Settings settings_;
    SiteFiles site_;
    MakeTransfer makeTransfer_;
    Resolve resolve_;
    PublishRecord record_;
    PublishRun run_;
    PublishPlan plan_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::deque<PublishPlan::Entry> queue_;
    std::deque<QString> leftovers_;
    PublishSummary summary_;
    PublishProgress progress_;
    QElapsedTimer clock_;
    bool publishing_ = false;
    bool cancelled_ = false;
    bool done_ = false;
    QString recordError_;
    std::unique_ptr<PhotoStage> photos_;
    // Names whose file is not ready to go yet.
    QSet<QString> waiting_;
    // The listing's sizes by name.
    QHash<QString, qint64> listed_;
    bool planned_ = false;
    // The record has changes not yet written.
    bool unsaved_ = false;
};

} // namespace webloom

Q_DECLARE_METATYPE(webloom::PublishPlan)
Q_DECLARE_METATYPE(webloom::PublishProgress)
Q_DECLARE_METATYPE(webloom::PublishSummary)
