// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "document/cp932.h"
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

// Lists compared as text, so that a failure reads as lines.
std::string show(const QStringList &list)
{
    return list.join(QLatin1Char('\n')).toStdString();
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
    const QString page = out + QStringLiteral("/index.html");
    const QString project = test::dataPath(QStringLiteral("top_full/project.txt"));
    for (const QStringList &only : {QStringList{QStringLiteral("--only"), QStringLiteral("top")},
                                    QStringList{QStringLiteral("--only=top,top")}}) {
        SCOPED_TRACE(only.join(QLatin1Char(' ')).toStdString());
        QFile::remove(page);
        const Outcome r =
            runWebloom(QStringList{QStringLiteral("build"), project, QStringLiteral("--out"), out} + only);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(show(r.out), show({page}));
        EXPECT_EQ(show(r.err), show({kLoaded, kWritten}));
        EXPECT_TRUE(test::matchesGolden(QStringLiteral("top_full/index.html"), page));
    }

    // Every kind: the top page among them, still the same bytes, and every
    // file reported is there.
    QFile::remove(page);
    const Outcome r = runWebloom({QStringLiteral("build"), project, QStringLiteral("--out"), out});
    EXPECT_EQ(r.exitCode, 0) << show(r.err);
    EXPECT_EQ(r.out.value(0), page);
    for (const QString &file : r.out)
        EXPECT_TRUE(QFileInfo(file).isFile()) << file.toStdString();
    EXPECT_TRUE(test::matchesGolden(QStringLiteral("top_full/index.html"), page));
}

// The same golden pages as the tabs' buttons write (tests/pages, tests/ui).
TEST_F(CliBuildTest, SelfLinkAndSubPagesMatchTheirGoldens)
{
    struct Case {
        const char *project;
        const char *kind;
        const char *page;
    };
    const Case cases[] = {
        {"self_full", "self", "self.html"}, {"link_minimal", "link", "link.html"}, {"sub_full", "sub", "sub1.html"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.project);
        const QString name = QString::fromLatin1(c.project);
        const QString out = path(name);
        ASSERT_TRUE(QDir().mkpath(out));
        const QString page = out + QLatin1Char('/') + QString::fromLatin1(c.page);
        const Outcome r =
            runWebloom({QStringLiteral("build"), test::dataPath(name + QStringLiteral("/project.txt")),
                        QStringLiteral("--out"), out, QStringLiteral("--only"), QString::fromLatin1(c.kind)});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(show(r.out), show({page}));
        EXPECT_EQ(show(r.err), show({kLoaded, kWritten}));
        EXPECT_TRUE(test::matchesGolden(name + QLatin1Char('/') + QString::fromLatin1(c.page), page));
    }
}

TEST_F(CliBuildTest, WithoutOutWritesIntoTheProjectsBaseFolder)
{
    // The base folder ends with "/": no second separator.
    const QString project = projectWithBase(QStringLiteral("top_defaults"), dir.path() + QLatin1Char('/'));
    const Outcome r = runWebloom({QStringLiteral("build"), project, QStringLiteral("--only"), QStringLiteral("top")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(show(r.out), show({path(QStringLiteral("index.html"))}));
    EXPECT_TRUE(test::matchesGolden(QStringLiteral("top_defaults/index.html"), path(QStringLiteral("index.html"))));
}

TEST_F(CliBuildTest, RefusedKindIsReportedAndOnlyFailsWhenNamed)
{
    const QString project = projectWithBase(QStringLiteral("top_defaults"), dir.path(), QByteArray(""));
    const QString required = QStringLiteral("必須項目にデータを入れてください");
    const QString skipped = QStringLiteral("webloom build: top not written");

    Outcome r = runWebloom({QStringLiteral("build"), project});
    EXPECT_EQ(r.exitCode, 0) << show(r.err);
    EXPECT_FALSE(r.out.contains(path(QStringLiteral("index.html"))));
    const qsizetype at = r.err.indexOf(skipped);
    ASSERT_GT(at, 0) << show(r.err);
    EXPECT_EQ(r.err.at(at - 1), required);

    r = runWebloom({QStringLiteral("build"), project, QStringLiteral("--only"), QStringLiteral("top")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(show(r.err), show({kLoaded, required, skipped}));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("index.html"))));
}

TEST_F(CliBuildTest, FailedWriteIsOneLineAndExitsOne)
{
    const QString missing = path(QStringLiteral("missing"));
    for (const QStringList &only : {QStringList{QStringLiteral("--only"), QStringLiteral("top")}, QStringList{}}) {
        SCOPED_TRACE(only.join(QLatin1Char(' ')).toStdString());
        const Outcome r =
            runWebloom(QStringList{QStringLiteral("build"), test::dataPath(QStringLiteral("top_full/project.txt")),
                                   QStringLiteral("--out"), missing} +
                       only);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.out.isEmpty());
        ASSERT_GE(r.err.size(), 2) << show(r.err);
        if (!only.isEmpty()) {
            EXPECT_EQ(r.err.size(), 2) << show(r.err);
        }
        EXPECT_EQ(r.err.at(0), kLoaded);
        // The box's two lines (file, reason) joined by a space.
        EXPECT_TRUE(r.err.at(1).startsWith(missing + QStringLiteral("/index.html のファイルを書き込めませんでした。 ")))
            << show(r.err);
        EXPECT_GT(r.err.at(1).size(), missing.size() + 30);
        EXPECT_FALSE(r.err.contains(kWritten));
    }
    EXPECT_FALSE(QFileInfo::exists(missing));
}

TEST_F(CliBuildTest, APageNameNeverLeavesTheOutFolder)
{
    QByteArray bytes = test::readBytes(test::dataPath(QStringLiteral("top_full/project.txt")));
    bytes.replace("\r\nte021=index.html\r\n", "\r\nte021=../escape.html\r\n");
    const QString project = path(QStringLiteral("received.txt"));
    ASSERT_TRUE(test::writeBytes(project, bytes));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("out")));
    const Outcome r = runWebloom({QStringLiteral("build"), project, QStringLiteral("--out"),
                                  path(QStringLiteral("out")), QStringLiteral("--only"), QStringLiteral("top")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty()) << show(r.out);
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("トップページ／トップページのタイトル（ﾌｧｲﾙ名） の「../escape.html」は、"
                       "ページのファイル名に使えません。 「..」で、基準パソコンディレクトリの外に出ます。")))
        << show(r.err);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("escape.html"))));
    EXPECT_TRUE(QDir(path(QStringLiteral("out"))).isEmpty());
}

TEST_F(CliBuildTest, UnreadableProjectExitsTwoWithTheLoadMessage)
{
    // A relative name is resolved as the open dialog would give it: a full path.
    Outcome r = runWebloom({QStringLiteral("build"), QStringLiteral("nothing.txt")}, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(show(r.err), show({path(QStringLiteral("nothing.txt")) + QStringLiteral("ファイルがありません")}));

    // A list cut short stops the load: nothing is written, even with --out.
    const QString cut = path(QStringLiteral("cut.txt"));
    ASSERT_TRUE(test::writeBytes(cut, "te013=x\r\nlist4=002\r\nls000=a\r\n"));
    r = runWebloom({QStringLiteral("build"), cut, QStringLiteral("--out"), dir.path()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(show(r.err), show({cut + QStringLiteral("ファイルがありません")}));
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
            EXPECT_EQ(show(r.err), show({missingProject + QStringLiteral("ファイルがありません")}));
        } else {
            EXPECT_TRUE(r.err.first().startsWith(QStringLiteral("webloom build: unknown page kind \"%1\"").arg(kind)));
        }
    }
}

TEST_F(CliBuildTest, SampleProjectBuildsItsTopPage)
{
    const QString sample = QStringLiteral(WEBLOOM_TEST_DATA "/../../examples/sample-project.txt");
    ASSERT_TRUE(QFileInfo::exists(sample));
    const Outcome r = runWebloom({QStringLiteral("build"), sample, QStringLiteral("--out"), dir.path(),
                                  QStringLiteral("--only"), QStringLiteral("top")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(show(r.out), show({path(QStringLiteral("index.html"))}));
    EXPECT_EQ(show(r.err), show({kLoaded, kWritten}));
    const QByteArray page = test::readBytes(path(QStringLiteral("index.html")));
    EXPECT_TRUE(page.startsWith("<HTML>\r\n"));
    EXPECT_TRUE(
        page.contains(cp932::encode(u"<TITLE>さくらのガーデニング日記</TITLE>\r\n", cp932::Unmappable::QuestionMark)));
    EXPECT_TRUE(page.endsWith("</HTML>\r\n"));

    // The sample is a whole site: its other pages build from it as well (the
    // photo pages need photos on this computer and are not part of it).
    const QString all = path(QStringLiteral("all"));
    ASSERT_TRUE(QDir().mkpath(all));
    const Outcome whole = runWebloom({QStringLiteral("build"), sample, QStringLiteral("--out"), all});
    EXPECT_EQ(whole.exitCode, 0) << show(whole.err);
    for (const char *name : {"index.html", "self.html", "link.html", "sub1.html"}) {
        const QString file = all + QLatin1Char('/') + QString::fromLatin1(name);
        EXPECT_TRUE(whole.out.contains(file)) << show(whole.out);
        EXPECT_TRUE(QFileInfo(file).isFile()) << name;
    }
}

} // namespace
