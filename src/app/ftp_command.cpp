#include "app/ftp_command.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

#include <unistd.h>

#include "app/password_prompt.h"
#include "app/terminal_text.h"
#include "upload/curl_transfer.h"

namespace webloom {

namespace {

int usageError(QTextStream &err, const QString &problem)
{
    err << "webloom ftp: " << problem << "\n"
        << "usage: webloom ftp HOST[:PORT] USER [--local DIR] COMMAND...\n"
        << "  COMMAND: \"DIR\", \"CD dir\", \"MKDIR dir\", \"RMDIR dir\", \"DELETE file\",\n"
        << "           \"PUT local remote\", \"GET remote local\", \"CLOSE\"\n"
        << "  The password is read from WEBLOOM_FTP_PASSWORD, or else from one line of standard input.\n";
    err.flush();
    return 2;
}

} // namespace

int runFtpCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    if (arguments.size() < 2)
        return usageError(err, QStringLiteral("HOST and USER are required"));
    const QString host = arguments.at(0);
    const QString user = arguments.at(1);
    qsizetype next = 2;
    QString local = QDir::currentPath();
    if (next < arguments.size() && arguments.at(next) == QLatin1String("--local")) {
        if (next + 1 >= arguments.size())
            return usageError(err, QStringLiteral("--local needs a folder"));
        local = arguments.at(next + 1);
        next += 2;
    } else if (next < arguments.size() && arguments.at(next).startsWith(QLatin1String("--local="))) {
        local = arguments.at(next).mid(8);
        next += 1;
    }
    const QStringList commands = arguments.mid(next);
    if (commands.isEmpty())
        return usageError(err, QStringLiteral("no COMMAND given"));
    for (const QString &command : commands) {
        if (!parseTransferCommand(command))
            return usageError(err, QStringLiteral("not a command: \"%1\"").arg(command));
    }
    if (!CurlTransfer::isValidHostField(host))
        return usageError(err, QStringLiteral("not a host name or port: \"%1\"").arg(host));
    const QFileInfo folder(local);
    if (!folder.isDir())
        return usageError(err, QStringLiteral("no such folder: \"%1\"").arg(local));

    const QString password = qEnvironmentVariableIsSet("WEBLOOM_FTP_PASSWORD")
                                 ? qEnvironmentVariable("WEBLOOM_FTP_PASSWORD")
                                 : readPassword(STDIN_FILENO, err);
    CurlTransfer transfer;
    transfer.setHost(host);
    transfer.setUser(user);
    transfer.setPassword(password);
    transfer.setLocalFolder(folder.absoluteFilePath());

    QEventLoop loop;
    int state = 0;
    QObject::connect(&transfer, &Transfer::stateChanged, &loop, [&](int s) {
        state = s;
        loop.quit();
    });
    auto run = [&](const QString &command) {
        transfer.execute(transfer.url(), command);
        loop.exec();
        return state;
    };

    int status = 0;
    bool closed = false;
    for (const QString &command : commands) {
        const TransferCommand parsed = *parseTransferCommand(command);
        const bool ok = run(command) == Transfer::kStateCompleted;
        out << command << '\t' << (ok ? "ok" : "error");
        if (!transfer.lastReply().isEmpty())
            out << '\t' << terminalText(transfer.lastReply());
        out << '\n';
        if (ok && parsed.kind == TransferCommand::Kind::Dir) {
            QByteArray listing;
            for (QByteArray chunk = transfer.nextChunk(Transfer::kChunkSize, Transfer::ChunkKind::Text);
                 !chunk.isEmpty(); chunk = transfer.nextChunk(Transfer::kChunkSize, Transfer::ChunkKind::Text))
                listing += chunk;
            // Only the line ends are structure; everything in a line came from the server.
            QStringList lines = QString::fromUtf8(listing.replace("\r\n", "\n")).split(QLatin1Char('\n'));
            for (QString &line : lines)
                line = terminalText(line);
            out << lines.join(QLatin1Char('\n'));
        }
        out.flush();
        closed = parsed.kind == TransferCommand::Kind::Close;
        if (!ok) {
            status = 1;
            // Whatever follows a failed CD would act on the wrong folder.
            if (parsed.kind == TransferCommand::Kind::Cd) {
                err << "webloom ftp: stopped after the failed CD\n";
                err.flush();
                break;
            }
        }
    }
    if (!closed)
        run(QStringLiteral("CLOSE"));
    return status;
}

} // namespace webloom
