// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli_build.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <optional>
#include <vector>

#include "app/cli_prompter.h"
#include "app/terminal_text.h"
#include "document/project_file.h"
#include "pages/page_kinds.h"

namespace webloom {

namespace {

struct BuildRequest {
    bool help = false;
    QString project;
    std::optional<QString> outDir;
    std::optional<QStringList> only; // kind names in the order given, no repeats
};

QString knownKinds()
{
    QStringList names;
    for (const PageKind &kind : pageKinds())
        names.append(kind.name);
    return names.join(QLatin1Char(','));
}

// Fills request from the arguments; on a usage error returns its text.
QString parse(const QStringList &arguments, BuildRequest &request)
{
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption only(QStringLiteral("only"), QString(), QStringLiteral("KINDS"));
    parser.addOptions({help, out, only});
    // The parser wants a program name in front.
    const bool parsed = parser.parse(QStringList{QStringLiteral("build")} + arguments);
    // "--help" wins over whatever else is wrong, so it always shows the way.
    if (parser.isSet(help)) {
        request.help = true;
        return {};
    }
    if (!parsed)
        return parser.errorText();
    if (parser.isSet(out)) {
        request.outDir = parser.value(out);
        if (request.outDir->isEmpty())
            return QStringLiteral("--out needs a value");
    }
    if (parser.isSet(only)) {
        const QString list = parser.value(only);
        if (list.isEmpty())
            return QStringLiteral("--only needs a value");
        QStringList names;
        for (const QString &name : list.split(QLatin1Char(','))) {
            if (!findPageKind(name))
                return QStringLiteral("unknown page kind \"%1\" (known: %2)").arg(name, knownKinds());
            if (!names.contains(name))
                names.append(name);
        }
        request.only = names;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return QStringLiteral("missing project file");
    if (positional.size() > 1)
        return QStringLiteral("unexpected argument ") + positional.at(1);
    request.project = positional.first();
    return {};
}

void usage(QTextStream &stream)
{
    stream << "usage: webloom build PROJECT_FILE [--out DIR] [--only KINDS]\n"
           << "  --out DIR     write into DIR instead of the project's base folder\n"
           << "  --only KINDS  comma-separated page kinds, from: " << knownKinds() << '\n'
           << Qt::flush;
}

} // namespace

int runBuild(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    BuildRequest request;
    if (const QString problem = parse(arguments, request); !problem.isEmpty()) {
        err << "webloom build: " << problem << '\n';
        usage(err);
        return 2;
    }
    if (request.help) {
        usage(out);
        return 0;
    }

    SiteDocument doc;
    ConsolePrompter prompter(err);
    // The open dialog hands the loader a full path; so does the command line.
    if (!loadProjectFile(doc, prompter, QFileInfo(request.project).absoluteFilePath()))
        return 2;
    if (request.outDir)
        doc.setText(Field::Label1, *request.outDir);

    std::vector<const PageKind *> kinds;
    if (request.only) {
        for (const QString &name : *request.only)
            kinds.push_back(findPageKind(name));
    } else {
        for (const PageKind &kind : pageKinds())
            kinds.push_back(&kind);
    }

    bool failed = false;
    for (const PageKind *kind : kinds) {
        // The button that writes a page sits on its own tab, and the
        // navigation bar depends on the tab showing.
        doc.setCurrentTab(kind->tab);
        PageFrame frame(doc, prompter);
        const PageResult result = kind->command(frame);
        for (const QString &path : frame.writtenFiles())
            out << terminalText(path) << '\n' << Qt::flush;
        if (result == PageResult::Refused) {
            err << "webloom build: " << kind->name << " not written\n" << Qt::flush;
            if (request.only)
                failed = true;
        } else if (result == PageResult::Failed) {
            failed = true;
        }
    }
    return failed ? 1 : 0;
}

} // namespace webloom
