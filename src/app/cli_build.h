// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <QTextStream>

namespace webloom {

// "webloom build PROJECT_FILE [--out DIR] [--only KINDS]": loads a project
// file as "LOAD" does and writes its pages as their "ＨＰ作成" buttons would.
// arguments are those after the word "build". Written files are listed on
// out, one path a line; every message box becomes one line on err.
//
// Exit status: 0 when nothing failed and every kind named by --only was
// written; 1 when a kind named by --only was refused or a write failed; 2 for
// usage errors and a project that cannot be loaded.
int runBuild(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace webloom
