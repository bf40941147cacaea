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
    // Every character comes back as itself or as the mark of a lost one.
    const QList<uint> original = text.toUcs4();
    const QList<uint> back = cp932::decode(marked).toUcs4();
    FUZZ_CHECK(back.size() == original.size());
    for (qsizetype i = 0; i < back.size(); ++i)
        FUZZ_CHECK(back.at(i) == original.at(i) || back.at(i) == '?');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    // Decoding never fails, and what it gives encodes back to the same text.
    const QString decoded = cp932::decode(input);
    FUZZ_CHECK(decoded.isValidUtf16());
    checkEncode(decoded);

    if (!input.isEmpty() && (input.at(0) & 1)) {
        const QByteArray rest = input.mid(1);
        checkEncode(QString(reinterpret_cast<const QChar *>(rest.constData()), rest.size() / 2));
    } else {
        checkEncode(QString::fromUtf8(input));
    }
    return 0;
}
