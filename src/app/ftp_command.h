// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <QTextStream>

#include <optional>

#include "net/transfer.h"

namespace webloom {

// "webloom ftp ADDRESS USER [--local DIR] [--trust FINGERPRINT]... COMMAND...":
// runs each command
// text through the transfer layer, in order, and prints one line for each
// ("command<TAB>ok|error<TAB>server reply"), a DIR's entries after its line.
// The password comes from WEBLOOM_FTP_PASSWORD or, when that is unset, one
// line of standard input. arguments are those after "ftp". Returns 0 when
// every request completed, 1 when one failed, 2 for a usage error.
int runFtpCommand(const QStringList &arguments, QTextStream &out, QTextStream &err);

// The usage text of "webloom ftp".
QString ftpUsage();

// One command text ("DIR", "CD x", "MKDIR x", "RMDIR x", "DELETE x",
// "PUT local remote", "GET remote local", "CLOSE") as a request, local names
// taken in localFolder; nothing for an unknown keyword or a missing name.
std::optional<TransferRequest> parseFtpCommand(const QString &text, const QString &localFolder);

} // namespace webloom
