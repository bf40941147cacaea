// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <memory>

#include "pages/site_build.h"
#include "photos/copy_cache.h"
#include "photos/web_copy.h"

class QTemporaryDir;

namespace webloom {

// Which copy of each photo and picture a publish sends.
struct PhotoChoice {
    // false: the files exactly as they are (once they are known to be
    // pictures).
    bool webCopies = true;
    photos::Options options;
    // Where web copies are kept; empty: photos::CopyCache::defaultFolder().
    QString cacheFolder;
};

// The photos and pictures of one publish on their way to the server: each
// is first known to be a picture, and with web copies replaced by its copy,
// made on every core while the pages already travel. Copies made before come
// from the cache at once.
class PhotoStage : public QObject {
    Q_OBJECT
public:
    explicit PhotoStage(PhotoChoice choice, QObject *parent = nullptr);
    // Waits for the pictures being made right now; those not started are
    // dropped.
    ~PhotoStage() override;

    const PhotoChoice &choice() const { return choice_; }

    // Files whose content is no picture leave site.files for site.notSent;
    // with web copies, a photo made before becomes its copy. Returns the
    // photos whose copies are still to be made (with web copies) or that
    // still have to be decoded once (originals).
    QList<LocalFile> sortOut(SiteFiles &site);
    // Starts making those files ready; each ends in ready() or failed().
    void make(const QList<LocalFile> &files);

    // The size each photo and picture has on this computer.
    const QHash<QString, qint64> &sourceSizes() const { return sourceSizes_; }

signals:
    // The file to send under that name: the web copy, or the original once
    // it is known to decode.
    void ready(const webloom::LocalFile &file);
    void failed(const QString &name, const QString &reason);

private:
    PhotoChoice choice_;
    photos::CopyCache cache_;
    std::unique_ptr<QTemporaryDir> fallback_;
    QHash<QString, qint64> sourceSizes_;
    QThreadPool pool_;
    std::shared_ptr<std::atomic<bool>> stop_;
};

} // namespace webloom
