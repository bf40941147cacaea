// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QString>

namespace webloom {

// The program icon (a page and a walnut), for window icons and the about window.
QIcon programIcon();

// One of the images under src/ui/resources by file name, e.g. "back.png".
QIcon resourceIcon(const QString &fileName);

} // namespace webloom
