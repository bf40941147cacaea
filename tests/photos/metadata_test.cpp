// SPDX-License-Identifier: GPL-3.0-or-later
// The JPEG and PNG rewriters read files from other people's projects: cut
// short or damaged, they are refused or rewritten, never read past their
// end (the sanitizer build watches).
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <random>

#include "photos/metadata.h"
#include "photos/web_copy.h"
#include "support/golden.h"

namespace webloom::photos {
namespace {

QByteArray made(const QTemporaryDir &dir, const QString &name, const QStringList &convert)
{
    const QString path = dir.filePath(name);
    if (QProcess::execute(QStringLiteral("convert"), convert + QStringList{path}) != 0 ||
        QProcess::execute(QStringLiteral("exiftool"),
                          {QStringLiteral("-q"), QStringLiteral("-overwrite_original"), QStringLiteral("-Artist=Ai"),
                           QStringLiteral("-Copyright=(c) Ai 2026"), QStringLiteral("-GPSLatitude=35.1"),
                           QStringLiteral("-XMP-exif:GPSLatitude=35.1"), path}) != 0)
        return {};
    return test::readBytes(path);
}

TEST(MetadataRewriteTest, DamagedPicturesAreRefusedOrRewrittenWithinTheirBytes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList picture{QStringLiteral("-size"), QStringLiteral("48x32"), QStringLiteral("gradient:red-blue")};
    const QByteArray progressive =
        made(dir, QStringLiteral("p.jpg"), picture + QStringList{QStringLiteral("-interlace"), QStringLiteral("JPEG")});
    const QByteArray png = made(dir, QStringLiteral("p.png"), picture);
    ASSERT_FALSE(progressive.isEmpty());
    ASSERT_FALSE(png.isEmpty());

    using Clean = std::optional<QByteArray> (*)(const QByteArray &, Found *, const std::optional<Credit> &);
    const std::pair<QByteArray, Clean> cases[] = {{progressive, cleanJpeg}, {png, cleanPng}};
    for (const auto &[bytes, clean] : cases) {
        // Whole, it loses the place and keeps the credit; a second pass
        // changes nothing.
        Found found;
        const std::optional<QByteArray> once = clean(bytes, &found, {});
        ASSERT_TRUE(once.has_value());
        EXPECT_EQ(found.credit.artist, QByteArray("Ai"));
        EXPECT_EQ(found.credit.copyright, QByteArray("(c) Ai 2026"));
        EXPECT_FALSE(once->contains("GPS") || once->contains("xmp"));
        EXPECT_TRUE(once->contains("(c) Ai 2026"));
        EXPECT_EQ(clean(*once, nullptr, {}), once);
        EXPECT_EQ(pictureProblem(*once), QString());

        // Cut anywhere, the end is missing: refused.
        for (qsizetype n = 0; n < bytes.size(); ++n)
            ASSERT_FALSE(clean(bytes.left(n), nullptr, {}).has_value()) << n;

        // Damaged anywhere: refused, or rewritten into a file the rewriter
        // itself takes as it is.
        std::mt19937 random(20);
        for (int round = 0; round < 3000; ++round) {
            QByteArray damaged = bytes;
            for (int hits = 1 + int(random() % 6); hits > 0; --hits)
                damaged[qsizetype(random() % damaged.size())] = char(random());
            if (const std::optional<QByteArray> out = clean(damaged, nullptr, {})) {
                ASSERT_EQ(clean(*out, nullptr, {}), out) << round;
            }
        }
    }

    // The whole way, damaged: an error or a picture, never a crash.
    std::mt19937 random(7);
    int refused = 0;
    for (int round = 0; round < 40; ++round) {
        QByteArray damaged = progressive;
        for (int hits = 0; hits < 12; ++hits)
            damaged[qsizetype(random() % damaged.size())] = char(random());
        const WebCopy copy = makeWebCopy(damaged, {16});
        if (copy.error.isEmpty())
            EXPECT_EQ(sniffFormat(copy.bytes), Format::Jpeg);
        else
            ++refused;
    }
    EXPECT_GT(refused, 0);
    EXPECT_EQ(makeWebCopy("not a picture at all", {}).error, QStringLiteral("画像ではありません"));
}

} // namespace
} // namespace webloom::photos
