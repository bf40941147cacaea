// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

namespace webloom {

// For every process that holds a password, before the first one is read.
// keepSecretsOutOfCoreFiles: no core file (RLIMIT_CORE 0, which
// systemd-coredump honours too). guardProcessSecrets, for "webloom ftp" and
// "webloom publish", adds PR_SET_DUMPABLE 0: no core file whatever the
// kernel's settings, and other processes of the user cannot read the
// memory (ptrace, /proc/PID/mem). The window (the registry's passwords)
// keeps to the first: the desktop portal refuses a caller whose /proc/PID
// it cannot read, which would break the file dialogs.
void keepSecretsOutOfCoreFiles();
void guardProcessSecrets();

// WEBLOOM_FTP_PASSWORD, read once: its bytes are overwritten where they lie
// and the variable is removed, so that neither the rest of the program nor
// /proc/PID/environ (the environment block the process started with, which
// unsetenv leaves as it was) shows it any more. Empty when it is not set.
std::optional<QString> takeEnvironmentPassword();

} // namespace webloom
