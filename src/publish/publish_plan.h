// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include "pages/site_build.h"
#include "publish/publish_record.h"
#include "net/remote_entry.h"

namespace webloom {

// What a publish will do.
struct PublishPlan {
    // WebCopy: a photo whose web copy is still being made; it is compared
    // with the record once it is ready.
    enum class Why { New, Changed, MissingOnServer, OtherSizeOnServer, WebCopy };
    struct Entry {
        LocalFile file;
        Why why = Why::New;
        // The listing shows a file of this name: it is replaced through a
        // temporary name. Any other file goes straight under its own name.
        bool replaces = false;
        // A file starts only once every file of an earlier wave has
        // arrived: 0 everything not yet on the server and every file that
        // is no page, 1 the pages being replaced, 2 the top page. So no page
        // the server shows links to a file still on its way.
        int wave = 0;
    };
    QList<Entry> send;
    QList<LocalFile> unchanged;
    QList<SkippedPage> skipped;
    // Files the pages name that are no pictures, and so stay here.
    QList<NotSentFile> notSent;
    // The photo folder, when it lies outside the base folder.
    QString outsidePhotoFolder;
    // The photos and pictures of the site: how many, their size here, and
    // that of what goes to the server (only known for those ready).
    struct Photos {
        int count = 0;
        qint64 before = 0;
        qint64 after = 0;
        int waiting = 0; // copies still being made
    };
    Photos photos;
    // Temporary files of this program that the publish deletes first.
    struct Leftover {
        enum class Why {
            Stopped, // recorded by a publish that is no longer running
            Old,     // not recorded here, and more than a day old
        };
        QString name;
        qint64 size = -1; // -1 where the listing does not show it
        Why why = Why::Stopped;
    };
    QList<Leftover> leftovers;
    // Recorded temporary names no longer on the server, which the record
    // forgets.
    QStringList gone;
    // The server folder's listing the plan was made from, for the link
    // check (see brokenLinks()).
    QList<RemoteEntry> remote;
    qint64 bytesToSend() const;
};

// A file is sent when it is new, its bytes changed since it was last
// published, it went under its own name and its arrival was never confirmed,
// or the server's listing shows it missing or of another size. The files to
// send come wave by wave, each in the site's order.
// Temporary names are deleted only when they are this program's own: the
// record's names of publishes that have ended (listed, or not listed by a
// server that hides every name starting with a dot), and other names of the same form
// once they are more than a day older than now, which no publish still
// running can want.
PublishPlan makePlan(const SiteFiles &site, const PublishRecord &record, const QList<RemoteEntry> &remote,
                     const QDateTime &now = QDateTime::currentDateTimeUtc());

// The prefix of the names under which files travel before they are renamed
// into place.
inline const QString kUploadPrefix = QStringLiteral(".webloom-up-");

// The temporary name of a file: the prefix, a stem of eight hexadecimal
// digits, "-" and the file's name; only prefix and stem where that would be
// longer than the 255 bytes servers allow in a name.
QString temporaryName(const QString &stem, const QString &name);
// Whether a name has the form temporaryName() gives.
bool isTemporaryName(const QString &name);

} // namespace webloom
