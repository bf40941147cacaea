// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A throw-away web server on 127.0.0.1: Python's http.server serving one
// folder, on a port the system chooses. Header-only, for the check after a
// publish and the pages' check in a browser.

#include <QProcess>
#include <QRegularExpression>
#include <QString>

#include "support/announced_server.h"

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
    // "text/html; charset=CHARSET", as many hosts do. With kCharsetInPath the
    // first part of the path names it instead ("/UTF-8/a.html",
    // "/Shift_JIS/a.html"; "/none/a.html" sends none), so that pages served
    // with different charsets share one origin. False (log() says why) when it
    // does not come up within ten seconds.
    static inline const QString kCharsetInPath = QStringLiteral("*");
    bool start(const QString &root, const QString &charset = {})
    {
        static const QRegularExpression kAnnounce(QStringLiteral("serving on (\\d+)"));
        port_ = startAnnounced(process_, QStringLiteral(WEBLOOM_PYTHON),
                               {QStringLiteral("-c"), QString::fromLatin1(kScript), root, charset}, kAnnounce, log_);
        return port_ != 0;
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
    sends = charset
    def translate_path(self, path):
        if charset != '*':
            return super().translate_path(path)
        parts = path.split('/', 2)
        self.sends = '' if parts[1] == 'none' else parts[1]
        return super().translate_path('/' + (parts[2] if len(parts) > 2 else ''))
    def guess_type(self, path):
        kind = super().guess_type(path)
        return kind + '; charset=' + self.sends if self.sends and kind == 'text/html' else kind
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
