// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QApplication;

namespace webloom {

// Creates the main window and runs the event loop until the program ends.
// A project named on the command line is loaded once the window shows.
int runGui(QApplication &app, const QString &project = {});

} // namespace webloom
