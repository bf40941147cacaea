// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <optional>

namespace webloom::test {

// A piece of a test that runs in a process of its own, for what only a
// separate process shows (a window killed in the middle of its work). The
// test program started again with WEBLOOM_TEST_CHILD=<name> runs the
// function registered under that name instead of its tests and exits with
// what it returns. Register with a static object:
//     const test::ChildProcess kTyping("typing", &typeAndWait);
class ChildProcess {
public:
    ChildProcess(const char *name, int (*body)());

    // Starts this test program as the child of that name, with the test's
    // own environment plus the given variables.
    static void start(QProcess &process, const QString &name, const QProcessEnvironment &extra);
};

// For main(): the status of the child named in the environment, if it names
// one.
std::optional<int> runRequestedChild();

} // namespace webloom::test
