// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/password_prompt.h"

#include <QByteArray>

#include <cerrno>
#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace webloom {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// What the signal handlers need; set before the handlers are installed and
// cleared after they are gone.
int g_fd = -1;
termios g_saved{};
termios g_quiet{};
struct sigaction g_previous[kSignalCount];
struct sigaction g_previousStop {};
struct sigaction g_previousContinue {};
volatile sig_atomic_t g_echoOff = 0;

extern "C" void restoreAndRaise(int signal)
{
    if (g_echoOff)
        ::tcsetattr(g_fd, TCSANOW, &g_saved);
    for (int i = 0; i < kSignalCount; ++i) {
        if (kSignals[i] == signal)
            ::sigaction(signal, &g_previous[i], nullptr);
    }
    // Delivered as soon as this handler returns, now with the disposition
    // the program had before the prompt.
    ::raise(signal);
}

// Ctrl-Z: the shell the user returns to gets its echo back. The stop itself
// is the one the program would have had; it happens here, inside the
// handler, and the prompt goes on waiting once the process is continued.
extern "C" void restoreAndStop(int)
{
    const int saved = errno;
    if (g_echoOff)
        ::tcsetattr(g_fd, TCSANOW, &g_saved);
    struct sigaction mine {};
    ::sigaction(SIGTSTP, &g_previousStop, &mine);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    ::raise(SIGTSTP);
    ::sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    // Continued: the prompt is still waiting.
    ::sigaction(SIGTSTP, &mine, nullptr);
    errno = saved;
}

// Continued in the foreground (after Ctrl-Z and "fg"): the typing is hidden
// again. In the background the terminal belongs to someone else; the read
// stops the process until it is brought back, which continues it again.
extern "C" void hideAgain(int)
{
    const int saved = errno;
    const pid_t owner = ::tcgetpgrp(g_fd);
    if (g_echoOff && (owner < 0 || owner == ::getpgrp()))
        ::tcsetattr(g_fd, TCSANOW, &g_quiet);
    errno = saved;
}

void install(int signal, void (*handler)(int), struct sigaction *previous)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, nullptr, previous);
    // A signal the program ignores (SIGHUP under nohup) stays ignored.
    if (previous->sa_handler != SIG_IGN)
        ::sigaction(signal, &action, nullptr);
}

void uninstall(int signal, const struct sigaction &previous)
{
    if (previous.sa_handler != SIG_IGN)
        ::sigaction(signal, &previous, nullptr);
}

// A password longer than this is no password; the rest of the line is read
// and dropped.
constexpr qsizetype kMaxLength = 64 * 1024;

QByteArray readLine(int fd)
{
    QByteArray line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        if (line.size() < kMaxLength)
            line += c;
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

QString readPassword(int fd, QTextStream &prompt)
{
    termios saved{};
    if (::isatty(fd) != 1 || ::tcgetattr(fd, &saved) != 0)
        return QString::fromUtf8(readLine(fd));

    prompt << "Password: " << Qt::flush;
    g_fd = fd;
    g_saved = saved;
    for (int i = 0; i < kSignalCount; ++i)
        install(kSignals[i], &restoreAndRaise, &g_previous[i]);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    g_quiet = quiet;
    install(SIGTSTP, &restoreAndStop, &g_previousStop);
    install(SIGCONT, &hideAgain, &g_previousContinue);
    g_echoOff = 1;
    ::tcsetattr(fd, TCSANOW, &quiet);

    const QByteArray line = readLine(fd);

    ::tcsetattr(fd, TCSANOW, &saved);
    g_echoOff = 0;
    uninstall(SIGCONT, g_previousContinue);
    uninstall(SIGTSTP, g_previousStop);
    for (int i = 0; i < kSignalCount; ++i)
        uninstall(kSignals[i], g_previous[i]);
    prompt << "\n" << Qt::flush;
    return QString::fromUtf8(line);
}

} // namespace webloom
