// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

#include <curl/curl.h>

#include <cstdio>

#include "app/cli.h"
#include "app/process_secrets.h"
#include "ui/gui.h"

int main(int argc, char *argv[])
{
    // Read as Qt reads them, but before any application object: QApplication
    // itself aborts when there is no display, and the command line needs none.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const webloom::Invocation invocation = webloom::parseInvocation(arguments, out, err);
    if (invocation.kind == webloom::Invocation::Kind::Finished)
        return invocation.status;
    if (invocation.kind == webloom::Invocation::Kind::Window &&
        !webloom::hasDisplay(QProcessEnvironment::systemEnvironment())) {
        err << webloom::noDisplayMessage() << '\n' << Qt::flush;
        return 1;
    }

    curl_global_init(CURL_GLOBAL_DEFAULT);
    int status = 0;
    if (invocation.kind == webloom::Invocation::Kind::Subcommand) {
        QCoreApplication app(argc, argv);
        status = invocation.runner(invocation.arguments, out, err);
    } else {
        // The window holds the registry's passwords.
        webloom::keepSecretsOutOfCoreFiles();
        QApplication app(argc, argv);
        status = webloom::runGui(app, invocation.project);
    }
    out.flush();
    err.flush();
    curl_global_cleanup();
    return status;
}
