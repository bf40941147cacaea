// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/drive_list.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace webloom {

namespace {

bool readable(const QString &root)
{
    const QFileInfo info(root);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

} // namespace

DriveList::DriveList(QWidget *parent) : QComboBox(parent)
{
    setEditable(false);
    setDrives(mountedDrives());
    connect(this, &QComboBox::activated, this, &DriveList::userPicked);
}

QStringList DriveList::mountedDrives()
{
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        // Bind mounts of single files (common in containers) are no drives.
        if (volume.isValid() && volume.isReady() && QFileInfo(volume.rootPath()).isDir())
            roots.append(QDir::toNativeSeparators(volume.rootPath()));
    }
    roots.removeDuplicates();
    return sortedDrives(roots);
}

QStringList DriveList::sortedDrives(QStringList roots)
{
    const QString root = QDir::toNativeSeparators(QDir::rootPath());
    std::sort(roots.begin(), roots.end(), [&root](const QString &a, const QString &b) {
        if ((a == root) != (b == root))
            return a == root;
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return roots;
}

QString DriveList::driveOf(const QString &path, const QStringList &roots)
{
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(path));
    QString best;
    qsizetype bestLength = -1;
    for (const QString &root : roots) {
        const QString r = QDir::cleanPath(QDir::fromNativeSeparators(root));
        const bool holds =
            r.endsWith(QLatin1Char('/')) ? clean.startsWith(r) : clean == r || clean.startsWith(r + QLatin1Char('/'));
        if (holds && r.size() > bestLength) {
            best = root;
            bestLength = r.size();
        }
    }
    return best;
}

void DriveList::setDrives(const QStringList &roots)
{
    const QSignalBlocker block(this);
    clear();
    addItems(roots);
    const int keep = findText(current_);
    setCurrentIndex(keep >= 0 ? keep : (count() > 0 ? 0 : -1));
    current_ = currentText();
}

QStringList DriveList::drives() const
{
    QStringList roots;
    for (int i = 0; i < count(); ++i)
        roots.append(itemText(i));
    return roots;
}

bool DriveList::setDrive(const QString &root)
{
    const int index = findText(root);
    if (index < 0 || !readable(root))
        return false;
    if (root == current_)
        return true;
    {
        const QSignalBlocker block(this);
        setCurrentIndex(index);
    }
    current_ = root;
    emit driveChanged(current_);
    return true;
}

bool DriveList::setDriveOf(const QString &path)
{
    const QString root = driveOf(path, drives());
    return !root.isEmpty() && setDrive(root);
}

void DriveList::userPicked(int index)
{
    const QString root = itemText(index);
    if (root == current_)
        return;
    if (!readable(root)) {
        const QSignalBlocker block(this);
        setCurrentIndex(findText(current_));
        return;
    }
    current_ = root;
    emit driveChanged(current_);
}

} // namespace webloom
