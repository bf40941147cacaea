// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

#include "document/cp932.h"
#include "document/project_file.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"

using namespace webloom;
using webloom::test::ScriptedPrompter;

namespace {

const QString kNotWritten = QStringLiteral("書き込みは、完了していません！");
const QString kNoFile = QStringLiteral("ファイルがありません");
const QString kWritten = QStringLiteral("書込み完了");
const QString kRead = QStringLiteral("読込み完了");

QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

// Project lines as a file holds them: CP932, CR LF after each.
QByteArray lines(std::initializer_list<const char *> texts)
{
    QByteArray out;
    for (const char *t : texts)
        out += cp932::encode(u8(t), cp932::Unmappable::QuestionMark) + "\r\n";
    return out;
}

// The document that tests/data/project_full/project.txt was written from,
// and what a load of that file gives back (characters outside the code page
// come back as "?").
struct FullValue {
    Field field;
    const char *saved;
    const char *loaded;
};
const FullValue kFull[] = {
    {Field::Label1, "D:\\kurumi\\hp", nullptr},
    {Field::Text1, "http://www.example.ne.jp/~kurumi/", nullptr},
    {Field::Text2, "kurumi@example.ne.jp", nullptr},
    {Field::Text11, "ダイビング掲示板", nullptr},
    {Field::Text12, "http://bbs.example.com/kurumi/", nullptr},
    {Field::Text42, "http://www.example.ne.jp/~kurumi/banner.gif", nullptr},
    {Field::Text13, "  くるみのホームページ  ", nullptr},
    {Field::Text29, "沖縄の海①", nullptr},
    {Field::Text14, "旅行記", nullptr},
    {Field::Text15, "髙橋さんの部屋", nullptr},
    {Field::Text16, "写真集１", nullptr},
    {Field::Text17, "写真集２", nullptr},
    {Field::Text50, "<!--#exec cmd=\"../count/rent01.pl\"-->", nullptr},
    {Field::Text45, "self.html", nullptr},
    {Field::Text46, "link.html", nullptr},
    {Field::Text22, "top.jpg", nullptr},
    {Field::Text23, "sub1.html", nullptr},
    {Field::Text24, "sub2.html", nullptr},
    {Field::Text25, "photo1.html", nullptr},
    {Field::Text26, "photo2.html", nullptr},
    {Field::Text48, "沖縄旅行記", nullptr},
    {Field::Text49, "sub1.html", nullptr},
    {Field::Text3, "D:\\kurumi\\写真", nullptr},
    {Field::Text4, "okinaw", nullptr},
    {Field::Text5, "jpg", nullptr},
    {Field::Text6, "http://www.example.ne.jp/~kurumi/photo/", nullptr},
    {Field::Text8, "沖縄の写真", nullptr},
    {Field::Text10, "２００３年夏", nullptr},
    {Field::Text9, "okinaw", nullptr},
    {Field::Text31, "くるみ", nullptr},
    {Field::Text32, "２月１日", nullptr},
    {Field::Text33, "ダイビング", nullptr},
    {Field::Text34, "写真 😀", "写真 ?"},
    {Field::Text35, "潜水士", nullptr},
    {Field::Text37, "見に来てくれてありがとう！", nullptr},
    {Field::Text38, "カタカナ半角ｶﾀｶﾅ", nullptr},
    {Field::Text39, "price € 100", "price ? 100"},
};
const char *const kFullBody = "１日目：那覇に到着～\n\n  海がきれい ♥\n<BR>\n";
const char *const kFullBodyLoaded = "１日目：那覇に到着～\n　\n  海がきれい ?\n<BR>\n";
const char *const kFullLinks[] = {"ダイビング情報：http://dive.example.com/：楽しい初心者向け情報満載！",
                                  "友達のＨＰ：http://friend.example.org/："};

void fillFull(SiteDocument &doc)
{
    for (const FullValue &v : kFull)
        doc.setText(v.field, u8(v.saved));
    doc.setRtext1(u8(kFullBody));
    for (const char *link : kFullLinks)
        doc.appendItem(ListId::List3, u8(link));
}

// Every field's text, for checking what a load left alone.
std::vector<QString> allTexts(const SiteDocument &doc)
{
    std::vector<QString> out;
    for (const FieldInfo &info : fieldTable())
        out.push_back(doc.text(info.field));
    return out;
}

class ProjectFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }

    // Writes the bytes to a file and loads it as the open dialog would.
    bool load(const QByteArray &bytes)
    {
        const QString p = path("load.txt");
        EXPECT_TRUE(test::writeBytes(p, bytes));
        return loadProjectFile(doc, prompter, p);
    }

    QTemporaryDir dir;
    SiteDocument doc;
    ScriptedPrompter prompter;
    FileDialogState cob1 = initialProjectDialog();
};

} // namespace

TEST_F(ProjectFile, FreshDocumentIsFiftyLinesInTheFixedOrder)
{
    const QByteArray fresh = projectBytes(doc);
    EXPECT_TRUE(fresh.startsWith("ki001=" + QDir::toNativeSeparators(QDir::currentPath()).toUtf8() + "\r\n"));
    doc.setText(Field::Label1, QStringLiteral("/home/kurumi/site"));
    const QByteArray bytes = projectBytes(doc);
    EXPECT_TRUE(test::sameBytes(test::readBytes(test::dataPath(QStringLiteral("project_fresh/project.txt"))), bytes));
    const QList<QByteArray> l = bytes.split('\n');
    ASSERT_EQ(l.size(), 51); // 50 lines and nothing after the last CR LF
    EXPECT_EQ(l.at(28), "te049=\r");
    EXPECT_EQ(l.at(29), "list4=000\r");
    EXPECT_EQ(l.at(47), "te044=self.html\r");
    EXPECT_EQ(l.at(48), "list3=000\r");
    EXPECT_EQ(l.at(49), "te043=link.html\r");
}

TEST_F(ProjectFile, ListsAreACountLineAndPrefixedItems)
{
    doc.appendItem(ListId::List3, u8("A：http://a/："));
    doc.appendItem(ListId::List3, u8("B：http://b/：説明"));
    EXPECT_TRUE(projectBytes(doc).contains(lines(
        {"te044=self.html", "list3=002", "ls000=A：http://a/：", "ls001=B：http://b/：説明", "te043=link.html"})));

    // A line break that slipped into a field must not become a record of its own.
    doc.setText(Field::Text13, QStringLiteral("a\r\nki001=/etc\nb\rc"));
    EXPECT_TRUE(projectBytes(doc).contains("\r\nte013=a ki001=/etc b c\r\n"));
}

TEST_F(ProjectFile, EveryStoredFieldSurvivesASaveAndALoad)
{
    fillFull(doc);
    cob1.fileName = path("site.txt");
    prompter.answerYes(); // to the question about the characters the file cannot keep
    prompter.chooseFile(cob1.fileName);
    ASSERT_TRUE(saveProject(doc, prompter, cob1));
    EXPECT_EQ(prompter.messages(), QStringList{kWritten});
    EXPECT_TRUE(test::matchesGolden(QStringLiteral("project_full/project.txt"), cob1.fileName));

    // Start from other values everywhere, so that each field must come from the file.
    SiteDocument loaded;
    for (const FieldInfo &info : fieldTable())
        loaded.setText(info.field, QStringLiteral("old"));
    loaded.setList(ListId::List3, {QStringLiteral("old")});
    QSignalSpy file1(&loaded, &SiteDocument::file1Changed);
    prompter.clear();
    prompter.chooseFile(test::dataPath(QStringLiteral("project_full/project.txt")));
    ASSERT_TRUE(loadProject(loaded, prompter, cob1));
    EXPECT_EQ(prompter.messages(), QStringList{kRead});
    EXPECT_EQ(prompter.unexpected(), 0);

    for (const FullValue &v : kFull)
        doc.setText(v.field, u8(v.loaded ? v.loaded : v.saved));
    for (const FieldInfo &info : fieldTable()) {
        const QString expected = info.key ? doc.text(info.field) : QStringLiteral("old");
        EXPECT_EQ(loaded.text(info.field), expected) << info.name;
    }
    EXPECT_EQ(loaded.list(ListId::List3), doc.list(ListId::List3));
    EXPECT_EQ(loaded.rtext1(), u8(kFullBodyLoaded));
    EXPECT_EQ(loaded.itemCount(ListId::List4), 4);
    // The photo folder of another computer does not stop the load.
    EXPECT_EQ(file1.count(), 1);
    EXPECT_EQ(loaded.file1().count(), 0);
}

TEST_F(ProjectFile, SaveAsksBeforeReplacingAndNeverLeavesAHalfFile)
{
    const QString target = path("site.txt");
    const QByteArray old = test::readBytes(test::dataPath(QStringLiteral("project_fresh/project.txt")));
    ASSERT_TRUE(test::writeBytes(target, old));
    doc.setRtext1(QStringLiteral("a\n\nb"));

    // Cancel: List4 is rebuilt all the same, nothing is written.
    prompter.cancelDialog();
    EXPECT_FALSE(saveProject(doc, prompter, cob1));
    EXPECT_EQ(prompter.messages(), QStringList{kNotWritten});
    EXPECT_EQ(doc.list(ListId::List4), (QStringList{QStringLiteral("a"), u8("　"), QStringLiteral("b")}));

    // No keeps the old file.
    prompter.clear();
    prompter.chooseFile(target);
    prompter.answerNo();
    EXPECT_FALSE(saveProject(doc, prompter, cob1));
    ASSERT_EQ(prompter.shown().size(), 3u);
    EXPECT_EQ(prompter.shown().at(1).title, u8("ファイル削除確認"));
    EXPECT_EQ(prompter.shown().at(1).text, QLatin1Char('\n') + target + u8(" のファイルを削除します\n"));
    EXPECT_EQ(prompter.lastMessage(), kNotWritten);
    EXPECT_TRUE(test::sameBytes(old, test::readBytes(target)));

    // Yes replaces it.
    prompter.clear();
    prompter.chooseFile(target);
    prompter.answerYes();
    EXPECT_TRUE(saveProject(doc, prompter, cob1));
    EXPECT_EQ(prompter.lastMessage(), kWritten);
    EXPECT_EQ(test::readBytes(target), projectBytes(doc));

    // Three characters or fewer: nothing written, and the message says why.
    prompter.clear();
    prompter.chooseFile(QStringLiteral("a.t"));
    EXPECT_FALSE(saveProject(doc, prompter, cob1));
    EXPECT_EQ(prompter.messages(),
              QStringList{kNotWritten + u8("\na.t は、ファイルの名前として短すぎます（4文字以上）。")});
    EXPECT_FALSE(QFile::exists(QStringLiteral("a.t")));

    // Targets that cannot be created, even by root: a missing folder, a path
    // under a file. The system's reason follows on a second line.
    const std::pair<QString, int> bad[] = {{path("missing/site.txt"), ENOENT},
                                           {target + QStringLiteral("/site.txt"), ENOTDIR}};
    for (const auto &[file, reason] : bad) {
        prompter.clear();
        prompter.chooseFile(file);
        EXPECT_FALSE(saveProject(doc, prompter, cob1));
        EXPECT_EQ(prompter.messages(), QStringList{kNotWritten + QLatin1Char('\n') + qt_error_string(reason)});
        EXPECT_FALSE(QFile::exists(file));
    }
    EXPECT_EQ(prompter.unexpected(), 0);
}

TEST_F(ProjectFile, SaveNamesTheCharactersTheFileCannotKeepAndAsksFirst)
{
    doc.setText(Field::Text13, u8("くるみ😀の部屋😀"));
    doc.setText(Field::Text31, u8("𠮷田 ¥"));
    doc.appendItem(ListId::List3, u8("Café：http://cafe.example/："));
    doc.setRtext1(u8("一行目\n\n♥ ok\n"));
    const QString question = u8("\n次の文字は Shift-JIS で保存できないため、「?」か近い文字に置き換わります。\n"
                                "トップページ／トップページのタイトル：😀\n"
                                "自己紹介ＨＰ／名　前：𠮷¥\n"
                                "リンクＨＰ／リンクのリスト 1番目：é\n"
                                "サブＨＰ／サブホームページ内容 3行目：♥\n"
                                "このまま保存しますか？（「いいえ」で入力に戻ります）\n");

    // No: back to the fields before any file is chosen; nothing else is shown.
    prompter.answerNo();
    EXPECT_FALSE(saveProject(doc, prompter, cob1));
    ASSERT_EQ(prompter.shown().size(), 1u);
    EXPECT_EQ(prompter.shown().at(0).title, u8("保存できない文字"));
    EXPECT_EQ(prompter.shown().at(0).text, question);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    // Yes: saved, the lost characters as the file holds them.
    prompter.clear();
    prompter.answerYes();
    prompter.chooseFile(path("site.txt"));
    EXPECT_TRUE(saveProject(doc, prompter, cob1));
    EXPECT_EQ(prompter.messages(), QStringList{kWritten});
    const QByteArray saved = test::readBytes(path("site.txt"));
    EXPECT_TRUE(saved.contains(lines({"te013=くるみ?の部屋?"})));
    EXPECT_TRUE(saved.contains(lines({"te031=?田 \\"})));
    EXPECT_TRUE(saved.contains(lines({"ls000=Caf?：http://cafe.example/："})));

    // Many places: the first eight, then how many more.
    for (int i = 0; i < 12; ++i)
        doc.appendItem(ListId::List3, u8("😀"));
    prompter.clear();
    prompter.answerNo();
    EXPECT_FALSE(saveProject(doc, prompter, cob1));
    EXPECT_TRUE(prompter.questions().value(0).contains(u8("リンクＨＰ／リンクのリスト 6番目：😀\nほか 8か所\n")))
        << prompter.questions().value(0).toStdString();
    EXPECT_EQ(prompter.unexpected(), 0);
}

namespace {

// Caps the size of files this process may write, so that a write fails half
// way whatever the user's rights (the way a full disk would).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

} // namespace

TEST_F(ProjectFile, AFailedWriteLeavesTheOldFileAsItWas)
{
    const QString target = path("site.txt");
    const QByteArray old = test::readBytes(test::dataPath(QStringLiteral("project_full/project.txt")));
    ASSERT_TRUE(test::writeBytes(target, old));
    doc.setText(Field::Text50, QString(200000, QLatin1Char('x')));
    prompter.chooseFile(target);
    prompter.answerYes();
    bool saved = true;
    {
        FileSizeLimit limit(16 * 1024);
        saved = saveProject(doc, prompter, cob1);
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(prompter.lastMessage(), kNotWritten + QLatin1Char('\n') + qt_error_string(EFBIG));
    EXPECT_TRUE(test::sameBytes(old, test::readBytes(target)));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("site.txt")});
}

TEST_F(ProjectFile, LoaderSkipsWhatItDoesNotKnow)
{
    const std::vector<QString> before = allTexts(doc);
    ASSERT_TRUE(load(lines({"te013=Only the title"})));
    std::vector<QString> expected = before;
    expected[13] = QStringLiteral("Only the title");
    EXPECT_EQ(allTexts(doc), expected);
    EXPECT_EQ(prompter.messages(), QStringList{kRead});

    ASSERT_TRUE(
        load(lines({"te001:http://sixth/", "te014", "te015=  spaced  ", "TE016=upper", "te040=not stored", "te0", "",
                    "ls000=stray item", "te017=first", "te017=last", "ki001=C:\\site", "te018=a=b"})));
    EXPECT_EQ(doc.text(Field::Text1), QStringLiteral("http://sixth/"));
    EXPECT_EQ(doc.text(Field::Text14), QString());
    EXPECT_EQ(doc.text(Field::Text15), QStringLiteral("  spaced  "));
    EXPECT_EQ(doc.text(Field::Text16), QString());
    EXPECT_EQ(doc.text(Field::Text40), QString());
    EXPECT_EQ(doc.text(Field::Text17), QStringLiteral("last"));
    EXPECT_EQ(doc.text(Field::Label1), QStringLiteral("C:\\site"));
    EXPECT_EQ(doc.text(Field::Text18), QStringLiteral("a=b"));

    // Lines of a file edited here end in a bare LF; the last line may have no end at all.
    ASSERT_TRUE(load("te019=lf\nte020=crlf\r\nte021=none"));
    EXPECT_EQ(doc.text(Field::Text19), QStringLiteral("lf"));
    EXPECT_EQ(doc.text(Field::Text20), QStringLiteral("crlf"));
    EXPECT_EQ(doc.text(Field::Text21), QStringLiteral("none"));
}

TEST_F(ProjectFile, ListItemsFollowTheirIndexes)
{
    // ls001 stands where index 000 belongs: dropped, and the next lines are 001 and 002.
    ASSERT_TRUE(load(lines({"list4=003", "ls001=dropped", "ls001=one", "ls002=two", "te013=after"})));
    EXPECT_EQ(doc.list(ListId::List4), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    EXPECT_EQ(doc.rtext1(), QStringLiteral("one\ntwo\n"));
    EXPECT_EQ(doc.text(Field::Text13), QStringLiteral("after"));

    // Item lines are consumed by their list even when they look like records;
    // the sixth character is not checked; a second count line starts the list again.
    ASSERT_TRUE(load(lines({"list3=2", "te013=not a record", "ls001:x", "list3=  1", "ls000=again"})));
    EXPECT_EQ(doc.text(Field::Text13), QStringLiteral("after"));
    EXPECT_EQ(doc.list(ListId::List3), QStringList{QStringLiteral("again")});

    // No digit after the blanks: an empty list, and the next line is a record again.
    ASSERT_TRUE(load(lines({"list3=  x", "te013=record"})));
    EXPECT_TRUE(doc.list(ListId::List3).isEmpty());
    EXPECT_EQ(doc.text(Field::Text13), QStringLiteral("record"));
    EXPECT_EQ(prompter.unexpected(), 0);
}

TEST_F(ProjectFile, AListCutShortStopsTheLoadKeepingWhatCameBefore)
{
    doc.setRtext1(QStringLiteral("body before"));
    const QString p = path("load.txt");
    EXPECT_FALSE(load(lines({"te013=read", "list4=002", "ls000=only one"})));
    EXPECT_EQ(prompter.messages(), QStringList{p + kNoFile});
    EXPECT_EQ(doc.text(Field::Text13), QStringLiteral("read"));
    EXPECT_EQ(doc.list(ListId::List4), QStringList{QStringLiteral("only one")});
    EXPECT_EQ(doc.rtext1(), QStringLiteral("body before")); // no list-to-body after a failure

    // A count far beyond the lines that follow, however large, ends the same way.
    for (const char *count : {"999", "9999999999", "99999999999999999999999999999999"}) {
        prompter.clear();
        const QByteArray head = "te014=" + QByteArray(count) + "\r\nlist3=" + count + "\r\n";
        EXPECT_FALSE(load(head + lines({"ls000=a", "ls001=b"}))) << count;
        EXPECT_EQ(prompter.messages(), QStringList{p + kNoFile});
        EXPECT_EQ(doc.text(Field::Text14), QString::fromLatin1(count));
        EXPECT_EQ(doc.itemCount(ListId::List3), 2);
    }
}

TEST_F(ProjectFile, ListsOfMoreThan999ItemsWidenTheirNumbers)
{
    QStringList items;
    for (int i = 0; i < 1203; ++i)
        items.append(QStringLiteral("item %1").arg(i));
    doc.setList(ListId::List3, items);
    const QByteArray bytes = projectBytes(doc);
    EXPECT_TRUE(bytes.contains("\r\nlist3=1203\r\nls000=item 0\r\n"));
    EXPECT_TRUE(bytes.contains("\r\nls999=item 999\r\nls1000=item 1000\r\n"));
    EXPECT_TRUE(bytes.contains("\r\nls1202=item 1202\r\nte043=link.html\r\n"));

    SiteDocument loaded;
    QByteArray copy = bytes;
    copy.replace("ls1001=", "ls1001:"); // one more character after the prefix, unchecked
    ASSERT_TRUE(test::writeBytes(path("wide.txt"), copy));
    ASSERT_TRUE(loadProjectFile(loaded, prompter, path("wide.txt")));
    EXPECT_EQ(loaded.list(ListId::List3), items);
    EXPECT_EQ(loaded.text(Field::Text43), QStringLiteral("link.html"));
}

TEST_F(ProjectFile, PhotoFolderPointsFile1OrLeavesItEmpty)
{
    QTemporaryDir photos;
    ASSERT_TRUE(test::writeBytes(photos.filePath(QStringLiteral("b.jpg")), "x"));
    ASSERT_TRUE(test::writeBytes(photos.filePath(QStringLiteral("a.jpg")), "x"));
    ASSERT_TRUE(load("te003=" + photos.path().toUtf8() + "\r\n"));
    EXPECT_EQ(doc.file1().names(), (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.jpg")}));

    for (const QByteArray &folder : {QByteArray("/no/such/folder"), QByteArray()}) {
        ASSERT_TRUE(load("te003=" + folder + "\r\nte013=after\r\n"));
        EXPECT_EQ(doc.text(Field::Text3), QString::fromUtf8(folder));
        EXPECT_EQ(doc.file1().count(), 0);
        EXPECT_EQ(doc.text(Field::Text13), QStringLiteral("after"));
    }
}

namespace {

// A device that hands out its bytes and then fails, like a disk that cannot
// be read any more.
class FailingDevice : public QIODevice {
public:
    explicit FailingDevice(QByteArray bytes) : bytes_(std::move(bytes)) {}

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (pos_ >= bytes_.size())
            return -1;
        const qint64 n = std::min<qint64>(maxSize, bytes_.size() - pos_);
        std::memcpy(data, bytes_.constData() + pos_, static_cast<size_t>(n));
        pos_ += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray bytes_;
    qint64 pos_ = 0;
};

} // namespace

TEST_F(ProjectFile, HostileBytesLoadWholeOrFail)
{
    ASSERT_TRUE(load(QByteArray("te013=a\0b\r\n\0\0\0\0\0\0\0\r\nte014=after nul\r\n", 36)));
    EXPECT_EQ(doc.text(Field::Text13), QStringView(u"a\0b", 3));
    EXPECT_EQ(doc.text(Field::Text14), QStringLiteral("after nul"));

    ASSERT_TRUE(load("te\xff\x30\x31=x\r\nte015=\x81\r\nte016=\x82\xa0\xff\x85\r\nte017=after\r\n"));
    EXPECT_EQ(doc.text(Field::Text15), QString(QChar(0xFFFD)));
    EXPECT_TRUE(doc.text(Field::Text16).contains(QChar(0xFFFD)));
    EXPECT_EQ(doc.text(Field::Text17), QStringLiteral("after"));

    const QByteArray huge(5 * 1024 * 1024, 'a');
    ASSERT_TRUE(load("te050=" + huge + "\r\nte018=after\r\nte019=" + huge));
    EXPECT_EQ(doc.text(Field::Text50).size(), huge.size());
    EXPECT_EQ(doc.text(Field::Text18), QStringLiteral("after"));
    EXPECT_EQ(doc.text(Field::Text19).size(), huge.size());

    // A read error part way keeps what was read before it.
    FailingDevice device("te020=before\r\nlist3=001\r\n");
    ASSERT_TRUE(device.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    EXPECT_FALSE(readProjectRecords(doc, device));
    EXPECT_EQ(doc.text(Field::Text20), QStringLiteral("before"));

    // What is not a readable file: missing, a folder, a device that never ends.
    for (const QString &p : {path("missing.txt"), dir.path(), QStringLiteral("/dev/zero")}) {
        prompter.clear();
        EXPECT_FALSE(loadProjectFile(doc, prompter, p));
        EXPECT_EQ(prompter.messages(), QStringList{p + kNoFile});
    }
}

TEST_F(ProjectFile, LoadDialogAndTheSharedFileName)
{
    EXPECT_EQ(cob1.filter, u8("ﾃｷｽﾄﾌｧｲﾙ|*.txt|All Files|*.*|"));
    EXPECT_EQ(cob1.fileName, QDir::toNativeSeparators(QDir::current().filePath(QStringLiteral("webloom.txt"))));
    EXPECT_EQ(cob1.defaultExt, QStringLiteral("txt"));

    const std::vector<QString> before = allTexts(doc);
    prompter.cancelDialog();
    EXPECT_FALSE(loadProject(doc, prompter, cob1));
    prompter.chooseFile(QStringLiteral("a.t"));
    EXPECT_FALSE(loadProject(doc, prompter, cob1));
    EXPECT_TRUE(prompter.messages().isEmpty());
    EXPECT_EQ(allTexts(doc), before);

    // The file chosen last is proposed again, by save and load alike.
    const QString saved = path("site.txt");
    prompter.chooseFile(saved);
    ASSERT_TRUE(saveProject(doc, prompter, cob1));
    prompter.chooseFile(saved);
    ASSERT_TRUE(loadProject(doc, prompter, cob1));
    EXPECT_EQ(prompter.shown().back().text, kRead);
    EXPECT_EQ(prompter.shown().at(prompter.shown().size() - 2).text, saved);
    EXPECT_EQ(prompter.unexpected(), 0);
}

TEST(BodyLines, EmptyLinesAreStoredAsIdeographicSpaces)
{
    SiteDocument doc;
    lstrtxt(doc);
    EXPECT_EQ(doc.rtext1(), QString());
    doc.setRtext1(QStringLiteral("a\r\n\r\n  \nb\n"));
    rfchg(doc);
    const QStringList stored{QStringLiteral("a"), u8("　"), QStringLiteral("  "), QStringLiteral("b")};
    EXPECT_EQ(doc.list(ListId::List4), stored);
    lstrtxt(doc);
    EXPECT_EQ(doc.rtext1(), u8("a\n　\n  \nb\n"));
    rfchg(doc); // converting again changes nothing further
    EXPECT_EQ(doc.list(ListId::List4), stored);
}

TEST_F(ProjectFile, PageOptionsAreStoredAfterEveryRecordOnlyWhenSet)
{
    const QByteArray plain = test::readBytes(test::dataPath(QStringLiteral("top_full/project.txt")));
    for (const QString &caseName : {QStringLiteral("options_utf8"), QStringLiteral("options_phone")}) {
        const QByteArray stored = test::readBytes(test::dataPath(caseName + QStringLiteral("/project.txt")));
        ASSERT_TRUE(loadProjectFile(doc, prompter, test::dataPath(caseName + QStringLiteral("/project.txt"))));
        EXPECT_TRUE(test::sameBytes(stored, savedBytes(doc)));
        EXPECT_TRUE(stored.startsWith(plain)); // one line after the records of the plain project
        EXPECT_EQ(stored.count("\r\n"), plain.count("\r\n") + 1);

        // A project without the options, loaded over them, brings the defaults.
        ASSERT_TRUE(loadProjectFile(doc, prompter, test::dataPath(QStringLiteral("top_full/project.txt"))));
        EXPECT_EQ(doc.pageOptions(), PageOptions());
        EXPECT_TRUE(test::sameBytes(plain, savedBytes(doc)));
    }
    SiteDocument both;
    both.setPageOptions({PageEncoding::Utf8, true});
    EXPECT_TRUE(projectBytes(both).endsWith("\r\nte043=link.html\r\nop001=UTF-8\r\nop002=1\r\n"));
}
