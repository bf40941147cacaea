// SPDX-License-Identifier: GPL-3.0-or-later
// "webloom publish" with photos, run as a process against a real FTP server
// on 127.0.0.1. The photos are real JPEG and PNG files, tagged with exiftool
// the way cameras and phones tag them; what arrives is read with exiftool.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "document/project_file.h"
#include "support/command_run.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"
#include "net/ftp_server.h"
#include "sites/registry.h"

namespace webloom {
namespace {

using Result = test::CommandRun;

// Runs a tool to its end; its standard output, or nothing when it failed.
std::optional<QByteArray> tool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// Every tag exiftool finds, as "Group:Tag" (group 1: IFD0, GPS, XMP-exif, ...).
QJsonObject tags(const QString &path)
{
    const std::optional<QByteArray> json =
        tool(QStringLiteral("exiftool"),
             {QStringLiteral("-j"), QStringLiteral("-a"), QStringLiteral("-G1"), QStringLiteral("-n"), path});
    return json ? QJsonDocument::fromJson(*json).array().at(0).toObject() : QJsonObject();
}

QStringList keysMatching(const QJsonObject &object, const QString &pattern)
{
    return object.keys().filter(QRegularExpression(pattern));
}

// The colour of one pixel as ImageMagick gives it, e.g. "srgb(254,0,0)".
QString pixel(const QString &path, int x, int y)
{
    const auto text =
        tool(QStringLiteral("convert"), {path, QStringLiteral("-format"),
                                         QStringLiteral("%[pixel:p{%1,%2}]").arg(x).arg(y), QStringLiteral("info:")});
    return text ? QString::fromLatin1(*text) : QString();
}

bool isRedish(const QString &colour)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("\\((\\d+),(\\d+),(\\d+)")).match(colour);
    return m.hasMatch() && m.captured(1).toInt() > 200 && m.captured(3).toInt() < 60;
}

QByteArray decodedPixels(const QString &path)
{
    return tool(QStringLiteral("convert"), {path, QStringLiteral("rgb:-")}).value_or(QByteArray());
}

class WebPhotosTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home_.isValid() && base_.isValid() && photos_.isValid() && root_.isValid());
        ASSERT_TRUE(server_.start(root_.path(), QStringLiteral("sakura"), QStringLiteral("hana")));
        registry_ = home_.filePath(QStringLiteral("hosts.txt"));
        ASSERT_TRUE(test::writeBytes(registry_, registryBytes({{QStringLiteral("さくら"), server_.address(),
                                                                QStringLiteral("sakura"), QStringLiteral("hana")}})));
        // A phone photo taken upright: stored sideways (top half red), with
        // Orientation 6, the place, the camera's serial numbers, a
        // wide-gamut colour profile, and the photographer's credit.
        const QString big = photos_.filePath(QStringLiteral("niwa.jpg"));
        ASSERT_TRUE(tool(QStringLiteral("convert"),
                         {QStringLiteral("-size"), QStringLiteral("2400x900"), QStringLiteral("xc:red"),
                          QStringLiteral("-size"), QStringLiteral("2400x900"), QStringLiteral("xc:blue"),
                          QStringLiteral("-append"), home_.filePath(QStringLiteral("plain.jpg"))}));
        ASSERT_TRUE(tool(QStringLiteral("vips"),
                         {QStringLiteral("icc_transform"), home_.filePath(QStringLiteral("plain.jpg")), big,
                          QStringLiteral("p3"), QStringLiteral("--input-profile"), QStringLiteral("srgb")}));
        ASSERT_TRUE(tag(big, {QStringLiteral("-Orientation#=6"), QStringLiteral("-SerialNumber=SN-12345"),
                              QStringLiteral("-LensSerialNumber=LN-678"), QStringLiteral("-Artist=Hanako Yamada"),
                              QStringLiteral("-Copyright=(c) Hanako Yamada")}));
        // Small enough to keep its size.
        const QString small = photos_.filePath(QStringLiteral("hana.jpg"));
        ASSERT_TRUE(tool(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("640x480"),
                                                     QStringLiteral("gradient:yellow-green"), small}));
        ASSERT_TRUE(tag(small, {QStringLiteral("-Comment=taken at home")}));
        const QString png = photos_.filePath(QStringLiteral("zu.png"));
        ASSERT_TRUE(tool(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("300x200"),
                                                     QStringLiteral("gradient:white-black"), png}));
        ASSERT_TRUE(tag(png, {}));
        // Named like a photo, but text.
        ASSERT_TRUE(test::writeBytes(photos_.filePath(QStringLiteral("memo.jpg")), "my bank PIN is 1234\n"));
        for (const QString &name : QDir(photos_.path()).entryList(QDir::Files))
            originals_.insert(name, test::readBytes(photos_.filePath(name)));

        SiteDocument doc;
        test::ScriptedPrompter prompter;
        ASSERT_TRUE(
            loadProjectFile(doc, prompter, test::dataPath(QStringLiteral("../../examples/sample-project.txt"))));
        doc.setText(Field::Label1, base_.path());
        doc.setText(Field::Text3, photos_.path());
        doc.setText(Field::Text5, QStringLiteral("."));
        doc.setText(Field::Text6, QStringLiteral("http://"));
        lstrtxt(doc);
        project_ = home_.filePath(QStringLiteral("site.txt"));
        ASSERT_TRUE(test::writeBytes(project_, projectBytes(doc)));
    }

    // GPS in EXIF and XMP, as a phone writes it.
    static bool tag(const QString &path, QStringList more)
    {
        more << QStringLiteral("-q") << QStringLiteral("-overwrite_original") << QStringLiteral("-GPSLatitude=35.6586")
             << QStringLiteral("-GPSLatitudeRef=N") << QStringLiteral("-GPSLongitude=139.7454")
             << QStringLiteral("-GPSLongitudeRef=E") << QStringLiteral("-XMP-exif:GPSLatitude=35.6586")
             << QStringLiteral("-XMP-exif:GPSLongitude=139.7454") << path;
        return tool(QStringLiteral("exiftool"), more).has_value();
    }

    Result run(const QStringList &more = {})
    {
        return test::runProgram(home_.path(),
                                QStringList{QStringLiteral("publish"), project_, QStringLiteral("--connection"),
                                            QStringLiteral("さくら"), QStringLiteral("--registry"), registry_,
                                            QStringLiteral("--remote"), QStringLiteral("site"),
                                            QStringLiteral("--no-check")} +
                                    more);
    }
    QString remote(const QString &name) const { return root_.filePath(QStringLiteral("site/") + name); }
    QStringList uploaded(const Result &r) const
    {
        QStringList names;
        for (const QString &line : r.lines.filter(QRegularExpression(QStringLiteral("^uploaded\t"))))
            names.append(line.split(QLatin1Char('\t')).at(1));
        names.sort();
        return names;
    }
    void expectOriginalsUnchanged()
    {
        EXPECT_EQ(QDir(photos_.path()).entryList(QDir::Files), QStringList(originals_.keys()));
        for (auto it = originals_.constBegin(); it != originals_.constEnd(); ++it)
            EXPECT_TRUE(test::readBytes(photos_.filePath(it.key())) == it.value()) << it.key().toStdString();
    }

    QTemporaryDir home_, base_, photos_, root_;
    QString registry_, project_;
    QMap<QString, QByteArray> originals_;
    test::FtpServer server_;
};

TEST_F(WebPhotosTest, WebCopiesArriveUprightSmallAndWithoutLocation)
{
    // The plan names the file that is no picture and where the photos come
    // from; nothing is sent.
    const Result dry = run({QStringLiteral("--dry-run")});
    EXPECT_EQ(dry.exitCode, 0) << dry.errors.toStdString();
    EXPECT_TRUE(dry.lines.contains(QStringLiteral("would skip\tmemo.jpg\tnot a picture")))
        << dry.lines.join(u'\n').toStdString();
    EXPECT_TRUE(dry.lines.contains(QStringLiteral("photos from\t") + QDir(photos_.path()).canonicalPath()));
    EXPECT_TRUE(dry.lines.filter(QStringLiteral("would upload\tniwa.jpg\t")).size() == 1);

    const Result r = run();
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains(QLatin1String("memo.jpg not sent: not a picture"))) << r.errors.toStdString();
    EXPECT_TRUE(uploaded(r).contains(QStringLiteral("niwa.jpg")) && uploaded(r).contains(QStringLiteral("hana.jpg")) &&
                uploaded(r).contains(QStringLiteral("zu.png")))
        << r.lines.join(u'\n').toStdString();
    EXPECT_FALSE(QFile::exists(remote(QStringLiteral("memo.jpg"))));

    // The big one: upright (stored top is now the right side), within the
    // limit, no place or serial number anywhere; profile and credit kept.
    const QJsonObject big = tags(remote(QStringLiteral("niwa.jpg")));
    EXPECT_EQ(big.value(QStringLiteral("File:ImageWidth")).toInt(), 1200);
    EXPECT_EQ(big.value(QStringLiteral("File:ImageHeight")).toInt(), 1600);
    EXPECT_TRUE(isRedish(pixel(remote(QStringLiteral("niwa.jpg")), 1190, 800)));
    EXPECT_FALSE(isRedish(pixel(remote(QStringLiteral("niwa.jpg")), 10, 800)));
    EXPECT_EQ(keysMatching(big, QStringLiteral("GPS|Serial|MakerNote|Thumbnail|Orientation")), QStringList());
    EXPECT_EQ(big.value(QStringLiteral("IFD0:Artist")).toString(), QStringLiteral("Hanako Yamada"));
    EXPECT_EQ(big.value(QStringLiteral("IFD0:Copyright")).toString(), QStringLiteral("(c) Hanako Yamada"));
    EXPECT_EQ(big.value(QStringLiteral("ICC_Profile:ProfileDescription")).toString(), QStringLiteral("sP3C"))
        << QJsonDocument(big).toJson().toStdString();

    // The small ones keep their size and pixels and lose place and comment.
    for (const QString &name : {QStringLiteral("hana.jpg"), QStringLiteral("zu.png")}) {
        const QJsonObject small = tags(remote(name));
        EXPECT_EQ(keysMatching(small, QStringLiteral("GPS|Comment|XMP")), QStringList()) << name.toStdString();
        EXPECT_FALSE(decodedPixels(remote(name)).isEmpty());
        EXPECT_TRUE(decodedPixels(remote(name)) == decodedPixels(photos_.filePath(name))) << name.toStdString();
    }
    EXPECT_EQ(tags(remote(QStringLiteral("hana.jpg"))).value(QStringLiteral("File:ImageWidth")).toInt(), 640);
    expectOriginalsUnchanged();
}

TEST_F(WebPhotosTest, CopiesAreMadeAndSentOnceForEachSize)
{
    const Result first = run();
    ASSERT_EQ(first.exitCode, 0) << first.errors.toStdString();
    const QByteArray copy = test::readBytes(remote(QStringLiteral("niwa.jpg")));
    const qsizetype stores = server_.commands().filter(QRegularExpression(QStringLiteral("^STOR "))).size();
    const QDir cache(home_.filePath(QStringLiteral("cache/webloom/photos")));
    EXPECT_EQ(cache.entryList(QDir::Files).size(), 3);
    auto cached = [&cache] {
        QStringList files;
        for (const QFileInfo &file : cache.entryInfoList(QDir::Files, QDir::Name))
            files.append(file.fileName() + file.lastModified().toUTC().toString(Qt::ISODateWithMs));
        return files.join(u'\n').toStdString();
    };
    const std::string made = cached();

    // Nothing new: nothing made, nothing sent.
    const Result again = run();
    EXPECT_EQ(again.exitCode, 0) << again.errors.toStdString();
    EXPECT_EQ(uploaded(again), QStringList());
    EXPECT_TRUE(again.lines.last().startsWith(QLatin1String("published 0 files (0 bytes), ")))
        << again.lines.last().toStdString();
    EXPECT_EQ(server_.commands().filter(QRegularExpression(QStringLiteral("^STOR "))).size(), stores);
    EXPECT_EQ(cached(), made);

    // Another size: the photo goes again at that size; a copy that comes
    // out as before stays on the server.
    const Result smaller = run({QStringLiteral("--photo-size"), QStringLiteral("800")});
    EXPECT_EQ(smaller.exitCode, 0) << smaller.errors.toStdString();
    EXPECT_EQ(uploaded(smaller), QStringList{QStringLiteral("niwa.jpg")}) << smaller.lines.join(u'\n').toStdString();
    EXPECT_EQ(tags(remote(QStringLiteral("niwa.jpg"))).value(QStringLiteral("File:ImageHeight")).toInt(), 800);

    // With the cache gone, the same copy is made again and not sent.
    ASSERT_TRUE(QDir(home_.filePath(QStringLiteral("cache"))).removeRecursively());
    const Result remade = run({QStringLiteral("--photo-size"), QStringLiteral("800")});
    EXPECT_EQ(remade.exitCode, 0) << remade.errors.toStdString();
    EXPECT_EQ(uploaded(remade), QStringList());
    EXPECT_NE(test::readBytes(remote(QStringLiteral("niwa.jpg"))), copy);

    EXPECT_EQ(run({QStringLiteral("--photo-size"), QStringLiteral("-1")}).exitCode, 2);
    expectOriginalsUnchanged();
}

TEST_F(WebPhotosTest, OriginalPhotosGoAsTheyAreButOnlyPictures)
{
    const Result r = run({QStringLiteral("--original-photos")});
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
    for (const QString &name : {QStringLiteral("niwa.jpg"), QStringLiteral("hana.jpg"), QStringLiteral("zu.png")})
        EXPECT_TRUE(test::readBytes(remote(name)) == originals_.value(name)) << name.toStdString();
    EXPECT_FALSE(QFile::exists(remote(QStringLiteral("memo.jpg"))));
    EXPECT_FALSE(QDir(home_.filePath(QStringLiteral("cache/webloom/photos"))).exists());

    // A file that starts like a JPEG but is none does not go either.
    QByteArray broken = originals_.value(QStringLiteral("hana.jpg")).left(200);
    broken.append(QByteArray(4000, '\x55'));
    ASSERT_TRUE(test::writeBytes(photos_.filePath(QStringLiteral("hana.jpg")), broken));
    const Result again = run({QStringLiteral("--original-photos")});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.errors.contains(QLatin1String("hana.jpg not sent"))) << again.errors.toStdString();
    EXPECT_TRUE(test::readBytes(remote(QStringLiteral("hana.jpg"))) == originals_.value(QStringLiteral("hana.jpg")));
}

} // namespace
} // namespace webloom
