// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace webloom {

// Whether a name can only ever mean an entry of the folder it is used in: not
// empty, not "." or "..", and free of "/" and of the characters that cannot
// travel in one line of a file or of an FTP command (CR, LF, NUL). Names that
// come from a listing, a project file or the user pass this before they are
// joined to a folder.
inline bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\r')) && !name.contains(QLatin1Char('\n')) &&
           !name.contains(QChar(0));
}

} // namespace webloom
