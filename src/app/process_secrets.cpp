// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/process_secrets.h"

#include <QtGlobal>

#include <sys/prctl.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>

extern char **environ;

namespace webloom {

void keepSecretsOutOfCoreFiles()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_CORE, &limit) == 0) {
        limit.rlim_cur = 0;
        ::setrlimit(RLIMIT_CORE, &limit);
    }
}

void guardProcessSecrets()
{
    keepSecretsOutOfCoreFiles();
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

std::optional<QString> takeEnvironmentPassword()
{
    static constexpr char kName[] = "WEBLOOM_FTP_PASSWORD=";
    constexpr size_t kNameLength = sizeof kName - 1;
    std::optional<QString> password;
    // Every copy, for the environment may name the variable twice; getenv
    // and the Qt functions see only the first.
    for (char **entry = environ; entry && *entry; ++entry) {
        if (std::strncmp(*entry, kName, kNameLength) != 0)
            continue;
        char *value = *entry + kNameLength;
        if (!password)
            password = QString::fromLocal8Bit(value);
        ::explicit_bzero(value, std::strlen(value));
    }
    qunsetenv("WEBLOOM_FTP_PASSWORD");
    return password;
}

} // namespace webloom
