// SPDX-License-Identifier: GPL-3.0-or-later
// The secondary windows as a new user meets them on a small screen (the
// offscreen platform's 800 × 600), and the main window's keys.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <string>

#include "document/settings.h"
#include "support/scripted_prompter.h"
#include "ui/main_window.h"

using namespace webloom;

namespace {

std::string text(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

QWidget *openWindow(const char *className)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->inherits(className))
            return w;
    }
    return nullptr;
}

} // namespace

TEST(SecondaryWindows, OpenOnTheScreenCentredOnTheMainWindowAndCloseWithEscape)
{
    QTemporaryDir store;
    settings::useFile(store.filePath(QStringLiteral("webloom.ini")));
    test::ScriptedPrompter prompter;
    MainWindow main(&prompter);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    const QRect screen = main.screen()->availableGeometry();
    // The main window where a user dragged it, off the screen's middle.
    main.move(screen.topLeft() + QPoint(40, 8));

    struct Opener {
        const char *control; // a menu item or a button of the main window
        const char *className;
    };
    const Opener openers[] = {
        {"Command1", "webloom::FolderChooser"}, {"easyftp", "webloom::FtpWindow"},
        {"publish", "webloom::PublishWindow"},  {"how", "webloom::HowtoWindow"},
        {"about", "webloom::AboutWindow"},
    };
    auto open = [&main](const Opener &o) -> QWidget * {
        if (auto *button = main.findChild<QPushButton *>(QLatin1String(o.control)))
            button->click();
        else
            main.findChild<QAction *>(QLatin1String(o.control))->trigger();
        QWidget *w = openWindow(o.className);
        if (w) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(w)) << o.className;
        }
        return w;
    };
    for (const Opener &o : openers) {
        SCOPED_TRACE(o.className);
        QWidget *w = open(o);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(screen.contains(w->frameGeometry())) << text(w->frameGeometry()) << " on " << text(screen);
        // Centred on the main window, unless the screen's edge is in the way.
        const QPoint offset = w->frameGeometry().center() - main.frameGeometry().center();
        if (w->frameGeometry().width() < screen.width() - 80) {
            EXPECT_LE(std::abs(offset.x()), 1) << text(w->frameGeometry());
        }
        if (w->frameGeometry().height() < screen.height() - 16) {
            EXPECT_LE(std::abs(offset.y()), 1) << text(w->frameGeometry());
        }

        // Moved by the user and closed with Escape, it comes back where it was.
        const QPoint moved = screen.topLeft() + QPoint(30, 40);
        w->move(moved);
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w, Qt::Key_Escape);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(openWindow(o.className), nullptr) << "Escape closes it";
        w = open(o);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->frameGeometry().topLeft(), moved);
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(prompter.shown().empty());

    // Ctrl+S and Ctrl+O run SAVE and LOAD, their captions unchanged.
    main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    prompter.cancelDialog();
    QTest::keyClick(&main, Qt::Key_S, Qt::ControlModifier);
    prompter.cancelDialog();
    QTest::keyClick(&main, Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(prompter.shown().size(), 3u);
    EXPECT_EQ(prompter.shown().at(0).kind, test::ScriptedPrompter::Shown::SaveDialog);
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("書き込みは、完了していません！")});
    EXPECT_EQ(prompter.shown().at(2).kind, test::ScriptedPrompter::Shown::OpenDialog);
    EXPECT_EQ(main.findChild<QAction *>(QStringLiteral("save"))->text(), QStringLiteral("SAVE"));
    EXPECT_EQ(prompter.unexpected(), 0);
    settings::useFile(QString());
}

// Ctrl+Q is EXIT: the program ends. Run in a child process, as EXIT's own test.
TEST(SecondaryWindows, CtrlQEndsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            test::ScriptedPrompter prompter;
            MainWindow window(&prompter);
            window.show();
            QTimer::singleShot(0, &window, [&window] {
                window.activateWindow();
                if (!QTest::qWaitForWindowActive(&window))
                    std::_Exit(4);
                QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
            });
            QTimer::singleShot(10000, [] { std::_Exit(3); });
            const int status = QApplication::exec();
            std::_Exit(status == 0 && !window.isVisible() ? 42 : 1);
        },
        ::testing::ExitedWithCode(42), "");
}
