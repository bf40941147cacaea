// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/file_list_widget.h"

namespace webloom {

FileListWidget::FileListWidget(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
}

bool FileListWidget::setFolder(const QString &folder)
{
    if (!list_.setFolder(folder))
        return false;
    fill();
    return true;
}

bool FileListWidget::refresh()
{
    if (!list_.refresh())
        return false;
    fill();
    return true;
}

void FileListWidget::showList(const FileList &list)
{
    list_ = list;
    fill();
}

void FileListWidget::setMultiSelect(bool on)
{
    setSelectionMode(on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

bool FileListWidget::isSelected(int index) const
{
    const QListWidgetItem *it = item(index);
    return it && it->isSelected();
}

QStringList FileListWidget::selectedNames() const
{
    QStringList names;
    for (int i = 0; i < count(); ++i) {
        if (item(i)->isSelected())
            names.append(item(i)->text());
    }
    return names;
}

void FileListWidget::fill()
{
    clear();
    addItems(list_.names());
}

} // namespace webloom
