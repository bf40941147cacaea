// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace webloom::test {

// What a run of the program printed and how it ended.
struct CommandRun {
    int exitCode = -1; // -1: it did not end in time
    QStringList lines; // standard output, a line each
    QString errors;    // standard error
};

// Starts the program with arguments in a home of the test's own: its
// settings, data and cache below home, no password from the environment, and
// in folder when one is given.
inline void startProgram(QProcess &process, const QString &home, const QStringList &arguments,
                         const QString &folder = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QDir(home).filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), QDir(home).filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), QDir(home).filePath(QStringLiteral("cache")));
    environment.remove(QStringLiteral("WEBLOOM_FTP_PASSWORD"));
    process.setProcessEnvironment(environment);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(QStringLiteral(WEBLOOM_BINARY), arguments);
}

// Runs it to its end (startProgram()), or for at most timeoutMs.
inline CommandRun runProgram(const QString &home, const QStringList &arguments, const QString &folder = {},
                             int timeoutMs = 120000)
{
    QProcess process;
    startProgram(process, home, arguments, folder);
    CommandRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.exitCode = process.exitCode();
    QString out = QString::fromUtf8(process.readAllStandardOutput());
    out.chop(out.endsWith(QLatin1Char('\n')) ? 1 : 0);
    run.lines = out.split(QLatin1Char('\n'));
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace webloom::test
