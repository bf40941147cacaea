// SPDX-License-Identifier: GPL-3.0-or-later
// The curl transfer against a real FTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "support/golden.h"
#include "net/address.h"
#include "net/curl_transfer.h"
#include "net/transfer_request.h"
#include "net/ftp_server.h"
#include "net/remote_path.h"

namespace webloom {
namespace {

constexpr int kWaitMs = 30000;
const QString kUser = QStringLiteral("tester");
const QString kPassword = QStringLiteral("secret word");

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

using test::request;
using test::shown;

QStringList partFiles(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".webloom-*")}, QDir::Files | QDir::Hidden);
}

TEST(ServerAddress, FieldGivesSchemeHostAndPort)
{
    using Scheme = ServerAddress::Scheme;
    struct Case {
        const char *field;
        Scheme scheme;
        const char *hostPort; // nullptr: not an address
        const char *url;
    };
    const Case cases[] = {
        {"ftp.example.jp", Scheme::Auto, "ftp.example.jp:21", "ftp://ftp.example.jp:21"},
        {"  ftp.example.jp/ ", Scheme::Auto, "ftp.example.jp:21", "ftp://ftp.example.jp:21"},
        {"ftp.example.jp:2121", Scheme::Auto, "ftp.example.jp:2121", "ftp://ftp.example.jp:2121"},
        {"FTP://ftp.example.jp", Scheme::Ftp, "ftp.example.jp:21", "ftp://ftp.example.jp:21"},
        {"ftpes://ftp.example.jp", Scheme::Ftpes, "ftp.example.jp:21", "ftp://ftp.example.jp:21"},
        {"ftps://ftp.example.jp", Scheme::Ftps, "ftp.example.jp:990", "ftps://ftp.example.jp:990"},
        {"sftp://example.jp", Scheme::Sftp, "example.jp:22", "sftp://example.jp:22"},
        {"sftp://example.jp:2222/", Scheme::Sftp, "example.jp:2222", "sftp://example.jp:2222"},
        {"[2001:db8::1]:2121", Scheme::Auto, "[2001:db8::1]:2121", "ftp://[2001:db8::1]:2121"},
        {"2001:db8::1", Scheme::Auto, "[2001:db8::1]:21", "ftp://[2001:db8::1]:21"},
        {"", Scheme::Auto, nullptr, nullptr},
        {"ftp://", Scheme::Auto, nullptr, nullptr},
        {"http://example.jp", Scheme::Auto, nullptr, nullptr},
        {"ftp.example.jp:", Scheme::Auto, nullptr, nullptr},
        {"ftp.example.jp:0", Scheme::Auto, nullptr, nullptr},
        {"ftp.example.jp:65536", Scheme::Auto, nullptr, nullptr},
        {"ftp.example.jp:21a", Scheme::Auto, nullptr, nullptr},
        {"ftp.example.jp:+21", Scheme::Auto, nullptr, nullptr},
        {"[2001:db8::1", Scheme::Auto, nullptr, nullptr},
        {"ftp example jp", Scheme::Auto, nullptr, nullptr},
        {"taro@ftp.example.jp", Scheme::Auto, nullptr, nullptr},
        {"ftp.example.jp/public_html", Scheme::Auto, nullptr, nullptr},
    };
    for (const Case &c : cases) {
        const std::optional<ServerAddress> address = ServerAddress::parse(QString::fromUtf8(c.field));
        ASSERT_EQ(address.has_value(), c.hostPort != nullptr) << c.field;
        if (!address)
            continue;
        EXPECT_EQ(address->scheme, c.scheme) << c.field;
        EXPECT_EQ(address->hostPort().toStdString(), c.hostPort) << c.field;
        EXPECT_EQ(address->urlBase().toStdString(), c.url) << c.field;
    }
    // A Yes to the unencrypted question is stored as the plain scheme, the
    // port kept only when the user gave one.
    EXPECT_EQ(ServerAddress::parse(QStringLiteral("ftp.example.jp"))->withScheme(ServerAddress::Scheme::Ftp),
              QStringLiteral("ftp://ftp.example.jp"));
    EXPECT_EQ(ServerAddress::parse(QStringLiteral("[::1]:2121"))->withScheme(ServerAddress::Scheme::Ftp),
              QStringLiteral("ftp://[::1]:2121"));
}

TEST(RemotePath, ResolvesNamesParentsAndPaths)
{
    const RemotePath home = RemotePath::fromEntryPath("/home/taro");
    const RemotePath relative = RemotePath::fromEntryPath("C:\\inetpub");
    struct Case {
        RemotePath from;
        const char16_t *argument;
        const char *ftpUrl;
    };
    const Case cases[] = {
        {home, u"www", "/%2Fhome/taro/www/"},
        {home, u"..", "/%2Fhome/"},
        {home, u"../../..", "/%2F/"},
        {home, u"/", "/%2F/"},
        {home, u"/var/www", "/%2Fvar/www/"},
        {home, u"a/./b/../c", "/%2Fhome/taro/a/c/"},
        {home, u"写真 1", "/%2Fhome/taro/%E5%86%99%E7%9C%9F%201/"},
        {RemotePath::fromEntryPath("/"), u"..", "/%2F/"},
        // Without a Unix path the folder is relative to the log-in folder,
        // which may itself lie below the server's top.
        {relative, u"www", "/www/"},
        {relative, u"..", "/../"},
        {relative, u"/x", "/x/"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.from.resolved(QString::fromUtf16(c.argument)).ftpUrlPath().toStdString(), c.ftpUrl)
            << QString::fromUtf16(c.argument).toStdString();
    // A name from a listing travels in the server's own bytes.
    EXPECT_EQ(home.resolved(QStringLiteral("日本"), QByteArray("\x93\xfa\x96\x7b")).elements.last(),
              QByteArray("\x93\xfa\x96\x7b"));
    EXPECT_EQ(home.sftpUrlPath(), QByteArray("/home/taro/"));
    EXPECT_EQ(home.plainPath(), QByteArray("/home/taro"));
}

class CurlTransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid() && local_.isValid());
        QDir root(root_.path());
        ASSERT_TRUE(root.mkpath(QStringLiteral("sub")));
        ASSERT_TRUE(root.mkpath(QStringLiteral("a dir")));
        ASSERT_TRUE(test::writeBytes(root.filePath(QStringLiteral("file one.txt")), "one\n"));
        ASSERT_TRUE(test::writeBytes(root.filePath(QStringLiteral(" lead.txt")), "lead\n"));
        ASSERT_TRUE(test::writeBytes(root.filePath(QStringLiteral("写真.jpg")), "jpeg\n"));
        ASSERT_TRUE(test::writeBytes(root.filePath(QStringLiteral("sub/in.txt")), "inside\n"));
    }

    void startServer(const test::FtpServerOptions &options = {})
    {
        ASSERT_TRUE(server_.start(root_.path(), kUser, kPassword, options)) << server_.log().toStdString();
        transfer_->setConnection({server_.address(), kUser, kPassword});
    }

    TransferOutcome run(const TransferRequest &r) { return request(*transfer_, r); }
    QStringList list()
    {
        const TransferOutcome outcome = run(TransferRequest::list());
        EXPECT_TRUE(outcome.ok) << outcome.reply.toStdString();
        return shown(outcome);
    }

    QString rootPath(const QString &name) const { return QDir(root_.path()).filePath(name); }
    QString localPath(const QString &name) const { return QDir(local_.path()).filePath(name); }

    QTemporaryDir root_;
    QTemporaryDir local_;
    test::FtpServer server_;
    std::unique_ptr<CurlTransfer> transfer_ = std::make_unique<CurlTransfer>();
};

const QStringList kRootListing = {QStringLiteral("a dir/"), QStringLiteral("sub/"), QStringLiteral(" lead.txt"),
                                  QStringLiteral("file one.txt"), QStringLiteral("写真.jpg")};

TEST_F(CurlTransferTest, LoginFailuresAndAddressesThatReachNoServer)
{
    startServer();
    transfer_->setConnection({server_.address(), kUser, QStringLiteral("wrong")});
    TransferOutcome outcome = run(TransferRequest::list());
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.failure, TransferOutcome::Failure::Login);
    EXPECT_TRUE(outcome.reply.startsWith(QLatin1String("530"))) << outcome.reply.toStdString();

    transfer_->setConnection({QStringLiteral("127.0.0.1:70000"), kUser, kPassword});
    outcome = run(TransferRequest::list());
    EXPECT_EQ(outcome.reply, QStringLiteral("アドレスが正しくありません"));

    // A port nobody listens on: libcurl's own account, as no server replied.
    test::FtpServer closed;
    ASSERT_TRUE(closed.start(root_.path(), kUser, kPassword)) << closed.log().toStdString();
    transfer_->setConnection({closed.address(), kUser, kPassword});
    closed.kill();
    outcome = run(TransferRequest::list());
    EXPECT_EQ(outcome.failure, TransferOutcome::Failure::Connection);
    EXPECT_FALSE(outcome.reply.isEmpty());
}

TEST_F(CurlTransferTest, ListsFoldersFirstWithSizesTimesAndOriginalBytes)
{
    startServer();
    const TransferOutcome outcome = run(TransferRequest::list());
    ASSERT_TRUE(outcome.ok);
    EXPECT_EQ(shown(outcome), kRootListing);
    EXPECT_TRUE(outcome.reply.startsWith(QLatin1String("226"))) << outcome.reply.toStdString();
    const RemoteEntry &photo = outcome.entries.last();
    EXPECT_EQ(photo.rawName, QStringLiteral("写真.jpg").toUtf8());
    EXPECT_EQ(photo.size, 5);
    EXPECT_LT(std::abs(photo.modified.secsTo(QDateTime::currentDateTimeUtc())), 3600);

    // Servers without MLSD answer LIST on the same connection.
    test::FtpServer old;
    ASSERT_TRUE(old.start(root_.path(), kUser, kPassword, {.withoutMlsd = true}));
    CurlTransfer other;
    other.setConnection({old.address(), kUser, kPassword});
    EXPECT_EQ(shown(request(other, TransferRequest::list())), kRootListing);
    ASSERT_TRUE(request(other, TransferRequest::cd(QStringLiteral("sub"))).ok);
    const TransferOutcome inner = request(other, TransferRequest::list());
    EXPECT_EQ(shown(inner), QStringList{QStringLiteral("in.txt")});
    EXPECT_EQ(inner.entries.value(0).size, 7);
}

TEST_F(CurlTransferTest, ChangesDirectoryInOutAndNotIntoAMissingOne)
{
    startServer();
    ASSERT_TRUE(run(TransferRequest::cd(QStringLiteral("a dir"))).ok);
    EXPECT_EQ(list(), QStringList());
    ASSERT_TRUE(run(TransferRequest::cd(QStringLiteral(".."))).ok);
    EXPECT_EQ(list(), kRootListing);

    ASSERT_TRUE(run(TransferRequest::cd(QStringLiteral("sub"))).ok);
    TransferOutcome outcome = run(TransferRequest::cd(QStringLiteral("missing")));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.failure, TransferOutcome::Failure::Server);
    EXPECT_TRUE(outcome.reply.startsWith(QLatin1String("550"))) << outcome.reply.toStdString();
    // A file is no directory either; the session stays where it was.
    EXPECT_FALSE(run(TransferRequest::cd(QStringLiteral("in.txt"))).ok);
    EXPECT_EQ(list(), QStringList{QStringLiteral("in.txt")});

    // Going up from the top stays at the top.
    ASSERT_TRUE(run(TransferRequest::cd(QStringLiteral(".."))).ok);
    ASSERT_TRUE(run(TransferRequest::cd(QStringLiteral(".."))).ok);
    EXPECT_EQ(list(), kRootListing);
}

TEST_F(CurlTransferTest, MakesRemovesDeletesAndRenamesInTheCurrentDirectory)
{
    startServer();
    ASSERT_TRUE(run(TransferRequest::cd(QStringLiteral("sub"))).ok);
    ASSERT_TRUE(run(TransferRequest::mkdir(QStringLiteral("new dir"))).ok);
    EXPECT_TRUE(QFileInfo(rootPath(QStringLiteral("sub/new dir"))).isDir());
    EXPECT_FALSE(QFileInfo::exists(rootPath(QStringLiteral("new dir"))));
    EXPECT_EQ(list(), (QStringList{QStringLiteral("new dir/"), QStringLiteral("in.txt")}));

    TransferOutcome outcome = run(TransferRequest::mkdir(QStringLiteral("new dir")));
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.reply.startsWith(QLatin1String("550"))) << outcome.reply.toStdString();

    ASSERT_TRUE(test::writeBytes(rootPath(QStringLiteral("sub/new dir/keep.txt")), "x"));
    EXPECT_FALSE(run(TransferRequest::rmdir(QStringLiteral("new dir"))).ok);
    ASSERT_TRUE(QFile::remove(rootPath(QStringLiteral("sub/new dir/keep.txt"))));
    ASSERT_TRUE(run(TransferRequest::rmdir(QStringLiteral("new dir"))).ok);
    EXPECT_FALSE(QFileInfo::exists(rootPath(QStringLiteral("sub/new dir"))));

    // A rename replaces its target.
    ASSERT_TRUE(test::writeBytes(rootPath(QStringLiteral("sub/next.txt")), "next\n"));
    ASSERT_TRUE(run(TransferRequest::rename(QStringLiteral("next.txt"), QStringLiteral("in.txt"))).ok);
    EXPECT_EQ(test::readBytes(rootPath(QStringLiteral("sub/in.txt"))), QByteArray("next\n"));
    EXPECT_FALSE(run(TransferRequest::rename(QStringLiteral("gone.txt"), QStringLiteral("in.txt"))).ok);

    ASSERT_TRUE(run(TransferRequest::remove(QStringLiteral("in.txt"))).ok);
    EXPECT_FALSE(QFileInfo::exists(rootPath(QStringLiteral("sub/in.txt"))));
    EXPECT_FALSE(run(TransferRequest::remove(QStringLiteral("in.txt"))).ok);
    // The refusals above left the connection usable.
    EXPECT_EQ(list(), QStringList());
}

TEST_F(CurlTransferTest, PutAndGetMoveBinaryFilesUnchanged)
{
    startServer();
    const QByteArray content = randomBytes(3 * 1024 * 1024, 7) + QByteArray("\r\n\n\r\0\x1a", 6);
    ASSERT_TRUE(test::writeBytes(localPath(QStringLiteral("big file.bin")), content));
    ASSERT_TRUE(run(TransferRequest::cd(QStringLiteral("sub"))).ok);

    QSignalSpy progress(transfer_.get(), &Transfer::progress);
    TransferOutcome outcome =
        run(TransferRequest::put(localPath(QStringLiteral("big file.bin")), QStringLiteral("big file.bin")));
    ASSERT_TRUE(outcome.ok) << outcome.reply.toStdString();
    EXPECT_EQ(outcome.bytes, content.size());
    EXPECT_TRUE(test::sameBytes(content, test::readBytes(rootPath(QStringLiteral("sub/big file.bin")))));
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last().at(0).toLongLong(), content.size());
    EXPECT_EQ(progress.last().at(1).toLongLong(), content.size());

    list(); // the window always lists before it fetches
    progress.clear();
    outcome = run(TransferRequest::get(QStringLiteral("big file.bin"), localPath(QStringLiteral("back.bin"))));
    ASSERT_TRUE(outcome.ok) << outcome.reply.toStdString();
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last().at(0).toLongLong(), content.size());
    EXPECT_EQ(progress.last().at(1).toLongLong(), content.size()) << "size known from the listing";
    EXPECT_TRUE(test::sameBytes(content, test::readBytes(localPath(QStringLiteral("back.bin")))));
    EXPECT_TRUE(partFiles(local_.path()).isEmpty());
}

TEST_F(CurlTransferTest, NeverReplacesAnExistingTarget)
{
    startServer();
    ASSERT_TRUE(test::writeBytes(localPath(QStringLiteral("file one.txt")), "local version\n"));
    list();
    EXPECT_FALSE(
        run(TransferRequest::put(localPath(QStringLiteral("file one.txt")), QStringLiteral("file one.txt"))).ok);
    EXPECT_EQ(test::readBytes(rootPath(QStringLiteral("file one.txt"))), QByteArray("one\n"));
    EXPECT_FALSE(
        run(TransferRequest::get(QStringLiteral("file one.txt"), localPath(QStringLiteral("file one.txt")))).ok);
    EXPECT_EQ(test::readBytes(localPath(QStringLiteral("file one.txt"))), QByteArray("local version\n"));

    // A folder of that name blocks a download as well.
    ASSERT_TRUE(QDir(local_.path()).mkdir(QStringLiteral("写真.jpg")));
    EXPECT_FALSE(run(TransferRequest::get(QStringLiteral("写真.jpg"), localPath(QStringLiteral("写真.jpg")))).ok);

    // The name must match exactly: another case is another file here.
    ASSERT_TRUE(test::writeBytes(localPath(QStringLiteral("FILE ONE.TXT")), "upper\n"));
    ASSERT_TRUE(
        run(TransferRequest::put(localPath(QStringLiteral("FILE ONE.TXT")), QStringLiteral("FILE ONE.TXT"))).ok);
    EXPECT_EQ(test::readBytes(rootPath(QStringLiteral("FILE ONE.TXT"))), QByteArray("upper\n"));
    // What this session sent itself counts too, without another listing.
    EXPECT_FALSE(
        run(TransferRequest::put(localPath(QStringLiteral("FILE ONE.TXT")), QStringLiteral("FILE ONE.TXT"))).ok);

    EXPECT_FALSE(run(TransferRequest::put(localPath(QStringLiteral("nothing.txt")), QStringLiteral("nothing.txt"))).ok);
    EXPECT_FALSE(QFileInfo::exists(rootPath(QStringLiteral("nothing.txt"))));
    EXPECT_FALSE(run(TransferRequest::get(QStringLiteral("nothing.txt"), localPath(QStringLiteral("nothing.txt")))).ok);
    EXPECT_FALSE(QFileInfo::exists(localPath(QStringLiteral("nothing.txt"))));
    EXPECT_TRUE(partFiles(local_.path()).isEmpty());
}

TEST_F(CurlTransferTest, OnADosListingServerACaseVariantCountsAsTheSameFile)
{
    startServer({.dosListing = true});
    ASSERT_TRUE(test::writeBytes(rootPath(QStringLiteral("INDEX.HTML")), "old\n"));
    ASSERT_TRUE(test::writeBytes(localPath(QStringLiteral("index.html")), "new\n"));
    const TransferOutcome listed = run(TransferRequest::list());
    ASSERT_TRUE(listed.ok) << listed.reply.toStdString();
    EXPECT_EQ(shown(listed),
              (QStringList{QStringLiteral("a dir/"), QStringLiteral("sub/"), QStringLiteral(" lead.txt"),
                           QStringLiteral("file one.txt"), QStringLiteral("INDEX.HTML"), QStringLiteral("写真.jpg")}));
    const TransferOutcome outcome =
        run(TransferRequest::put(localPath(QStringLiteral("index.html")), QStringLiteral("index.html")));
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(QFileInfo::exists(rootPath(QStringLiteral("index.html"))));
    EXPECT_EQ(test::readBytes(rootPath(QStringLiteral("INDEX.HTML"))), QByteArray("old\n"));
}

TEST_F(CurlTransferTest, DownloadNamesNeverLeaveTheLocalFolder)
{
    startServer();
    QDir(local_.path()).mkdir(QStringLiteral("inner"));
    const QString inner = localPath(QStringLiteral("inner"));
    const QList<TransferRequest> hostile = {
        TransferRequest::get(QStringLiteral("../file one.txt"), inner + QStringLiteral("/../file one.txt")),
        TransferRequest::get(QStringLiteral("sub/in.txt"), inner + QStringLiteral("/sub/in.txt")),
        TransferRequest::get(QStringLiteral("sub/"), inner + QStringLiteral("/sub/")),
        TransferRequest::get(QStringLiteral("../"), inner + QStringLiteral("/../")),
        TransferRequest::get(QStringLiteral("."), inner + QStringLiteral("/.")),
        TransferRequest::get(QStringLiteral("in.txt"), inner + QStringLiteral("/..")),
        TransferRequest::get(QStringLiteral("a\r\nb"), inner + QStringLiteral("/a\r\nb")),
        TransferRequest::get(QStringLiteral("file one.txt"), QStringLiteral("relative.txt")),
    };
    for (const TransferRequest &r : hostile)
        EXPECT_FALSE(run(r).ok) << r.remote.toStdString();
    EXPECT_EQ(QDir(local_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("inner")});
    EXPECT_TRUE(QDir(inner).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST_F(CurlTransferTest, NamesThatAreNotUtf8TravelBackUnchanged)
{
    startServer({.rawFileNames = true});
    // "日本.txt" in code page 932, as an older Japanese server stores it.
    const QByteArray rawName("\x93\xfa\x96\x7b.txt");
    const QByteArray path = QFile::encodeName(root_.path()) + '/' + rawName;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "sjis\n", 5), 5);
    ::close(fd);

    EXPECT_TRUE(list().contains(QStringLiteral("日本.txt")));
    ASSERT_TRUE(run(TransferRequest::get(QStringLiteral("日本.txt"), localPath(QStringLiteral("日本.txt")))).ok);
    EXPECT_EQ(test::readBytes(localPath(QStringLiteral("日本.txt"))), QByteArray("sjis\n"));
    ASSERT_TRUE(run(TransferRequest::remove(QStringLiteral("日本.txt"))).ok);
    EXPECT_FALSE(QFile::exists(QFile::decodeName(path)));
}

TEST_F(CurlTransferTest, BusyRefusesWithoutDisturbingTheRunningRequest)
{
    startServer();
    QList<TransferOutcome> seen;
    QObject context;
    QObject::connect(transfer_.get(), &Transfer::finished, &context,
                     [&](const TransferOutcome &outcome) { seen.append(outcome); });
    transfer_->start(TransferRequest::list());
    transfer_->start(TransferRequest::cd(QStringLiteral("sub")));
    EXPECT_TRUE(seen.isEmpty()) << "the refusal must not arrive inside start()";
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen.size() >= 2; }, kWaitMs));
    QTest::qWait(200); // no third outcome may follow
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[0].failure, TransferOutcome::Failure::Refused);
    EXPECT_TRUE(seen[1].ok);
    EXPECT_EQ(shown(seen[1]), kRootListing) << "the refused CD did not run";
}

TEST_F(CurlTransferTest, AServerFullOfConnectionsSaysSoApartFromOtherRefusals)
{
    startServer({.maxConnections = 1});
    TransferOutcome outcome = run(TransferRequest::list());
    ASSERT_TRUE(outcome.ok) << outcome.reply.toStdString();
    EXPECT_FALSE(outcome.tooManyConnections);

    // The first session stays logged in, so a second one is one too many.
    CurlTransfer second;
    second.setConnection({server_.address(), kUser, kPassword});
    outcome = request(second, TransferRequest::list());
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.tooManyConnections) << outcome.reply.toStdString();

    // Any other refusal is no such thing (a server of its own, so that the
    // first session's going cannot race the log-in).
    test::FtpServer other;
    ASSERT_TRUE(other.start(root_.path(), kUser, kPassword)) << other.log().toStdString();
    CurlTransfer third;
    third.setConnection({other.address(), kUser, QStringLiteral("wrong")});
    outcome = request(third, TransferRequest::list());
    EXPECT_EQ(outcome.failure, TransferOutcome::Failure::Login);
    EXPECT_FALSE(outcome.tooManyConnections) << outcome.reply.toStdString();
}

TEST_F(CurlTransferTest, AFailedDownloadLeavesNoTemporaryFile)
{
    // The disk fills up half-way (a size limit stands in for it, as
    // permissions do not stop root).
    startServer();
    ASSERT_TRUE(test::writeBytes(rootPath(QStringLiteral("big.bin")), randomBytes(1024 * 1024, 4)));
    list();
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit lower = saved;
    lower.rlim_cur = 100 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &lower);
    const TransferOutcome outcome =
        run(TransferRequest::get(QStringLiteral("big.bin"), localPath(QStringLiteral("big.bin"))));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.failure, TransferOutcome::Failure::Local);
    EXPECT_FALSE(outcome.detail.isEmpty()) << "the system's reason";
    EXPECT_FALSE(QFileInfo::exists(localPath(QStringLiteral("big.bin"))));
    EXPECT_TRUE(partFiles(local_.path()).isEmpty()) << partFiles(local_.path()).join(u',').toStdString();
}

TEST_F(CurlTransferTest, ServerKilledMidTransferLeavesNoHalfFileOnEitherSide)
{
    startServer({.bytesPerSecond = 256 * 1024});
    ASSERT_TRUE(test::writeBytes(rootPath(QStringLiteral("slow.bin")), randomBytes(2 * 1024 * 1024, 3)));
    list();
    QObject context;
    QMetaObject::Connection killer =
        QObject::connect(transfer_.get(), &Transfer::progress, &context, [&](qint64 done, qint64) {
            if (done > 0)
                server_.kill();
        });
    TransferOutcome outcome =
        run(TransferRequest::get(QStringLiteral("slow.bin"), localPath(QStringLiteral("slow.bin"))));
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(QFileInfo::exists(localPath(QStringLiteral("slow.bin"))));
    EXPECT_TRUE(partFiles(local_.path()).isEmpty());
    // Still answering: the next request fails cleanly.
    EXPECT_FALSE(run(TransferRequest::list()).ok);
    QObject::disconnect(killer);

    // An upload stopped part-way: once the server can be asked again, the
    // half file goes.
    test::FtpServer again;
    ASSERT_TRUE(again.start(root_.path(), kUser, kPassword, {.bytesPerSecond = 256 * 1024}));
    transfer_->setConnection({again.address(), kUser, kPassword});
    ASSERT_TRUE(test::writeBytes(localPath(QStringLiteral("up.bin")), randomBytes(4 * 1024 * 1024, 5)));
    list();
    QSignalSpy started(transfer_.get(), &Transfer::progress);
    transfer_->start(TransferRequest::put(localPath(QStringLiteral("up.bin")), QStringLiteral("up.bin")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(rootPath(QStringLiteral("up.bin"))).size() > 0; }, kWaitMs));
    transfer_->cancel();
    QSignalSpy finished(transfer_.get(), &Transfer::finished);
    ASSERT_TRUE(finished.wait(kWaitMs));
    EXPECT_EQ(finished.first().first().value<TransferOutcome>().failure, TransferOutcome::Failure::Cancelled);
    EXPECT_TRUE(QFileInfo::exists(rootPath(QStringLiteral("up.bin"))));
    EXPECT_TRUE(run(TransferRequest::list()).ok);
    EXPECT_FALSE(QFileInfo::exists(rootPath(QStringLiteral("up.bin")))) << "the half upload is gone";
}

TEST_F(CurlTransferTest, ClosingReturnsAtOnceWhateverTheServerDoes)
{
    // Destroyed mid-download: stops at once, no half file.
    startServer({.bytesPerSecond = 128 * 1024});
    ASSERT_TRUE(test::writeBytes(rootPath(QStringLiteral("slow.bin")), randomBytes(4 * 1024 * 1024, 9)));
    QSignalSpy progress(transfer_.get(), &Transfer::progress);
    transfer_->start(TransferRequest::get(QStringLiteral("slow.bin"), localPath(QStringLiteral("slow.bin"))));
    ASSERT_TRUE(progress.wait(kWaitMs));
    QElapsedTimer clock;
    clock.start();
    transfer_.reset();
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_FALSE(QFileInfo::exists(localPath(QStringLiteral("slow.bin"))));
    EXPECT_TRUE(partFiles(local_.path()).isEmpty());

    // The server has gone silent: neither the goodbye of an idle session nor
    // a request waiting for a reply holds the closing up.
    for (bool waiting : {false, true}) {
        test::FtpServer silent;
        ASSERT_TRUE(silent.start(root_.path(), kUser, kPassword));
        auto transfer = std::make_unique<CurlTransfer>();
        transfer->setConnection({silent.address(), kUser, kPassword});
        ASSERT_TRUE(request(*transfer, TransferRequest::list()).ok);
        silent.freeze();
        if (waiting)
            transfer->start(TransferRequest::cd(QStringLiteral("sub")));
        clock.restart();
        transfer.reset();
        EXPECT_LT(clock.elapsed(), 2000) << (waiting ? "mid-request" : "idle");
    }
}

// Forwards connections to a server and, once frozen, stops passing anything
// on the connections it holds without closing them, as a router that forgot
// them would; new connections pass as before.
class FreezingProxy {
public:
    bool start(int serverPort)
    {
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process_.start(QStringLiteral(WEBLOOM_PYTHON),
                       {QStringLiteral("-c"), QString::fromLatin1(kScript), QString::number(serverPort)});
        if (!process_.waitForStarted(5000) || !process_.waitForReadyRead(10000))
            return false;
        port_ = process_.readLine().trimmed().toInt();
        return port_ > 0;
    }
    void freeze()
    {
        process_.write("freeze\n");
        process_.waitForBytesWritten(1000);
        process_.waitForReadyRead(5000);
        process_.readAll();
    }
    int port() const { return port_; }
    ~FreezingProxy()
    {
        process_.kill();
        process_.waitForFinished(5000);
    }

private:
    static constexpr const char *kScript = R"(
import asyncio, sys
frozen = []
async def pipe(reader, writer, epoch):
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            while epoch in frozen:
                await asyncio.sleep(3600)
            writer.write(data)
            await writer.drain()
    except Exception:
        pass
epoch = [0]
async def handle(reader, writer):
    up_reader, up_writer = await asyncio.open_connection('127.0.0.1', int(sys.argv[1]))
    mine = epoch[0]
    asyncio.ensure_future(pipe(reader, up_writer, mine))
    asyncio.ensure_future(pipe(up_reader, writer, mine))
async def commands():
    loop = asyncio.get_running_loop()
    while True:
        line = await loop.run_in_executor(None, sys.stdin.readline)
        if not line:
            return
        frozen.append(epoch[0])
        epoch[0] += 1
        print('frozen', flush=True)
async def main():
    server = await asyncio.start_server(handle, '127.0.0.1', 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await commands()
asyncio.run(main())
)";
    QProcess process_;
    int port_ = 0;
};

TEST_F(CurlTransferTest, AKeptConnectionThatDiedSilentlyIsReplacedOnce)
{
    startServer();
    FreezingProxy proxy;
    ASSERT_TRUE(proxy.start(server_.port()));
    CurlOptions options;
    options.responseTimeoutSeconds = 2;
    CurlTransfer transfer(options);
    transfer.setConnection({QStringLiteral("ftp://127.0.0.1:%1").arg(proxy.port()), kUser, kPassword});
    ASSERT_TRUE(request(transfer, TransferRequest::cd(QStringLiteral("sub"))).ok);
    proxy.freeze();
    QElapsedTimer clock;
    clock.start();
    const TransferOutcome outcome = request(transfer, TransferRequest::mkdir(QStringLiteral("later")));
    EXPECT_TRUE(outcome.ok) << outcome.reply.toStdString();
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(QFileInfo(rootPath(QStringLiteral("sub/later"))).isDir()) << "the folder was kept";
}

TEST_F(CurlTransferTest, SessionHungUpForIdlingContinuesInTheSameDirectory)
{
    startServer({.idleTimeout = 1});
    ASSERT_TRUE(run(TransferRequest::cd(QStringLiteral("sub"))).ok);
    EXPECT_EQ(list(), QStringList{QStringLiteral("in.txt")});
    bool hungUp = false;
    for (QDeadlineTimer deadline(8000); !hungUp && !deadline.hasExpired(); QTest::qWait(50))
        hungUp = server_.log().contains(QLatin1String("FTP session closed"));
    ASSERT_TRUE(hungUp) << server_.log().toStdString();
    const TransferOutcome outcome = run(TransferRequest::mkdir(QStringLiteral("later")));
    ASSERT_TRUE(outcome.ok) << outcome.reply.toStdString();
    EXPECT_TRUE(QFileInfo(rootPath(QStringLiteral("sub/later"))).isDir());
}

TEST_F(CurlTransferTest, AnEndlessListingEndsWithAClearError)
{
    startServer({.endlessListing = true});
    const TransferOutcome outcome = run(TransferRequest::list());
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.detail.contains(QStringLiteral("64 MiB"))) << outcome.detail.toStdString();
}

TEST_F(CurlTransferTest, FilesOfABatchGoUpWithoutAListingBetweenThem)
{
    startServer();
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        names.append(QStringLiteral("page%1.html").arg(i));
        ASSERT_TRUE(test::writeBytes(localPath(names.last()), "<html>\r\n"));
    }
    list();
    for (const QString &name : names)
        ASSERT_TRUE(run(TransferRequest::put(localPath(name), name)).ok);
    const QStringList commands = server_.commands();
    const qsizetype first = commands.indexOf(QStringLiteral("STOR page0.html"));
    ASSERT_GE(first, 0) << commands.join(u'\n').toStdString();
    // Each further file costs one passive-mode command and its STOR, as with
    // curl's own multi-file upload; nothing lists the folder again.
    EXPECT_EQ(commands.mid(first + 1), (QStringList{QStringLiteral("EPSV"), QStringLiteral("STOR page1.html"),
                                                    QStringLiteral("EPSV"), QStringLiteral("STOR page2.html")}));
}

TEST_F(CurlTransferTest, CloseEndsTheSessionAndTheNextRequestStartsAfresh)
{
    startServer();
    ASSERT_TRUE(run(TransferRequest::cd(QStringLiteral("sub"))).ok);
    EXPECT_TRUE(run(TransferRequest::close()).ok);
    bool closed = false;
    for (QDeadlineTimer deadline(5000); !closed && !deadline.hasExpired(); QTest::qWait(20))
        closed = server_.log().contains(QLatin1String("FTP session closed"));
    EXPECT_TRUE(closed) << server_.log().toStdString();
    // A new session starts in the log-in folder again.
    EXPECT_EQ(list(), kRootListing);
    // Closing without a session is no error.
    EXPECT_TRUE(run(TransferRequest::close()).ok);
    EXPECT_TRUE(run(TransferRequest::close()).ok);
}

} // namespace
} // namespace webloom
