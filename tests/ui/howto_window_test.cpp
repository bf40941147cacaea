// SPDX-License-Identifier: GPL-3.0-or-later
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

#include <algorithm>

#include "document/addresses.h"
#include "support/scripted_prompter.h"
#include "ui/howto_window.h"

namespace webloom {
namespace {

// The labels, buttons and fields of a layout, in the order the reader meets
// them (depth first through nested rows).
void collectItems(const QLayout *layout, QList<QWidget *> &out)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (const QLayout *inner = item->layout())
            collectItems(inner, out);
        else if (QWidget *widget = item->widget())
            if (qobject_cast<QLabel *>(widget) || qobject_cast<QAbstractButton *>(widget) ||
                qobject_cast<QLineEdit *>(widget))
                out.append(widget);
    }
}

QString textOf(const QWidget *widget)
{
    if (const auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    return qobject_cast<const QLineEdit *>(widget)->text();
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
    QList<QWidget *> tabItems(int index) const
    {
        QList<QWidget *> out;
        collectItems(tabs()->widget(index)->layout(), out);
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
    // A window of its own even when an owner is given, not a panel drawn
    // inside the owner.
    QWidget owner;
    auto *owned = new HowtoWindow(prompter, &owner);
    EXPECT_TRUE(owned->isWindow());
    EXPECT_EQ(owned->parentWidget(), &owner);
    EXPECT_FALSE(window->isModal());
    ASSERT_NE(tabs(), nullptr);
    ASSERT_EQ(tabs()->count(), 3);
    EXPECT_EQ(tabs()->tabText(0), QStringLiteral("使い方（１）"));
    EXPECT_EQ(tabs()->tabText(1), QStringLiteral("使い方（２）"));
    EXPECT_EQ(tabs()->tabText(2), QStringLiteral("使い方（３）"));
    EXPECT_EQ(tabs()->currentIndex(), 0);
}

// Lost or shuffled lines: every line has its text, the four numbered
// sections come in order, and each reference names its address above the
// button that opens it, within its section.
TEST_F(HowtoWindowTest, FirstTabKeepsItsSectionsAndLinksInOrder)
{
    const QList<QWidget *> items = tabItems(0);
    ASSERT_EQ(items.size(), 14);
    QStringList texts;
    for (const QWidget *item : items)
        texts.append(textOf(item));
    for (int i = 0; i < texts.size(); ++i)
        EXPECT_FALSE(texts[i].trimmed().isEmpty()) << "line " << i;

    const QStringList headings = {QStringLiteral("１．用意するファイル"), QStringLiteral("２．ファイルの配置"),
                                  QStringLiteral("３．ファイルのＳＡＶＥ／ＬＯＡＤ"),
                                  QStringLiteral("４．簡易ＦＴＰ機能")};
    QList<qsizetype> at;
    for (const QString &heading : headings)
        at.append(texts.indexOf(heading));
    EXPECT_EQ(at.first(), 0);
    for (int i = 1; i < at.size(); ++i)
        EXPECT_GT(at[i], at[i - 1] + 1) << "section " << i << " is missing, moved or empty";
    at.append(texts.size());

    const struct {
        QString address;
        const char *button;
    } links[] = {{addresses::kRecommendedSoftware1, "Command1"}, {addresses::kRecommendedSoftware2, "Command3"}};
    for (const auto &link : links) {
        SCOPED_TRACE(link.button);
        qsizetype line = -1;
        for (qsizetype i = 0; i < texts.size(); ++i)
            if (texts[i].endsWith(QStringLiteral("　") + link.address))
                line = i;
        ASSERT_GE(line, 0);
        qsizetype next = line + 1;
        while (next < items.size() && !qobject_cast<QPushButton *>(items[next]))
            ++next;
        ASSERT_LT(next, items.size());
        EXPECT_EQ(items[next], button(link.button));
        const qsizetype sectionEnd = *std::upper_bound(at.begin(), at.end(), line);
        EXPECT_LT(next, sectionEnd) << "the button left its section";
    }
}

// The addresses to copy stand, read-only and without "mailto:", right after
// the label that names them; the link buttons after theirs.
TEST_F(HowtoWindowTest, SecondAndThirdTabsShowTheAddressesToCopy)
{
    const QList<QWidget *> second = tabItems(1);
    ASSERT_EQ(second.size(), 3);
    EXPECT_FALSE(textOf(second[0]).trimmed().isEmpty());
    EXPECT_EQ(second[1]->objectName(), QStringLiteral("Text1"));
    EXPECT_EQ(textOf(second[1]), QStringLiteral("https://webloom.example.org/free/"));
    EXPECT_EQ(second[2], button("Command4"));

    const QList<QWidget *> third = tabItems(2);
    ASSERT_EQ(third.size(), 15);
    QStringList texts;
    for (const QWidget *item : third)
        texts.append(textOf(item));
    for (int i = 0; i < texts.size(); ++i)
        EXPECT_FALSE(texts[i].trimmed().isEmpty()) << "line " << i;
    const qsizetype url = texts.indexOf(QStringLiteral("ＵＲＬ ："));
    ASSERT_GE(url, 0);
    ASSERT_LT(url + 3, texts.size());
    EXPECT_EQ(third[url + 1]->objectName(), QStringLiteral("Text3"));
    EXPECT_EQ(texts[url + 1], QStringLiteral("https://webloom.example.org/"));
    EXPECT_EQ(third[url + 2], button("Command2"));
    EXPECT_EQ(texts[url + 3], QStringLiteral("e-mail ："));
    EXPECT_EQ(third[url + 4]->objectName(), QStringLiteral("Text4"));
    EXPECT_EQ(texts[url + 4], QStringLiteral("webloom@example.org"));

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
