// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "document/cp932.h"
#include "support/golden.h"
#include "ui/preview_browser.h"

namespace webloom {
namespace {

// A page as this program writes it: code page 932, CR LF, no charset.
QByteArray writtenPage(const QString &title, const QString &body)
{
    const QString text = QStringLiteral("<HTML>\r\n<HEAD>\r\n<TITLE>") + title +
                         QStringLiteral("</TITLE>\r\n</HEAD>\r\n<BODY>\r\n") + body +
                         QStringLiteral("\r\n</BODY>\r\n</HTML>\r\n");
    return cp932::encode(text, cp932::Unmappable::NumericReference);
}

class PreviewBrowserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        window = new PreviewBrowser;
        window->resize(640, 480);
        view = window->findChild<PageView *>(QStringLiteral("brwWebBrowser"));
        timer = window->findChild<QTimer *>(QStringLiteral("timTimer"));
        address = window->findChild<QComboBox *>(QStringLiteral("cboAddress"));
        ASSERT_NE(view, nullptr);
        ASSERT_NE(timer, nullptr);
        ASSERT_NE(address, nullptr);
    }
    void TearDown() override { delete window.data(); }

    QString writePage(const QString &name, const QString &title, const QString &body = QStringLiteral("本文"))
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(test::writeBytes(path, writtenPage(title, body)));
        return path;
    }

    void typeAndEnter(const QString &text)
    {
        address->setEditText(text);
        QTest::keyClick(address->lineEdit(), Qt::Key_Return);
    }

    // Lets the pending load and the next timer ticks run.
    void settle() { QTRY_VERIFY_WITH_TIMEOUT(!timer->isActive(), 2000); }

    void press(const char *key)
    {
        auto *toolbar = window->findChild<QToolBar *>(QStringLiteral("tbToolBar"));
        for (QAction *action : toolbar->actions()) {
            if (action->objectName() == QLatin1String(key)) {
                action->trigger();
                return;
            }
        }
        ADD_FAILURE() << "no button " << key;
    }

    // One tick of timTimer, delivered now rather than after 5 ms.
    void tickNow()
    {
        ASSERT_TRUE(timer->isActive());
        QTimerEvent event(timer->timerId());
        QCoreApplication::sendEvent(timer, &event);
    }

    QTemporaryDir dir;
    QPointer<PreviewBrowser> window;
    PageView *view = nullptr;
    QTimer *timer = nullptr;
    QComboBox *address = nullptr;
};

TEST_F(PreviewBrowserTest, ControlsOnOpening)
{
    EXPECT_EQ(window->objectName(), QStringLiteral("frmBrowser"));
    EXPECT_EQ(window->windowTitle(), kPreviewCaption);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->interval(), 5);
    EXPECT_TRUE(view->source().isEmpty());
    EXPECT_TRUE(address->isEditable());
    EXPECT_EQ(address->count(), 0);
    EXPECT_EQ(window->findChild<QLabel *>(QStringLiteral("lblAddress"))->text(), QStringLiteral("ｱﾄﾞﾚｽ(&A):"));
    EXPECT_NE(window->findChild<QWidget *>(QStringLiteral("picAddress")), nullptr);

    auto *toolbar = window->findChild<QToolBar *>(QStringLiteral("tbToolBar"));
    ASSERT_NE(toolbar, nullptr);
    QStringList keys, tips;
    for (QAction *action : toolbar->actions()) {
        keys << action->objectName();
        tips << action->toolTip();
        EXPECT_FALSE(action->icon().isNull()) << action->objectName().toStdString();
    }
    EXPECT_EQ(keys, (QStringList{QStringLiteral("Back"), QStringLiteral("Forward"), QStringLiteral("Stop"),
                                 QStringLiteral("Refresh"), QStringLiteral("Home"), QStringLiteral("Search")}));
    EXPECT_EQ(tips, (QStringList{QStringLiteral("戻る"), QStringLiteral("進む"), QStringLiteral("中止"),
                                 QStringLiteral("更新"), QStringLiteral("ﾎｰﾑ"), QStringLiteral("検索")}));
}

TEST_F(PreviewBrowserTest, EnterWithEmptyAddressStartsTheTimerAndLoadsNothing)
{
    typeAndEnter(QString());
    EXPECT_TRUE(timer->isActive());
    settle();
    EXPECT_TRUE(view->source().isEmpty());
    EXPECT_EQ(window->windowTitle(), kPreviewCaption);
    EXPECT_EQ(address->count(), 0);
}

TEST_F(PreviewBrowserTest, WrittenPageShowsWithItsTitleInTheCaption)
{
    const QString path = writePage(QStringLiteral("index.html"), QStringLiteral("ようこそ　私のＨＰへ"),
                                   QStringLiteral("<P>表示テスト：ソ十能</P>"));
    typeAndEnter(path);
    EXPECT_TRUE(view->busy());
    tickNow();
    EXPECT_EQ(window->windowTitle(), kConnectingCaption);
    settle();
    EXPECT_FALSE(view->busy());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ようこそ　私のＨＰへ"));
    // Characters whose second byte is a backslash survive the decoding.
    EXPECT_TRUE(view->toPlainText().contains(QStringLiteral("表示テスト：ソ十能")))
        << view->toPlainText().toStdString();
    // The address box keeps working as a plain text box.
    EXPECT_EQ(address->count(), 0);
    EXPECT_EQ(address->currentText(), path);
}

TEST_F(PreviewBrowserTest, RelativePathAndFileUrlAreLocalPages)
{
    writePage(QStringLiteral("self.html"), QStringLiteral("自　己　紹　介"));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    typeAndEnter(QStringLiteral("  self.html "));
    settle();
    QDir::setCurrent(previous);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("自　己　紹　介"));

    writePage(QStringLiteral("untitled page.html"), QString());
    typeAndEnter(QUrl::fromLocalFile(dir.filePath(QStringLiteral("untitled page.html"))).toString());
    settle();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("untitled page.html"));
}

TEST_F(PreviewBrowserTest, AddressThatCannotLoadLeavesTheCurrentPage)
{
    typeAndEnter(writePage(QStringLiteral("top.html"), QStringLiteral("トップ")));
    settle();
    const QString shown = view->toPlainText();
    for (const QString &bad :
         {dir.filePath(QStringLiteral("missing.html")), QStringLiteral("http://example.org/"), dir.path()}) {
        SCOPED_TRACE(bad.toStdString());
        typeAndEnter(bad);
        settle();
        EXPECT_EQ(window->windowTitle(), QStringLiteral("トップ"));
        EXPECT_EQ(view->toPlainText(), shown);
    }
    EXPECT_EQ(view->source(), QUrl::fromLocalFile(dir.filePath(QStringLiteral("top.html"))));

    // Refresh after the file has gone keeps the page and its address.
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("top.html"))));
    press("Refresh");
    settle();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("トップ"));
    EXPECT_EQ(view->source(), QUrl::fromLocalFile(dir.filePath(QStringLiteral("top.html"))));
}

TEST_F(PreviewBrowserTest, BackOnAFreshWindowChangesNothing)
{
    for (const char *key : {"Back", "Forward", "Refresh", "Home", "Search"}) {
        SCOPED_TRACE(key);
        press(key);
        EXPECT_TRUE(timer->isActive());
        settle();
        EXPECT_TRUE(view->source().isEmpty());
        EXPECT_TRUE(view->toPlainText().isEmpty());
        EXPECT_EQ(window->windowTitle(), kPreviewCaption);
    }
}

TEST_F(PreviewBrowserTest, HistoryButtonsFollowTheVisitedPages)
{
    typeAndEnter(writePage(QStringLiteral("a.html"), QStringLiteral("ページＡ")));
    settle();
    typeAndEnter(writePage(QStringLiteral("b.html"), QStringLiteral("ページＢ")));
    settle();
    press("Back");
    settle();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ページＡ"));
    press("Forward");
    settle();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ページＢ"));
    press("Home");
    settle();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ページＡ"));

    // Refresh reads the file again.
    writePage(QStringLiteral("a.html"), QStringLiteral("ページＡ改"));
    press("Refresh");
    settle();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ページＡ改"));
}

TEST_F(PreviewBrowserTest, LinkToAnotherWrittenPageIsFollowed)
{
    writePage(QStringLiteral("link.html"), QStringLiteral("リンク集"));
    typeAndEnter(writePage(QStringLiteral("top.html"), QStringLiteral("トップ"),
                           QStringLiteral("<A href=\"link.html\">リンク</A><A href=\"http://example.org/\">外</A>")));
    settle();
    view->setSource(QUrl(QStringLiteral("http://example.org/")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("トップ"));
    view->setSource(QUrl(QStringLiteral("link.html")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("リンク集"));
}

TEST_F(PreviewBrowserTest, StopShowsTheCurrentNameAndCancelsALoad)
{
    press("Stop");
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(window->windowTitle(), kPreviewCaption);

    typeAndEnter(writePage(QStringLiteral("a.html"), QStringLiteral("ページＡ")));
    settle();
    typeAndEnter(writePage(QStringLiteral("b.html"), QStringLiteral("ページＢ")));
    press("Stop");
    EXPECT_FALSE(timer->isActive());
    EXPECT_FALSE(view->busy());
    QTest::qWait(20);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ページＡ"));
}

TEST_F(PreviewBrowserTest, LayoutFollowsTheWindowAndNeverGoesNegative)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    window->resize(640, 480);
    auto *strip = window->findChild<QWidget *>(QStringLiteral("picAddress"));
    const int stripBottom = strip->geometry().bottom() + 1;
    EXPECT_EQ(address->width(), 640 - 7);
    EXPECT_EQ(view->width(), 640 - 7);
    EXPECT_EQ(view->height(), 480 - stripBottom - 7);
    EXPECT_GE(view->y(), stripBottom);

    window->resize(600, 300);
    EXPECT_EQ(address->width(), 600 - 7);
    EXPECT_EQ(view->height(), 300 - stripBottom - 7);

    window->resize(4, 4);
    EXPECT_EQ(window->size(), QSize(4, 4));
    EXPECT_EQ(address->width(), 0);
    EXPECT_EQ(view->width(), 0);
    EXPECT_EQ(view->height(), 0);
}

TEST(DecodePageTest, CharsetOfThePageDecidesAndCodePage932IsTheFallback)
{
    const QString text = QStringLiteral("写真ＨＰ～表");
    const QByteArray sjis = cp932::encode(text, cp932::Unmappable::QuestionMark);
    EXPECT_EQ(decodePage(sjis), text);
    const QByteArray declaredSjis =
        QByteArrayLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">") + sjis;
    EXPECT_TRUE(decodePage(declaredSjis).endsWith(text));

    const QByteArray utf8 = text.toUtf8();
    EXPECT_EQ(decodePage(QByteArrayLiteral("\xEF\xBB\xBF") + utf8), text);
    EXPECT_TRUE(decodePage(QByteArrayLiteral("<META CHARSET='UTF-8'>") + utf8).endsWith(text));
    EXPECT_TRUE(decodePage(QByteArrayLiteral("<meta charset=iso-8859-1>caf\xE9")).endsWith(QStringLiteral("café")));
    EXPECT_TRUE(decodePage(QByteArray()).isEmpty());
}

} // namespace
} // namespace webloom
