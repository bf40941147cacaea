// SPDX-License-Identifier: GPL-3.0-or-later
#include <QBuffer>
#include <QTextStream>

#include <gtest/gtest.h>

#include "app/cli_prompter.h"

using namespace webloom;

TEST(ConsolePrompter, BoxesBecomeSingleLinesAndNothingIsAgreedTo)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    QTextStream err(&buffer);
    ConsolePrompter prompter(err);

    prompter.message(QStringLiteral("/a/index.html のファイルを書き込めませんでした。\nNo space left on device"));
    prompter.message(QStringLiteral("一\r\n二\r三　"));
    prompter.message(QStringLiteral("\x1b]0;title\x07.html は、ページのファイル名に使えません。"));
    EXPECT_FALSE(prompter.question(QStringLiteral("ファイル削除確認"),
                                   framedQuestion(QStringLiteral("/a/b.txt のファイルを削除します"))));
    FileDialogState state{QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ|*.txt|"), QStringLiteral("webloom.txt"), QStringLiteral("txt"), 0};
    EXPECT_FALSE(prompter.openFile(state));
    EXPECT_FALSE(prompter.saveFile(state));
    EXPECT_EQ(state.fileName, QStringLiteral("webloom.txt"));
    err.flush();

    EXPECT_EQ(bytes.toStdString(),
              QStringLiteral("/a/index.html のファイルを書き込めませんでした。 No space left on device\n"
                             "一 二 三　\n"
                             "\\x1b]0;title\\x07.html は、ページのファイル名に使えません。\n"
                             "ファイル削除確認 /a/b.txt のファイルを削除します → いいえ\n")
                  .toStdString());
}
