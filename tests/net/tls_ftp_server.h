// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Servers on 127.0.0.1 that go wrong part of the way into an encrypted
// session: pyftpdlib that takes the encrypted log-in but will not encrypt the
// data, and a forwarder that hands every connection after the first to
// another server (with another certificate). Header-only, like
// ftp_server.h.

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <sys/prctl.h>

#include <csignal>

#include "net/secure_servers.h"

namespace webloom::test {

// What the server refuses once it has taken AUTH TLS and the log-in.
enum class TlsRefusal {
    Prot, // answers PROT P with 534
    Data, // drops every data connection before its TLS handshake (522)
};

class TlsFtpServer {
public:
    TlsFtpServer() = default;
    TlsFtpServer(const TlsFtpServer &) = delete;
    TlsFtpServer &operator=(const TlsFtpServer &) = delete;
    ~TlsFtpServer()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    bool start(const QString &root, const QString &user, const QString &password, const Certificate &certificate,
               TlsRefusal refusal)
    {
        const QJsonObject settings{
            {QStringLiteral("root"), root},
            {QStringLiteral("user"), user},
            {QStringLiteral("password"), password},
            {QStringLiteral("cert"), certificate.certificate},
            {QStringLiteral("key"), certificate.key},
            {QStringLiteral("refuse"), refusal == TlsRefusal::Prot ? QStringLiteral("prot") : QStringLiteral("data")},
        };
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.setReadChannel(QProcess::StandardError);
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process_.start(QStringLiteral(WEBLOOM_PYTHON),
                       {QStringLiteral("-c"), QString::fromLatin1(kScript),
                        QString::fromUtf8(QJsonDocument(settings).toJson(QJsonDocument::Compact))});
        if (!process_.waitForStarted(5000))
            return false;
        static const QRegularExpression kAnnounce(QStringLiteral("starting FTP server on 127\\.0\\.0\\.1:(\\d+)"));
        for (const QDeadlineTimer deadline(10000); !deadline.hasExpired();) {
            log_ += QString::fromUtf8(process_.readAllStandardError());
            const QRegularExpressionMatch match = kAnnounce.match(log_);
            if (match.hasMatch()) {
                port_ = match.captured(1).toInt();
                return true;
            }
            if (process_.state() != QProcess::Running)
                return false;
            process_.waitForReadyRead(100);
        }
        return false;
    }

    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    // Everything the server has written until it falls quiet for a moment.
    QString log()
    {
        while (process_.waitForReadyRead(300))
            log_ += QString::fromUtf8(process_.readAllStandardError());
        log_ += QString::fromUtf8(process_.readAllStandardError());
        return log_;
    }
    // The commands received so far, in order ("AUTH TLS", "PASS ******").
    QStringList commands()
    {
        QStringList out;
        static const QRegularExpression kCommand(QStringLiteral("\\] <- (.*)$"), QRegularExpression::MultilineOption);
        auto it = kCommand.globalMatch(log());
        while (it.hasNext())
            out.append(it.next().captured(1));
        return out;
    }

private:
    static constexpr const char *kScript = R"(
import json, logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.log import config_logging
from pyftpdlib.servers import FTPServer

opt = json.loads(sys.argv[1])
authorizer = DummyAuthorizer()
authorizer.add_user(opt['user'], opt['password'], opt['root'], perm='elradfmwMT')

class DTP(TLS_DTPHandler):
    def secure_connection(self, ssl_context):
        if opt['refuse'] != 'data':
            return TLS_DTPHandler.secure_connection(self, ssl_context)
        self.cmd_channel.respond('522 Encrypted data connections are not available.')
        self.close()

class Handler(TLS_FTPHandler):
    def ftp_PROT(self, line):
        if opt['refuse'] == 'prot':
            self.respond('534 Data protection refused by policy.')
            return
        return TLS_FTPHandler.ftp_PROT(self, line)

Handler.authorizer = authorizer
Handler.certfile = opt['cert']
Handler.keyfile = opt['key']
Handler.dtp_handler = DTP
Handler.tls_control_required = True
config_logging(level=logging.DEBUG)
server = FTPServer(('127.0.0.1', 0), Handler)
sys.stderr.write('>>> starting FTP server on 127.0.0.1:%d <<<\n' % server.address[1])
sys.stderr.flush()
server.serve_forever()
)";

    QProcess process_;
    QString log_;
    int port_ = 0;
};

// Forwards the first connection it takes to one port and every later one to
// another, as something between the client and a server could.
class SwitchingForwarder {
public:
    ~SwitchingForwarder()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    bool start(int firstPort, int laterPort)
    {
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process_.start(QStringLiteral(WEBLOOM_PYTHON), {QStringLiteral("-c"), QString::fromLatin1(kScript),
                                                        QString::number(firstPort), QString::number(laterPort)});
        if (!process_.waitForStarted(5000))
            return false;
        QByteArray out;
        for (const QDeadlineTimer deadline(10000); !out.contains('\n') && !deadline.hasExpired();)
            if (process_.waitForReadyRead(100))
                out += process_.readAllStandardOutput();
        port_ = out.trimmed().toInt();
        return port_ > 0;
    }
    int port() const { return port_; }

private:
    static constexpr const char *kScript = R"(
import asyncio, sys
first, later = int(sys.argv[1]), int(sys.argv[2])
count = 0
async def pipe(reader, writer):
    try:
        while data := await reader.read(65536):
            writer.write(data)
            await writer.drain()
    finally:
        writer.close()
async def serve(reader, writer):
    global count
    count += 1
    r, w = await asyncio.open_connection('127.0.0.1', first if count == 1 else later)
    await asyncio.gather(pipe(reader, w), pipe(r, writer), return_exceptions=True)
async def main():
    server = await asyncio.start_server(serve, '127.0.0.1', 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()
asyncio.run(main())
)";

    QProcess process_;
    int port_ = 0;
};

} // namespace webloom::test
