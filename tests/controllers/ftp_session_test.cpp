// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <initializer_list>
#include <iterator>
#include <ostream>

#include "fake_ftp_view.h"
#include "fake_transfer.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"
#include "connect/connection_questions.h"
#include "controllers/ftp_session.h"

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

QString kDir()
{
    return QStringLiteral("DIR");
}

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
    }

    // Runs the event loop until the session has nothing left to do.
    void settle()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return session.idle() && !transfer.busy(); }, 5000))
            << "the session never went idle";
    }

    // Connects and waits for the first listing; the records start afresh.
    void connectWith(const QStringList &listing)
    {
        transfer.listing = listing;
        session.connectOrDisconnect();
        settle();
        transfer.commands.clear();
        prompter.clear();
    }

    QString put(const QString &name) const { return QStringLiteral("PUT %1 %2").arg(local.filePath(name), name); }
    QString get(const QString &name, const QString &folder) const
    {
        return QStringLiteral("GET %1 %2").arg(name, QDir(folder).filePath(name));
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
        QStringList listing;
        QStringList entries;
    } cases[] = {
        {{}, names({u"../"})},
        {names({u"./", u"../", u"a.html", u"img/"}), names({u"../", u"a.html", u"img/"})},
        {names({u"a.html", u"img/"}), names({u"../", u"a.html", u"img/"})},
        {names({u"a.html", u"../"}), names({u"a.html", u"../"})},
        {names({u"a.html", u"a.html", u"./"}), names({u"../", u"a.html", u"a.html"})},
        {names({u" x ", u".."}), names({u"../", u" x ", u".."})},
    };
    for (const Case &c : cases) {
        view.lstDir = names({u"stale"});
        transfer.listing = c.listing;
        session.hstref();
        EXPECT_FALSE(view.lstDirEnabled);
        settle();
        EXPECT_EQ(view.lstDir, c.entries) << c.listing.join(QLatin1Char(',')).toStdString();
        EXPECT_TRUE(view.lstDirEnabled);
    }
    EXPECT_EQ(transfer.commands.size(), int(std::size(cases)));
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(FtpSessionTest, ConnectPassesFieldsAsTypedAndDisconnectKeepsTheList)
{
    view.address = QStringLiteral("ftp.example.jp");
    view.user = QStringLiteral(" nekoneko");
    view.password = QString();
    bool listDisabledAtDir = false;
    transfer.onExecute = [&](const QString &) { listDisabledAtDir = !view.lstDirEnabled && !view.command1Enabled; };
    transfer.listing = names({u"a.html"});
    session.connectOrDisconnect();

    EXPECT_EQ(transfer.connection().address, QStringLiteral("ftp.example.jp"));
    EXPECT_EQ(transfer.connection().user, QStringLiteral(" nekoneko"));
    EXPECT_EQ(transfer.connection().password, QString());
    EXPECT_TRUE(listDisabledAtDir);
    EXPECT_EQ(view.caption, QStringLiteral("切　断"));
    EXPECT_TRUE(session.connected());
    EXPECT_TRUE(view.command1Enabled);
    EXPECT_FALSE(view.fieldsEnabled);
    settle();
    EXPECT_EQ(transfer.commands, names({u"DIR"}));
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

TEST_F(FtpSessionTest, DisconnectStopsWhatRunsAndReconnectsAfterTheClose)
{
    transfer.busyPeriod = 30;
    connectWith(names({u"x.html"}));
    view.file1 = names({u"a.html", u"b.html"});
    view.file1Selection = {0, 1};
    session.upload();
    ASSERT_TRUE(transfer.busy());
    session.connectOrDisconnect(); // at once, the first PUT still running
    EXPECT_EQ(view.caption, QStringLiteral("接　続"));
    EXPECT_TRUE(view.lstDirEnabled);
    view.address = QStringLiteral("new.example.jp");
    session.connectOrDisconnect(); // reconnects once the old session is closed
    settle();
    EXPECT_EQ(transfer.commands, (QStringList{put(QStringLiteral("a.html")), QStringLiteral("CLOSE"), kDir()}));
    EXPECT_EQ(transfer.cancels, 1);
    EXPECT_EQ(transfer.connections.last().address, QStringLiteral("new.example.jp"));
    EXPECT_TRUE(prompter.shown().empty()) << "a stopped upload says nothing, not even its summary";

    // Closing the window while a CD runs: nothing follows but the CLOSE.
    transfer.commands.clear();
    view.lstDir = names({u"../"});
    view.current = 0;
    transfer.whileBusy = [this](const QString &command) {
        if (command == QLatin1String("CD .."))
            session.unload();
    };
    session.changeDirectory();
    settle();
    EXPECT_EQ(transfer.commands, names({u"CD ..", u"CLOSE"}));
    EXPECT_TRUE(prompter.shown().empty());

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
    transfer.listing = names({u"a.html", u"img/"});
    view.current = 2;
    transfer.failing.insert(QStringLiteral("RMDIR img"));
    session.removeDirectory();
    settle();
    EXPECT_TRUE(view.lstDirEnabled);
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
    settle();
    EXPECT_EQ(transfer.commands, names({u"DELETE b.html", u"DIR"}));
    ASSERT_EQ(prompter.shown().size(), 2u);
    EXPECT_EQ(prompter.shown()[0].title, kOverwriteTitle);
    EXPECT_EQ(prompter.questions(),
              names({u"\na.html のファイルを削除します\n", u"\nb.html のファイルを削除します\n"}));

    // With Check2 nothing is asked; a directory entry goes out as it stands
    // and its failure is silent.
    prompter.clear();
    transfer.commands.clear();
    transfer.listing = names({u"a.html", u"img/"});
    view.lstDir = names({u"../", u"a.html", u"img/"});
    view.lstDirSelection = {1, 2};
    view.check2Value = true;
    transfer.failing.insert(QStringLiteral("DELETE img/"));
    session.deleteSelected();
    settle();
    EXPECT_EQ(transfer.commands, names({u"DELETE a.html", u"DELETE img/", u"DIR"}));
    EXPECT_TRUE(prompter.shown().empty());
    EXPECT_TRUE(view.lstDirEnabled);
}

TEST_F(FtpSessionTest, UploadAsksBeforeReplacingAServerFile)
{
    view.file1 = names({u"a.html", u"b.html", u"c.html"});
    view.file1Selection = {0};
    const QStringList remote = names({u"../", u"a.html", u"A.HTML"});
    transfer.listing = names({u"a.html", u"A.HTML"});
    const QString putA = put(QStringLiteral("a.html"));

    view.lstDir = remote;
    prompter.answerNo();
    session.upload();
    settle();
    EXPECT_EQ(transfer.commands, (QStringList{putA, kDir()}));
    EXPECT_EQ(prompter.questions(), names({u"\na.html のファイルを削除します\n"}));
    EXPECT_EQ(prompter.shown().at(0).title, kOverwriteTitle);
    EXPECT_EQ(prompter.lastMessage(), QStringLiteral("アップロードが終了しました"));

    transfer.commands.clear();
    prompter.answerYes();
    session.upload();
    settle();
    EXPECT_EQ(transfer.commands, (QStringList{QStringLiteral("DELETE a.html"), putA, kDir()}));

    transfer.commands.clear();
    prompter.clear();
    view.check2Value = true;
    session.upload();
    settle();
    EXPECT_EQ(transfer.commands, (QStringList{QStringLiteral("DELETE a.html"), putA, kDir()}));
    EXPECT_TRUE(prompter.questions().isEmpty());

    // Names match case-sensitively: A.HTML on the server is another file.
    transfer.commands.clear();
    view.check2Value = false;
    view.lstDir = names({u"../", u"A.HTML"});
    session.upload();
    settle();
    EXPECT_EQ(transfer.commands, (QStringList{putA, kDir()}));
    EXPECT_TRUE(prompter.questions().isEmpty());

    // Nothing selected: only the refresh and the closing message.
    transfer.commands.clear();
    prompter.clear();
    view.file1Selection.clear();
    session.upload();
    settle();
    EXPECT_EQ(transfer.commands, names({u"DIR"}));
    EXPECT_EQ(prompter.messages(), names({u"アップロードが終了しました"}));
}

TEST_F(FtpSessionTest, UploadGoesOnAfterAFailureAndReportsProgress)
{
    view.file1 = names({u"a.html", u"b.html", u"c.html"});
    view.file1Selection = {0, 2};
    transfer.failing.insert(put(QStringLiteral("a.html")));
    QSignalSpy started(&session, &FtpSession::fileStarted);
    QSignalSpy progress(&session, &FtpSession::progress);
    session.upload();
    settle();
    EXPECT_EQ(transfer.commands, (QStringList{put(QStringLiteral("a.html")), put(QStringLiteral("c.html")), kDir()}));
    EXPECT_EQ(prompter.messages(), names({u"アップロードに失敗しました", u"アップロードが終了しました"}));
    ASSERT_EQ(started.size(), 2);
    EXPECT_EQ(started[0], (QVariantList{QStringLiteral("a.html"), 1, 2}));
    EXPECT_EQ(started[1], (QVariantList{QStringLiteral("c.html"), 2, 2}));
    ASSERT_EQ(progress.size(), 4);
    EXPECT_EQ(progress[3], (QVariantList{qint64(100), qint64(100)}));
    EXPECT_TRUE(view.lstDirEnabled);
}

TEST_F(FtpSessionTest, TheFolderAndTheSelectionAreThoseOfThePressedButton)
{
    // The local pane moves on while the batch runs: the files still come
    // from the folder shown when "＞＞" was pressed, and a download still
    // lands there.
    transfer.busyPeriod = 20;
    ASSERT_TRUE(QDir(local.path()).mkdir(QStringLiteral("other")));
    view.file1 = names({u"a.html", u"b.html"});
    view.file1Selection = {0, 1};
    transfer.whileBusy = [&](const QString &command) {
        if (command.startsWith(QLatin1String("PUT"))) {
            view.dir1 = local.filePath(QStringLiteral("other"));
            view.file1 = names({u"x.html"});
            view.file1Selection = {0};
            QDir::setCurrent(view.dir1);
        }
    };
    const QString first = local.path();
    session.upload();
    settle();
    EXPECT_EQ(
        transfer.commands,
        (QStringList{QStringLiteral("PUT %1 a.html").arg(QDir(first).filePath(QStringLiteral("a.html"))),
                     QStringLiteral("PUT %1 b.html").arg(QDir(first).filePath(QStringLiteral("b.html"))), kDir()}));

    transfer.commands.clear();
    view.dir1 = first;
    view.lstDir = names({u"../", u"c.html"});
    view.lstDirSelection = {1};
    transfer.whileBusy = [&](const QString &command) {
        if (command.startsWith(QLatin1String("GET")))
            view.dir1 = local.filePath(QStringLiteral("other"));
    };
    session.download();
    settle();
    EXPECT_EQ(transfer.commands, QStringList{get(QStringLiteral("c.html"), first)});
}

TEST_F(FtpSessionTest, DownloadDeletesOnlyLocalFilesOfThatExactName)
{
    // Dir1 is local/sub; local/x lies outside it.
    ASSERT_TRUE(test::writeBytes(local.filePath(QStringLiteral("x")), "old"));
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
        if (command.startsWith(QLatin1String("GET a.html ")))
            keptAtGet = QFile::exists(sub.filePath(QStringLiteral("a.html")));
    };
    prompter.answerNo();
    session.download();
    settle();
    QStringList expected;
    for (const QString &name : remote)
        expected.append(get(name, view.dir1));
    EXPECT_EQ(transfer.commands, expected);
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
        settle();
        EXPECT_EQ(transfer.commands, QStringList{get(QStringLiteral("a.html"), view.dir1)});
        EXPECT_FALSE(keptAtGet);
        EXPECT_EQ(prompter.questions().size(), check1 ? 0 : 1);
    }

    // Nothing selected: nothing sent, the folder re-read for every entry.
    transfer.commands.clear();
    prompter.clear();
    view.file1Refreshes = 0;
    view.lstDirSelection.clear();
    session.download();
    settle();
    EXPECT_TRUE(transfer.commands.isEmpty());
    EXPECT_EQ(prompter.messages(), names({u"ダウンロードが終了しました"}));
    EXPECT_EQ(view.file1Refreshes, remote.size());
}

TEST_F(FtpSessionTest, HandlersReturnAtOnceAndALaterOperationWaitsBehindTheBatch)
{
    transfer.busyPeriod = 50;
    view.file1 = names({u"a.html"});
    view.file1Selection = {0};
    view.text4Value = QStringLiteral("new");
    transfer.failing.insert(put(QStringLiteral("a.html")));
    // A handler that waited for the server would have to run the event loop
    // (the transfer reports through it), and this would run first.
    bool eventLoopRan = false;
    QTimer::singleShot(0, &transfer, [&eventLoopRan] { eventLoopRan = true; });
    session.upload();
    session.makeDirectory(); // pressed while the upload runs
    EXPECT_FALSE(eventLoopRan) << "a handler waited for the server";
    EXPECT_TRUE(transfer.busy());
    EXPECT_EQ(transfer.commands.size(), 1);
    settle();
    EXPECT_EQ(transfer.commands,
              (QStringList{put(QStringLiteral("a.html")), kDir(), QStringLiteral("MKDIR new"), kDir()}));
    // The failure is reported as the upload's, before its summary.
    EXPECT_EQ(prompter.messages(), names({u"アップロードに失敗しました", u"アップロードが終了しました"}));
}

TEST(FtpSessionSecurity, TrustAndEncryptionAreTheUsersChoice)
{
    QTemporaryDir folder;
    TrustStore trust(folder.filePath(QStringLiteral("trusted.txt")));
    FakeFtpView view;
    FakeTransfer transfer;
    ScriptedPrompter prompter;
    FtpSession session(view, transfer, prompter,
                       [&](const TransferOutcome &outcome, const Transfer::Connection &current) {
                           PrompterQuestions questions(prompter, &trust);
                           return connectAgain(questions, outcome, current);
                       });
    auto settle = [&] { ASSERT_TRUE(QTest::qWaitFor([&] { return session.idle() && !transfer.busy(); }, 5000)); };
    const QString dir = QStringLiteral("DIR");
    TransferOutcome untrusted;
    untrusted.failure = TransferOutcome::Failure::Untrusted;
    untrusted.secure = true;
    untrusted.identity.host = QStringLiteral("ftp.example.jp");
    untrusted.identity.port = 21;
    untrusted.identity.fingerprint = QStringLiteral("SHA256:new");
    untrusted.identity.subject = QStringLiteral("CN=ftp.example.jp");
    untrusted.identity.reason = QStringLiteral("自己署名の証明書です（認証局の署名がありません）");

    // An unknown certificate: shown before anything else; Yes remembers it
    // and the listing is asked for again.
    view.address = QStringLiteral("ftpes://ftp.example.jp");
    transfer.outcomes[dir] = {untrusted};
    transfer.listing = names({u"index.html"});
    prompter.answerYes();
    session.connectOrDisconnect();
    settle();
    ASSERT_EQ(prompter.questions().size(), 1);
    for (const char16_t *part : {u"SHA256:new", u"CN=ftp.example.jp", u"自己署名", u"ftp.example.jp:21"})
        EXPECT_TRUE(prompter.questions()[0].contains(QString::fromUtf16(part)))
            << QString::fromUtf16(part).toStdString();
    EXPECT_FALSE(prompter.shown()[0].defaultNo);
    EXPECT_EQ(trust.fingerprint(QStringLiteral("ftp.example.jp:21"), TrustStore::Kind::Certificate),
              QStringLiteral("SHA256:new"));
    EXPECT_EQ(transfer.commands, names({u"DIR", u"DIR"}));
    EXPECT_EQ(view.lstDir, names({u"../", u"index.html"}));
    EXPECT_TRUE(prompter.messages().isEmpty());

    // It changes: the warning shows both, defaults to No, and No connects
    // nowhere.
    prompter.clear();
    transfer.commands.clear();
    untrusted.identity.rememberedFingerprint = QStringLiteral("SHA256:new");
    untrusted.identity.fingerprint = QStringLiteral("SHA256:other");
    transfer.outcomes[dir] = {untrusted};
    prompter.answerNo();
    session.hstref();
    settle();
    ASSERT_EQ(prompter.questions().size(), 1);
    EXPECT_TRUE(prompter.shown()[0].defaultNo);
    EXPECT_TRUE(prompter.questions()[0].contains(QStringLiteral("前回の指紋：SHA256:new")));
    EXPECT_TRUE(prompter.questions()[0].contains(QStringLiteral("今回の指紋：SHA256:other")));
    EXPECT_EQ(prompter.messages(),
              QStringList{QStringLiteral("証明書が前回と違うため、接続しませんでした。\n指紋：SHA256:other")});
    EXPECT_EQ(transfer.commands, names({u"DIR"}));
    EXPECT_EQ(trust.fingerprint(QStringLiteral("ftp.example.jp:21"), TrustStore::Kind::Certificate),
              QStringLiteral("SHA256:new"));

    // No scheme and no encryption on the server: Yes continues without a
    // word (the question, its default and the "ftp://" kept are the
    // connection policy's and the window's end-to-end test's).
    session.connectOrDisconnect();
    settle();
    prompter.clear();
    transfer.commands.clear();
    TransferOutcome noTls;
    noTls.failure = TransferOutcome::Failure::NoTls;
    noTls.secure = true;
    noTls.detail = QStringLiteral("AUTH TLS not supported");
    view.address = QStringLiteral("ftp.example.jp:2121");
    transfer.outcomes[dir] = {noTls};
    prompter.answerYes();
    session.connectOrDisconnect();
    settle();
    EXPECT_TRUE(prompter.messages().isEmpty());

    // No: nothing is sent, and the one sentence says why, with the detail.
    session.connectOrDisconnect();
    settle();
    prompter.clear();
    view.address = QStringLiteral("ftp.example.jp");
    transfer.outcomes[dir] = {noTls};
    prompter.answerNo();
    session.connectOrDisconnect();
    settle();
    EXPECT_EQ(prompter.messages(),
              QStringList{QStringLiteral("このサーバーは暗号化に対応していないため、接続しませんでした。\n"
                                         "AUTH TLS not supported")});
    EXPECT_EQ(view.address, QStringLiteral("ftp.example.jp"));

    // A refused log-in over an encrypted connection says so plainly.
    session.connectOrDisconnect();
    settle();
    prompter.clear();
    TransferOutcome login;
    login.failure = TransferOutcome::Failure::Login;
    login.secure = true;
    login.reply = QStringLiteral("530 Login incorrect.");
    transfer.outcomes[dir] = {login};
    session.connectOrDisconnect();
    settle();
    EXPECT_EQ(prompter.messages(),
              QStringList{QStringLiteral("ユーザー名かパスワードが正しくありません。\n530 Login incorrect.")});
    EXPECT_EQ(prompter.unexpected(), 0);
}

TEST(FtpSessionLifetime, DeletingTheSessionMidBatchStopsIt)
{
    FakeFtpView view;
    FakeTransfer transfer;
    ScriptedPrompter prompter;
    auto *session = new FtpSession(view, transfer, prompter);
    transfer.busyPeriod = 20;
    view.dir1 = QDir::tempPath();
    view.file1 = names({u"a.html", u"b.html"});
    view.file1Selection = {0, 1};
    transfer.whileBusy = [&](const QString &) {
        session->unload();
        delete session;
        session = nullptr;
    };
    session->upload();
    EXPECT_TRUE(QTest::qWaitFor([&] { return session == nullptr && !transfer.busy(); }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(transfer.commands.size(), 1);
    EXPECT_GE(transfer.cancels, 1);
    EXPECT_TRUE(prompter.shown().empty());
}

} // namespace
