// SPDX-License-Identifier: GPL-3.0-or-later
// Unsaved work kept while the window runs: a window killed after typing
// offers its fields back at the next start.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>

#include "document/recovery.h"
#include "support/child_process.h"
#include "support/golden.h"
#include "support/scoped_env.h"
#include "support/scripted_prompter.h"
#include "ui/main_window.h"

using namespace webloom;

namespace {

const QString kTitle = QStringLiteral("書きかけの題名");

// The window of a program that gets typing and is then killed: a title, a
// body with an empty line and the base folder WEBLOOM_TEST_BASE.
int typeAndWait()
{
    test::ScriptedPrompter prompter;
    MainWindow window(&prompter);
    window.show();
    window.startRecovery(Recovery::defaultFolder());
    window.document().setText(Field::Label1, qEnvironmentVariable("WEBLOOM_TEST_BASE"));
    QLineEdit *title = window.findChild<QLineEdit *>(QStringLiteral("Text13"));
    title->setFocus();
    for (QChar c : kTitle)
        QTest::sendKeyEvent(QTest::Click, title, Qt::Key_unknown, c, Qt::NoModifier);
    window.findChild<QPlainTextEdit *>(QStringLiteral("rtext1"))->setPlainText(QStringLiteral("一行目\n\n三行目"));
    QTimer::singleShot(120000, [] { std::_Exit(3); });
    return QApplication::exec();
}
const test::ChildProcess kTypingChild("recovery-typing", &typeAndWait);

class RecoveryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(state_.isValid() && base_.isValid() && projects_.isValid()); }

    QString folder() const { return Recovery::defaultFolder(); }
    QStringList recoveryFiles() const
    {
        return QDir(folder()).entryList({QStringLiteral("recovery-*.txt")}, QDir::Files);
    }

    // Runs the typing window until its recovery file is on disk, then kills
    // it; returns the file.
    QString typeAndKill()
    {
        QProcess child;
        QProcessEnvironment extra;
        extra.insert(QStringLiteral("XDG_STATE_HOME"), state_.path());
        extra.insert(QStringLiteral("WEBLOOM_TEST_BASE"), base_.path());
        extra.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        extra.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        test::ChildProcess::start(child, QStringLiteral("recovery-typing"), extra);
        EXPECT_TRUE(child.waitForStarted(10000));
        const bool written = QTest::qWaitFor([this] { return !recoveryFiles().isEmpty(); }, 60000);
        child.kill();
        child.waitForFinished(10000);
        EXPECT_TRUE(written);
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
        return written ? QDir(folder()).filePath(recoveryFiles().constFirst()) : QString();
    }

    QTemporaryDir state_, base_, projects_;
    test::ScopedEnv stateHome_{"XDG_STATE_HOME", state_.path()};
};

QString fieldText(const MainWindow &window, Field field)
{
    return window.findChild<QLineEdit *>(fieldName(field))->text();
}

} // namespace

TEST_F(RecoveryTest, AKilledWindowIsOfferedBackUntilSavedOrRefused)
{
    EXPECT_EQ(folder(), state_.path() + QStringLiteral("/webloom"));
    const QString kept = typeAndKill();
    ASSERT_FALSE(kept.isEmpty());
    EXPECT_EQ(QFile(kept).permissions(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    const QByteArray bytes = test::readBytes(kept);
    EXPECT_TRUE(bytes.startsWith("ki001=" + QFile::encodeName(base_.path()) + "\r\n"));
    EXPECT_TRUE(bytes.contains("\r\nlist4=003\r\n"));

    // The next start asks once; Yes brings back the fields and the base folder.
    {
        test::ScriptedPrompter prompter;
        prompter.answerYes();
        MainWindow window(&prompter);
        window.show();
        EXPECT_TRUE(window.startRecovery(folder()));
        EXPECT_EQ(prompter.questions(),
                  QStringList{QStringLiteral("\n前回保存されていない入力があります。復元しますか？\n")});
        EXPECT_EQ(fieldText(window, Field::Text13), kTitle);
        EXPECT_EQ(fieldText(window, Field::Label1), base_.path());
        EXPECT_EQ(window.findChild<QPlainTextEdit *>(QStringLiteral("rtext1"))->toPlainText(),
                  QStringLiteral("一行目\n　\n三行目\n"));
        EXPECT_EQ(recoveryFiles().size(), 1) << "still unsaved";

        // SAVE clears it, and the window closing writes nothing more.
        prompter.chooseFile(QDir(projects_.path()).filePath(QStringLiteral("site.txt")));
        window.findChild<QAction *>(QStringLiteral("save"))->trigger();
        EXPECT_EQ(prompter.lastMessage(), QStringLiteral("書込み完了"));
        EXPECT_TRUE(recoveryFiles().isEmpty());
        EXPECT_EQ(prompter.unexpected(), 0);
    }
    EXPECT_TRUE(recoveryFiles().isEmpty());

    // No discards it: that start keeps its defaults, and the next asks nothing.
    typeAndKill();
    {
        test::ScriptedPrompter prompter;
        prompter.answerNo();
        MainWindow window(&prompter);
        EXPECT_FALSE(window.startRecovery(folder()));
        EXPECT_EQ(prompter.questions().size(), 1);
        EXPECT_EQ(fieldText(window, Field::Text13), QString::fromUtf8(fieldInfo(Field::Text13).defaultValue));
        EXPECT_TRUE(recoveryFiles().isEmpty());
    }
    test::ScriptedPrompter prompter;
    MainWindow window(&prompter);
    EXPECT_FALSE(window.startRecovery(folder()));
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(RecoveryTest, TwoWindowsAtOnceKeepTheirOwnFiles)
{
    test::ScriptedPrompter first, second, third;
    MainWindow a(&first), b(&second);
    EXPECT_FALSE(a.startRecovery(folder()));
    EXPECT_FALSE(b.startRecovery(folder()));
    ASSERT_NE(a.recovery()->path(), b.recovery()->path());

    a.document().setText(Field::Text13, QStringLiteral("A"));
    b.document().setText(Field::Text13, QStringLiteral("B"));
    EXPECT_TRUE(recoveryFiles().isEmpty()) << "written only after a quiet moment";
    a.recovery()->flush();
    b.recovery()->flush();
    EXPECT_TRUE(test::readBytes(a.recovery()->path()).contains("\r\nte013=A\r\n"));
    EXPECT_TRUE(test::readBytes(b.recovery()->path()).contains("\r\nte013=B\r\n"));

    // A third window while both run finds nothing to offer.
    MainWindow c(&third);
    EXPECT_FALSE(c.startRecovery(folder()));
    EXPECT_TRUE(third.shown().empty());

    // Typing undone leaves nothing to recover.
    b.document().setText(Field::Text13, QString::fromUtf8(fieldInfo(Field::Text13).defaultValue));
    b.recovery()->flush();
    EXPECT_FALSE(QFile::exists(b.recovery()->path()));
    EXPECT_EQ(recoveryFiles().size(), 1);
}

TEST_F(RecoveryTest, ThePageOptionsOfTheCommonTabAreKeptLikeEveryField)
{
    test::ScriptedPrompter prompter;
    {
        MainWindow window(&prompter);
        EXPECT_FALSE(window.startRecovery(folder()));
        auto *encoding = window.findChild<QComboBox *>(QStringLiteral("Combo1"));
        auto *phone = window.findChild<QCheckBox *>(QStringLiteral("Check1"));
        ASSERT_TRUE(encoding && phone);
        EXPECT_EQ(encoding->currentText(), QStringLiteral("Shift_JIS（従来どおり）"));
        EXPECT_FALSE(phone->isChecked());
        encoding->setCurrentIndex(1);
        phone->click();
        EXPECT_EQ(window.document().pageOptions(), (PageOptions{PageEncoding::Utf8, true}));
        window.recovery()->flush();
        EXPECT_TRUE(test::readBytes(window.recovery()->path()).endsWith("\r\nop001=UTF-8\r\nop002=1\r\n"));
    }

    // Offered back at the next start, into the controls.
    prompter.answerYes();
    MainWindow window(&prompter);
    EXPECT_TRUE(window.startRecovery(folder()));
    auto *encoding = window.findChild<QComboBox *>(QStringLiteral("Combo1"));
    auto *phone = window.findChild<QCheckBox *>(QStringLiteral("Check1"));
    EXPECT_EQ(encoding->currentText(), QStringLiteral("UTF-8"));
    EXPECT_TRUE(phone->isChecked());

    // A project without them brings the defaults, and counts as saved.
    ASSERT_TRUE(window.openProject(test::dataPath(QStringLiteral("top_full/project.txt"))));
    EXPECT_EQ(encoding->currentIndex(), 0);
    EXPECT_FALSE(phone->isChecked());
    EXPECT_TRUE(recoveryFiles().isEmpty());
    EXPECT_EQ(prompter.unexpected(), 0);
}
