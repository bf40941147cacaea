// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTreeWidget>

namespace webloom {

// A folder list box: the chain of folders from the root down to the shown
// folder, with the shown folder's own sub-folders below it. Activating an
// entry (double-click, Enter) shows that folder.
class DirList : public QTreeWidget {
    Q_OBJECT
public:
    explicit DirList(QWidget *parent = nullptr);

    // The shown folder as a full path; empty until one is set.
    const QString &path() const { return path_; }
    // Shows a folder (a relative path is taken from the current folder).
    // Fails, changing nothing, when it is not a folder that can be entered.
    // pathChanged follows when the shown folder changes, whether the user or
    // a caller changed it.
    bool setPath(const QString &path);
    // Re-reads the sub-folders of the shown folder.
    void refresh();

    // The visible sub-folders of a folder, sorted like the file lists.
    static QStringList subfolders(const QString &folder);

signals:
    void pathChanged(const QString &path);

private:
    void fill();

    QString path_;
};

} // namespace webloom
