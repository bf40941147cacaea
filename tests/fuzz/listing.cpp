// SPDX-License-Identifier: GPL-3.0-or-later
// The listing parser on any server reply, read both as LIST and as MLSD
// lines. Whatever comes through to the window must be one safe path element
// per line, and sizes are never below "unknown".
#include "fuzz/fuzz_check.h"
#include "net/list_parser.h"

using namespace webloom::listing;

namespace {

bool safeName(QByteArrayView name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\r') &&
           !name.contains('\n') && !name.contains('\0');
}

void check(QByteArrayView data, Format format)
{
    const QList<ListEntry> entries = parseListing(data, format);
    for (const ListEntry &entry : entries) {
        FUZZ_CHECK(entry.size >= -1);
        FUZZ_CHECK(!entry.name.contains('\n'));
    }
    const Listing listing = formatListing(entries);
    FUZZ_CHECK(listing.text.endsWith("\r\n\r\n") || listing.text == "\r\n");
    // One line per entry shown, then the empty line that ends the listing.
    const QList<QByteArray> lines = listing.text.chopped(2).split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        FUZZ_CHECK(line.endsWith('\r'));
        line.chop(1);
        if (line.endsWith('/'))
            line.chop(1);
        FUZZ_CHECK(safeName(line));
    }
    for (auto it = listing.rawNames.cbegin(); it != listing.rawNames.cend(); ++it) {
        FUZZ_CHECK(safeName(it.value()));
        FUZZ_CHECK(it.key() == decodeName(it.value()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    check(bytes, Format::List);
    check(bytes, Format::Mlsd);
    return 0;
}
