#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <initializer_list>
#include <iterator>
#include <ostream>

#include "fake_ftp_view.h"
#include "fake_transfer.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"
#include "upload/ftp_session.h"

static void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

using namespace webloom;
using webloom::test::FakeFtpView;
using webloom::test::FakeTransfer;
using webloom::test::ScriptedPrompter;

namespace {

QStringList names(std::initializer_list<QStringView> items)
{
    QStringList out;
    for (QStringView item : items)
        out.append(item.toString());
    return out;
}

const QString kOverwriteTitle = QStringLiteral("ファイル削除確認");

class FtpSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(local.isValid());
        view.dir1 = local.path();
        savedCwd = QDir::currentPath();
    }
    void TearDown() override
    {
        QDir::setCurrent(savedCwd);
        EXPECT_EQ(transfer.refused, QStringList()) << "a request was started while another ran";
        EXPECT_EQ(prompter.unexpected(), 0);
        EXPECT_EQ(transfer.oddChunkSizes, 0);
    }

    // Runs the event loop until the transfer has finished everything queued.
    void settle()
    {
        for (int round = 0; round < 20; ++round) {
            if (!QTest::qWaitFor([this] { return !transfer.busy(); }, 5000))
                break;
            QCoreApplication::processEvents();
            if (!transfer.busy())
                return;
        }
        ADD_FAILURE() << "the transfer never went idle";
    }

    // Connects and waits for the first listing; the records start afresh.
    void connectWith(const QByteArray &listing)
    {
        transfer.listing = listing;
        session.connectOrDisconnect();
        settle();
        transfer.commands.clear();
        prompter.clear();
    }

    void touch(const QString &name, const QByteArray &bytes = "old")
    {
        ASSERT_TRUE(test::writeBytes(local.filePath(name), bytes));
    }

    QTemporaryDir local;
    QString savedCwd;
    FakeFtpView view;
    FakeTransfer transfer;
    ScriptedPrompter prompter;
    FtpSession session{view, transfer, prompter};
};

TEST_F(FtpSessionTest, ListingShapes)
{
    struct Case {
        const char *listing;
        QStringList entries;
    } cases[] = {
        {"\r\n", names({u"../"})},
        {"", names({u"../"})},
        {"./\r\n../\r\na.html\r\nimg/\r\n\r\n", names({u"../", u"a.html", u"img/"})},
        {"a.html\r\nimg/\r\n\r\n", names({u"../", u"a.html", u"img/"})},
        {"a.html\r\n../\r\n\r\n", names({u"a.html", u"../"})},
        {"a.html\r\na.html\r\n./\r\n\r\n", names({u"../", u"a.html", u"a.html"})},
        {" x \r\n..\r\n\r\n", names({u"../", u" x ", u".."})},
        // The listing ends at its first empty line, and a line needs its CR.
        {"a\r\n\r\nb\r\n\r\n", names({u"../", u"a"})},
        {"a\r\nb", names({u"../", u"a"})},
    };
    for (const Case &c : cases) {
        view.lstDir = names({u"stale"});
        transfer.listing = c.listing;
        ASSERT_TRUE(session.hstref());
        EXPECT_EQ(view.lstDir, c.entries) << c.listing;
        EXPECT_TRUE(view.lstDirEnabled);
    }
    EXPECT_EQ(transfer.commands.size(), int(std::size(cases)));
    EXPECT_TRUE(prompter.shown().empty());

    // Codes other than 11 and 12 are not the end of a request.
    emit transfer.stateChanged(8);
    EXPECT_EQ(view.lstDir, names({u"../", u"a"}));
}

TEST_F(FtpSessionTest, ListingSplitAcrossChunksKeepsEveryCharacter)
{
    // "写" is three bytes in UTF-8; padding puts one across the 1024 and one
    // across the 2048 boundary.
    QByteArray listing;
    QStringList expected = names({u"../"});
    const QString photo = QStringLiteral("写真.jpg");
    for (int pad : {1020, 1011}) {
        const QString filler(pad, QLatin1Char('x'));
        listing += filler.toUtf8() + "\r\n" + photo.toUtf8() + "\r\n";
        expected << filler << photo;
    }
    listing += "\r\n";
    ASSERT_EQ(listing.indexOf(photo.toUtf8()), 1022);
    ASSERT_EQ(listing.indexOf(photo.toUtf8(), 1100), 2047);

    connectWith(listing);
    EXPECT_EQ(view.lstDir, expected);
    EXPECT_GE(transfer.chunkKinds.size(), 4);
    EXPECT_FALSE(transfer.chunkKinds.contains(Transfer::ChunkKind::Bytes));
}

TEST_F(FtpSessionTest, ConnectPassesFieldsAsTypedAndDisconnectKeepsTheList)
{
    view.address = QStringLiteral("ftp.example.jp");
    view.user = QStringLiteral(" nekoneko");
    view.password = QString();
    bool listDisabledAtDir = false;
    transfer.onExecute = [&](const QString &) { listDisabledAtDir = !view.lstDirEnabled && !view.command1Enabled; };
    transfer.listing = "a.html\r\n\r\n";
    session.connectOrDisconnect();

    EXPECT_EQ(transfer.host(), QStringLiteral("ftp.example.jp"));
    EXPECT_EQ(transfer.user(), QStringLiteral(" nekoneko"));
    EXPECT_EQ(transfer.password(), QString());
    EXPECT_TRUE(listDisabledAtDir);
    EXPECT_EQ(view.caption, QStringLiteral("切　断"));
    EXPECT_TRUE(session.connected());
    EXPECT_TRUE(view.command1Enabled);
    EXPECT_FALSE(view.fieldsEnabled);
    settle();
    EXPECT_EQ(transfer.commands, names({u"DIR"}));
    EXPECT_EQ(transfer.urls, QStringList{transfer.url()});
    EXPECT_EQ(view.lstDir, names({u"../", u"a.html"}));
    EXPECT_TRUE(view.lstDirEnabled);

    transfer.onExecute = nullptr;
    session.connectOrDisconnect();
    settle();
    EXPECT_EQ(transfer.commands, names({u"DIR", u"CLOSE"}));
    EXPECT_EQ(view.caption, QStringLiteral("接　続"));
    EXPECT_TRUE(view.fieldsEnabled);
    EXPECT_TRUE(view.command1Enabled);
    EXPECT_EQ(view.lstDir, names({u"../", u"a.html"}));
    EXPECT_EQ(session.lastcmd(), QStringLiteral("DIR"));
    EXPECT_TRUE(prompter.shown().empty());

    // A failed log-in: the one DIR message, and the window counts as connected.
    transfer.failing.insert(QStringLiteral("DIR"));
    session.connectOrDisconnect();
    settle();
    EXPECT_EQ(prompter.messages(), names({u"ディレクトリを読み取れませんでした"}));
    EXPECT_TRUE(session.connected());
    EXPECT_TRUE(view.lstDirEnabled);
    EXPECT_EQ(view.lstDir, names({u"../", u"a.html"}));
}

TEST_F(FtpSessionTest, DisconnectAndUnloadWhileARequestRuns)
{
    transfer.busyPeriod = 30;
    transfer.listing = "a.html\r\n\r\n";
    view.address = QStringLiteral("old.example.jp");
    session.connectOrDisconnect();
    const QString oldUrl = transfer.url();
    session.connectOrDisconnect(); // at once, the DIR still running
    EXPECT_EQ(view.caption, QStringLiteral("接　続"));
    view.address = QStringLiteral("new.example.jp");
    session.connectOrDisconnect(); // reconnects after the old session is closed
    settle();
    EXPECT_EQ(transfer.commands, names({u"DIR", u"CLOSE", u"DIR"}));
    EXPECT_EQ(transfer.urls.value(1), oldUrl);
    EXPECT_EQ(transfer.urls.value(2), transfer.url());
    EXPECT_EQ(view.lstDir, names({u"../", u"a.html"}));
    EXPECT_TRUE(prompter.shown().empty());

    transfer.commands.clear();
    session.hstref();
    transfer.failing.insert(QStringLiteral("CLOSE"));
    view.current = 0;
    transfer.whileBusy = [this](const QString &command) {
        if (command == QLatin1String("CD .."))
            session.unload();
    };
    session.changeDirectory();
    settle();
    EXPECT_EQ(transfer.commands, names({u"DIR", u"CD ..", u"CLOSE", u"DIR"}));
    EXPECT_TRUE(prompter.shown().empty()) << "a failed CLOSE is silent";

    transfer.commands.clear();
    view.caption = FtpSession::kConnectCaption;
    session.unload();
    settle();
    EXPECT_TRUE(transfer.commands.isEmpty());
}

TEST_F(FtpSessionTest, ChangeDirectoryOnlyOnDirectoryEntries)
{
    view.lstDir = names({u"../", u"a.html", u"img/"});
    bool listDisabledAtCd = false;
    transfer.onExecute = [&](const QString &command) {
        if (command.startsWith(QLatin1String("CD")))
            listDisabledAtCd = !view.lstDirEnabled;
    };
    view.current = 2;
    session.changeDirectory();
    settle();
    EXPECT_TRUE(listDisabledAtCd);
    view.lstDir = names({u"../", u"a.html", u"img/"});
    view.current = 0;
    session.changeDirectory();
    settle();
    EXPECT_EQ(transfer.commands, names({u"CD img", u"DIR", u"CD ..", u"DIR"}));

    transfer.commands.clear();
    view.lstDir = names({u"../", u"a.html", u"img/"});
    for (int index : {1, -1, 7}) {
        view.current = index;
        session.changeDirectory();
    }
    settle();
    EXPECT_TRUE(transfer.commands.isEmpty());
    EXPECT_TRUE(view.lstDirEnabled);

    // A failed CD is reported and the listing still follows.
    transfer.failing.insert(QStringLiteral("CD img"));
    view.current = 2;
    session.changeDirectory();
    settle();
    EXPECT_EQ(transfer.commands, names({u"CD img", u"DIR"}));
    EXPECT_EQ(prompter.messages(), names({u"ディレクトリを移動できませんでした"}));
}

TEST_F(FtpSessionTest, MakeDirectoryTrimsOnlyTheEnds)
{
    bool buttonDisabled = false;
    transfer.onExecute = [&](const QString &command) {
        if (command.startsWith(QLatin1String("MKDIR")))
            buttonDisabled = !view.command4Enabled;
    };
    view.text4Value = QStringLiteral("  new dir ");
    session.makeDirectory();
    settle();
    EXPECT_EQ(transfer.commands, names({u"MKDIR new dir", u"DIR"}));
    EXPECT_TRUE(buttonDisabled);
    EXPECT_TRUE(view.command4Enabled);
    EXPECT_EQ(view.text4Value, QString());

    transfer.commands.clear();
    for (const QString &blank : {QString(), QStringLiteral("   ")}) {
        view.text4Value = blank;
        session.makeDirectory();
        EXPECT_EQ(view.text4Value, blank);
        EXPECT_TRUE(view.command4Enabled);
    }
    EXPECT_TRUE(transfer.commands.isEmpty());
    EXPECT_EQ(prompter.messages(),
              names({u"下にディレクトリ名を入れて下さい。", u"下にディレクトリ名を入れて下さい。"}));

    prompter.clear();
    transfer.failing.insert(QStringLiteral("MKDIR x"));
    view.text4Value = QStringLiteral("x");
    session.makeDirectory();
    settle();
    EXPECT_EQ(prompter.messages(), names({u"ディレクトリを作成できませんでした"}));
}

TEST_F(FtpSessionTest, RemoveDirectoryAndItsMessages)
{
    view.lstDir = names({u"../", u"a.html", u"img/"});
    transfer.listing = "a.html\r\nimg/\r\n\r\n";
    view.current = 2;
    transfer.failing.insert(QStringLiteral("RMDIR img"));
    session.removeDirectory();
    EXPECT_TRUE(view.lstDirEnabled);
    settle();
    EXPECT_EQ(transfer.commands, names({u"RMDIR img", u"DIR"}));
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("ディレクトリを削除できませんでした。\r\n"
                                                              "ディレクトリの下にファイルがあると\r\n"
                                                              "ディレクトリは、削除出来ません。")});

    prompter.clear();
    transfer.commands.clear();
    for (int index : {1, -1}) {
        view.current = index;
        session.removeDirectory();
        EXPECT_TRUE(view.lstDirEnabled);
    }
    EXPECT_TRUE(transfer.commands.isEmpty());
    EXPECT_EQ(prompter.messages(), names({u"上のディレクトリを選んで下さい。", u"上のディレクトリを選んで下さい。"}));
}

TEST_F(FtpSessionTest, DeleteSelectedServerEntries)
{
    view.lstDir = names({u"../", u"a.html", u"img/", u"b.html"});
    session.deleteSelected();
    EXPECT_EQ(prompter.messages(), names({u"ファイルが選択されていません"}));
    EXPECT_TRUE(transfer.commands.isEmpty());

    // Without Check2 each entry is asked about; answering No to all still refreshes.
    prompter.clear();
    view.lstDirSelection = {1, 3};
    prompter.answerNo();
    prompter.answerYes();
    session.deleteSelected();
    EXPECT_EQ(transfer.commands, names({u"DELETE b.html", u"DIR"}));
    ASSERT_EQ(prompter.shown().size(), 2u);
    EXPECT_EQ(prompter.shown()[0].title, kOverwriteTitle);
    EXPECT_EQ(prompter.questions(),
              names({u"\na.html のファイルを削除します\n", u"\nb.html のファイルを削除します\n"}));

    // With Check2 nothing is asked; a directory entry goes out as it stands
    // and its failure is silent.
    prompter.clear();
    transfer.commands.clear();
    transfer.listing = "a.html\r\nimg/\r\n\r\n";
    view.lstDir = names({u"../", u"a.html", u"img/"});
    view.lstDirSelection = {1, 2};
    view.check2Value = true;
    transfer.failing.insert(QStringLiteral("DELETE img/"));
    session.deleteSelected();
    EXPECT_EQ(transfer.commands, names({u"DELETE a.html", u"DELETE img/", u"DIR"}));
    EXPECT_TRUE(prompter.shown().empty());
    EXPECT_TRUE(view.lstDirEnabled);
}

TEST_F(FtpSessionTest, UploadAsksBeforeReplacingAServerFile)
{
    view.file1 = names({u"a.html", u"b.html", u"c.html"});
    view.file1Selection = {0};
    const QStringList remote = names({u"../", u"a.html", u"A.HTML"});
    transfer.listing = "a.html\r\nA.HTML\r\n\r\n";

    view.lstDir = remote;
    prompter.answerNo();
    session.upload();
    EXPECT_EQ(transfer.commands, names({u"PUT a.html a.html", u"DIR"}));
    EXPECT_EQ(prompter.questions(), names({u"\na.html のファイルを削除します\n"}));
    EXPECT_EQ(prompter.shown().at(0).title, kOverwriteTitle);
    EXPECT_EQ(prompter.lastMessage(), QStringLiteral("アップロードが終了しました"));

    transfer.commands.clear();
    prompter.answerYes();
    session.upload();
    EXPECT_EQ(transfer.commands, names({u"DELETE a.html", u"PUT a.html a.html", u"DIR"}));

    transfer.commands.clear();
    prompter.clear();
    view.check2Value = true;
    session.upload();
    EXPECT_EQ(transfer.commands, names({u"DELETE a.html", u"PUT a.html a.html", u"DIR"}));
    EXPECT_TRUE(prompter.questions().isEmpty());

    // Names match case-sensitively: A.HTML on the server is another file.
    transfer.commands.clear();
    view.check2Value = false;
    view.lstDir = names({u"../", u"A.HTML"});
    session.upload();
    EXPECT_EQ(transfer.commands, names({u"PUT a.html a.html", u"DIR"}));
    EXPECT_TRUE(prompter.questions().isEmpty());

    // Nothing selected: only the refresh and the closing message.
    transfer.commands.clear();
    prompter.clear();
    view.file1Selection.clear();
    session.upload();
    EXPECT_EQ(transfer.commands, names({u"DIR"}));
    EXPECT_EQ(prompter.messages(), names({u"アップロードが終了しました"}));
}

TEST_F(FtpSessionTest, UploadGoesOnAfterAFailureAndReportsProgress)
{
    view.file1 = names({u"a.html", u"b.html", u"c.html"});
    view.file1Selection = {0, 2};
    transfer.failing.insert(QStringLiteral("PUT a.html a.html"));
    QSignalSpy started(&session, &FtpSession::fileStarted);
    QSignalSpy progress(&session, &FtpSession::progress);
    session.upload();
    EXPECT_EQ(transfer.commands, names({u"PUT a.html a.html", u"PUT c.html c.html", u"DIR"}));
    EXPECT_EQ(prompter.messages(), names({u"アップロードに失敗しました", u"アップロードが終了しました"}));
    ASSERT_EQ(started.size(), 2);
    EXPECT_EQ(started[0], (QVariantList{QStringLiteral("a.html"), 1, 2}));
    EXPECT_EQ(started[1], (QVariantList{QStringLiteral("c.html"), 2, 2}));
    ASSERT_EQ(progress.size(), 4);
    EXPECT_EQ(progress[3], (QVariantList{qint64(100), qint64(100)}));
    EXPECT_TRUE(view.lstDirEnabled);
}

TEST_F(FtpSessionTest, DownloadDeletesOnlyLocalFilesOfThatExactName)
{
    // Dir1 is local/sub; local/x lies outside it.
    touch(QStringLiteral("x"));
    ASSERT_TRUE(QDir(local.path()).mkdir(QStringLiteral("sub")));
    view.dir1 = local.filePath(QStringLiteral("sub"));
    QDir sub(view.dir1);
    ASSERT_TRUE(test::writeBytes(sub.filePath(QStringLiteral("a.html")), "old"));
    ASSERT_TRUE(sub.mkdir(QStringLiteral("img")));
    ASSERT_TRUE(sub.mkdir(QStringLiteral("d.html")));

    const QStringList remote = names({u"../", u"a.html", u"img/", u"d.html", u"../x", u"A.HTML"});
    view.lstDir = remote;
    view.lstDirSelection = {0, 1, 2, 3, 4, 5};
    bool keptAtGet = false;
    transfer.onExecute = [&](const QString &command) {
        if (command == QLatin1String("GET a.html a.html"))
            keptAtGet = QFile::exists(sub.filePath(QStringLiteral("a.html")));
    };
    prompter.answerNo();
    session.download();
    EXPECT_EQ(transfer.commands, names({u"GET ../ ../", u"GET a.html a.html", u"GET img/ img/", u"GET d.html d.html",
                                        u"GET ../x ../x", u"GET A.HTML A.HTML"}));
    EXPECT_EQ(prompter.questions(), names({u"\na.html のファイルを削除します\n"}));
    EXPECT_EQ(prompter.shown().at(0).title, kOverwriteTitle);
    EXPECT_TRUE(keptAtGet);
    EXPECT_TRUE(QFile::exists(local.filePath(QStringLiteral("x")))) << "a remote name reached outside the folder";
    EXPECT_EQ(prompter.messages(), names({u"ダウンロードが終了しました"}));
    EXPECT_EQ(view.file1Refreshes, remote.size());
    EXPECT_EQ(QDir::current(), sub);
    EXPECT_EQ(session.getfile(), QStringLiteral("A.HTML"));

    // Yes, and Check1, delete the local file before the GET.
    for (bool check1 : {false, true}) {
        ASSERT_TRUE(test::writeBytes(sub.filePath(QStringLiteral("a.html")), "old"));
        transfer.commands.clear();
        prompter.clear();
        view.check1Value = check1;
        view.lstDirSelection = {1};
        if (!check1)
            prompter.answerYes();
        session.download();
        EXPECT_EQ(transfer.commands, names({u"GET a.html a.html"}));
        EXPECT_FALSE(keptAtGet);
        EXPECT_EQ(prompter.questions().size(), check1 ? 0 : 1);
    }

    // Nothing selected: nothing sent, the folder re-read for every entry.
    transfer.commands.clear();
    prompter.clear();
    view.file1Refreshes = 0;
    view.lstDirSelection.clear();
    session.download();
    EXPECT_TRUE(transfer.commands.isEmpty());
    EXPECT_EQ(prompter.messages(), names({u"ダウンロードが終了しました"}));
    EXPECT_EQ(view.file1Refreshes, remote.size());
}

TEST_F(FtpSessionTest, DownloadDeliveredAsDataIsStoredWholeAndNeverOverAKeptFile)
{
    QByteArray body;
    for (int i = 0; i < 3000; ++i)
        body += char(i % 251);
    transfer.data.insert(QStringLiteral("GET b.bin b.bin"), body);
    transfer.data.insert(QStringLiteral("GET a.html a.html"), QByteArray("new"));
    touch(QStringLiteral("a.html"), "old and longer");
    view.lstDir = names({u"../", u"a.html", u"b.bin"});
    view.lstDirSelection = {1, 2};
    prompter.answerNo();
    session.download();
    EXPECT_EQ(test::readBytes(local.filePath(QStringLiteral("b.bin"))), body);
    EXPECT_EQ(test::readBytes(local.filePath(QStringLiteral("a.html"))), QByteArray("old and longer"));
    EXPECT_EQ(prompter.messages(), names({u"ダウンロードに失敗しました", u"ダウンロードが終了しました"}));
    EXPECT_TRUE(transfer.chunkKinds.contains(Transfer::ChunkKind::Bytes));
    EXPECT_FALSE(transfer.chunkKinds.contains(Transfer::ChunkKind::Text));
}

TEST_F(FtpSessionTest, HandlerStartedDuringAWaitWaitsItsTurn)
{
    transfer.busyPeriod = 20;
    view.file1 = names({u"a.html"});
    view.file1Selection = {0};
    view.text4Value = QStringLiteral("new");
    transfer.failing.insert(QStringLiteral("PUT a.html a.html"));
    transfer.whileBusy = [this](const QString &command) {
        if (command.startsWith(QLatin1String("PUT")))
            session.makeDirectory();
    };
    session.upload();
    EXPECT_EQ(transfer.commands, names({u"PUT a.html a.html", u"MKDIR new", u"DIR", u"DIR"}));
    // The failure is reported as the upload's, not as the nested request's.
    EXPECT_EQ(prompter.messages(), names({u"アップロードに失敗しました", u"アップロードが終了しました"}));
}

TEST_F(FtpSessionTest, WaitingSleepsInsteadOfSpinning)
{
    transfer.busyPeriod = 300;
    QElapsedTimer wall;
    wall.start();
    ASSERT_TRUE(session.hstdel(QStringLiteral("a.html")));
    EXPECT_GE(wall.elapsed(), 290);
    // A sleeping wait looks at the flag once per event that wakes it.
    EXPECT_LT(transfer.busyReads, 50);
}

TEST(FtpSessionLifetime, ClosingTheWindowDuringAWaitEndsTheOperation)
{
    FakeFtpView view;
    FakeTransfer transfer;
    ScriptedPrompter prompter;
    auto *session = new FtpSession(view, transfer, prompter);
    transfer.busyPeriod = 20;
    view.file1 = names({u"a.html", u"b.html"});
    view.file1Selection = {0, 1};
    transfer.whileBusy = [&](const QString &) {
        session->unload();
        delete session;
        session = nullptr;
    };
    session->upload(); // returns without touching the deleted session
    EXPECT_EQ(session, nullptr);
    EXPECT_EQ(transfer.commands, names({u"PUT a.html a.html"}));
    EXPECT_TRUE(prompter.shown().empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !transfer.busy(); }, 5000));
}

} // namespace
