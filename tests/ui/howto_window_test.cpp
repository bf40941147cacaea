#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "document/addresses.h"
#include "support/scripted_prompter.h"
#include "ui/howto_window.h"

namespace webloom {
namespace {

// Texts of the labels, buttons and fields of a layout, in the order the
// reader meets them (depth first through nested rows).
void collectTexts(const QLayout *layout, QStringList &out)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (const QLayout *inner = item->layout()) {
            collectTexts(inner, out);
        } else if (const QWidget *widget = item->widget()) {
            if (const auto *label = qobject_cast<const QLabel *>(widget))
                out.append(label->text());
            else if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
                out.append(button->text());
            else if (const auto *field = qobject_cast<const QLineEdit *>(widget))
                out.append(field->text());
        }
    }
}

class HowtoWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = new HowtoWindow(prompter);
        window->setUrlLauncher([this](const QUrl &url) {
            opened.append(url);
            return true;
        });
    }
    void TearDown() override { delete window.data(); }

    QTabWidget *tabs() const { return window->findChild<QTabWidget *>(QStringLiteral("SSTab1")); }
    QStringList tabTexts(int index) const
    {
        QStringList out;
        collectTexts(tabs()->widget(index)->layout(), out);
        return out;
    }
    QPushButton *button(const char *name) const { return window->findChild<QPushButton *>(QString::fromLatin1(name)); }

    test::ScriptedPrompter prompter;
    QList<QUrl> opened;
    QPointer<HowtoWindow> window;
};

TEST_F(HowtoWindowTest, CaptionAndTabsOnOpening)
{
    EXPECT_EQ(window->objectName(), QStringLiteral("helper1"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("くるみホームページ作成ツールの使い方"));
    EXPECT_TRUE(window->isWindow());
    EXPECT_FALSE(window->isModal());
    ASSERT_NE(tabs(), nullptr);
    ASSERT_EQ(tabs()->count(), 3);
    EXPECT_EQ(tabs()->tabText(0), QStringLiteral("使い方（１）"));
    EXPECT_EQ(tabs()->tabText(1), QStringLiteral("使い方（２）"));
    EXPECT_EQ(tabs()->tabText(2), QStringLiteral("使い方（３）"));
    EXPECT_EQ(tabs()->currentIndex(), 0);
}

TEST_F(HowtoWindowTest, FirstTabHoldsEveryLineInOrder)
{
    const QStringList expected = {
        QStringLiteral("１．用意するファイル"),
        QStringLiteral(
            "まず、トップページに置く絵や写真のファイルが必要です。もし無い場合は、Windowsに付属の「ペイント」を使って"
            "画像を作成し、拡張子(jpg)にて保存しましょう。「ペイント」でjpgが作成出来ない場合はフリーウエア等をしようし"
            "一度(bmp)にて保存して(jpg)に変換してください。参考ソフト　") +
            addresses::kRecommendedSoftware1,
        QStringLiteral("参考グラフィック変換フリーソフトＨＰ（ここを押す）"),
        QStringLiteral("２．ファイルの配置"),
        QStringLiteral("基本的に写真や絵等を置くディレクトリ以外は、全てホームディレクトリに置きます。"),
        QStringLiteral("写真や絵を置くディレクトリは、ホームディレクトリの下に pic1 "
                       "とかいうディレクトリを作成して、そこに置きます。"),
        QStringLiteral("なので、写真ＨＰのみ「写真URLｱﾄﾞﾚｽ」の入力があります。"),
        QStringLiteral("３．ファイルのＳＡＶＥ／ＬＯＡＤ"),
        QStringLiteral("サブＨＰと写真ＨＰは、一度に１つ分しか保存できませんので、複数作成保存したいときは、別名にて保"
                       "存してください。"),
        QStringLiteral("４．簡易ＦＴＰ機能"),
        QStringLiteral("アクセス権の設定等は、出来ませんが、ひととおりの機能を持っています。初級／中級向きです。使って"
                       "みて下さい。"),
        QStringLiteral("上級の方は高機能フリーソフトをご使用下さい。　") + addresses::kRecommendedSoftware2,
        QStringLiteral("簡易FTPの設定がわからない場合設定はHPを設置するﾌﾟﾛﾊﾞｲﾀﾞに聞いて下さい"),
        QStringLiteral("参考ファイル転送高機能フリーソフトＨＰ（ここを押す）"),
    };
    EXPECT_EQ(tabTexts(0), expected);
}

TEST_F(HowtoWindowTest, SecondAndThirdTabsHoldTheirLinesAndAddresses)
{
    const QStringList second = tabTexts(1);
    ASSERT_EQ(second.size(), 3);
    EXPECT_FALSE(second[0].isEmpty());
    EXPECT_EQ(second[1], addresses::kFreeSoftwarePage);
    EXPECT_EQ(second[2],
              QStringLiteral("くるみの沢山のフリーウエアがあるＨＰ　（インターネット接続時にここを押して下さい）"));

    const QStringList third = tabTexts(2);
    ASSERT_EQ(third.size(), 15);
    const QStringList fixedHead = {
        QStringLiteral("くるみホームページ作成ツールのコンセプト"),
        QStringLiteral("ＨＰのコンテンツを固定することにより、誰でも簡単にＨＰが作成出来ます。コンテンツを変更しなけれ"
                       "ば変更も楽に行えます。"),
        QStringLiteral(
            "もし、もっといろいろな事をしてみたいのであれば、タグを勉強して、ｈｔｍｌ　ファイルを直接変更して下さい。"),
        QStringLiteral("このツールでの変更は出来なくなりますが、きっと楽しい綺麗な自分のＨＰが出来ることでしょう！！　"
                       "頑張ってください。"),
        QStringLiteral("このツールを使用してＨＰを作成したときには、是非、ご一報下さい。（しなくても結構です。）"),
    };
    EXPECT_EQ(third.mid(0, 5), fixedHead);
    EXPECT_FALSE(third[5].isEmpty()); // the request to report the site, worded freely
    const QStringList fixedTail = {
        QStringLiteral("ＵＲＬ ："),
        addresses::kMakerHomePage,
        QStringLiteral("作者HP"),
        QStringLiteral("e-mail ："),
        addressForReading(addresses::kMakerMail),
        QStringLiteral("上記アドレスを選択して、「Ｃｔｒｌ キー」を押しながら、「Ｉｎｓｅｒｔ "
                       "キー」を押すと、クリップボードに内容がコピーされます。"),
        QStringLiteral("メールソフトの任意の場所にて、「Ｓｈｉｆｔ キー」を押しながら、「Ｉｎｓｅｒｔ "
                       "キー」を押すと、クリップボードの内容が"),
        QStringLiteral("ペースト（貼り付け）されます。"),
        QStringLiteral("くるみより"),
    };
    EXPECT_EQ(third.mid(6), fixedTail);

    // The address fields are there to be copied, not edited.
    for (const char *name : {"Text1", "Text3", "Text4"}) {
        const auto *field = window->findChild<QLineEdit *>(QString::fromLatin1(name));
        ASSERT_NE(field, nullptr) << name;
        EXPECT_TRUE(field->isReadOnly()) << name;
    }
}

TEST_F(HowtoWindowTest, EachButtonOpensItsPageAfterYes)
{
    const struct {
        const char *button;
        QString address;
    } cases[] = {
        {"Command1", addresses::kRecommendedSoftware1},
        {"Command2", addresses::kMakerHomePage},
        {"Command3", addresses::kRecommendedSoftware2},
        {"Command4", addresses::kFreeSoftwarePage},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.button);
        opened.clear();
        prompter.clear();
        prompter.answerYes();
        ASSERT_NE(button(c.button), nullptr);
        button(c.button)->click();
        ASSERT_EQ(prompter.questions().size(), 1);
        EXPECT_EQ(prompter.shown()[0].title, QStringLiteral("インターネット接続"));
        EXPECT_EQ(prompter.questions()[0], QStringLiteral("\nインターネットに接続していますか？\n"));
        ASSERT_EQ(opened.size(), 1);
        EXPECT_EQ(opened[0], QUrl(c.address));
    }
    EXPECT_TRUE(prompter.messages().isEmpty());
    EXPECT_EQ(prompter.unexpected(), 0);
}

TEST_F(HowtoWindowTest, NoOpensNothing)
{
    for (const char *name : {"Command1", "Command2", "Command3", "Command4"}) {
        prompter.answerNo();
        button(name)->click();
    }
    EXPECT_EQ(prompter.questions().size(), 4);
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(prompter.messages().isEmpty());
}

TEST_F(HowtoWindowTest, CtrlInsertCopiesAnAddressAsTheWindowSays)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("before"));
    if (clipboard->text() != QStringLiteral("before"))
        GTEST_SKIP() << "no clipboard on this platform";
    auto *url = window->findChild<QLineEdit *>(QStringLiteral("Text3"));
    tabs()->setCurrentIndex(2);
    window->show();
    url->selectAll();
    QTest::keyClick(url, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), addresses::kMakerHomePage);
}

TEST_F(HowtoWindowTest, CloseBoxClosesAndDestroysTheWindow)
{
    window->show();
    EXPECT_TRUE(window->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

} // namespace
} // namespace webloom
