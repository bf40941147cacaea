// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace webloom {

// The content of a file list box: the ordinary files of one folder, without
// sub-folders and hidden files (names starting with "."), sorted by name
// case-insensitively with ties in code-point order.
class FileList {
public:
    // Fails, keeping the previous folder and entries, when the folder does not
    // exist or cannot be read.
    bool setFolder(const QString &folder);
    // Re-reads the current folder; fails like setFolder.
    bool refresh();
    // Points at no folder: no entries, and refresh() fails until a folder is set.
    void clear();

    const QString &folder() const { return folder_; }
    const QStringList &names() const { return names_; }
    qsizetype count() const { return names_.size(); }
    QString name(qsizetype index) const { return names_.value(index); }

    // The listing rule on its own, for callers that only need the names.
    static bool read(const QString &folder, QStringList *names);

    // The folder's own times and identity, as seen just before it was read.
    struct Stamp {
        qint64 mtimeNs = 0;
        qint64 ctimeNs = 0;
        quint64 inode = 0;
        quint64 device = 0;
        bool operator==(const Stamp &) const = default;
    };

private:
    // Like read(), and the stamp of the folder taken before it was read;
    // *reusable tells whether an equal stamp later means equal names.
    static bool read(const QString &folder, QStringList *names, Stamp *stamp, bool *reusable);

    QString folder_;
    QStringList names_;
    Stamp stamp_;
    bool reusable_ = false;
};

} // namespace webloom
