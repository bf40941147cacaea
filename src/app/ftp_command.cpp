#include "app/ftp_command.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <string>

#include "upload/curl_transfer.h"

namespace webloom {

namespace {

void usage(QTextStream &stream)
{
    stream << "usage: webloom ftp HOST[:PORT] USER [--local DIR] COMMAND...\n"
           << "  COMMAND: \"DIR\", \"CD dir\", \"MKDIR dir\", \"RMDIR dir\", \"DELETE file\",\n"
           << "           \"PUT local remote\", \"GET remote local\", \"CLOSE\"\n"
           << "  The password is read from WEBLOOM_FTP_PASSWORD, or else from one line of standard input.\n";
    stream.flush();
}

int usageError(QTextStream &err, const QString &problem)
{
    err << "webloom ftp: " << problem << "\n";
    usage(err);
    return 2;
}

// One line of standard input, not echoed when it is a terminal.
QString readPassword(QTextStream &err)
{
    const bool terminal = isatty(STDIN_FILENO) == 1;
    termios saved{};
    if (terminal) {
        err << "Password: ";
        err.flush();
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        err << "\n";
        err.flush();
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}

} // namespace

int runFtpCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        usage(out);
        return 0;
    }
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
                                 : readPassword(err);
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
            out << '\t' << transfer.lastReply();
        out << '\n';
        if (ok && parsed.kind == TransferCommand::Kind::Dir) {
            QByteArray listing;
            for (QByteArray chunk = transfer.nextChunk(Transfer::kChunkSize, Transfer::ChunkKind::Text);
                 !chunk.isEmpty(); chunk = transfer.nextChunk(Transfer::kChunkSize, Transfer::ChunkKind::Text))
                listing += chunk;
            out << QString::fromUtf8(listing.replace("\r\n", "\n"));
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
