// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "pages/page_frame.h"

namespace webloom {

// "ＨＰ作成" of the self-introduction tab (Command8): the required-field check
// over Text1, Text2, Text31, Text37 and Text44, then kakiself.
PageResult chkself(PageFrame &frame);

// Writes the self-introduction page into the file Text44 (trimmed) of the
// base folder and shows the success message.
PageResult kakiself(PageFrame &frame);

} // namespace webloom
