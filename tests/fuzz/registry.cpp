// The registry reader on any file. Whatever it accepts is at most eleven
// entries, and writing those entries back gives a file that reads back
// equal, so a registration never changes the entries it did not touch.
#include "fuzz/fuzz_check.h"
#include "upload/registry.h"

using namespace webloom;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const std::optional<QList<Connection>> entries = parseRegistry(input);
    if (!entries)
        return 0;
    FUZZ_CHECK(entries->size() <= kMaxConnections);
    const QByteArray written = registryBytes(*entries);
    const std::optional<QList<Connection>> again = parseRegistry(written);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *entries);
    return 0;
}
