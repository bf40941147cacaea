// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "document/addresses.h"
#include "support/scripted_prompter.h"
#include "ui/about_window.h"

namespace webloom {
namespace {

// Records the addresses handed to the browser instead of starting one.
struct FakeBrowser {
    bool starts = true;
    QList<QUrl> opened;
    UrlLauncher launcher()
    {
        return [this](const QUrl &url) {
            opened.append(url);
            return starts;
        };
    }
};

class AboutWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = new AboutWindow(prompter);
        window->setUrlLauncher(browser.launcher());
    }
    void TearDown() override { delete window.data(); }

    template <typename T> T *child(const char *name) const
    {
        T *found = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void showActive()
    {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }

    // The window deletes itself when closed; run the deferred deletion.
    bool destroyed()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window.isNull();
    }

    test::ScriptedPrompter prompter;
    FakeBrowser browser;
    QPointer<AboutWindow> window;
};

TEST_F(AboutWindowTest, ShowsTitleVersionAndAddresses)
{
    EXPECT_EQ(window->objectName(), QStringLiteral("frmabt"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(child<QLabel>("lblTitle")->text(), QStringLiteral("くるみのホームページ作成ツール"));
    EXPECT_EQ(child<QLabel>("exename")->text(), QStringLiteral("(webloom.exe)"));
    EXPECT_EQ(child<QLabel>("lblDescription")->text(),
              QStringLiteral("簡易ホームページ作成ツール\n\nWin95/98/Me/2000pro/XP のみに対応"));
    EXPECT_EQ(child<QPushButton>("Command1")->text(), QStringLiteral("作者HP"));
    EXPECT_EQ(child<QPushButton>("cmdOK")->text(), QStringLiteral("OK"));

    // The tag after the release date is the one this build was configured
    // with (the configure date unless named), not a fixed or stale one.
    EXPECT_EQ(child<QLabel>("lblVersion")->text(),
              QStringLiteral("Ver 3.00  (2002/05/26-" WEBLOOM_EXPECTED_BUILD_TAG ")"));
    EXPECT_STRNE(WEBLOOM_EXPECTED_BUILD_TAG, "") << "empty build tag";

    auto *text1 = child<QPlainTextEdit>("Text1");
    EXPECT_TRUE(text1->isReadOnly());
    EXPECT_EQ(text1->toPlainText(), QStringLiteral("ホームページ：\n") + addresses::kMakerHomePage +
                                        QStringLiteral("\nEメール：\n") + addressForReading(addresses::kMakerMail));
    EXPECT_FALSE(text1->toPlainText().contains(QLatin1String("mailto:")));
}

TEST_F(AboutWindowTest, EnterOnOpeningClosesAndDestroysTheWindow)
{
    showActive();
    QWidget *focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_EQ(focus->objectName(), QStringLiteral("cmdOK"));
    QTest::keyClick(focus, Qt::Key_Return);
    EXPECT_TRUE(destroyed());
    EXPECT_TRUE(browser.opened.isEmpty());
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(AboutWindowTest, EnterInTheAddressBoxAlsoCloses)
{
    showActive();
    auto *text1 = child<QPlainTextEdit>("Text1");
    text1->setFocus();
    QTest::keyClick(text1, Qt::Key_Enter);
    EXPECT_TRUE(destroyed());
}

TEST_F(AboutWindowTest, EscClosesAndDestroysTheWindow)
{
    showActive();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(destroyed());
}

TEST_F(AboutWindowTest, MakerButtonAsksBeforeGoingOnline)
{
    // No: the question alone, nothing opened.
    prompter.answerNo();
    child<QPushButton>("Command1")->click();
    ASSERT_EQ(prompter.shown().size(), 1u);
    EXPECT_EQ(prompter.shown()[0].kind, test::ScriptedPrompter::Shown::Question);
    EXPECT_EQ(prompter.shown()[0].title, QStringLiteral("インターネット接続"));
    EXPECT_EQ(prompter.shown()[0].text, QStringLiteral("\nインターネットに接続していますか？\n"));
    EXPECT_TRUE(browser.opened.isEmpty());

    // Yes: the maker's home page goes to the browser, no message follows.
    prompter.answerYes();
    child<QPushButton>("Command1")->click();
    ASSERT_EQ(browser.opened.size(), 1);
    EXPECT_EQ(browser.opened[0], QUrl(addresses::kMakerHomePage));
    EXPECT_TRUE(prompter.messages().isEmpty());
    EXPECT_EQ(prompter.unexpected(), 0);
    EXPECT_FALSE(destroyed());
}

TEST_F(AboutWindowTest, BrowserThatCannotStartCostsOneMessage)
{
    browser.starts = false;
    prompter.answerYes();
    child<QPushButton>("Command1")->click();
    EXPECT_EQ(browser.opened.size(), 1);
    ASSERT_EQ(prompter.messages().size(), 1);
    EXPECT_EQ(prompter.lastMessage(),
              QStringLiteral("Webブラウザを起動できませんでした。\n") + addresses::kMakerHomePage);
    // The window stays and the button works again.
    browser.starts = true;
    prompter.answerYes();
    child<QPushButton>("Command1")->click();
    EXPECT_EQ(browser.opened.size(), 2);
    EXPECT_EQ(prompter.messages().size(), 1);
    EXPECT_FALSE(destroyed());
}

TEST(WebOpenerTest, AddressThatIsNoUrlIsReportedWithoutStartingTheBrowser)
{
    test::ScriptedPrompter prompter;
    int launched = 0;
    WebOpener opener(prompter, [&launched](const QUrl &) { return ++launched > 0; });
    prompter.answerYes();
    EXPECT_FALSE(opener.open(QStringLiteral("http://exa mple.org/%zz")));
    EXPECT_EQ(launched, 0);
    EXPECT_EQ(prompter.messages().size(), 1);
    EXPECT_EQ(addressForReading(QStringLiteral("MAILTO:a@b.example")), QStringLiteral("a@b.example"));
    EXPECT_EQ(addressForReading(QStringLiteral("https://b.example/")), QStringLiteral("https://b.example/"));
}

} // namespace
} // namespace webloom
