#include "app/ftp_command.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <optional>
#include <string>

#include "upload/address.h"
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

// "PUT" and "GET" carry two names joined by one space with no quoting, so a
// name with spaces is ambiguous: an argument made of two equal halves around
// its middle space is split there, any other at its first space, and a single
// name stands for both. Keywords are matched without regard to case; names
// are kept exactly as given (listings may hold names with leading spaces).
std::optional<TransferRequest> parseFtpCommand(const QString &text, const QString &localFolder)
{
    using Op = TransferRequest::Operation;
    struct Keyword {
        const char *text;
        Op operation;
        int names; // 0, 1, or 2 (two names in one argument)
    };
    static constexpr Keyword kKeywords[] = {
        {"DIR", Op::List, 0},      {"CD", Op::Cd, 1},   {"MKDIR", Op::Mkdir, 1}, {"RMDIR", Op::Rmdir, 1},
        {"DELETE", Op::Delete, 1}, {"PUT", Op::Put, 2}, {"GET", Op::Get, 2},     {"CLOSE", Op::Close, 0},
    };
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    const QString word = space < 0 ? text : text.left(space);
    const QString argument = space < 0 ? QString() : text.mid(space + 1);
    for (const Keyword &keyword : kKeywords) {
        if (word.compare(QLatin1String(keyword.text), Qt::CaseInsensitive) != 0)
            continue;
        TransferRequest request;
        request.operation = keyword.operation;
        if (keyword.names == 0)
            return space < 0 ? std::optional(request) : std::nullopt;
        if (argument.isEmpty())
            return std::nullopt;
        if (keyword.names == 1) {
            request.remote = argument;
            return request;
        }
        QString first;
        QString second;
        const qsizetype half = argument.size() / 2;
        if (argument.size() % 2 == 1 && argument.at(half) == QLatin1Char(' ') &&
            QStringView(argument).left(half) == QStringView(argument).mid(half + 1)) {
            first = argument.left(half);
            second = argument.mid(half + 1);
        } else if (const qsizetype cut = argument.indexOf(QLatin1Char(' ')); cut >= 0) {
            first = argument.left(cut);
            second = argument.mid(cut + 1);
        } else {
            first = argument;
            second = argument;
        }
        if (first.isEmpty() || second.isEmpty())
            return std::nullopt;
        // Local names are taken in the folder of --local.
        if (keyword.operation == Op::Put) {
            request.local = QDir(localFolder).filePath(first);
            request.remote = second;
        } else {
            request.remote = first;
            request.local = QDir(localFolder).filePath(second);
        }
        return request;
    }
    return std::nullopt;
}

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
    const QFileInfo folder(local);
    QList<TransferRequest> requests;
    for (const QString &command : commands) {
        const std::optional<TransferRequest> request = parseFtpCommand(command, folder.absoluteFilePath());
        if (!request)
            return usageError(err, QStringLiteral("not a command: \"%1\"").arg(command));
        requests.append(*request);
    }
    if (!ServerAddress::parse(host))
        return usageError(err, QStringLiteral("not a host name or port: \"%1\"").arg(host));
    if (!folder.isDir())
        return usageError(err, QStringLiteral("no such folder: \"%1\"").arg(local));

    const QString password = qEnvironmentVariableIsSet("WEBLOOM_FTP_PASSWORD")
                                 ? qEnvironmentVariable("WEBLOOM_FTP_PASSWORD")
                                 : readPassword(err);
    CurlTransfer transfer;
    transfer.setConnection({host, user, password});

    QEventLoop loop;
    TransferOutcome outcome;
    QObject::connect(&transfer, &Transfer::finished, &loop, [&](const TransferOutcome &result) {
        outcome = result;
        loop.quit();
    });
    auto run = [&](const TransferRequest &request) {
        transfer.start(request);
        loop.exec();
        return outcome;
    };

    int status = 0;
    bool closed = false;
    for (qsizetype i = 0; i < requests.size(); ++i) {
        const TransferRequest &request = requests.at(i);
        const TransferOutcome result = run(request);
        out << commands.at(i) << '\t' << (result.ok ? "ok" : "error");
        if (!result.reply.isEmpty())
            out << '\t' << result.reply;
        out << '\n';
        if (result.ok && request.operation == TransferRequest::Operation::List) {
            for (const RemoteEntry &entry : result.entries)
                out << entry.name << (entry.directory ? "/" : "") << '\n';
            out << '\n';
        }
        out.flush();
        closed = request.operation == TransferRequest::Operation::Close;
        if (!result.ok) {
            status = 1;
            // Whatever follows a failed CD would act on the wrong folder.
            if (request.operation == TransferRequest::Operation::Cd) {
                err << "webloom ftp: stopped after the failed CD\n";
                err.flush();
                break;
            }
        }
    }
    if (!closed)
        run(TransferRequest::close());
    return status;
}

} // namespace webloom
