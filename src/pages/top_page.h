// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "pages/page_frame.h"

namespace webloom {

// The "ＨＰ作成" button of the top-page tab: the required-field check over
// Text1, Text2, Text13 and Text21, then kakitop.
PageResult chktop(PageFrame &frame);

// Writes the top page to Label1 + Text21 (untrimmed) and shows the success
// message. Runs without any check of its own; call it through chktop.
PageResult kakitop(PageFrame &frame);

} // namespace webloom
