// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/terminal_text.h"

namespace webloom {

namespace {

bool actsOnTerminal(char16_t c)
{
    return (c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F);
}

} // namespace

QString terminalText(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (actsOnTerminal(c.unicode()))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace webloom
