// The curl transfer against a real FTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include "support/golden.h"
#include "upload/curl_transfer.h"
#include "upload/ftp_server.h"

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

// Starts one request and waits for its final state; checks the parts of the
// contract every request must keep. Returns -1 when no state came.
int request(Transfer &transfer, const QString &command)
{
    QSignalSpy spy(&transfer, &Transfer::stateChanged);
    transfer.execute(transfer.url(), command);
    EXPECT_TRUE(transfer.busy()) << command.toStdString();
    EXPECT_EQ(spy.count(), 0) << "state delivered inside execute(): " << command.toStdString();
    if (!spy.wait(kWaitMs))
        return -1;
    EXPECT_FALSE(transfer.busy()) << command.toStdString();
    EXPECT_EQ(spy.count(), 1) << command.toStdString();
    return spy.first().first().toInt();
}

QByteArray drain(Transfer &transfer, int size = Transfer::kChunkSize)
{
    QByteArray all;
    for (QByteArray chunk = transfer.nextChunk(size, Transfer::ChunkKind::Text); !chunk.isEmpty();
         chunk = transfer.nextChunk(size, Transfer::ChunkKind::Text))
        all += chunk;
    return all;
}

QString listing(Transfer &transfer)
{
    EXPECT_EQ(request(transfer, QStringLiteral("DIR")), Transfer::kStateCompleted)
        << transfer.lastReply().toStdString();
    return QString::fromUtf8(drain(transfer));
}

QStringList partFiles(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".webloom-*")}, QDir::Files | QDir::Hidden);
}

TEST(TransferCommand, SplitsCommandTextsAsTheSessionSendsThem)
{
    using Kind = TransferCommand::Kind;
    struct Case {
        const char16_t *text;
        std::optional<Kind> kind;
        const char16_t *first;
        const char16_t *second;
    };
    const Case cases[] = {
        {u"DIR", Kind::Dir, u"", u""},
        {u"dir", Kind::Dir, u"", u""},
        {u"CLOSE", Kind::Close, u"", u""},
        {u"CD ..", Kind::Cd, u"..", u""},
        {u"CD  leading", Kind::Cd, u" leading", u""},
        {u"MKDIR new dir", Kind::Mkdir, u"new dir", u""},
        {u"RMDIR img", Kind::Rmdir, u"img", u""},
        {u"DELETE img/", Kind::Delete, u"img/", u""},
        // The session sends the same name twice: split in the middle.
        {u"PUT a b.html a b.html", Kind::Put, u"a b.html", u"a b.html"},
        {u"PUT  x  x", Kind::Put, u" x", u" x"},
        {u"GET 写真 1.jpg 写真 1.jpg", Kind::Get, u"写真 1.jpg", u"写真 1.jpg"},
        // Otherwise at the first space; one name stands for both.
        {u"PUT a b", Kind::Put, u"a", u"b"},
        {u"GET x y z", Kind::Get, u"x", u"y z"},
        {u"PUT one.html", Kind::Put, u"one.html", u"one.html"},
        // Refused.
        {u"DIR x", std::nullopt, u"", u""},
        {u"CD", std::nullopt, u"", u""},
        {u"CD ", std::nullopt, u"", u""},
        {u"PUT ", std::nullopt, u"", u""},
        {u"PUT a ", std::nullopt, u"", u""},
        {u"LIST", std::nullopt, u"", u""},
        {u"", std::nullopt, u"", u""},
    };
    for (const Case &c : cases) {
        const QString text = QString::fromUtf16(c.text);
        const std::optional<TransferCommand> parsed = parseTransferCommand(text);
        ASSERT_EQ(parsed.has_value(), c.kind.has_value()) << text.toStdString();
        if (!parsed)
            continue;
        EXPECT_EQ(parsed->kind, *c.kind) << text.toStdString();
        EXPECT_EQ(parsed->first, QString::fromUtf16(c.first)) << text.toStdString();
        EXPECT_EQ(parsed->second, QString::fromUtf16(c.second)) << text.toStdString();
    }
}

TEST(CurlTransferAddress, HostFieldGivesHostPortAndUser)
{
    struct Case {
        const char *host;
        const char *user;
        const char *url; // nullptr: not an address
    };
    const Case cases[] = {
        {"ftp.example.jp", "taro", "ftp://taro@ftp.example.jp:21"},
        {"  ftp.example.jp ", "taro", "ftp://taro@ftp.example.jp:21"},
        {"ftp.example.jp:2121", "taro", "ftp://taro@ftp.example.jp:2121"},
        {"ftp://ftp.example.jp/", "taro", "ftp://taro@ftp.example.jp:21"},
        {"FTP://ftp.example.jp:990", "taro", "ftp://taro@ftp.example.jp:990"},
        {"[2001:db8::1]:2121", "taro", "ftp://taro@[2001:db8::1]:2121"},
        {"2001:db8::1", "taro", "ftp://taro@[2001:db8::1]:21"},
        {"ftp.example.jp", "taro@example.jp", "ftp://taro%40example.jp@ftp.example.jp:21"},
        {"ftp.example.jp", "", "ftp://ftp.example.jp:21"},
        {"", "taro", nullptr},
        {"ftp.example.jp:", "taro", nullptr},
        {"ftp.example.jp:0", "taro", nullptr},
        {"ftp.example.jp:65536", "taro", nullptr},
        {"ftp.example.jp:21a", "taro", nullptr},
        {"ftp.example.jp:+21", "taro", nullptr},
        {"[2001:db8::1", "taro", nullptr},
        {"ftp example jp", "taro", nullptr},
    };
    for (const Case &c : cases) {
        CurlTransfer transfer;
        transfer.setHost(QString::fromUtf8(c.host));
        transfer.setUser(QString::fromUtf8(c.user));
        EXPECT_EQ(CurlTransfer::isValidHostField(transfer.host()), c.url != nullptr) << c.host;
        if (c.url)
            EXPECT_EQ(transfer.url().toStdString(), c.url) << c.host;
        else
            EXPECT_EQ(transfer.url().toStdString(), "ftp:") << c.host;
    }
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
        transfer_.setUser(kUser);
        transfer_.setPassword(kPassword);
        transfer_.setLocalFolder(local_.path());
    }

    void startServer(const test::FtpServerOptions &options = {})
    {
        ASSERT_TRUE(server_.start(root_.path(), kUser, kPassword, options)) << server_.log().toStdString();
        transfer_.setHost(server_.address());
    }

    QString rootPath(const QString &name) const { return QDir(root_.path()).filePath(name); }
    QString localPath(const QString &name) const { return QDir(local_.path()).filePath(name); }

    QTemporaryDir root_;
    QTemporaryDir local_;
    test::FtpServer server_;
    CurlTransfer transfer_;
};

const QString kRootListing = QStringLiteral("a dir/\r\nsub/\r\n lead.txt\r\nfile one.txt\r\n写真.jpg\r\n\r\n");

TEST_F(CurlTransferTest, WrongPasswordFailsTheFirstListing)
{
    startServer();
    transfer_.setPassword(QStringLiteral("wrong"));
    EXPECT_EQ(request(transfer_, QStringLiteral("DIR")), Transfer::kStateError);
    EXPECT_TRUE(transfer_.lastReply().startsWith(QLatin1String("530"))) << transfer_.lastReply().toStdString();
    EXPECT_TRUE(transfer_.nextChunk(1024, Transfer::ChunkKind::Text).isEmpty());
}

TEST_F(CurlTransferTest, AddressesThatReachNoServerFail)
{
    transfer_.setHost(QStringLiteral("127.0.0.1:70000"));
    EXPECT_EQ(request(transfer_, QStringLiteral("DIR")), Transfer::kStateError);
    EXPECT_EQ(transfer_.lastReply(), QStringLiteral("アドレスが正しくありません"));

    // A port nobody listens on: curl's own account, as no server replied.
    test::FtpServer closed;
    ASSERT_TRUE(closed.start(root_.path(), kUser, kPassword)) << closed.log().toStdString();
    transfer_.setHost(closed.address());
    closed.kill();
    EXPECT_EQ(request(transfer_, QStringLiteral("DIR")), Transfer::kStateError);
    EXPECT_FALSE(transfer_.lastReply().isEmpty());
}

TEST_F(CurlTransferTest, ListsFoldersFirstThenFilesWithSpacesAndJapaneseNames)
{
    startServer();
    EXPECT_EQ(listing(transfer_), kRootListing);
    EXPECT_TRUE(transfer_.lastReply().startsWith(QLatin1String("226"))) << transfer_.lastReply().toStdString();

    // Small text chunks never cut a character in two.
    ASSERT_EQ(request(transfer_, QStringLiteral("DIR")), Transfer::kStateCompleted);
    QByteArray joined;
    for (QByteArray chunk = transfer_.nextChunk(3, Transfer::ChunkKind::Text); !chunk.isEmpty();
         chunk = transfer_.nextChunk(3, Transfer::ChunkKind::Text)) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8(chunk);
        EXPECT_FALSE(utf8.hasError()) << chunk.toHex().toStdString();
        EXPECT_LE(text.size(), 3);
        joined += chunk;
    }
    EXPECT_EQ(QString::fromUtf8(joined), kRootListing);
}

TEST_F(CurlTransferTest, FallsBackToListWhenTheServerHasNoMlsd)
{
    startServer({.withoutMlsd = true});
    EXPECT_EQ(listing(transfer_), kRootListing);
    ASSERT_EQ(request(transfer_, QStringLiteral("CD sub")), Transfer::kStateCompleted);
    EXPECT_EQ(listing(transfer_), QStringLiteral("in.txt\r\n\r\n"));
}

TEST_F(CurlTransferTest, ChangesDirectoryInOutAndNotIntoAMissingOne)
{
    startServer();
    ASSERT_EQ(request(transfer_, QStringLiteral("CD a dir")), Transfer::kStateCompleted);
    EXPECT_EQ(listing(transfer_), QStringLiteral("\r\n"));
    ASSERT_EQ(request(transfer_, QStringLiteral("CD ..")), Transfer::kStateCompleted);
    EXPECT_EQ(listing(transfer_), kRootListing);

    ASSERT_EQ(request(transfer_, QStringLiteral("CD sub")), Transfer::kStateCompleted);
    EXPECT_EQ(request(transfer_, QStringLiteral("CD missing")), Transfer::kStateError);
    EXPECT_TRUE(transfer_.lastReply().startsWith(QLatin1String("550"))) << transfer_.lastReply().toStdString();
    // A file is no directory either; the session stays where it was.
    EXPECT_EQ(request(transfer_, QStringLiteral("CD in.txt")), Transfer::kStateError);
    EXPECT_EQ(listing(transfer_), QStringLiteral("in.txt\r\n\r\n"));

    // Going up from the top stays at the top.
    ASSERT_EQ(request(transfer_, QStringLiteral("CD ..")), Transfer::kStateCompleted);
    ASSERT_EQ(request(transfer_, QStringLiteral("CD ..")), Transfer::kStateCompleted);
    EXPECT_EQ(listing(transfer_), kRootListing);
}

TEST_F(CurlTransferTest, MakesRemovesAndDeletesInTheCurrentDirectory)
{
    startServer();
    ASSERT_EQ(request(transfer_, QStringLiteral("CD sub")), Transfer::kStateCompleted);
    ASSERT_EQ(request(transfer_, QStringLiteral("MKDIR new dir")), Transfer::kStateCompleted);
    EXPECT_TRUE(QFileInfo(rootPath(QStringLiteral("sub/new dir"))).isDir());
    EXPECT_FALSE(QFileInfo::exists(rootPath(QStringLiteral("new dir"))));
    EXPECT_EQ(listing(transfer_), QStringLiteral("new dir/\r\nin.txt\r\n\r\n"));

    EXPECT_EQ(request(transfer_, QStringLiteral("MKDIR new dir")), Transfer::kStateError);
    EXPECT_TRUE(transfer_.lastReply().startsWith(QLatin1String("550"))) << transfer_.lastReply().toStdString();

    ASSERT_TRUE(test::writeBytes(rootPath(QStringLiteral("sub/new dir/keep.txt")), "x"));
    EXPECT_EQ(request(transfer_, QStringLiteral("RMDIR new dir")), Transfer::kStateError);
    ASSERT_TRUE(QFile::remove(rootPath(QStringLiteral("sub/new dir/keep.txt"))));
    ASSERT_EQ(request(transfer_, QStringLiteral("RMDIR new dir")), Transfer::kStateCompleted);
    EXPECT_FALSE(QFileInfo::exists(rootPath(QStringLiteral("sub/new dir"))));

    ASSERT_EQ(request(transfer_, QStringLiteral("DELETE in.txt")), Transfer::kStateCompleted);
    EXPECT_FALSE(QFileInfo::exists(rootPath(QStringLiteral("sub/in.txt"))));
    EXPECT_EQ(request(transfer_, QStringLiteral("DELETE in.txt")), Transfer::kStateError);
    // The refusals above left the connection usable.
    EXPECT_EQ(listing(transfer_), QStringLiteral("\r\n"));
}

TEST_F(CurlTransferTest, PutAndGetMoveBinaryFilesUnchanged)
{
    startServer();
    const QByteArray content = randomBytes(3 * 1024 * 1024, 7) + QByteArray("\r\n\n\r\0\x1a", 6);
    ASSERT_TRUE(test::writeBytes(localPath(QStringLiteral("big file.bin")), content));
    ASSERT_EQ(request(transfer_, QStringLiteral("CD sub")), Transfer::kStateCompleted);

    QSignalSpy progress(&transfer_, &Transfer::progress);
    ASSERT_EQ(request(transfer_, QStringLiteral("PUT big file.bin big file.bin")), Transfer::kStateCompleted)
        << transfer_.lastReply().toStdString();
    EXPECT_TRUE(test::sameBytes(content, test::readBytes(rootPath(QStringLiteral("sub/big file.bin")))));
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last().at(0).toLongLong(), content.size());
    EXPECT_EQ(progress.last().at(1).toLongLong(), content.size());

    ASSERT_TRUE(QFile::rename(localPath(QStringLiteral("big file.bin")), localPath(QStringLiteral("sent.bin"))));
    listing(transfer_); // the session always lists before it fetches
    progress.clear();
    ASSERT_EQ(request(transfer_, QStringLiteral("GET big file.bin big file.bin")), Transfer::kStateCompleted)
        << transfer_.lastReply().toStdString();
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last().at(0).toLongLong(), content.size());
    EXPECT_EQ(progress.last().at(1).toLongLong(), content.size()) << "size known from the listing";
    EXPECT_TRUE(test::sameBytes(content, test::readBytes(localPath(QStringLiteral("big file.bin")))));
    EXPECT_TRUE(transfer_.nextChunk(1024, Transfer::ChunkKind::Bytes).isEmpty()) << "GET stores the file itself";
    EXPECT_TRUE(partFiles(local_.path()).isEmpty());
}

TEST_F(CurlTransferTest, NeverReplacesAnExistingTarget)
{
    startServer();
    ASSERT_TRUE(test::writeBytes(localPath(QStringLiteral("file one.txt")), "local version\n"));
    EXPECT_EQ(request(transfer_, QStringLiteral("PUT file one.txt file one.txt")), Transfer::kStateError);
    EXPECT_EQ(test::readBytes(rootPath(QStringLiteral("file one.txt"))), QByteArray("one\n"));
    EXPECT_EQ(request(transfer_, QStringLiteral("GET file one.txt file one.txt")), Transfer::kStateError);
    EXPECT_EQ(test::readBytes(localPath(QStringLiteral("file one.txt"))), QByteArray("local version\n"));

    // A folder of that name blocks a download as well.
    ASSERT_TRUE(QDir(local_.path()).mkdir(QStringLiteral("写真.jpg")));
    EXPECT_EQ(request(transfer_, QStringLiteral("GET 写真.jpg 写真.jpg")), Transfer::kStateError);

    // The name must match exactly: another case is another file.
    ASSERT_TRUE(test::writeBytes(localPath(QStringLiteral("FILE ONE.TXT")), "upper\n"));
    ASSERT_EQ(request(transfer_, QStringLiteral("PUT FILE ONE.TXT FILE ONE.TXT")), Transfer::kStateCompleted);
    EXPECT_EQ(test::readBytes(rootPath(QStringLiteral("FILE ONE.TXT"))), QByteArray("upper\n"));

    EXPECT_EQ(request(transfer_, QStringLiteral("PUT nothing.txt nothing.txt")), Transfer::kStateError);
    EXPECT_FALSE(QFileInfo::exists(rootPath(QStringLiteral("nothing.txt"))));
    EXPECT_EQ(request(transfer_, QStringLiteral("GET nothing.txt nothing.txt")), Transfer::kStateError);
    EXPECT_FALSE(QFileInfo::exists(localPath(QStringLiteral("nothing.txt"))));
    EXPECT_TRUE(partFiles(local_.path()).isEmpty());
}

TEST_F(CurlTransferTest, DownloadNamesNeverLeaveTheLocalFolder)
{
    startServer();
    QDir(local_.path()).mkdir(QStringLiteral("inner"));
    transfer_.setLocalFolder(localPath(QStringLiteral("inner")));
    const QStringList hostile = {
        QStringLiteral("GET ../file one.txt ../file one.txt"),
        QStringLiteral("GET sub/in.txt sub/in.txt"),
        QStringLiteral("GET sub/ sub/"),
        QStringLiteral("GET ../ ../"),
        QStringLiteral("GET . ."),
        QStringLiteral("GET in.txt ../in.txt"),
        QStringLiteral("GET a\r\nb a\r\nb"),
    };
    for (const QString &command : hostile)
        EXPECT_EQ(request(transfer_, command), Transfer::kStateError) << command.toStdString();
    EXPECT_EQ(QDir(local_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("inner")});
    EXPECT_TRUE(
        QDir(localPath(QStringLiteral("inner"))).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
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

    EXPECT_TRUE(listing(transfer_).contains(QStringLiteral("\r\n日本.txt\r\n")));
    ASSERT_EQ(request(transfer_, QStringLiteral("GET 日本.txt 日本.txt")), Transfer::kStateCompleted)
        << transfer_.lastReply().toStdString();
    EXPECT_EQ(test::readBytes(localPath(QStringLiteral("日本.txt"))), QByteArray("sjis\n"));
    ASSERT_EQ(request(transfer_, QStringLiteral("DELETE 日本.txt")), Transfer::kStateCompleted);
    EXPECT_FALSE(QFile::exists(QFile::decodeName(path)));
}

TEST_F(CurlTransferTest, BusyRefusesWithoutDisturbingTheRunningRequest)
{
    startServer();
    struct Seen {
        int state;
        bool busy;
    };
    QList<Seen> seen;
    QObject context;
    QObject::connect(&transfer_, &Transfer::stateChanged, &context, [&](int state) {
        seen.append({state, transfer_.busy()});
    });

    transfer_.execute(transfer_.url(), QStringLiteral("DIR"));
    transfer_.execute(transfer_.url(), QStringLiteral("CD sub"));
    EXPECT_TRUE(seen.isEmpty()) << "the refusal must not arrive inside execute()";
    EXPECT_TRUE(transfer_.busy());
    for (QDeadlineTimer deadline(kWaitMs); seen.size() < 2 && !deadline.hasExpired();)
        QTest::qWait(10);
    QTest::qWait(200); // no third notification may follow
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[0].state, Transfer::kStateError);
    EXPECT_TRUE(seen[0].busy) << "the running DIR is not over yet";
    EXPECT_EQ(seen[1].state, Transfer::kStateCompleted);
    EXPECT_FALSE(seen[1].busy) << "idle when the final state arrives";
    EXPECT_EQ(QString::fromUtf8(drain(transfer_)), kRootListing) << "the refused CD did not run";
}

TEST_F(CurlTransferTest, NextRequestMayStartFromInsideTheNotification)
{
    startServer();
    QList<int> states;
    QString listed;
    QObject context;
    QObject::connect(&transfer_, &Transfer::stateChanged, &context, [&](int state) {
        states.append(state);
        if (states.size() == 1) {
            transfer_.execute(transfer_.url(), QStringLiteral("CD sub"));
            // The listing is still there to be read after the next request
            // has started.
            listed = QString::fromUtf8(drain(transfer_));
        }
    });
    transfer_.execute(transfer_.url(), QStringLiteral("DIR"));
    for (QDeadlineTimer deadline(kWaitMs); states.size() < 2 && !deadline.hasExpired();)
        QTest::qWait(10);
    EXPECT_EQ(states, (QList<int>{Transfer::kStateCompleted, Transfer::kStateCompleted}));
    EXPECT_EQ(listed, kRootListing);
    EXPECT_EQ(listing(transfer_), QStringLiteral("in.txt\r\n\r\n"));
}

TEST_F(CurlTransferTest, ServerKilledMidDownloadLeavesNoHalfFile)
{
    startServer({.bytesPerSecond = 256 * 1024});
    ASSERT_TRUE(test::writeBytes(rootPath(QStringLiteral("slow.bin")), randomBytes(2 * 1024 * 1024, 3)));
    QSignalSpy state(&transfer_, &Transfer::stateChanged);
    QObject context;
    QObject::connect(&transfer_, &Transfer::progress, &context, [&](qint64 done, qint64) {
        if (done > 0)
            server_.kill();
    });
    transfer_.execute(transfer_.url(), QStringLiteral("GET slow.bin slow.bin"));
    ASSERT_TRUE(state.wait(kWaitMs));
    EXPECT_EQ(state.first().first().toInt(), Transfer::kStateError);
    EXPECT_FALSE(transfer_.busy());
    EXPECT_FALSE(QFileInfo::exists(localPath(QStringLiteral("slow.bin"))));
    EXPECT_TRUE(partFiles(local_.path()).isEmpty());
    // Still answering: the next request fails cleanly.
    EXPECT_EQ(request(transfer_, QStringLiteral("DIR")), Transfer::kStateError);
}

TEST_F(CurlTransferTest, DestroyedMidDownloadStopsAtOnceAndLeavesNoHalfFile)
{
    startServer({.bytesPerSecond = 128 * 1024});
    ASSERT_TRUE(test::writeBytes(rootPath(QStringLiteral("slow.bin")), randomBytes(4 * 1024 * 1024, 9)));
    auto transfer = std::make_unique<CurlTransfer>();
    transfer->setHost(server_.address());
    transfer->setUser(kUser);
    transfer->setPassword(kPassword);
    transfer->setLocalFolder(local_.path());
    QSignalSpy progress(transfer.get(), &Transfer::progress);
    transfer->execute(transfer->url(), QStringLiteral("GET slow.bin slow.bin"));
    ASSERT_TRUE(progress.wait(kWaitMs));
    QElapsedTimer clock;
    clock.start();
    transfer.reset(); // the window closes while the download runs
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(QFileInfo::exists(localPath(QStringLiteral("slow.bin"))));
    EXPECT_TRUE(partFiles(local_.path()).isEmpty());
}

TEST_F(CurlTransferTest, ServerKilledMidUploadReportsAnError)
{
    startServer({.bytesPerSecond = 256 * 1024});
    ASSERT_TRUE(test::writeBytes(localPath(QStringLiteral("slow.bin")), randomBytes(4 * 1024 * 1024, 5)));
    QSignalSpy state(&transfer_, &Transfer::stateChanged);
    QObject context;
    QObject::connect(&transfer_, &Transfer::progress, &context, [&](qint64 done, qint64) {
        if (done > 0)
            server_.kill();
    });
    transfer_.execute(transfer_.url(), QStringLiteral("PUT slow.bin slow.bin"));
    ASSERT_TRUE(state.wait(kWaitMs));
    EXPECT_EQ(state.first().first().toInt(), Transfer::kStateError);
    EXPECT_FALSE(transfer_.lastReply().isEmpty());
}

TEST_F(CurlTransferTest, SessionHungUpForIdlingContinuesInTheSameDirectory)
{
    startServer({.idleTimeout = 1});
    ASSERT_EQ(request(transfer_, QStringLiteral("CD sub")), Transfer::kStateCompleted);
    // (This server starts counting idle time only after a data transfer.)
    EXPECT_EQ(listing(transfer_), QStringLiteral("in.txt\r\n\r\n"));
    bool hungUp = false;
    for (QDeadlineTimer deadline(8000); !hungUp && !deadline.hasExpired(); QTest::qWait(50))
        hungUp = server_.log().contains(QLatin1String("FTP session closed"));
    ASSERT_TRUE(hungUp) << server_.log().toStdString();
    ASSERT_EQ(request(transfer_, QStringLiteral("MKDIR later")), Transfer::kStateCompleted)
        << transfer_.lastReply().toStdString();
    EXPECT_TRUE(QFileInfo(rootPath(QStringLiteral("sub/later"))).isDir());
    EXPECT_EQ(listing(transfer_), QStringLiteral("later/\r\nin.txt\r\n\r\n"));
}

TEST_F(CurlTransferTest, CloseEndsTheSessionAndTheNextRequestStartsAfresh)
{
    startServer();
    ASSERT_EQ(request(transfer_, QStringLiteral("CD sub")), Transfer::kStateCompleted);
    EXPECT_EQ(request(transfer_, QStringLiteral("CLOSE")), Transfer::kStateCompleted);
    bool closed = false;
    for (QDeadlineTimer deadline(5000); !closed && !deadline.hasExpired(); QTest::qWait(20))
        closed = server_.log().contains(QLatin1String("FTP session closed"));
    EXPECT_TRUE(closed) << server_.log().toStdString();
    // A new session starts in the log-in folder again.
    EXPECT_EQ(listing(transfer_), kRootListing);
    // Closing without a session is no error.
    EXPECT_EQ(request(transfer_, QStringLiteral("CLOSE")), Transfer::kStateCompleted);
    EXPECT_EQ(request(transfer_, QStringLiteral("CLOSE")), Transfer::kStateCompleted);
}

TEST_F(CurlTransferTest, UnknownCommandsEndWithAnError)
{
    startServer();
    for (const char *command : {"LIST", "CD", "PUT", "DIR now", ""})
        EXPECT_EQ(request(transfer_, QString::fromLatin1(command)), Transfer::kStateError) << command;
}

} // namespace
} // namespace webloom
