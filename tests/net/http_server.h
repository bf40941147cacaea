// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A throw-away web server on 127.0.0.1: Python's http.server serving one
// folder, on a port the system chooses. Header-only, for the command-line
// and window tests of the check after a publish.

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>

#include <sys/prctl.h>

#include <csignal>

namespace webloom::test {

class HttpServer {
public:
    HttpServer() = default;
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;
    ~HttpServer()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // Serves root; with a charset, every .html answer says
    // "text/html; charset=CHARSET", as many hosts do. False (log() says
    // why) when it does not come up within ten seconds.
    bool start(const QString &root, const QString &charset = {})
    {
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.setReadChannel(QProcess::StandardError);
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process_.start(QStringLiteral(WEBLOOM_PYTHON),
                       {QStringLiteral("-c"), QString::fromLatin1(kScript), root, charset});
        if (!process_.waitForStarted(5000))
            return false;
        static const QRegularExpression kAnnounce(QStringLiteral("serving on (\\d+)"));
        const QDeadlineTimer deadline(10000);
        for (;;) {
            log_ += QString::fromUtf8(process_.readAllStandardError());
            const QRegularExpressionMatch match = kAnnounce.match(log_);
            if (match.hasMatch()) {
                port_ = match.captured(1).toInt();
                return true;
            }
            if (process_.state() != QProcess::Running || deadline.hasExpired())
                return false;
            process_.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
    }
    // "http://127.0.0.1:PORT/"
    QString address() const { return QStringLiteral("http://127.0.0.1:%1/").arg(port_); }
    // Every request line and the no-cache headers it carried, as far as
    // the server has written them out.
    QString log()
    {
        while (process_.waitForReadyRead(200))
            log_ += QString::fromUtf8(process_.readAllStandardError());
        log_ += QString::fromUtf8(process_.readAllStandardError());
        return log_;
    }

private:
    static constexpr const char *kScript = R"PY(
import functools, http.server, sys
root, charset = sys.argv[1], sys.argv[2]
class Handler(http.server.SimpleHTTPRequestHandler):
    def guess_type(self, path):
        kind = super().guess_type(path)
        return kind + '; charset=' + charset if charset and kind == 'text/html' else kind
    def log_message(self, form, *args):
        sys.stderr.write('%s cache=%s pragma=%s\n' % (self.requestline, self.headers.get('Cache-Control'),
                                                       self.headers.get('Pragma')))
        sys.stderr.flush()
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(Handler, directory=root))
sys.stderr.write('serving on %d\n' % server.server_address[1])
sys.stderr.flush()
server.serve_forever()
)PY";
    QProcess process_;
    QString log_;
    int port_ = 0;
};

} // namespace webloom::test
