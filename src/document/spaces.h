// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace webloom {

// Non-blank: length greater than 0 after removing leading and trailing ASCII
// spaces (the ideographic space is not removed).
bool isNonBlank(const QString &text);
// Removes leading and trailing ASCII spaces only.
QString trimSpaces(const QString &text);

} // namespace webloom
