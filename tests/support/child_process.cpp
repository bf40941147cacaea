// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/child_process.h"

#include <QCoreApplication>

#include <map>
#include <string>

namespace webloom::test {

namespace {

const char kVariable[] = "WEBLOOM_TEST_CHILD";

std::map<std::string, int (*)()> &children()
{
    static std::map<std::string, int (*)()> registered;
    return registered;
}

} // namespace

ChildProcess::ChildProcess(const char *name, int (*body)())
{
    children()[name] = body;
}

void ChildProcess::start(QProcess &process, const QString &name, const QProcessEnvironment &extra)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(extra);
    environment.insert(QString::fromLatin1(kVariable), name);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), {});
}

std::optional<int> runRequestedChild()
{
    if (!qEnvironmentVariableIsSet(kVariable))
        return std::nullopt;
    const auto found = children().find(qEnvironmentVariable(kVariable).toStdString());
    return found == children().end() ? 2 : found->second();
}

} // namespace webloom::test
