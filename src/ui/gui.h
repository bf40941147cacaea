#pragma once

class QApplication;

namespace webloom {

// Creates the main window and runs the event loop until the program ends.
int runGui(QApplication &app);

} // namespace webloom
