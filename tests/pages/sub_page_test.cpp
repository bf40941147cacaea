// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cerrno>
#include <sys/stat.h>

#include "document/cp932.h"
#include "document/project_file.h"
#include "pages/sub_page.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"

using namespace webloom;

namespace {

const QString kWritten = QStringLiteral("作成しました。");
const QString kNotWritten = QStringLiteral("書き込みは、完了していません！");
const QString kIdeographicSpace{QChar(kEmptyBodyLine)};

struct SubCase {
    QTemporaryDir dir;
    SiteDocument doc;
    test::ScriptedPrompter prompter;
    FileDialogState cob1;

    explicit SubCase(const QString &name = QStringLiteral("sub_minimal"))
    {
        EXPECT_TRUE(loadProjectFile(doc, prompter, test::dataPath(name + QStringLiteral("/project.txt"))));
        prompter.clear();
        doc.setText(Field::Label1, dir.path());
        doc.setCurrentTab(TabSub);
        cob1.filter = QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ|*.txt|All Files|*.*|");
    }

    PageResult press()
    {
        PageFrame frame(doc, prompter);
        return command14(frame);
    }

    // The body cells of the written page sub.html, in order.
    QStringList cells() const
    {
        QStringList out;
        const QByteArray page = test::readBytes(dir.filePath(QStringLiteral("sub.html")));
        const QByteArray open = "<td nowrap align=\"left\">";
        for (const QByteArray &line : page.split('\n')) {
            if (line.startsWith(open) && line.endsWith("</td>\r"))
                out.append(cp932::decode(line.mid(open.size(), line.size() - open.size() - 6)));
        }
        return out;
    }

    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }
    QString path(const QString &name) const { return dir.filePath(name); }

    void read(const QString &path)
    {
        prompter.chooseFile(path);
        command16(doc, prompter, cob1);
    }
    bool save(const QString &path)
    {
        prompter.chooseFile(path);
        return command17(doc, prompter, cob1);
    }
};

} // namespace

TEST(SubPage, FullPageMatchesGolden)
{
    // Stored "　" lines, a line of blanks, HTML in lines, the bulletin board
    // and the file name " sub1.html ": the body goes through the project's
    // List4, back to the text box and to List4 again before writing.
    SubCase c(QStringLiteral("sub_full"));
    EXPECT_EQ(c.press(), PageResult::Written);
    EXPECT_EQ(c.prompter.messages(), QStringList{kWritten});
    EXPECT_EQ(c.files(), QStringList{QStringLiteral("sub1.html")});
    EXPECT_TRUE(test::matchesGolden(QStringLiteral("sub_full/sub1.html"), c.path(QStringLiteral("sub1.html"))));
}

TEST(SubPage, UntitledOneLinePageMatchesGolden)
{
    SubCase c;
    EXPECT_EQ(c.press(), PageResult::Written);
    EXPECT_TRUE(test::matchesGolden(QStringLiteral("sub_minimal/sub.html"), c.path(QStringLiteral("sub.html"))));
}

TEST(SubPage, BodyLinesBecomeRows)
{
    struct Row {
        QString body;
        QStringList cells;
    };
    const QString sp = kIdeographicSpace;
    const Row rows[] = {
        {QStringLiteral("Welcome\n\n<A href=\"x.html\">more</A>"),
         {QStringLiteral("Welcome"), sp, QStringLiteral("<A href=\"x.html\">more</A>")}},
        {QStringLiteral("\n\n"), {sp, sp}},                   // only empty lines is not empty
        {QStringLiteral("a\n"), {QStringLiteral("a")}},       // a final break adds no row
        {QStringLiteral("a\n\n"), {QStringLiteral("a"), sp}}, // two final breaks add one
        {QStringLiteral("a\r\nb\rc"), {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}},
        {QStringLiteral("  \n\t"), {QStringLiteral("  "), QStringLiteral("\t")}}, // blanks stay as typed
    };
    for (const Row &row : rows) {
        SubCase c;
        c.doc.setRtext1(row.body);
        EXPECT_EQ(c.press(), PageResult::Written) << row.body.toStdString();
        EXPECT_EQ(c.cells(), row.cells) << row.body.toStdString();
        EXPECT_EQ(c.doc.list(ListId::List4), row.cells) << row.body.toStdString();
        EXPECT_EQ(c.doc.rtext1(), row.body) << "writing leaves the body as typed";
    }
}

TEST(SubPage, RefusalsWriteNothing)
{
    // An empty body, even with title and file name.
    SubCase empty;
    empty.doc.setText(Field::Text48, QStringLiteral("title"));
    empty.doc.setRtext1(QString());
    EXPECT_EQ(empty.press(), PageResult::Refused);
    EXPECT_EQ(empty.prompter.messages(), QStringList{QStringLiteral("項目を追加してください。")});

    SubCase noName;
    noName.doc.setText(Field::Text49, QString());
    EXPECT_EQ(noName.press(), PageResult::Refused);
    EXPECT_EQ(noName.prompter.messages(), QStringList{QStringLiteral("ファイル名を入れてください。")});

    // Missing e-mail: the common tab is shown; List4 was rebuilt all the same.
    SubCase noMail;
    noMail.doc.setText(Field::Text2, QString());
    noMail.doc.setRtext1(QStringLiteral("x\n\ny"));
    EXPECT_EQ(noMail.press(), PageResult::Refused);
    EXPECT_EQ(noMail.prompter.messages(), QStringList{QStringLiteral("必須項目にデータを入れてください")});
    EXPECT_EQ(noMail.doc.currentTab(), TabCommon);
    EXPECT_EQ(noMail.doc.list(ListId::List4),
              (QStringList{QStringLiteral("x"), kIdeographicSpace, QStringLiteral("y")}));

    for (const SubCase *c : {&empty, &noName, &noMail})
        EXPECT_TRUE(c->files().isEmpty());
}

TEST(SubPage, CharactersWithoutCodePageFormAreReferencesInThePage)
{
    SubCase c;
    c.doc.setRtext1(QStringLiteral("smile 😀 here"));
    EXPECT_EQ(c.press(), PageResult::Written);
    EXPECT_TRUE(test::readBytes(c.path(QStringLiteral("sub.html")))
                    .contains("<td nowrap align=\"left\">smile &#128512; here</td>\r\n"));
}

TEST(BodyFile, DecodingChoosesUtf8OrCodePage932AndSplitsEveryLineEnd)
{
    struct Row {
        QByteArray bytes;
        QString text;
    };
    const QByteArray utf8 = QStringLiteral("海の日記").toUtf8();
    const QByteArray sjis = "\x8A\x43\x82\xCC\x93\xFA\x8B\x4C"; // 海の日記 in code page 932
    const QString text = QStringLiteral("海の日記");
    const Row rows[] = {
        {sjis + "\r\n\x82\xA0\r\n", text + QStringLiteral("\nあ\n")},
        {sjis + "\n\n", text + QStringLiteral("\n\n")},
        {sjis + "\rx\r", text + QStringLiteral("\nx\n")},
        {utf8 + "\r\nx\r\n", text + QStringLiteral("\nx\n")},
        {utf8 + "\nx", text + QStringLiteral("\nx")},
        {"\xEF\xBB\xBF" + utf8 + "\r\r", text + QStringLiteral("\n\n")},
        {"\xEF\xBB\xBFplain\n", QStringLiteral("plain\n")},
        {"a\r\nb\nc\rd", QStringLiteral("a\nb\nc\nd")},
        {"", QString()},
    };
    for (const Row &row : rows)
        EXPECT_EQ(decodeBodyFile(row.bytes), row.text) << row.bytes.toHex(' ').toStdString();
}

TEST(BodyFile, ReadingReplacesTheWholeBody)
{
    SubCase c;
    c.doc.setRtext1(QStringLiteral("old\nbody\n"));
    const QStringList list4Before = c.doc.list(ListId::List4);
    const QString file = c.path(QStringLiteral("body.txt"));
    ASSERT_TRUE(test::writeBytes(file, QStringLiteral("一行目\n\n三行目\n").toUtf8()));
    c.read(file);
    EXPECT_EQ(c.doc.rtext1(), QStringLiteral("一行目\n\n三行目\n"));
    EXPECT_EQ(c.doc.list(ListId::List4), list4Before);
    EXPECT_TRUE(c.prompter.messages().isEmpty());
    EXPECT_EQ(c.cob1.fileName, file);
    // The open dialog keeps whatever filter the shared dialog had last.
    EXPECT_EQ(c.prompter.dialogFilters, QStringList{QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ|*.txt|All Files|*.*|")});
}

TEST(BodyFile, ReadingRefusesAllButASmallRegularFileAndSaysWhy)
{
    SubCase c;
    c.doc.setRtext1(QStringLiteral("keep\n"));
    c.prompter.cancelDialog();
    command16(c.doc, c.prompter, c.cob1);
    EXPECT_TRUE(c.prompter.messages().isEmpty());

    const QString fifo = c.path(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QFile big(c.path(QStringLiteral("big.txt")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(kMaxBodyFileBytes + 1));
    big.close();
    const QString notRegular = QStringLiteral("普通のファイルではありません（フォルダ、パイプ、装置など）。");
    const std::pair<QString, QString> refused[] = {
        {fifo, notRegular}, // would block the window for good if opened for reading
        {c.dir.path(), notRegular},
        {QStringLiteral("/dev/zero"), notRegular},
        {big.fileName(), QStringLiteral("ファイルが大きすぎます（16MBまで）。")},
        {c.path(QStringLiteral("missing.txt")), qt_error_string(ENOENT)},
    };
    for (const auto &[path, reason] : refused) {
        c.prompter.clear();
        c.read(path);
        EXPECT_EQ(c.prompter.messages(),
                  QStringList{path + QStringLiteral(" のファイルを読み込めませんでした。\n") + reason});
        EXPECT_EQ(c.doc.rtext1(), QStringLiteral("keep\n"));
    }

    // Exactly the limit still reads.
    ASSERT_TRUE(big.resize(kMaxBodyFileBytes));
    c.prompter.clear();
    c.read(big.fileName());
    EXPECT_TRUE(c.prompter.messages().isEmpty());
    EXPECT_EQ(c.doc.rtext1().size(), kMaxBodyFileBytes);
    EXPECT_EQ(c.prompter.unexpected(), 0);
}

TEST(BodyFile, WritingGivesCodePage932WithCrLfAndQuestionMarks)
{
    SubCase c;
    c.doc.setRtext1(QStringLiteral("海の日記\n\n😀 x\nlast"));
    const QString file = c.path(QStringLiteral("body.txt"));
    // The lost character is named first; No goes back before any dialog.
    c.prompter.answerNo();
    EXPECT_FALSE(command17(c.doc, c.prompter, c.cob1));
    ASSERT_EQ(c.prompter.questions().size(), 1);
    EXPECT_TRUE(c.prompter.questions().at(0).contains(QStringLiteral("\nサブＨＰ／サブホームページ内容 3行目：😀\n")));
    EXPECT_TRUE(c.files().isEmpty());
    c.prompter.answerYes();
    EXPECT_TRUE(c.save(file));
    EXPECT_TRUE(c.prompter.messages().isEmpty());
    EXPECT_TRUE(test::sameBytes("\x8A\x43\x82\xCC\x93\xFA\x8B\x4C\r\n\r\n? x\r\nlast\r\n", test::readBytes(file)));
    EXPECT_EQ(c.cob1.filter, QStringLiteral("text|*.txt|All Files|*.*|"));
    EXPECT_EQ(c.cob1.defaultExt, QStringLiteral("txt"));

    // Read back, the body has the same lines.
    c.doc.setRtext1(QString());
    c.read(file);
    EXPECT_EQ(c.doc.bodyLines(),
              (QStringList{QStringLiteral("海の日記"), QString(), QStringLiteral("? x"), QStringLiteral("last")}));
}

TEST(BodyFile, FailedWriteIsReportedAndKeepsTheOldFile)
{
    SubCase c;
    c.doc.setRtext1(QStringLiteral("new body\n"));
    EXPECT_FALSE(c.save(c.path(QStringLiteral("no/such/folder/body.txt"))));
    EXPECT_EQ(c.prompter.messages(), QStringList{kNotWritten + QLatin1Char('\n') + qt_error_string(ENOENT)});

    // A folder in the way of the name cannot be replaced; it stays a folder.
    c.prompter.clear();
    ASSERT_TRUE(QDir(c.dir.path()).mkdir(QStringLiteral("taken.txt")));
    EXPECT_FALSE(c.save(c.path(QStringLiteral("taken.txt"))));
    EXPECT_EQ(c.prompter.messages(), QStringList{kNotWritten + QLatin1Char('\n') + qt_error_string(EISDIR)});
    EXPECT_TRUE(QFileInfo(c.path(QStringLiteral("taken.txt"))).isDir());

    // Cancelling is not a failure and says nothing.
    c.prompter.clear();
    c.prompter.cancelDialog();
    EXPECT_FALSE(command17(c.doc, c.prompter, c.cob1));
    EXPECT_TRUE(c.prompter.messages().isEmpty());
}
