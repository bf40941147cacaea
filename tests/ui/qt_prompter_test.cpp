// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>

#include "modal_helper.h"
#include "ui/qt_prompter.h"

using namespace webloom;

namespace {

struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat format = Qt::AutoText;
};

// Records the box and presses one of its buttons.
std::function<void(QWidget *)> answer(SeenBox &seen, QMessageBox::StandardButton press)
{
    return [&seen, press](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        ASSERT_NE(box, nullptr);
        seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons(), box->textFormat()};
        if (QAbstractButton *b = box->button(press))
            b->click();
        else
            box->reject();
    };
}

} // namespace

TEST(QtPrompter, MessageIsTitledWithOkAndNoIconAndShowsTextAsGiven)
{
    QtPrompter prompter;
    SeenBox seen;
    const QString text = QStringLiteral("/tmp/<a>&b.txtファイルがありません");
    test::ModalHandler h(answer(seen, QMessageBox::Ok));
    prompter.message(text);
    ASSERT_TRUE(h.handled());
    EXPECT_EQ(seen.title, QStringLiteral("webloom"));
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.format, Qt::PlainText); // a path with "<" is not taken for markup
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST(QtPrompter, QuestionIsYesNoWithTheWarningIcon)
{
    QtPrompter prompter;
    const QString text = framedQuestion(QStringLiteral("/tmp/webloom.txt のファイルを削除します"));
    SeenBox seen;
    {
        test::ModalHandler h(answer(seen, QMessageBox::Yes));
        EXPECT_TRUE(prompter.question(QStringLiteral("ファイル削除確認"), text));
        ASSERT_TRUE(h.handled());
    }
    EXPECT_EQ(seen.title, QStringLiteral("ファイル削除確認"));
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    {
        test::ModalHandler h(answer(seen, QMessageBox::No));
        EXPECT_FALSE(prompter.question(QStringLiteral("ファイル削除確認"), text));
        ASSERT_TRUE(h.handled());
    }
    {
        // Closing the box without an answer is a No.
        test::ModalHandler h([](QWidget *w) { w->close(); });
        EXPECT_FALSE(prompter.question(QString(), text));
        ASSERT_TRUE(h.handled());
    }
}
