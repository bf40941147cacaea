// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <sys/prctl.h>

#include <algorithm>
#include <csignal>

namespace webloom::test {

// Starts a server program that announces its port on standard error in a
// line matching announce (the port in its first group) and collects what it
// writes there into log. The server dies with the test program. The port, or
// 0 when it did not come up within ten seconds (log says why).
inline int startAnnounced(QProcess &process, const QString &program, const QStringList &arguments,
                          const QRegularExpression &announce, QString &log)
{
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setReadChannel(QProcess::StandardError);
    // A test program that crashes must not leave servers behind.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) {
        log = process.errorString();
        return 0;
    }
    const QDeadlineTimer deadline(10000);
    for (;;) {
        log += QString::fromUtf8(process.readAllStandardError());
        const QRegularExpressionMatch match = announce.match(log);
        if (match.hasMatch())
            return match.captured(1).toInt();
        if (process.state() != QProcess::Running || deadline.hasExpired())
            return 0;
        process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
}

} // namespace webloom::test
