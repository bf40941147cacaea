// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTextStream>

namespace webloom {

// Reads one line from fd as a password; a CR before the LF is dropped. When
// fd is a terminal, "Password: " goes to prompt and the typed characters are
// not echoed. The terminal gets its settings back on every way out: the line
// ends, the input ends, or SIGINT, SIGTERM, SIGHUP or SIGQUIT arrives -- then
// the settings are restored first and the signal is raised again, so the
// program ends the way it would have without the prompt. Ctrl-Z (SIGTSTP)
// gives the echo back while the program is stopped; continued in the
// foreground, the prompt hides the typing again and goes on waiting.
QString readPassword(int fd, QTextStream &prompt);

} // namespace webloom
