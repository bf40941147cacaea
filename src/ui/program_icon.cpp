// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/program_icon.h"

// The icons live in a static library, whose resource initialiser the linker
// drops unless some code refers to it.
static void initIconResources()
{
    Q_INIT_RESOURCE(webloom_icons);
}

namespace webloom {

QIcon resourceIcon(const QString &fileName)
{
    static const bool initialised = (initIconResources(), true);
    Q_UNUSED(initialised);
    return QIcon(QStringLiteral(":/webloom/") + fileName);
}

QIcon programIcon()
{
    // Each size as drawn, so that a title bar or a task bar need not shrink
    // the large picture into a blur.
    QIcon icon = resourceIcon(QStringLiteral("webloom-64.png"));
    for (int size : {16, 32, 48, 128})
        icon.addFile(QStringLiteral(":/webloom/webloom-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace webloom
