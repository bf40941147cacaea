// SPDX-License-Identifier: GPL-3.0-or-later
// The registry reader on any file. Whatever it accepts is at most eleven
// entries; entries that the commands may write back (none refused by
// unstorableReason) read back equal, so a registration never changes the
// entries it did not touch.
#include "fuzz/fuzz_check.h"
#include "sites/registry.h"

using namespace webloom;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const std::optional<QList<RegisteredConnection>> entries = parseRegistry(input);
    if (!entries)
        return 0;
    FUZZ_CHECK(entries->size() <= kMaxConnections);
    QList<RegisteredConnection> writable;
    for (const RegisteredConnection &c : *entries) {
        if (unstorableReason(c).isEmpty())
            writable.append(c);
    }
    FUZZ_CHECK(parseRegistry(registryBytes(writable)) == writable);
    return 0;
}
