// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "document/atomic_file.h"
#include "support/golden.h"

using namespace webloom;
using webloom::test::readBytes;
using webloom::test::writeBytes;

// Every fchmod of this test program passes through here first, so the mode
// a file had before its permissions were set can be seen.
static mode_t g_modeBeforeFchmod = 0;
extern "C" int fchmod(int fd, mode_t mode)
{
    struct stat st {};
    if (::fstat(fd, &st) == 0)
        g_modeBeforeFchmod = st.st_mode & 07777;
    return static_cast<int>(::syscall(SYS_fchmod, fd, mode));
}

// Likewise every fsync: the folder syncs are counted, with what the watched
// file held at that moment.
static int g_folderSyncs = 0;
static QString g_watched;
static QByteArray g_watchedAtFolderSync;
extern "C" int fsync(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ++g_folderSyncs;
        g_watchedAtFolderSync = webloom::test::readBytes(g_watched);
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Lowers the file size limit for one scope, so that writes fail part-way as
// on a full disk (permissions do not stop root, a size limit does).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit lower = old_;
        lower.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }

private:
    rlimit old_{};
};

QStringList leftovers(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

TEST(AtomicFile, ReplacesWholeAndKeepsOrSetsPermissions)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("page.html"));
    QString error;
    ASSERT_TRUE(writeFileAtomically(path, "first", &error)) << error.toStdString();
    const mode_t umaskNow = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    EXPECT_EQ(modeOf(path), 0666 & ~umaskNow);

    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    ASSERT_TRUE(writeFileAtomically(path, "second", &error, {.sync = false, .mode = std::nullopt}));
    EXPECT_EQ(readBytes(path), QByteArray("second"));
    EXPECT_EQ(modeOf(path), 0640u);

    ASSERT_TRUE(writeFileAtomically(path, "third", &error, {.sync = true, .mode = 0600}));
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(leftovers(dir), QStringList{QStringLiteral("page.html")});

    // A private file is private from its first byte, whatever the umask.
    const mode_t saved = ::umask(0);
    g_modeBeforeFchmod = 0;
    const bool written =
        writeFileAtomically(dir.filePath(QStringLiteral("hosts.txt")), "secret", &error, {.sync = false, .mode = 0600});
    ::umask(saved);
    ASSERT_TRUE(written) << error.toStdString();
    EXPECT_EQ(g_modeBeforeFchmod, 0600u);
}

TEST(AtomicFile, FailuresLeaveTheOldFileAndNoTemporaryFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("project.txt"));
    ASSERT_TRUE(writeBytes(path, "old content"));
    {
        FileSizeLimit limit(4096);
        AtomicFile file(path);
        ASSERT_TRUE(file.open());
        EXPECT_FALSE(file.write(QByteArray(10000, 'x')));
        EXPECT_FALSE(file.commit());
        EXPECT_FALSE(file.errorString().isEmpty());
    }
    EXPECT_EQ(readBytes(path), QByteArray("old content"));
    EXPECT_EQ(leftovers(dir), QStringList{QStringLiteral("project.txt")});

    // A missing folder, a folder in the way, a path under a regular file.
    QString error;
    EXPECT_FALSE(writeFileAtomically(dir.filePath(QStringLiteral("no/such/file")), "x", &error));
    EXPECT_FALSE(error.isEmpty());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    EXPECT_FALSE(writeFileAtomically(dir.filePath(QStringLiteral("folder")), "x", &error));
    EXPECT_FALSE(writeFileAtomically(path + QStringLiteral("/inside"), "x", &error));
    EXPECT_EQ(readBytes(path), QByteArray("old content"));

    // Dropping an open file cancels it.
    {
        AtomicFile file(path);
        ASSERT_TRUE(file.open());
        ASSERT_TRUE(file.write("never committed"));
    }
    EXPECT_EQ(readBytes(path), QByteArray("old content"));
    EXPECT_EQ(leftovers(dir).size(), 1);
}

TEST(AtomicFile, WritesThroughSymbolicLinksAndSyncsTheFolderOfADurableWrite)
{
    QTemporaryDir dir;
    QDir root(dir.path());
    ASSERT_TRUE(root.mkdir(QStringLiteral("real")));
    const QString real = root.filePath(QStringLiteral("real/site.txt"));
    ASSERT_TRUE(writeBytes(real, "old"));
    // A relative link, an absolute one pointing at it, and one that dangles.
    ASSERT_TRUE(QFile::link(QStringLiteral("real/site.txt"), root.filePath(QStringLiteral("relative.txt"))));
    ASSERT_TRUE(QFile::link(root.filePath(QStringLiteral("relative.txt")), root.filePath(QStringLiteral("chain.txt"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("real/new.txt"), root.filePath(QStringLiteral("dangling.txt"))));

    QString error;
    g_watched = real;
    g_folderSyncs = 0;
    ASSERT_TRUE(writeFileAtomically(root.filePath(QStringLiteral("chain.txt")), "new", &error)) << error.toStdString();
    EXPECT_EQ(readBytes(real), QByteArray("new"));
    EXPECT_TRUE(QFileInfo(root.filePath(QStringLiteral("chain.txt"))).isSymLink());
    EXPECT_TRUE(QFileInfo(root.filePath(QStringLiteral("relative.txt"))).isSymLink());
    // Durable: the folder was synced once the new content was in place.
    EXPECT_EQ(g_folderSyncs, 1);
    EXPECT_EQ(g_watchedAtFolderSync, QByteArray("new"));

    ASSERT_TRUE(writeFileAtomically(root.filePath(QStringLiteral("dangling.txt")), "made", &error,
                                    {.sync = false, .mode = std::nullopt}));
    EXPECT_EQ(readBytes(root.filePath(QStringLiteral("real/new.txt"))), QByteArray("made"));
    EXPECT_TRUE(QFileInfo(root.filePath(QStringLiteral("dangling.txt"))).isSymLink());
    EXPECT_EQ(g_folderSyncs, 1); // pages skip the syncs

    // A cycle of links fails with its reason and creates nothing.
    ASSERT_TRUE(QFile::link(QStringLiteral("b"), root.filePath(QStringLiteral("a"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("a"), root.filePath(QStringLiteral("b"))));
    EXPECT_FALSE(writeFileAtomically(root.filePath(QStringLiteral("a")), "x", &error));
    EXPECT_EQ(error, QString::fromLocal8Bit(std::strerror(ELOOP)));
    EXPECT_EQ(root.entryList(QDir::Files | QDir::Hidden | QDir::System), // the links and nothing else
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("chain.txt"),
                           QStringLiteral("dangling.txt"), QStringLiteral("relative.txt")}));
    EXPECT_EQ(QDir(root.filePath(QStringLiteral("real"))).entryList(QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral("new.txt"), QStringLiteral("site.txt")}));
}
