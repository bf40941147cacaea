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

// What the signal handler needs; set before the handlers are installed and
// cleared after they are gone.
int g_fd = -1;
termios g_saved{};
struct sigaction g_previous[kSignalCount];
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
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction action {};
        action.sa_handler = &restoreAndRaise;
        sigemptyset(&action.sa_mask);
        ::sigaction(kSignals[i], nullptr, &g_previous[i]);
        // A signal the program ignores (SIGHUP under nohup) stays ignored.
        if (g_previous[i].sa_handler != SIG_IGN)
            ::sigaction(kSignals[i], &action, nullptr);
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    g_echoOff = 1;
    ::tcsetattr(fd, TCSANOW, &quiet);

    const QByteArray line = readLine(fd);

    ::tcsetattr(fd, TCSANOW, &saved);
    g_echoOff = 0;
    for (int i = 0; i < kSignalCount; ++i) {
        if (g_previous[i].sa_handler != SIG_IGN)
            ::sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    prompt << "\n" << Qt::flush;
    return QString::fromUtf8(line);
}

} // namespace webloom
