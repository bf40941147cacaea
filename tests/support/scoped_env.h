// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

namespace webloom::test {

// Sets an environment variable (HOME, XDG_CONFIG_HOME) for the lifetime of
// the object and puts the old value back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name))
    {
        qputenv(name, value);
    }
    ScopedEnv(const char *name, const QString &path) : ScopedEnv(name, QFile::encodeName(path)) {}
    ~ScopedEnv()
    {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *name_;
    bool had_;
    QByteArray old_;
};

} // namespace webloom::test
