// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/file_digest.h"

#include <QFile>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace webloom {

namespace {

qint64 nanoseconds(const struct timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileStamp stampOf(const struct stat &st)
{
    return {qint64(st.st_size), nanoseconds(st.st_mtim), nanoseconds(st.st_ctim), quint64(st.st_ino),
            quint64(st.st_dev)};
}

struct DigestFree {
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

// SHA-256 hex of what fd reads to its end; empty on a read error.
QByteArray sha256Of(int fd)
{
    const std::unique_ptr<EVP_MD_CTX, DigestFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return {};
    // Photos run to megabytes; a large buffer keeps the calls few.
    constexpr size_t kChunk = 1 << 20;
    const std::unique_ptr<unsigned char[]> chunk(new unsigned char[kChunk]);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.get(), kChunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {};
        if (n == 0)
            break;
        if (EVP_DigestUpdate(context.get(), chunk.get(), size_t(n)) != 1)
            return {};
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}

} // namespace

std::optional<FileDigest> fileDigest(const QString &path, const KnownDigests &known)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const FileStamp before = stampOf(st);
    if (const auto found = known.constFind(path);
        found != known.constEnd() && found->reusable && found->stamp == before && found->sha256.size() == 64)
        return *found;

    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    FileDigest digest;
    digest.sha256 = sha256Of(fd);
    const bool same = ::fstat(fd, &st) == 0 && stampOf(st) == before;
    ::close(fd);
    if (digest.sha256.isEmpty())
        return std::nullopt;
    digest.stamp = before;
    // File times come from the coarse clock: a change later in the tick
    // that stamped the file would stamp it the same, so only a stamp older
    // than the clock now is one to trust next time.
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    digest.reusable = same && before.mtimeNs < nanoseconds(now) && before.ctimeNs < nanoseconds(now);
    return digest;
}

} // namespace webloom
