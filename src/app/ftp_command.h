#pragma once

#include <QStringList>
#include <QTextStream>

namespace webloom {

// "webloom ftp HOST[:PORT] USER [--local DIR] COMMAND...": runs each command
// text through the transfer layer, in order, and prints one line for each
// ("command<TAB>ok|error<TAB>server reply"), a DIR's entries after its line.
// The password comes from WEBLOOM_FTP_PASSWORD or, when that is unset, one
// line of standard input. arguments are those after "ftp". Returns 0 when
// every request completed, 1 when one failed, 2 for a usage error.
int runFtpCommand(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace webloom
