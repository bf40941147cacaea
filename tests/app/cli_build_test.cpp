#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "pages/page_kinds.h"
#include "support/golden.h"

using namespace webloom;

namespace {

struct Outcome {
    int exitCode = -1;
    QStringList out; // stdout lines
    QStringList err; // stderr lines
};

QStringList lines(const QByteArray &bytes)
{
    QStringList l = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    if (!l.isEmpty() && l.last().isEmpty())
        l.removeLast();
    return l;
}

Outcome runWebloom(const QStringList &arguments, const QString &workingDirectory = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("ASAN_OPTIONS")))
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    p.setProcessEnvironment(env);
    if (!workingDirectory.isEmpty())
        p.setWorkingDirectory(workingDirectory);
    p.start(QStringLiteral(WEBLOOM_BINARY), arguments);
    Outcome r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "webloom did not finish: " << p.errorString().toStdString();
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitCode();
    r.out = lines(p.readAllStandardOutput());
    r.err = lines(p.readAllStandardError());
    return r;
}

const QString kLoaded = QStringLiteral("読込み完了");
const QString kWritten = QStringLiteral("作成しました。");

class CliBuildTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString path(const QString &name) const { return dir.filePath(name); }

    // A copy of a golden project whose base folder (its first line) is replaced.
    QString projectWithBase(const QString &caseName, const QString &base, const QByteArray &title = {})
    {
        QByteArray bytes = test::readBytes(test::dataPath(caseName + QStringLiteral("/project.txt")));
        const qsizetype firstEnd = bytes.indexOf("\r\n");
        bytes.replace(0, firstEnd, "ki001=" + base.toUtf8());
        if (!title.isNull()) {
            const qsizetype at = bytes.indexOf("\r\nte013=") + 8;
            bytes.replace(at, bytes.indexOf("\r\n", at) - at, title);
        }
        const QString file = path(caseName + QStringLiteral(".txt"));
        EXPECT_TRUE(test::writeBytes(file, bytes));
        return file;
    }

    QTemporaryDir dir;
};

TEST_F(CliBuildTest, WritesTheSamePageAsTheWindow)
{
    const QString out = path(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(out));
    const QString project = test::dataPath(QStringLiteral("top_full/project.txt"));
    for (const QStringList &extra : {QStringList{}, QStringList{QStringLiteral("--only"), QStringLiteral("top")},
                                     QStringList{QStringLiteral("--only=top,top")}}) {
        SCOPED_TRACE(extra.join(QLatin1Char(' ')).toStdString());
        QFile::remove(out + QStringLiteral("/index.html"));
        const Outcome r =
            runWebloom(QStringList{QStringLiteral("build"), project, QStringLiteral("--out"), out} + extra);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, QStringList{out + QStringLiteral("/index.html")});
        EXPECT_EQ(r.err, (QStringList{kLoaded, kWritten}));
        EXPECT_TRUE(test::matchesGolden(QStringLiteral("top_full/index.html"), out + QStringLiteral("/index.html")));
    }
}

TEST_F(CliBuildTest, WithoutOutWritesIntoTheProjectsBaseFolder)
{
    // The base folder ends with "/": no second separator.
    const QString project = projectWithBase(QStringLiteral("top_defaults"), dir.path() + QLatin1Char('/'));
    const Outcome r = runWebloom({QStringLiteral("build"), project});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QStringList{path(QStringLiteral("index.html"))});
    EXPECT_TRUE(test::matchesGolden(QStringLiteral("top_defaults/index.html"), path(QStringLiteral("index.html"))));
}

TEST_F(CliBuildTest, RefusedKindIsReportedAndOnlyFailsWhenNamed)
{
    const QString project = projectWithBase(QStringLiteral("top_defaults"), dir.path(), QByteArray(""));
    const QString required = QStringLiteral("必須項目にデータを入れてください");

    Outcome r = runWebloom({QStringLiteral("build"), project});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err, (QStringList{kLoaded, required, QStringLiteral("webloom build: top not written")}));

    r = runWebloom({QStringLiteral("build"), project, QStringLiteral("--only"), QStringLiteral("top")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(required));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("index.html"))));
}

TEST_F(CliBuildTest, FailedWriteIsOneLineAndExitsOne)
{
    const QString missing = path(QStringLiteral("missing"));
    const Outcome r = runWebloom({QStringLiteral("build"), test::dataPath(QStringLiteral("top_full/project.txt")),
                                  QStringLiteral("--out"), missing});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty());
    ASSERT_EQ(r.err.size(), 2) << r.err.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(r.err.at(0), kLoaded);
    // The box's two lines (file, reason) joined by a space.
    EXPECT_TRUE(r.err.at(1).startsWith(missing + QStringLiteral("/index.html のファイルを書き込めませんでした。 ")))
        << r.err.at(1).toStdString();
    EXPECT_GT(r.err.at(1).size(), missing.size() + 30);
    EXPECT_FALSE(QFileInfo::exists(missing));
}

TEST_F(CliBuildTest, UnreadableProjectExitsTwoWithTheLoadMessage)
{
    // A relative name is resolved as the open dialog would give it: a full path.
    Outcome r = runWebloom({QStringLiteral("build"), QStringLiteral("nothing.txt")}, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err, QStringList{path(QStringLiteral("nothing.txt")) + QStringLiteral("ファイルがありません")});

    // A list cut short stops the load: nothing is written, even with --out.
    const QString cut = path(QStringLiteral("cut.txt"));
    ASSERT_TRUE(test::writeBytes(cut, "te013=x\r\nlist4=002\r\nls000=a\r\n"));
    r = runWebloom({QStringLiteral("build"), cut, QStringLiteral("--out"), dir.path()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, QStringList{cut + QStringLiteral("ファイルがありません")});
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("index.html"))));
}

TEST_F(CliBuildTest, UsageErrorsExitTwoBeforeLoading)
{
    const QString project = test::dataPath(QStringLiteral("top_full/project.txt"));
    const QList<QStringList> cases = {
        {QStringLiteral("build")},
        {QStringLiteral("build"), QStringLiteral("--out"), dir.path()},
        {QStringLiteral("build"), project, QStringLiteral("--bogus")},
        {QStringLiteral("build"), project, project},
        {QStringLiteral("build"), project, QStringLiteral("--out")},
        {QStringLiteral("build"), project, QStringLiteral("--out=")},
        {QStringLiteral("build"), project, QStringLiteral("--only")},
        {QStringLiteral("build"), project, QStringLiteral("--only=")},
        {QStringLiteral("build"), project, QStringLiteral("--only"), QStringLiteral("top,")},
        {QStringLiteral("build"), project, QStringLiteral("--only"), QStringLiteral("gallery")},
        {QStringLiteral("build"), project, QStringLiteral("--only"), QStringLiteral("top,Top")},
    };
    for (const QStringList &args : cases) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const Outcome r = runWebloom(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.isEmpty());
        ASSERT_FALSE(r.err.isEmpty());
        EXPECT_TRUE(r.err.first().startsWith(QStringLiteral("webloom build: "))) << r.err.first().toStdString();
        EXPECT_FALSE(r.err.contains(kLoaded)) << "the project was loaded";
    }
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

// The other page kinds are named on the command line only once their writers
// exist; until then they are refused as unknown rather than skipped.
TEST_F(CliBuildTest, KindsWithoutAWriterAreUnknown)
{
    const QString missingProject = path(QStringLiteral("none.txt"));
    for (const char *name : {"top", "self", "link", "sub", "photo"}) {
        SCOPED_TRACE(name);
        const QString kind = QString::fromLatin1(name);
        const Outcome r = runWebloom({QStringLiteral("build"), missingProject, QStringLiteral("--only"), kind});
        EXPECT_EQ(r.exitCode, 2);
        ASSERT_FALSE(r.err.isEmpty());
        if (findPageKind(kind)) {
            EXPECT_EQ(r.err, QStringList{missingProject + QStringLiteral("ファイルがありません")});
        } else {
            EXPECT_TRUE(r.err.first().startsWith(QStringLiteral("webloom build: unknown page kind \"%1\"").arg(kind)));
        }
    }
}

TEST(CliTest, HelpAndVersion)
{
    Outcome r = runWebloom({QStringLiteral("--version")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QStringList{QStringLiteral("webloom 3.00")});

    for (const QStringList &args : {QStringList{QStringLiteral("--help")}, QStringList{QStringLiteral("-h")},
                                    QStringList{QStringLiteral("build"), QStringLiteral("--help")}}) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        r = runWebloom(args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.err.isEmpty());
        ASSERT_FALSE(r.out.isEmpty());
        EXPECT_TRUE(r.out.join(QLatin1Char('\n')).contains(QStringLiteral("webloom build PROJECT_FILE")));
    }
}

TEST_F(CliBuildTest, SampleProjectBuildsItsTopPage)
{
    const QString sample = QStringLiteral(WEBLOOM_TEST_DATA "/../../examples/sample-project.txt");
    ASSERT_TRUE(QFileInfo::exists(sample));
    const Outcome r = runWebloom({QStringLiteral("build"), sample, QStringLiteral("--out"), dir.path(),
                                  QStringLiteral("--only"), QStringLiteral("top")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QStringList{path(QStringLiteral("index.html"))});
    EXPECT_EQ(r.err, (QStringList{kLoaded, kWritten}));
    const QByteArray page = test::readBytes(path(QStringLiteral("index.html")));
    EXPECT_TRUE(page.startsWith("<HTML>\r\n"));
    EXPECT_TRUE(page.endsWith("</HTML>\r\n"));
}

} // namespace
