// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/photo_stage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

namespace webloom {

namespace {

bool isPhoto(const LocalFile &file)
{
    return file.kind == LocalFile::Kind::Photo || file.kind == LocalFile::Kind::Picture;
}

// The bytes of a file, when it may be a picture at all.
std::optional<QByteArray> readPicture(const QString &path, qint64 limit, QString *problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("読めません：") + file.errorString();
        return std::nullopt;
    }
    if (file.size() > limit) {
        *problem = QStringLiteral("大きすぎます");
        return std::nullopt;
    }
    return file.readAll();
}

} // namespace

PhotoStage::PhotoStage(PhotoChoice choice, QObject *parent)
    : QObject(parent), choice_(std::move(choice)),
      cache_(choice_.cacheFolder.isEmpty() ? photos::CopyCache::defaultFolder() : choice_.cacheFolder),
      stop_(std::make_shared<std::atomic<bool>>(false))
{
    pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

PhotoStage::~PhotoStage()
{
    stop_->store(true);
    pool_.clear();
    pool_.waitForDone();
}

QList<LocalFile> PhotoStage::sortOut(SiteFiles &site)
{
    QList<LocalFile> toMake;
    QList<LocalFile> kept;
    for (const LocalFile &file : std::as_const(site.files)) {
        if (!isPhoto(file)) {
            kept.append(file);
            continue;
        }
        sourceSizes_.insert(file.name, file.size);
        QFile in(file.path);
        const QByteArray head = in.open(QIODevice::ReadOnly) ? in.read(16) : QByteArray();
        if (!photos::sniffFormat(head)) {
            site.notSent.append({file.name, file.path, QStringLiteral("画像ではありません")});
            continue;
        }
        if (choice_.webCopies) {
            if (const std::optional<photos::CachedCopy> copy = cache_.find(file.sha256, choice_.options)) {
                LocalFile ready = file;
                ready.path = copy->path;
                ready.size = copy->size;
                ready.sha256 = copy->sha256;
                kept.append(ready);
                continue;
            }
            toMake.append(file);
        }
        kept.append(file);
    }
    site.files = kept;
    if (!choice_.webCopies) {
        for (const LocalFile &file : std::as_const(kept)) {
            if (isPhoto(file))
                toMake.append(file);
        }
    }
    return toMake;
}

void PhotoStage::make(const QList<LocalFile> &files)
{
    // Without a cache folder the copies of this publish live as long as it.
    if (choice_.webCopies && !files.isEmpty() && !fallback_ && !QDir().mkpath(cache_.folder())) {
        fallback_ = std::make_unique<QTemporaryDir>();
        cache_ = photos::CopyCache(fallback_->path());
    }
    for (const LocalFile &file : files) {
        pool_.start([this, file, stop = stop_, choice = choice_, cache = cache_] {
            if (stop->load())
                return;
            QString problem;
            std::optional<LocalFile> result;
            if (const std::optional<QByteArray> bytes = readPicture(file.path, photos::kMaxPictureBytes, &problem)) {
                if (!choice.webCopies) {
                    problem = photos::pictureProblem(*bytes);
                    if (problem.isEmpty())
                        result = file;
                } else {
                    const photos::WebCopy copy = photos::makeWebCopy(*bytes, choice.options);
                    problem = copy.error;
                    if (problem.isEmpty()) {
                        if (const auto stored = cache.store(file.sha256, choice.options, copy.bytes, &problem)) {
                            result = file;
                            result->path = stored->path;
                            result->size = stored->size;
                            result->sha256 = stored->sha256;
                        }
                    }
                }
            }
            if (stop->load())
                return;
            // Posted to the stage: dropped with it when it is gone first.
            QMetaObject::invokeMethod(
                this,
                [this, name = file.name, result, problem] {
                    if (result)
                        emit ready(*result);
                    else
                        emit failed(name, problem);
                },
                Qt::QueuedConnection);
        });
    }
}

} // namespace webloom
