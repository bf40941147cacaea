// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include "net/transfer.h"
#include "pages/file_digest.h"

namespace webloom {

// Names one publish as the owner of the temporary files it puts on the
// server, for as long as the object lives.
class PublishRun {
public:
    PublishRun();
    ~PublishRun();
    PublishRun(const PublishRun &) = delete;
    PublishRun &operator=(const PublishRun &) = delete;
    const QString &owner() const { return owner_; }

    // Whether the publish that wrote owner may still be sending: one of this
    // process whose object still lives, one of another process on this
    // computer that is still running, or one of another computer (which
    // cannot be asked).
    static bool running(const QString &owner);

private:
    QString owner_;
};

// What was last published to one server folder: for each file its size and
// SHA-256, as it arrived there, and the temporary names of files on their
// way; and, by local path, the stamp and SHA-256 of each local file as it
// was last hashed, so that a file whose stamp is unchanged is not read
// again. One small file per connection and remote folder in the per-user data
// folder, rewritten whole and atomically after every step, so that it stays
// true to the server however a publish ends.
class PublishRecord {
public:
    struct File {
        qint64 size = -1;
        QByteArray sha256; // hex
        bool operator==(const File &) const = default;
    };

    // <data>/webloom/published
    static QString defaultFolder();
    // The record of this server, user and remote folder, whatever scheme the
    // address is written with.
    static QString pathFor(const Transfer::Connection &connection, const QString &remoteFolder,
                           const QString &folder = defaultFolder());

    // The digests the record at path holds, for buildSite().
    static KnownDigests knownDigests(const QString &path);

    explicit PublishRecord(QString path);
    const QString &path() const { return path_; }

    // A missing file is an empty record; so is one that cannot be read
    // (everything is then sent again, which is safe).
    void load();
    const QHash<QString, File> &files() const { return files_; }
    void set(const QString &name, const File &file)
    {
        files_.insert(name, file);
        setFiles_.insert(name);
    }

    // The local files' digests as the last publish hashed them. Replaced as
    // a whole by setDigests(): the next save() keeps those only.
    const KnownDigests &digests() const { return digests_; }
    void setDigests(KnownDigests digests)
    {
        digests_ = std::move(digests);
        digestsSet_ = true;
    }

    // Temporary names on the server, each with its owner (PublishRun): a
    // name is added before its file starts to travel, so that a publish that
    // is killed leaves it behind for the next one to delete.
    const QHash<QString, QString> &temporaries() const { return temporaries_; }
    void addTemporary(const QString &name, const QString &owner);
    void removeTemporary(const QString &name);

    // Names sent straight under their own name, each with its owner, from
    // before the file starts until it has arrived whole: a file whose
    // publish was cut off on the way may be partial there whatever its
    // size, and is sent again.
    const QHash<QString, QString> &unconfirmed() const { return unconfirmed_; }
    void setUnconfirmed(const QString &name, const QString &owner);
    void clearUnconfirmed(const QString &name);

    // Publishes to the same folder may run at once: the file as it is now
    // is read again, and only what this record changed since load() is
    // written over it.
    bool save(bool sync, QString *error = nullptr);

private:
    QString path_;
    QHash<QString, File> files_;
    QHash<QString, QString> temporaries_;
    KnownDigests digests_;
    bool digestsSet_ = false;
    QSet<QString> setFiles_;
    QSet<QString> addedTemporaries_;
    QSet<QString> removedTemporaries_;
    QHash<QString, QString> unconfirmed_;
    QSet<QString> setUnconfirmed_;
    QSet<QString> clearedUnconfirmed_;
};

} // namespace webloom
