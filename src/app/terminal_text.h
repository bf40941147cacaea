// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

namespace webloom {

// Text that came from a server, made safe to print on a terminal: a server
// could otherwise send escape sequences that move the cursor, retitle the
// window or hide lines. Every character a terminal may act on -- the C0
// controls except TAB, DEL, and the C1 controls U+0080 to U+009F -- is shown
// as a "\xNN" escape with two lower-case hex digits (ESC as "\x1b", CR as
// "\x0d"). A backslash stays as it is, so an escape can be told from a name
// holding those four characters only by knowing that the server cannot send
// the raw byte; the text is for reading, not for feeding back.
QString terminalText(QStringView text);

} // namespace webloom
