// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/spaces.h"

namespace webloom {

QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

bool isNonBlank(const QString &text)
{
    return !trimSpaces(text).isEmpty();
}

} // namespace webloom
