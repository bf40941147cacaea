#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

#include "document/site_document.h"
#include "publish/publish_record.h"
#include "upload/remote_entry.h"

namespace webloom {

// One local file of the site as it goes to the server: every page, and the
// files the pages refer to by a bare name.
struct LocalFile {
    enum class Kind { Page, Photo, Picture };
    QString name; // on the server, in the remote folder
    QString path; // on this computer
    qint64 size = 0;
    QByteArray sha256; // hex
    Kind kind = Kind::Page;
};

// A page the site could not build, and why (as the window would have said).
struct SkippedPage {
    QString kind; // "top", "self", "link", "sub", "photo"
    QString reason;
    bool failed = false; // a file could not be written (not a missing field)
};

struct SiteFiles {
    QList<LocalFile> files;
    QList<SkippedPage> skipped;
};

// A working copy of a document, so that building its pages (which moves
// lists and fields the way the buttons do) leaves the window's own alone.
// The copy is what a SAVE followed by a LOAD would give.
std::unique_ptr<SiteDocument> documentCopy(const SiteDocument &doc);

// Builds every page of the document into its base folder exactly as
// "webloom build" does, and collects the files to publish: the pages; the
// photos of the photo pages when they have no photo address of their own
// (they go beside the pages); the top page's picture and banner when they
// name a file in the base folder. Nothing outside the base folder and the
// photo folder is ever taken.
SiteFiles buildSite(SiteDocument &doc);

// What a publish will do.
struct PublishPlan {
    enum class Why { New, Changed, MissingOnServer, OtherSizeOnServer };
    struct Entry {
        LocalFile file;
        Why why = Why::New;
    };
    QList<Entry> send;
    QList<LocalFile> unchanged;
    QList<SkippedPage> skipped;
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
    qint64 bytesToSend() const;
};

// A file is sent when it is new, its bytes changed since it was last
// published, or the server's listing shows it missing or of another size.
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
