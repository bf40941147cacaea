// SPDX-License-Identifier: GPL-3.0-or-later
// The JPEG and PNG rewriters of web copies on any bytes: what they give back
// is well formed enough for them to take it again unchanged.
#include "fuzz/fuzz_check.h"
#include "photos/metadata.h"

using namespace webloom::photos;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    if (const std::optional<QByteArray> jpeg = cleanJpeg(input)) {
        FUZZ_CHECK(jpeg->startsWith("\xFF\xD8") && jpeg->endsWith("\xFF\xD9"));
        FUZZ_CHECK(cleanJpeg(*jpeg) == jpeg);
    }
    if (const std::optional<QByteArray> png = cleanPng(input)) {
        FUZZ_CHECK(png->startsWith("\x89PNG") && png->endsWith("IEND\xAE\x42\x60\x82"));
        FUZZ_CHECK(cleanPng(*png) == png);
    }
    Found found;
    readExif(input, found);
    FUZZ_CHECK(found.orientation >= 1 && found.orientation <= 8);
    return 0;
}
