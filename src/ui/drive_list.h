// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <QStringList>

namespace webloom {

// The drive list: on this platform the mounted volumes, named by their mount
// points, "/" first and the others in name order. Only a drive that can be
// read can become the current one; a user's pick of one that cannot is taken
// back silently.
class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(QWidget *parent = nullptr);

    // The mount points of the valid, ready volumes that are folders.
    static QStringList mountedDrives();
    // Orders mount points: "/" first, then by name.
    static QStringList sortedDrives(QStringList roots);
    // The drive of a path: the listed mount point holding it with the
    // longest match; empty when none does.
    static QString driveOf(const QString &path, const QStringList &roots);

    // Replaces the listed drives (a refresh after mounting, or tests). The
    // current drive is kept when still listed, else the first one is taken.
    void setDrives(const QStringList &roots);
    QStringList drives() const;

    QString drive() const { return currentText(); }
    // Fails, changing nothing, for a drive that is not listed or cannot be
    // read. driveChanged follows a real change.
    bool setDrive(const QString &root);
    // Makes the drive holding path the current one.
    bool setDriveOf(const QString &path);

signals:
    void driveChanged(const QString &root);

private:
    void userPicked(int index);

    QString current_;
};

} // namespace webloom
