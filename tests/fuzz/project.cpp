// SPDX-License-Identifier: GPL-3.0-or-later
// The project loader on any bytes. What it accepts must survive a save and a
// second load: the second load is complete, gives the values the save could
// carry, and a second save writes the same bytes.
#include <QBuffer>

#include "document/cp932.h"
#include "document/project_file.h"
#include "fuzz/fuzz_check.h"

using namespace webloom;

namespace {

bool load(SiteDocument &doc, const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return readProjectRecords(doc, buffer);
}

// A value as a saved file gives it back: line breaks as blanks, characters
// outside the code page as the file can hold them.
QString asSaved(const QString &value)
{
    QString oneLine = value;
    oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    oneLine.replace(QLatin1Char('\r'), QLatin1Char(' '));
    oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return cp932::decode(cp932::encode(oneLine, cp932::Unmappable::QuestionMark));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    SiteDocument first;
    if (!load(first, input))
        return 0;
    const QByteArray saved = projectBytes(first);
    SiteDocument second;
    FUZZ_CHECK(load(second, saved));
    for (const FieldInfo &info : fieldTable()) {
        if (info.key)
            FUZZ_CHECK(second.text(info.field) == asSaved(first.text(info.field)));
    }
    for (ListId id : {ListId::List3, ListId::List4}) {
        const QStringList &before = first.list(id);
        const QStringList &after = second.list(id);
        FUZZ_CHECK(before.size() == after.size());
        for (qsizetype i = 0; i < before.size(); ++i)
            FUZZ_CHECK(after.at(i) == asSaved(before.at(i)));
    }
    FUZZ_CHECK(projectBytes(second) == saved);
    return 0;
}
