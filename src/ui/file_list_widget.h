// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListWidget>

#include "document/file_list.h"

namespace webloom {

// A file list box: the ordinary files of one folder (FileList's rule and
// order), names only. Either it reads a folder itself (folder chooser, FTP
// window) or it shows a listing kept elsewhere (File1 of the document).
class FileListWidget : public QListWidget {
    Q_OBJECT
public:
    explicit FileListWidget(QWidget *parent = nullptr);

    // Lists a folder. Fails, keeping the folder and entries shown, when the
    // folder does not exist or cannot be read.
    bool setFolder(const QString &folder);
    bool refresh();
    // Shows a listing read elsewhere.
    void showList(const FileList &list);

    const FileList &list() const { return list_; }
    const QString &folder() const { return list_.folder(); }

    // The FTP window lets several files be selected; the default is one.
    void setMultiSelect(bool on);
    QString name(int index) const { return list_.name(index); }
    bool isSelected(int index) const;
    // Names of the selected entries in list order.
    QStringList selectedNames() const;

private:
    void fill();

    FileList list_;
};

} // namespace webloom
