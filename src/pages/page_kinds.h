// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <vector>

#include "pages/page_frame.h"

namespace webloom {

// One kind of page that the command-line build can write: its name on the
// command line, the tab whose "ＨＰ作成" button writes it, and the command that
// button runs (checks, then the writer).
struct PageKind {
    QString name;
    int tab;
    PageResult (*command)(PageFrame &frame);
};

// The kinds in the order the command-line build attempts them.
const std::vector<PageKind> &pageKinds();
const PageKind *findPageKind(const QString &name);

} // namespace webloom
