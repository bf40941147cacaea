// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dir_list.h"

#include <QDir>
#include <QFileInfo>
#include <QStyle>

#include <algorithm>

namespace webloom {

namespace {

constexpr int kPathRole = Qt::UserRole;

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(QDir::fromNativeSeparators(path)).absoluteFilePath());
}

} // namespace

DirList::DirList(QWidget *parent) : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(12);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *item, int) {
        if (item)
            setPath(item->data(0, kPathRole).toString());
    });
}

QStringList DirList::subfolders(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

bool DirList::setPath(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString clean = cleanAbsolute(path);
    const QFileInfo info(clean);
    if (!info.isDir() || !info.isExecutable() || !info.isReadable())
        return false;
    const QString shown = QDir::toNativeSeparators(clean);
    if (shown == path_)
        return true;
    path_ = shown;
    fill();
    emit pathChanged(path_);
    return true;
}

void DirList::refresh()
{
    if (!path_.isEmpty())
        fill();
}

void DirList::fill()
{
    clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);

    // The chain from the root down to the shown folder.
    const QString clean = QDir::fromNativeSeparators(path_);
    QStringList chain;
    for (QDir d(clean);;) {
        chain.prepend(d.absolutePath());
        if (d.isRoot() || !d.cdUp())
            break;
    }
    QTreeWidgetItem *parent = nullptr;
    for (const QString &folder : chain) {
        const QString name = QDir(folder).isRoot() ? QDir::toNativeSeparators(folder) : QFileInfo(folder).fileName();
        auto *item = parent ? new QTreeWidgetItem(parent, {name}) : new QTreeWidgetItem(this, {name});
        item->setIcon(0, open);
        item->setData(0, kPathRole, QDir::toNativeSeparators(folder));
        parent = item;
    }
    QTreeWidgetItem *current = parent;
    const QString base = clean.endsWith(QLatin1Char('/')) ? clean : clean + QLatin1Char('/');
    for (const QString &name : subfolders(clean)) {
        auto *item = new QTreeWidgetItem(current, {name});
        item->setIcon(0, closed);
        item->setData(0, kPathRole, QDir::toNativeSeparators(base + name));
    }
    expandAll();
    setCurrentItem(current);
}

} // namespace webloom
