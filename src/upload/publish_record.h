#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include "upload/transfer.h"

namespace webloom {

// What was last published to one server folder: for each file its size and
// SHA-256, as it arrived there. One small file per connection and remote
// folder in the per-user data folder, rewritten whole and atomically after
// every file that arrives, so that it stays true to the server however a
// publish ends.
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

    explicit PublishRecord(QString path);
    const QString &path() const { return path_; }

    // A missing file is an empty record; so is one that cannot be read
    // (everything is then sent again, which is safe).
    void load();
    const QHash<QString, File> &files() const { return files_; }
    void set(const QString &name, const File &file) { files_.insert(name, file); }
    bool save(bool sync, QString *error = nullptr) const;

private:
    QString path_;
    QHash<QString, File> files_;
};

} // namespace webloom
