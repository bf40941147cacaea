// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <QTextStream>

namespace webloom {

// "webloom publish PROJECT_FILE --connection NAME [--registry FILE]
// [--remote DIR] [--parallel N] [--dry-run] [--trust FINGERPRINT]...":
// builds the pages of the project and uploads what changed since the last
// publish. One line per file sent ("uploaded<TAB>NAME<TAB>BYTES", or "would
// upload..." with --dry-run), one per temporary file of an earlier publish
// deleted ("deleted<TAB>NAME", or "would delete...") and a summary line on
// standard output; messages
// on standard error. Returns 0 when everything was sent, 1 when a file or
// page failed, 2 for usage errors and unreadable projects or registries.
int runPublish(const QStringList &arguments, QTextStream &out, QTextStream &err);

// The usage text of "webloom publish".
QString publishUsage();

} // namespace webloom
