// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcessEnvironment>
#include <QStringList>
#include <QTextStream>

namespace webloom {

// A subcommand's entry: the arguments after its name, its output streams;
// returns the exit status.
using SubcommandRunner = int (*)(const QStringList &arguments, QTextStream &out, QTextStream &err);

// What the program was asked to do, read before any application object
// exists (the window needs a display; nothing else does).
struct Invocation {
    enum class Kind {
        Window,     // open the window, with project loaded when it is not empty
        Subcommand, // run runner on arguments
        Finished,   // help, version or a usage error, already printed
    };
    Kind kind = Kind::Window;
    QString project;
    SubcommandRunner runner = nullptr;
    QStringList arguments;
    int status = 0;
};

// Reads the arguments as QCoreApplication::arguments() would give them
// (program name first). Help and version go to out, usage errors to err.
Invocation parseInvocation(const QStringList &arguments, QTextStream &out, QTextStream &err);

// True when the environment names somewhere to show a window: a display
// server, or a Qt platform that needs none (such as offscreen).
bool hasDisplay(const QProcessEnvironment &environment);

// The one line printed when the window has nowhere to go.
QString noDisplayMessage();

} // namespace webloom
