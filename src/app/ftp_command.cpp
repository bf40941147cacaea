// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ftp_command.h"

#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

#include <optional>

#include "app/process_secrets.h"
#include "app/server_trust.h"
#include "app/terminal_text.h"
#include "net/address.h"
#include "net/curl_transfer.h"

namespace webloom {

namespace {

const char kUsage[] = "usage: webloom ftp ADDRESS USER [--local DIR] [--trust FINGERPRINT]...\n"
                      "                   [--allow-plain] COMMAND...\n"
                      "  ADDRESS: [SCHEME://]HOST[:PORT]; SCHEME is ftp (plain), ftpes (TLS, required),\n"
                      "           ftps (implicit TLS, port 990) or sftp (SSH, port 22); without one, TLS,\n"
                      "           and a server without it gets nothing unless --allow-plain is given\n"
                      "  COMMAND: \"DIR\", \"CD dir\", \"MKDIR dir\", \"RMDIR dir\", \"DELETE file\",\n"
                      "           \"PUT local remote\", \"GET remote local\", \"CLOSE\"\n"
                      "  --local DIR            folder of the local names (default: the current folder)\n"
                      "  --trust FINGERPRINT    accept this certificate or host key for this run\n"
                      "                         (SHA256:..., as printed when one is refused)\n"
                      "  --allow-plain          without a scheme, go on unencrypted (after a warning)\n"
                      "                         when the server offers no TLS\n"
                      "  The password is read from WEBLOOM_FTP_PASSWORD, else taken from the desktop keyring\n"
                      "  (USER@HOST:PORT of service webloom), else read from one line of standard input.\n";

int usageError(QTextStream &err, const QString &problem)
{
    err << "webloom ftp: " << problem << "\n" << kUsage;
    err.flush();
    return 2;
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

QString ftpUsage()
{
    return QString::fromLatin1(kUsage);
}

int runFtpCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption localOption(QStringLiteral("local"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption trustOption(QStringLiteral("trust"), QString(), QStringLiteral("FINGERPRINT"));
    const QCommandLineOption allowPlainOption(QStringLiteral("allow-plain"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({localOption, trustOption, allowPlainOption, helpOption});
    if (!parser.parse(QStringList{QStringLiteral("webloom ftp")} + arguments))
        return usageError(err, parser.errorText());
    if (parser.isSet(helpOption)) {
        out << kUsage;
        out.flush();
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() < 2)
        return usageError(err, QStringLiteral("ADDRESS and USER are required"));
    const QString host = positional.at(0);
    const QString user = positional.at(1);
    const QString local = parser.isSet(localOption) ? parser.value(localOption) : QDir::currentPath();
    if (local.isEmpty())
        return usageError(err, QStringLiteral("--local needs a folder"));
    const QStringList trusted = parser.values(trustOption);
    if (const QString problem = trustOptionProblem(trusted); !problem.isEmpty())
        return usageError(err, problem);
    const bool allowPlain = parser.isSet(allowPlainOption);
    const QStringList commands = positional.mid(2);
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
    const std::optional<ServerAddress> address = ServerAddress::parse(host);
    if (!address)
        return usageError(err, QStringLiteral("not an address: \"%1\"").arg(host));
    if (!folder.isDir())
        return usageError(err, QStringLiteral("no such folder: \"%1\"").arg(local));

    guardProcessSecrets();
    const QString password = commandPassword(user, host, QString(), true, err);
    CurlOptions options;
    options.trustOnce = trusted;
    CurlTransfer transfer(options);
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

    // A server that cannot show who it is, or cannot encrypt where that was
    // asked for, ends the run before the password is sent; one that took the
    // encrypted log-in but will not encrypt the data ends it too, since
    // nothing would go through.
    using Failure = TransferOutcome::Failure;
    CommandLineQuestions questions(err, "ftp", allowPlain);
    // Some request got through before (so something was sent).
    bool anyDone = false;

    int status = 0;
    bool closed = false;
    for (qsizetype i = 0; i < requests.size(); ++i) {
        const TransferRequest &request = requests.at(i);
        TransferOutcome result = run(request);
        while (result.failure == Failure::Untrusted || result.failure == Failure::NoTls) {
            questions.earlier = anyDone;
            const std::optional<Transfer::Connection> again = connectAgain(questions, result, transfer.connection());
            if (!again)
                return 1;
            transfer.setConnection(*again);
            result = run(request);
        }
        if (result.failure == Failure::TlsDataRefused) {
            reportTlsDataRefused(err, "ftp", address->hostPort(), result.reply);
            return 1;
        }
        out << commands.at(i) << '\t' << (result.ok ? "ok" : "error");
        // Server text reaches the terminal with its control characters
        // escaped.
        if (!result.reply.isEmpty())
            out << '\t' << terminalText(result.reply);
        out << '\n';
        if (result.ok && request.operation == TransferRequest::Operation::List) {
            for (const RemoteEntry &entry : result.entries)
                out << terminalText(entry.name) << (entry.directory ? "/" : "") << '\n';
            out << '\n';
        }
        out.flush();
        closed = request.operation == TransferRequest::Operation::Close;
        anyDone = anyDone || result.ok;
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
