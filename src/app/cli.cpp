#include "app/cli.h"

#include <QTextStream>

#include <cstring>

#include "app/cli_build.h"
#include "app/ftp_command.h"
#include "app/publish_command.h"
#include "document/addresses.h"

namespace webloom {

namespace {

const char kUsage[] = "usage: webloom                      start the window\n"
                      "       webloom build PROJECT_FILE [--out DIR] [--only KINDS]\n"
                      "       webloom ftp ADDRESS USER [--local DIR] [--trust FINGERPRINT]... COMMAND...\n"
                      "       webloom publish PROJECT_FILE --connection NAME [--registry FILE] [--remote DIR]\n"
                      "                       [--parallel N] [--dry-run] [--trust FINGERPRINT]...\n"
                      "       webloom --help | --version\n"
                      "\n"
                      "build   loads a project file and writes its pages into its base folder\n"
                      "        (or DIR); KINDS is a comma-separated list of top,self,link,sub,photo\n"
                      "ftp     runs FTP commands (\"DIR\", \"CD x\", \"PUT a b\", ...) in order on one\n"
                      "        connection; the password comes from WEBLOOM_FTP_PASSWORD or stdin\n"
                      "publish builds every page and uploads what changed since the last publish\n";

} // namespace

bool isCommandLine(int argc, char *argv[])
{
    if (argc < 2)
        return false;
    const char *a = argv[1];
    return std::strcmp(a, "build") == 0 || std::strcmp(a, "ftp") == 0 || std::strcmp(a, "publish") == 0 ||
           std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0 || std::strcmp(a, "--version") == 0;
}

// Each subcommand is one branch here calling its own file's function.
int runCommandLine(const QStringList &arguments)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString command = arguments.value(1);
    if (command == QLatin1String("build"))
        return runBuild(arguments.mid(2), out, err);
    if (command == QLatin1String("--version")) {
        out << "webloom " << kVersionText << '\n';
        return 0;
    }
    if (command == QLatin1String("ftp"))
        return runFtpCommand(arguments.mid(2), out, err);
    if (command == QLatin1String("publish"))
        return runPublish(arguments.mid(2), out, err);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        out << kUsage;
        return 0;
    }
    err << kUsage;
    return 2;
}

} // namespace webloom
