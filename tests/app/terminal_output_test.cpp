// SPDX-License-Identifier: GPL-3.0-or-later
// What "webloom ftp" puts on a terminal: server text with its control
// characters escaped, and a password prompt that always gives the echo back.
#include <gtest/gtest.h>

#include <QTextStream>

#include <csignal>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "app/password_prompt.h"
#include "app/terminal_text.h"

namespace webloom {
namespace {

TEST(TerminalText, ControlCharactersFromTheServerAreEscaped)
{
    EXPECT_EQ(terminalText(u"\x1b]0;owned\x07name\x1b[2J"), QStringLiteral("\\x1b]0;owned\\x07name\\x1b[2J"));
    EXPECT_EQ(terminalText(QStringView(u"a\rb\nc\0d", 7)), QStringLiteral("a\\x0db\\x0ac\\x00d"));
    // DEL and the C1 controls (U+009B is the one-character CSI).
    EXPECT_EQ(terminalText(u"x\x7fy\u0085z\u009b31m"), QStringLiteral("x\\x7fy\\x85z\\x9b31m"));
    // Tabs, backslashes and every printable character pass unchanged.
    const QString plain = QStringLiteral("226 Transfer complete\tdir\\name ファイル　①\u00a0é");
    EXPECT_EQ(terminalText(plain), plain);
}

bool echoOn(int fd)
{
    termios t{};
    return ::tcgetattr(fd, &t) == 0 && (t.c_lflag & ECHO) != 0;
}

// A child process that sits in the prompt on a pseudo-terminal and sends
// what it read through a pipe.
struct Prompt {
    pid_t pid = -1;
    int master = -1;
    int slave = -1;
    int result = -1;

    bool start()
    {
        int fds[2];
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || ::pipe(fds) != 0)
            return false;
        pid = ::fork();
        if (pid == 0) {
            // A job of its own, as a shell starts it, so that Ctrl-Z stops it.
            ::setpgid(0, 0);
            ::close(master);
            ::close(fds[0]);
            QString shown;
            QTextStream prompt(&shown);
            const QByteArray password = readPassword(slave, prompt).toUtf8();
            const ssize_t written = ::write(fds[1], password.constData(), static_cast<size_t>(password.size()));
            ::_exit(written == password.size() ? 0 : 3);
        }
        ::close(fds[1]);
        result = fds[0];
        // The prompt is up once the echo is off.
        for (int i = 0; i < 1000 && echoOn(slave); ++i)
            ::usleep(10 * 1000);
        return pid > 0 && !echoOn(slave);
    }

    // Waits for the child; its status, and what it read.
    int finish(QByteArray *password)
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        char buffer[256];
        for (ssize_t n; (n = ::read(result, buffer, sizeof buffer)) > 0;)
            password->append(buffer, n);
        return status;
    }

    ~Prompt()
    {
        for (int fd : {master, slave, result}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
};

TEST(PasswordPrompt, TheTerminalEchoComesBackOnEveryWayOut)
{
    {
        Prompt p;
        ASSERT_TRUE(p.start());
        ASSERT_EQ(::write(p.master, "pa ss\n", 6), 6);
        QByteArray password;
        const int status = p.finish(&password);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(password, QByteArray("pa ss"));
        EXPECT_TRUE(echoOn(p.slave));
    }
    {
        Prompt p; // end of input (Ctrl-D)
        ASSERT_TRUE(p.start());
        ASSERT_EQ(::write(p.master, "\x04", 1), 1);
        QByteArray password;
        const int status = p.finish(&password);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_TRUE(password.isEmpty());
        EXPECT_TRUE(echoOn(p.slave));
    }
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        Prompt p;
        ASSERT_TRUE(p.start());
        ::kill(p.pid, signal);
        QByteArray password;
        const int status = p.finish(&password);
        // The program still ends by the signal, as it would have without the prompt.
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        EXPECT_TRUE(echoOn(p.slave)) << signal;
    }
}

TEST(PasswordPrompt, CtrlZGivesTheEchoBackWhileStoppedAndResumingHidesTheTypingAgain)
{
    Prompt p;
    ASSERT_TRUE(p.start());
    ::kill(p.pid, SIGTSTP);
    int status = 0;
    ASSERT_EQ(::waitpid(p.pid, &status, WUNTRACED), p.pid);
    EXPECT_TRUE(WIFSTOPPED(status));
    EXPECT_TRUE(echoOn(p.slave)) << "the shell the user is back in echoes";

    ::kill(p.pid, SIGCONT);
    for (int i = 0; i < 1000 && echoOn(p.slave); ++i)
        ::usleep(10 * 1000);
    EXPECT_FALSE(echoOn(p.slave)) << "the prompt waits again, hidden";
    ASSERT_EQ(::write(p.master, "pa ss\n", 6), 6);
    QByteArray password;
    status = p.finish(&password);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(password, QByteArray("pa ss"));
    EXPECT_TRUE(echoOn(p.slave));
}

} // namespace
} // namespace webloom
