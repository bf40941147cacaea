// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/golden.h"

#include <QFile>

#include "document/cp932.h"

namespace webloom::test {

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QString dataPath(const QString &relative)
{
    return QStringLiteral(WEBLOOM_TEST_DATA "/") + relative;
}

::testing::AssertionResult sameBytes(const QByteArray &expected, const QByteArray &actual)
{
    if (expected == actual)
        return ::testing::AssertionSuccess();
    const QList<QByteArray> e = expected.split('\n');
    const QList<QByteArray> a = actual.split('\n');
    qsizetype i = 0;
    while (i < e.size() && i < a.size() && e.at(i) == a.at(i))
        ++i;
    auto show = [](const QList<QByteArray> &lines, qsizetype n) {
        if (n >= lines.size())
            return std::string("<end of file>");
        QByteArray l = lines.at(n);
        const bool cr = l.endsWith('\r');
        if (cr)
            l.chop(1);
        return (cp932::decode(l) + (cr ? QStringLiteral("⏎CRLF") : QStringLiteral("⏎LF"))).toStdString();
    };
    return ::testing::AssertionFailure() << "bytes differ (expected " << expected.size() << ", actual " << actual.size()
                                         << "), first at line " << (i + 1) << "\n  expected: " << show(e, i)
                                         << "\n  actual:   " << show(a, i);
}

::testing::AssertionResult matchesGolden(const QString &goldenRelative, const QString &actualPath)
{
    const QString golden = dataPath(goldenRelative);
    if (!QFile::exists(golden))
        return ::testing::AssertionFailure() << "missing golden file " << golden.toStdString();
    if (!QFile::exists(actualPath))
        return ::testing::AssertionFailure() << "no file written at " << actualPath.toStdString();
    return sameBytes(readBytes(golden), readBytes(actualPath));
}

} // namespace webloom::test
