// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QListWidget>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace webloom::test {

// Creates an empty file (a photo, a page) for a test folder.
inline void touch(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

// The texts a list box shows, in order.
inline QStringList itemTexts(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out.append(list->item(i)->text());
    return out;
}

} // namespace webloom::test
