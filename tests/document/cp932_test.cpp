// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "document/cp932.h"

using namespace webloom;

namespace {

QByteArray enc(const QString &s, cp932::Unmappable m = cp932::Unmappable::NumericReference)
{
    return cp932::encode(s, m);
}

} // namespace

TEST(Cp932, MicrosoftTableForTheCharactersThatDifferFromJis)
{
    EXPECT_EQ(enc(QStringLiteral("－")), QByteArray("\x81\x7C")); // U+FF0D
    EXPECT_EQ(enc(QStringLiteral("～")), QByteArray("\x81\x60")); // U+FF5E
    EXPECT_EQ(enc(QStringLiteral("　")), QByteArray("\x81\x40"));
    EXPECT_EQ(enc(QStringLiteral("ＭＳ 明朝")), QByteArray("\x82\x6C\x82\x72\x20\x96\xBE\x92\xA9"));
    EXPECT_EQ(enc(QStringLiteral("ﾌｧｲﾙ")), QByteArray("\xCC\xA7\xB2\xD9")); // half-width kana: one byte each
    EXPECT_EQ(enc(QStringLiteral("①")), QByteArray("\x87\x40"));            // NEC special row
}

TEST(Cp932, UnmappableCharactersByMode)
{
    const QString text = QStringLiteral("a😀b\u00e9");
    EXPECT_EQ(enc(text), QByteArray("a&#128512;b&#233;"));
    EXPECT_EQ(enc(text, cp932::Unmappable::QuestionMark), QByteArray("a?b?"));
    // An unmappable character between two mappable ones does not disturb them.
    EXPECT_EQ(enc(QStringLiteral("あ😀い")), QByteArray("\x82\xA0&#128512;\x82\xA2"));
    // Characters the table stores as a neighbour are lost too: a page keeps
    // them as references, a text file gets the neighbour.
    EXPECT_EQ(enc(QStringLiteral("¥〜")), QByteArray("&#165;&#12316;"));
    EXPECT_EQ(enc(QStringLiteral("¥〜"), cp932::Unmappable::QuestionMark), QByteArray("\x5C\x81\x60"));
    EXPECT_EQ(cp932::lossyCharacters(QStringLiteral("a😀¥～a😀\u00e9")), QStringLiteral("😀¥\u00e9"));
    EXPECT_TRUE(cp932::lossyCharacters(QStringLiteral("－～①髙﨑ﾃｽﾄ\\~")).isEmpty());
}

TEST(Cp932, DecodeRoundTripsAndReplacesInvalidBytes)
{
    const QString text = QStringLiteral("トップページ　－～ﾃｽﾄ<BR>");
    EXPECT_EQ(cp932::decode(enc(text)), text);
    // A lead byte without its trail byte, a lone invalid byte and a NUL.
    const QString broken = cp932::decode(QByteArray("a\x82", 2));
    EXPECT_EQ(broken, QStringLiteral("a\uFFFD"));
    const QString withNul = cp932::decode(QByteArray("x\0\xFFy", 4));
    EXPECT_EQ(withNul.size(), 4);
    EXPECT_EQ(withNul.at(0), QLatin1Char('x'));
    EXPECT_EQ(withNul.at(1), QChar(0));
    EXPECT_EQ(withNul.at(3), QLatin1Char('y'));
}
