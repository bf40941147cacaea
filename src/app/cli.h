#pragma once

#include <QStringList>

namespace webloom {

// True when the arguments ask for a command-line run (build, ftp, --help,
// --version) rather than the window.
bool isCommandLine(int argc, char *argv[]);

// Runs the command line; arguments as QCoreApplication::arguments() gives
// them (program name first). Returns the process exit status.
int runCommandLine(const QStringList &arguments);

} // namespace webloom
