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

#include "net/ftp_server.h"
#include "net/secure_servers.h"

namespace webloom::test {

// What the server refuses once it has taken AUTH TLS and the log-in.
enum class TlsRefusal {
    Prot, // answers PROT P with 534
    Data, // drops every data connection before its TLS handshake (522)
};

// A pyftpdlib server (FtpServer) that requires TLS with this certificate and
// then refuses the encrypted data.
inline FtpServerOptions refusingTls(const Certificate &certificate, TlsRefusal refusal)
{
    FtpServerOptions options;
    options.tlsCertificate = certificate.certificate;
    options.tlsKey = certificate.key;
    options.refuseProt = refusal == TlsRefusal::Prot;
    options.refuseEncryptedData = refusal == TlsRefusal::Data;
    return options;
}

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
