// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "document/site_document.h"

namespace webloom {

// A field as the main window shows it to the user: its tab and the caption
// beside it ("トップページ／サブＨＰタイトル１（ﾌｧｲﾙ名）"), for messages that
// must say which field they mean. Fields that are never stored or written
// fall back to their control name.
QString fieldCaption(Field f);

// One line of the sub page body (1-based), and one item of the link list
// (0-based index, shown 1-based).
QString bodyLineCaption(qsizetype line);
QString linkItemCaption(qsizetype index);

} // namespace webloom
