// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include "app/cli_build.h"
#include "app/ftp_command.h"
#include "app/publish_command.h"
#include "document/addresses.h"

namespace webloom {

namespace {

struct Subcommand {
    const char *name;
    const char *synopsis; // what follows "webloom NAME" in the usage
    const char *summary;
    SubcommandRunner run;
};

// A new subcommand is one line here; the usage text follows from the table.
const Subcommand kSubcommands[] = {
    {"build", "PROJECT_FILE [--out DIR] [--only KINDS]", "write the pages of a project file", runBuild},
    {"ftp", "ADDRESS USER [--local DIR] [--trust FINGERPRINT]... [--allow-plain] COMMAND...",
     "run FTP commands in order on one connection", runFtpCommand},
    {"publish",
     "PROJECT_FILE --connection NAME [--registry FILE] [--remote DIR] [--parallel N] [--dry-run] "
     "[--trust FINGERPRINT]... [--allow-plain]",
     "build every page and upload what changed since the last publish", runPublish},
};

void usage(QTextStream &stream)
{
    stream << "usage: webloom [PROJECT_FILE]\n";
    for (const Subcommand &command : kSubcommands)
        stream << "       webloom " << command.name << ' ' << command.synopsis << '\n';
    stream << "       webloom --help | --version\n"
           << "\n"
           << "Without a command, webloom opens its window and loads PROJECT_FILE if one is given.\n"
           << "\n"
           << "commands:\n";
    for (const Subcommand &command : kSubcommands)
        stream << "  " << QString::fromLatin1(command.name).leftJustified(8) << command.summary << '\n';
    stream << "\n"
           << "\"webloom COMMAND --help\" shows a command's options; \"man webloom\" tells more.\n"
           << Qt::flush;
}

Invocation finished(int status)
{
    Invocation invocation;
    invocation.kind = Invocation::Kind::Finished;
    invocation.status = status;
    return invocation;
}

Invocation usageError(QTextStream &err, const QString &problem)
{
    err << "webloom: " << problem << '\n';
    usage(err);
    return finished(2);
}

// A word that is neither a command nor a file is taken for a mistyped
// command ("webloom help"), not for a project that is not there.
bool looksLikeProjectFile(const QString &argument)
{
    return argument.contains(QLatin1Char('/')) || argument.contains(QLatin1Char('.')) || QFileInfo::exists(argument);
}

} // namespace

Invocation parseInvocation(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    // Everything after the command word belongs to the command.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOption(help);
    parser.addOption(version);
    const bool parsed = parser.parse(arguments);
    // "--help" wins over whatever else is wrong, so it always shows the way.
    if (parser.isSet(help)) {
        usage(out);
        return finished(0);
    }
    if (!parsed)
        return usageError(err, parser.errorText());
    if (parser.isSet(version)) {
        out << "webloom " << kVersionText << '\n' << Qt::flush;
        return finished(0);
    }

    const QStringList words = parser.positionalArguments();
    Invocation invocation;
    if (words.isEmpty())
        return invocation;
    for (const Subcommand &command : kSubcommands) {
        if (words.first() == QLatin1String(command.name)) {
            invocation.kind = Invocation::Kind::Subcommand;
            invocation.runner = command.run;
            invocation.arguments = words.mid(1);
            return invocation;
        }
    }
    if (!looksLikeProjectFile(words.first()))
        return usageError(err, QStringLiteral("unknown command \"%1\"").arg(words.first()));
    if (words.size() > 1)
        return usageError(err, QStringLiteral("unexpected argument \"%1\"").arg(words.at(1)));
    invocation.project = words.first();
    return invocation;
}

bool hasDisplay(const QProcessEnvironment &environment)
{
    if (!environment.value(QStringLiteral("DISPLAY")).isEmpty() ||
        !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty())
        return true;
    // "offscreen", "vnc", "linuxfb" and the like need no display server;
    // "xcb" and "wayland" (alone or as a list such as "wayland;xcb", each
    // perhaps with ":options") need the variables above.
    const QStringList platforms =
        environment.value(QStringLiteral("QT_QPA_PLATFORM")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &platform : platforms) {
        const QString name = platform.section(QLatin1Char(':'), 0, 0).trimmed();
        if (name != QLatin1String("xcb") && !name.startsWith(QLatin1String("wayland")))
            return true;
    }
    return false;
}

QString noDisplayMessage()
{
    return QStringLiteral("webloom: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset); "
                          "\"webloom --help\" lists the commands that need none");
}

} // namespace webloom
