// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace webloom::cp932 {

// A character survives code page 932 when it has a form there that reads
// back as the same character. The rest are lost: those without any form
// (an emoji, "𠮷", most accented letters) and those the conversion table
// stores as a neighbour that reads back as another character ("¥" as "\",
// "〜" as "～", "−" as "－").

// What becomes of a character that does not survive.
enum class Unmappable {
    NumericReference, // "&#128512;": a page still shows the very character
    QuestionMark,     // plain text files (project, body text): the neighbour
                      // when the table has one, otherwise "?"
};

// Unicode to code page 932 (Microsoft's table, through glibc iconv "CP932").
QByteArray encode(QStringView text, Unmappable mode);

// Code page 932 to Unicode. Bytes that do not form a character become
// U+FFFD; decoding never fails.
QString decode(QByteArrayView bytes);

// The characters of text that do not survive, each once, in the order of
// their first appearance (a lone surrogate as U+FFFD). Empty when encode
// loses nothing.
QString lossyCharacters(QStringView text);

} // namespace webloom::cp932
