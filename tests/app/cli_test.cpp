// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own arguments, run as a process without a display: help and
// version need none, mistakes must not fall through to the window, and the
// window says in one line that it cannot open.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome runWithoutDisplay(const QStringList &arguments, const QString &platform = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    if (!platform.isEmpty())
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(WEBLOOM_BINARY), arguments);
    Outcome result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "webloom did not finish: " << process.errorString().toStdString();
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

TEST(Cli, ExitStatusAndStreamOfHelpMistakesAndAMissingDisplay)
{
    const Outcome version = runWithoutDisplay({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QStringLiteral("webloom 3.00\n"));
    EXPECT_TRUE(version.err.isEmpty());

    struct Case {
        QStringList arguments;
        const char *usage; // the usage line each must show
    };
    const QString project = QStringLiteral(WEBLOOM_TEST_DATA "/../../examples/sample-project.txt");
    const QList<Case> help = {
        {{QStringLiteral("--help")}, "usage: webloom [PROJECT_FILE]"},
        {{QStringLiteral("--bogus"), QStringLiteral("-h")}, "usage: webloom [PROJECT_FILE]"},
        {{QStringLiteral("build"), QStringLiteral("--help")}, "usage: webloom build PROJECT_FILE"},
        {{QStringLiteral("build"), project, QStringLiteral("--bogus"), QStringLiteral("-h")},
         "usage: webloom build PROJECT_FILE"},
        {{QStringLiteral("ftp"), QStringLiteral("--help")}, "usage: webloom ftp ADDRESS"},
        {{QStringLiteral("ftp"), QStringLiteral("host"), QStringLiteral("user"), QStringLiteral("-h")},
         "usage: webloom ftp ADDRESS"},
        {{QStringLiteral("publish"), QStringLiteral("--help")}, "usage: webloom publish PROJECT_FILE"},
    };
    for (const Case &c : help) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const Outcome run = runWithoutDisplay(c.arguments);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.out.startsWith(QLatin1String(c.usage))) << run.out.toStdString();
        EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    }

    // A mistake is a usage error, never an attempt at the window (which
    // would exit 1 here).
    const QList<Case> wrong = {
        {{QStringLiteral("help")}, "webloom: unknown command \"help\""},
        {{QStringLiteral("--bogus")}, "webloom: Unknown option 'bogus'."},
        {{project, project}, "webloom: unexpected argument"},
        {{QStringLiteral("ftp")}, "webloom ftp: ADDRESS and USER are required"},
        {{QStringLiteral("publish"), project}, "webloom publish: --connection NAME is required"},
        // Both commands check --trust alike, before anything is read or sent.
        {{QStringLiteral("ftp"), QStringLiteral("127.0.0.1"), QStringLiteral("u"), QStringLiteral("--trust"),
          QStringLiteral("SHA256:short"), QStringLiteral("DIR")},
         "webloom ftp: not a fingerprint: \"SHA256:short\""},
        {{QStringLiteral("publish"), project, QStringLiteral("--connection"), QStringLiteral("x"),
          QStringLiteral("--trust"), QStringLiteral("MD5:aa")},
         "webloom publish: not a fingerprint: \"MD5:aa\""},
    };
    for (const Case &c : wrong) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const Outcome run = runWithoutDisplay(c.arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        EXPECT_TRUE(run.err.startsWith(QLatin1String(c.usage))) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String("usage: webloom"))) << run.err.toStdString();
    }

    // The platforms that talk to a display server need one as well.
    const QList<QPair<QStringList, QString>> windows = {
        {{}, {}},
        {{project}, {}},
        {{}, QStringLiteral("xcb")},
        {{}, QStringLiteral("wayland;xcb")},
    };
    for (const auto &[window, platform] : windows) {
        SCOPED_TRACE((window.join(QLatin1Char(' ')) + QStringLiteral(" QT_QPA_PLATFORM=") + platform).toStdString());
        const Outcome run = runWithoutDisplay(window, platform);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_TRUE(run.err.startsWith(QLatin1String("webloom: no display"))) << run.err.toStdString();
        EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << run.err.toStdString();
    }
}

} // namespace
