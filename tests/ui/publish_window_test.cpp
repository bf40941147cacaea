// SPDX-License-Identifier: GPL-3.0-or-later
// The publish window opened from the main window, against a real FTP server
// on 127.0.0.1.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "document/project_file.h"
#include "document/settings.h"
#include "support/golden.h"
#include "support/scoped_env.h"
#include "support/scripted_prompter.h"
#include "ui/main_window.h"
#include "ui/publish_window.h"
#include "controllers/registry_form.h"
#include "net/ftp_server.h"
#include "net/http_server.h"
#include "net/tls_ftp_server.h"

using namespace webloom;

namespace {

class PublishWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store_.isValid() && base_.isValid() && serverRoot_.isValid());
        settings::useFile(store_.filePath(QStringLiteral("webloom.ini")));
        ASSERT_TRUE(server_.start(serverRoot_.path(), QStringLiteral("sakura"), QStringLiteral("hana")));
        const QString hosts = store_.filePath(QStringLiteral("hosts.txt"));
        ASSERT_TRUE(test::writeBytes(hosts, registryBytes({{QStringLiteral("さくら"), server_.address(),
                                                            QStringLiteral("sakura"), QStringLiteral("hana")}})));
        settings::saveHostmei(hosts);
        main_ = std::make_unique<MainWindow>(&prompter_);
        main_->show();
        SiteDocument &doc = main_->document();
        ASSERT_TRUE(
            loadProjectFile(doc, prompter_, test::dataPath(QStringLiteral("../../examples/sample-project.txt"))));
        doc.setText(Field::Label1, base_.path());
        // The check after publishing goes to a port nothing listens on, not
        // to the sample's address out on the network.
        doc.setText(Field::Text1, QStringLiteral("http://127.0.0.1:9/"));
        prompter_.clear();
    }
    void TearDown() override
    {
        QApplication::closeAllWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        main_.reset();
        settings::useFile(QString());
        EXPECT_EQ(prompter_.unexpected(), 0);
    }

    PublishWindow *open()
    {
        main_->findChild<QAction *>(QStringLiteral("publish"))->trigger();
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *p = qobject_cast<PublishWindow *>(w); p && p->isVisible())
                return p;
        }
        return nullptr;
    }
    template <class T> static T *in(QWidget *w, const char *name)
    {
        return w->findChild<T *>(QString::fromLatin1(name));
    }
    static bool publishWith(PublishWindow *w)
    {
        QTest::mouseClick(in<QPushButton>(w, "cmdPublish"), Qt::LeftButton);
        return QTest::qWaitFor([w] { return !w->busy(); }, 30000);
    }

    QTemporaryDir store_, base_, serverRoot_, data_;
    test::ScopedEnv dataHome_{"XDG_DATA_HOME", data_.path()};
    test::FtpServer server_;
    test::ScriptedPrompter prompter_;
    std::unique_ptr<MainWindow> main_;
};

TEST_F(PublishWindowTest, PublishesAfterAgreementThenFindsNothingNew)
{
    PublishWindow *w = open();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(in<QComboBox>(w, "cmbConnection")->currentText(), QStringLiteral("さくら"));
    in<QLineEdit>(w, "txtRemote")->setText(QStringLiteral("public_html"));

    prompter_.answerYes();
    ASSERT_TRUE(publishWith(w));
    ASSERT_EQ(prompter_.questions().size(), 1);
    EXPECT_TRUE(prompter_.questions().first().contains(QStringLiteral("個のファイル")))
        << prompter_.questions().first().toStdString();
    ASSERT_EQ(prompter_.messages().size(), 1) << prompter_.messages().join(u'\n').toStdString();
    EXPECT_TRUE(prompter_.messages().first().startsWith(QStringLiteral("公開が終わりました。")));
    const QDir remote(serverRoot_.filePath(QStringLiteral("public_html")));
    for (const QString &page : {QStringLiteral("index.html"), QStringLiteral("self.html"), QStringLiteral("link.html")})
        EXPECT_TRUE(test::sameBytes(test::readBytes(base_.filePath(page)), test::readBytes(remote.filePath(page))))
            << page.toStdString();
    // The photo pages had no photo folder: the list says so.
    const QList<QTreeWidgetItem *> skipped =
        in<QTreeWidget>(w, "treePlan")->findItems(QStringLiteral("写真ページ"), Qt::MatchExactly, 0);
    ASSERT_EQ(skipped.size(), 1);
    EXPECT_TRUE(skipped.first()->text(2).startsWith(QStringLiteral("作成できません：")));

    // Again, with nothing changed: nothing to agree to, nothing sent.
    prompter_.clear();
    ASSERT_TRUE(publishWith(w));
    EXPECT_EQ(prompter_.messages(), QStringList{QStringLiteral("送るファイルはありません。サーバーは最新です。")});
    EXPECT_TRUE(prompter_.questions().isEmpty());

    // The choices come back for this base folder, and the main window's
    // fields were not touched by the build.
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    w = open();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(in<QLineEdit>(w, "txtRemote")->text(), QStringLiteral("public_html"));
    EXPECT_TRUE(main_->document().list(ListId::List1).isEmpty());
}

TEST_F(PublishWindowTest, AServerThatWillNotEncryptTheDataIsNotTakenForOneWithoutTls)
{
    // The registered address has no scheme; the server takes AUTH TLS and
    // the log-in, then refuses PROT P.
    QTemporaryDir work;
    const test::Certificate certificate = test::Certificate::make(work.path(), QStringLiteral("half"));
    test::FtpServer server;
    ASSERT_TRUE(server.start(serverRoot_.path(), QStringLiteral("sakura"), QStringLiteral("hana"),
                             test::refusingTls(certificate, test::TlsRefusal::Prot)))
        << server.log().toStdString();
    const QString hosts = store_.filePath(QStringLiteral("hosts.txt"));
    const QByteArray registry = registryBytes(
        {{QStringLiteral("さくら"), server.hostPort(), QStringLiteral("sakura"), QStringLiteral("hana")}});
    ASSERT_TRUE(test::writeBytes(hosts, registry));
    PublishWindow *w = open();
    ASSERT_NE(w, nullptr);

    prompter_.answerYes(); // the certificate, the only question
    ASSERT_TRUE(publishWith(w));
    ASSERT_EQ(prompter_.questions().size(), 1) << prompter_.questions().join(u'\n').toStdString();
    EXPECT_TRUE(prompter_.questions().first().contains(certificate.fingerprint));
    ASSERT_EQ(prompter_.messages().size(), 1);
    const QStringList lines = prompter_.messages().first().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 3) << prompter_.messages().first().toStdString();
    EXPECT_EQ(lines.at(1), QStringLiteral("サーバーが暗号化したデータ接続を断りました。"));
    EXPECT_FALSE(lines.at(2).isEmpty());
    // One encrypted log-in, no plain one, and the registry keeps its address.
    const QStringList commands = server.commands();
    EXPECT_EQ(commands.filter(QStringLiteral("USER ")).size(), 1) << commands.join(u'\n').toStdString();
    EXPECT_TRUE(commands.contains(QStringLiteral("AUTH TLS")));
    EXPECT_EQ(test::readBytes(hosts), registry);
}

TEST_F(PublishWindowTest, EscapeAsksBeforeStoppingAPublish)
{
    QPointer<PublishWindow> w = open();
    ASSERT_NE(w, nullptr);
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    QTest::mouseClick(in<QPushButton>(w, "cmdPublish"), Qt::LeftButton);
    ASSERT_TRUE(w->busy());
    // No goes on with the publish; Yes stops it and closes the window.
    prompter_.answerNo();
    QTest::keyClick(w.data(), Qt::Key_Escape);
    EXPECT_TRUE(w && w->busy());
    prompter_.answerYes();
    QTest::keyClick(w.data(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull());
    ASSERT_EQ(prompter_.questions(), (QStringList(2, QStringLiteral("\n公開の途中です。中止して閉じますか？\n"))));
    EXPECT_TRUE(prompter_.shown().front().defaultNo);
}

TEST_F(PublishWindowTest, AnOldTemporaryFileIsPartOfThePlanAndItsQuestion)
{
    const QDir remote(serverRoot_.filePath(QStringLiteral("public_html")));
    ASSERT_TRUE(remote.mkpath(QStringLiteral(".")));
    const QString old = kUploadPrefix + QStringLiteral("89abcdef-self.html");
    ASSERT_TRUE(test::writeBytes(remote.filePath(old), "left days ago"));
    QFile file(remote.filePath(old));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(QDateTime::currentDateTimeUtc().addDays(-2), QFileDevice::FileModificationTime));
    file.close();

    PublishWindow *w = open();
    ASSERT_NE(w, nullptr);
    in<QLineEdit>(w, "txtRemote")->setText(QStringLiteral("public_html"));
    prompter_.answerYes();
    ASSERT_TRUE(publishWith(w));
    ASSERT_EQ(prompter_.questions().size(), 1);
    EXPECT_TRUE(prompter_.questions().first().contains(QStringLiteral("前の公開の一時ファイル 1 個を削除します。")))
        << prompter_.questions().first().toStdString();
    const QList<QTreeWidgetItem *> rows = in<QTreeWidget>(w, "treePlan")->findItems(old, Qt::MatchExactly, 0);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first()->text(2), QStringLiteral("削除しました"));
    EXPECT_FALSE(remote.exists(old));
}

TEST_F(PublishWindowTest, TheWebAddressIsCheckedAfterSendingAndBrokenLinksComeFirst)
{
    main_->document().setText(Field::Text1, QStringLiteral("http://www.example.ne.jp/~sakura/"));
    PublishWindow *w = open();
    ASSERT_NE(w, nullptr);
    // At first the folder of the site's own address.
    auto *address = in<QLineEdit>(w, "txtWebAddress");
    EXPECT_EQ(address->text(), QStringLiteral("http://www.example.ne.jp/~sakura/"));
    in<QLineEdit>(w, "txtRemote")->setText(QStringLiteral("public_html"));

    // Served from the log-in folder instead of public_html.
    test::HttpServer wrong, right;
    ASSERT_TRUE(QDir(serverRoot_.path()).mkpath(QStringLiteral("public_html")));
    ASSERT_TRUE(wrong.start(serverRoot_.path()));
    ASSERT_TRUE(right.start(serverRoot_.filePath(QStringLiteral("public_html"))));
    address->setText(wrong.address());
    prompter_.answerYes();
    ASSERT_TRUE(publishWith(w));
    // The sample's picture is not in this base folder.
    ASSERT_EQ(prompter_.questions().size(), 1);
    EXPECT_TRUE(prompter_.questions().first().contains(
        QStringLiteral("リンク先のないリンクがあります（1 "
                       "個）。\nindex.html：トップページ／トップページ写真説明（ﾌｧｲﾙ名orｱﾄﾞﾚｽ） → bara.jpg")))
        << prompter_.questions().first().toStdString();
    EXPECT_EQ(in<QTreeWidget>(w, "treePlan")->findItems(QStringLiteral("index.html"), Qt::MatchExactly, 0).size(), 2);
    auto *check = in<QLabel>(w, "lblCheck");
    ASSERT_TRUE(QTest::qWaitFor([&] { return check->text().contains(QStringLiteral("確かめてください")); }, 30000))
        << check->text().toStdString();
    EXPECT_TRUE(check->text().startsWith(
        wrong.address() +
        QStringLiteral(
            " で index.html、self.html、link.html、sub1.html が見つかりません。サーバーのフォルダ「public_html」は、")))
        << check->text().toStdString();

    // The right address is kept for this folder and connection, and the top
    // page is checked even with nothing to send.
    address->setText(right.address());
    prompter_.clear();
    ASSERT_TRUE(publishWith(w));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return check->text() == QStringLiteral("公開を確認しました：") + right.address(); }, 30000))
        << check->text().toStdString();
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    w = open();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(in<QLineEdit>(w, "txtWebAddress")->text(), right.address());
}

} // namespace
