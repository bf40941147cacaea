#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace webloom::cp932 {

// What becomes of a character that code page 932 cannot represent.
enum class Unmappable {
    NumericReference, // "&#128512;": a page still shows the character
    QuestionMark,     // "?": plain text files (project, body text)
};

// Unicode to code page 932 (Microsoft's table, through glibc iconv "CP932").
QByteArray encode(QStringView text, Unmappable mode);

// Code page 932 to Unicode. Bytes that do not form a character become
// U+FFFD; decoding never fails.
QString decode(QByteArrayView bytes);

} // namespace webloom::cp932
