#include "app/cli.h"

#include <QTextStream>

#include <cstring>

#include "app/ftp_command.h"

namespace webloom {

namespace {

const char kUsage[] =
    "usage: webloom                      start the window\n"
    "       webloom build PROJECT_FILE [--out DIR] [--only KINDS]\n"
    "       webloom ftp HOST[:PORT] USER [--local DIR] COMMAND...\n"
    "       webloom --help | --version\n";

}  // namespace

bool isCommandLine(int argc, char *argv[])
{
    if (argc < 2)
        return false;
    const char *a = argv[1];
    return std::strcmp(a, "build") == 0 || std::strcmp(a, "ftp") == 0 || std::strcmp(a, "--help") == 0 ||
           std::strcmp(a, "-h") == 0 || std::strcmp(a, "--version") == 0;
}

int runCommandLine(const QStringList &arguments)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString command = arguments.value(1);
    if (command == QLatin1String("--version")) {
        out << "webloom " WEBLOOM_VERSION_TEXT "\n";
        return 0;
    }
    if (command == QLatin1String("ftp"))
        return runFtpCommand(arguments.mid(2), out, err);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        out << kUsage;
        return 0;
    }
    err << kUsage;
    return 2;
}

}  // namespace webloom
