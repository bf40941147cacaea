// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

namespace webloom::test {

// Reads a whole file; an empty array when it cannot be read.
QByteArray readBytes(const QString &path);
bool writeBytes(const QString &path, const QByteArray &bytes);

// Path of a file under tests/data.
QString dataPath(const QString &relative);

// Byte-for-byte comparison of two CP932 / CR LF texts. On a difference the
// message names the first differing line (1-based) and shows both versions
// decoded, so a failure reads as text rather than as a hex dump.
::testing::AssertionResult sameBytes(const QByteArray &expected, const QByteArray &actual);

// Compares a written file with a golden file under tests/data.
::testing::AssertionResult matchesGolden(const QString &goldenRelative, const QString &actualPath);

} // namespace webloom::test
