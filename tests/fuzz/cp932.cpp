// SPDX-License-Identifier: GPL-3.0-or-later
// The code page 932 conversion both ways. The input is read as code page 932
// bytes and, as text, as UTF-8 or (first byte odd) as UTF-16 so that lone
// surrogates come in too.
#include <QList>

#include "document/cp932.h"
#include "fuzz/fuzz_check.h"

using namespace webloom;

namespace {

// The byte structure of code page 932: single bytes, or a lead byte
// 81-9F / E0-FC followed by a trail byte 40-7E / 80-FC.
bool validCp932(const QByteArray &bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes.at(i));
        if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
            if (++i >= bytes.size())
                return false;
            const auto t = static_cast<unsigned char>(bytes.at(i));
            if (t < 0x40 || t == 0x7F || t > 0xFC)
                return false;
        } else if (b == 0x80 || b == 0xA0 || b >= 0xFD) {
            return false;
        }
    }
    return true;
}

void checkEncode(const QString &text)
{
    const QByteArray marked = cp932::encode(text, cp932::Unmappable::QuestionMark);
    const QByteArray referenced = cp932::encode(text, cp932::Unmappable::NumericReference);
    FUZZ_CHECK(validCp932(marked));
    FUZZ_CHECK(validCp932(referenced));

    const QList<uint> lost = cp932::lossyCharacters(text).toUcs4();
    const QList<uint> original = text.toUcs4(); // a lone surrogate counts as U+FFFD, as in lost
    // A page shows every character: the lost ones as references.
    QString expected;
    for (uint c : original) {
        if (lost.contains(c))
            expected += QStringLiteral("&#%1;").arg(c);
        else
            expected += QStringView(QChar::fromUcs4(c));
    }
    FUZZ_CHECK(cp932::decode(referenced) == expected);

    // A text file keeps every other character; a lost one comes back as
    // something else that then survives ("?" or the table's neighbour).
    const QString back = cp932::decode(marked);
    const QList<uint> backChars = back.toUcs4();
    FUZZ_CHECK(backChars.size() == original.size());
    for (qsizetype i = 0; i < original.size(); ++i)
        FUZZ_CHECK(lost.contains(original.at(i)) ? backChars.at(i) != original.at(i)
                                                 : backChars.at(i) == original.at(i));
    FUZZ_CHECK(cp932::lossyCharacters(back).isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    // Decoding never fails, and every character it gives survives but the
    // replacement of invalid bytes.
    const QString decoded = cp932::decode(input);
    FUZZ_CHECK(decoded.isValidUtf16());
    const QString lost = cp932::lossyCharacters(decoded);
    FUZZ_CHECK(lost.isEmpty() || lost == QString(QChar::ReplacementCharacter));
    checkEncode(decoded);

    if (!input.isEmpty() && (input.at(0) & 1)) {
        const QByteArray rest = input.mid(1);
        checkEncode(QString(reinterpret_cast<const QChar *>(rest.constData()), rest.size() / 2));
    } else {
        checkEncode(QString::fromUtf8(input));
    }
    return 0;
}
