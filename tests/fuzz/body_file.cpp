// SPDX-License-Identifier: GPL-3.0-or-later
// The body-file decoder of "ファイルの読み込み" on any file: lines end in "\n"
// only, and a file that is valid UTF-8 beyond ASCII reads as UTF-8.
#include <QStringDecoder>

#include "fuzz/fuzz_check.h"
#include "pages/sub_page.h"

using namespace webloom;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString text = decodeBodyFile(input);
    FUZZ_CHECK(!text.contains(QLatin1Char('\r')));

    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString expected = utf8.decode(input);
    bool beyondAscii = false;
    for (char c : input)
        beyondAscii = beyondAscii || static_cast<unsigned char>(c) >= 0x80;
    if (beyondAscii && !utf8.hasError()) {
        if (expected.startsWith(QChar(0xFEFF)))
            expected.remove(0, 1);
        expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        expected.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        FUZZ_CHECK(text == expected);
    }
    return 0;
}
