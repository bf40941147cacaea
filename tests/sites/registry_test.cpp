// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <tuple>

#include "support/golden.h"
#include "support/scripted_prompter.h"
#include "controllers/registry_form.h"

using namespace webloom;
using webloom::test::readBytes;
using webloom::test::ScriptedPrompter;
using webloom::test::writeBytes;

namespace {

class MemoryHostmei : public HostmeiSetting {
public:
    QString read() const override { return value; }
    void save(const QString &path) override
    {
        value = path;
        ++saves;
    }
    QString value;
    int saves = 0;
};

// A keyring holding one password.
class KeyringOfOne : public PasswordStore {
public:
    KeyringOfOne(QString key, QString password) : key_(std::move(key)), password_(std::move(password)) {}
    Status read(const QString &key, QString *password) override
    {
        if (key != key_)
            return Status::NotFound;
        *password = password_;
        return Status::Done;
    }
    Status write(const QString &, const QString &) override { return Status::Unreachable; }
    Status remove(const QString &) override { return Status::Unreachable; }

private:
    QString key_;
    QString password_;
};

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const char *name = "hosts.txt") const { return dir.filePath(QString::fromLatin1(name)); }
    void fill(const char *name, const char *address, const char *user, const char *password)
    {
        form.comboText = QString::fromUtf8(name);
        form.text1 = QString::fromUtf8(address);
        form.text2 = QString::fromUtf8(user);
        form.text3 = QString::fromUtf8(password);
    }

    QTemporaryDir dir;
    RegistryForm form;
    MemoryHostmei hostmei;
    ScriptedPrompter prompter;
    ConnectionRegistry registry{form, hostmei, prompter};
};

const QByteArray kTwo = "\"home\",\"ftp.a.example\",\"u1\",\"p1\"\r\n\"work\",\"ftp.b.example\",\"u2\",\"p2\"\r\n";

QByteArray elevenEntries()
{
    QByteArray eleven;
    for (int i = 0; i < 11; ++i)
        eleven += "\"n" + QByteArray::number(i) + "\",\"h\",\"u\",\"p\"\r\n";
    return eleven;
}

} // namespace

TEST(RegistryFormat, WritesQuotedFieldsInCodePage932WithCrLf)
{
    const QList<RegisteredConnection> entries{
        {QStringLiteral("自宅"), QStringLiteral("ftp.example.jp"), QStringLiteral("neko"), QStringLiteral("p a,ss")}};
    EXPECT_EQ(registryBytes(entries), QByteArray("\"\x8E\xA9\x91\xEE\",\"ftp.example.jp\",\"neko\",\"p a,ss\"\r\n"));
    EXPECT_EQ(parseRegistry(registryBytes(entries)), entries);
    EXPECT_EQ(registryBytes({}), QByteArray());
}

TEST(RegistryFormat, ReaderToleratesUnquotedFieldsAndRefusesBrokenFiles)
{
    const auto loose = parseRegistry("  name one , host ,\"u\",pw\nx,y,z,w");
    ASSERT_TRUE(loose.has_value());
    ASSERT_EQ(loose->size(), 2);
    EXPECT_EQ(loose->at(0), (RegisteredConnection{QStringLiteral("name one"), QStringLiteral("host"),
                                                  QStringLiteral("u"), QStringLiteral("pw")}));
    EXPECT_EQ(loose->at(1).password, QStringLiteral("w"));
    EXPECT_TRUE(parseRegistry("").value().isEmpty());
    EXPECT_TRUE(parseRegistry("\r\n\r\n").value().isEmpty());
    // An entry cut short, an unterminated quote.
    EXPECT_FALSE(parseRegistry("\"a\",\"b\",\"c\"\r\n").has_value());
    EXPECT_FALSE(parseRegistry("\"a\",\"b\",\"c\",\"d").has_value());
    // Eleven entries are fine, a twelfth is not.
    EXPECT_EQ(parseRegistry(elevenEntries()).value().size(), 11);
    EXPECT_FALSE(parseRegistry(elevenEntries() + "\"n11\",\"h\",\"u\",\"p\"\r\n").has_value());
}

// What every reader of the registry shares: the file read whole unless it is
// far too large to be one, the last entry of a name found, the engine's
// connection made with the file's password or the keyring's.
TEST_F(RegistryTest, ReadingFindingAndConnectingARegisteredName)
{
    EXPECT_FALSE(readRegistryFile(QString()).has_value());
    EXPECT_FALSE(readRegistryFile(path("missing.txt")).has_value());
    ASSERT_TRUE(writeBytes(path("broken.txt"), "\"a\",\"b\"\r\n"));
    EXPECT_FALSE(readRegistryFile(path("broken.txt")).has_value());
    // Blank lines parse as no entry, but not past a mebibyte.
    ASSERT_TRUE(writeBytes(path("large.txt"), QByteArray(1024 * 1024, '\n')));
    EXPECT_TRUE(readRegistryFile(path("large.txt")).value().isEmpty());
    ASSERT_TRUE(writeBytes(path("large.txt"), QByteArray(1024 * 1024 + 1, '\n')));
    EXPECT_FALSE(readRegistryFile(path("large.txt")).has_value());

    ASSERT_TRUE(writeBytes(path(), "\"a\",\"h1\",\"u1\",\"\"\r\n\"b\",\"h2\",\"u2\",\"p2\"\r\n"
                                   "\"a\",\"h3\",\"u3\",\"p3\"\r\n"));
    const std::optional<QList<RegisteredConnection>> entries = readRegistryFile(path());
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), 3);
    EXPECT_EQ(findConnection(*entries, QStringLiteral("a")).value().address, QStringLiteral("h3"));
    EXPECT_EQ(findConnection(*entries, QStringLiteral("b")).value().address, QStringLiteral("h2"));
    EXPECT_FALSE(findConnection(*entries, QStringLiteral("c")).has_value());

    EXPECT_EQ(entries->at(1).toTransfer(nullptr),
              (Transfer::Connection{QStringLiteral("h2"), QStringLiteral("u2"), QStringLiteral("p2")}));
    EXPECT_EQ(entries->at(0).toTransfer(nullptr).password, QString());
    KeyringOfOne keyring{passwordKey(QStringLiteral("u1"), QStringLiteral("h1")), QStringLiteral("kept")};
    EXPECT_EQ(entries->at(0).toTransfer(&keyring).password, QStringLiteral("kept"));
    EXPECT_EQ(entries->at(1).toTransfer(&keyring).password, QStringLiteral("p2"));
    EXPECT_EQ(entries->at(0).toTransfer(QStringLiteral("typed")).password, QStringLiteral("typed"));
}

TEST_F(RegistryTest, RegisteringIntoANewFileWritesExactlyOneLineAndLeavesTheListAlone)
{
    hostmei.value = path();
    form.comboItems = {QStringLiteral("old")};
    form.label9 = QStringLiteral("old");
    fill("n", "a", "u", "p");
    registry.command2();
    EXPECT_EQ(readBytes(path()), QByteArray("\"n\",\"a\",\"u\",\"p\"\r\n"));
    EXPECT_EQ(form.comboItems, QStringList{QStringLiteral("old")});
    EXPECT_EQ(form.label9, QStringLiteral("old"));
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("書込み完了")});
    // Passwords are kept from other users' eyes.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(RegistryTest, RegisteringAppendsNewNamesAndRewritesKnownOnesInPlace)
{
    ASSERT_TRUE(writeBytes(path(), kTwo));
    hostmei.value = path();
    registry.fyomiko();
    fill("club", "ftp.c.example", "u3", "p3");
    registry.command2();
    EXPECT_EQ(readBytes(path()), kTwo + "\"club\",\"ftp.c.example\",\"u3\",\"p3\"\r\n");
    EXPECT_EQ(form.comboItems, (QStringList{QStringLiteral("home"), QStringLiteral("work"), QStringLiteral("club")}));
    EXPECT_EQ(form.label9, QStringLiteral("club"));
    EXPECT_EQ(form.curname, QStringLiteral("home")); // a write does not change curname

    fill("home", "ftp.new.example", "nu", "np");
    registry.command2();
    EXPECT_EQ(readBytes(path()), QByteArray("\"home\",\"ftp.new.example\",\"nu\",\"np\"\r\n"
                                            "\"work\",\"ftp.b.example\",\"u2\",\"p2\"\r\n"
                                            "\"club\",\"ftp.c.example\",\"u3\",\"p3\"\r\n"));
}

TEST_F(RegistryTest, DuplicateNamesLoadTheLastAndAreAllUpdatedAndDeleted)
{
    ASSERT_TRUE(writeBytes(
        path(), "\"x\",\"h1\",\"u1\",\"p1\"\r\n\"y\",\"h2\",\"u2\",\"p2\"\r\n\"x\",\"h3\",\"u3\",\"p3\"\r\n"));
    hostmei.value = path();
    registry.henkou(QStringLiteral("x"));
    EXPECT_EQ(form.text1, QStringLiteral("h3"));
    EXPECT_EQ(form.comboItems.size(), 3);

    fill("x", "H", "U", "P");
    registry.fkakiko(path());
    EXPECT_EQ(readBytes(path()),
              QByteArray("\"x\",\"H\",\"U\",\"P\"\r\n\"y\",\"h2\",\"u2\",\"p2\"\r\n\"x\",\"H\",\"U\",\"P\"\r\n"));

    form.label9 = QStringLiteral("x");
    registry.command3();
    EXPECT_EQ(readBytes(path()), QByteArray("\"y\",\"h2\",\"u2\",\"p2\"\r\n"));
    EXPECT_EQ(form.comboItems, QStringList{QStringLiteral("y")});
    EXPECT_EQ(form.text1, QStringLiteral("h2"));
    EXPECT_EQ(form.curname, QStringLiteral("y"));
}

TEST_F(RegistryTest, DeletingTheLastEntryLeavesAnEmptyFileAndEmptyFields)
{
    ASSERT_TRUE(writeBytes(path(), "\"only\",\"h\",\"u\",\"p\"\r\n"));
    hostmei.value = path();
    registry.fyomiko();
    // Label9 follows typing, so a typed name is what gets deleted.
    registry.comboEdited(QStringLiteral("only"));
    registry.command3();
    EXPECT_TRUE(QFile::exists(path()));
    EXPECT_EQ(readBytes(path()), QByteArray());
    EXPECT_TRUE(form.comboItems.isEmpty());
    EXPECT_TRUE(form.comboText.isEmpty() && form.text1.isEmpty() && form.text3.isEmpty());
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("書込み完了")});
}

TEST_F(RegistryTest, PreconditionMessages)
{
    registry.fyomiko();
    registry.henkou(QStringLiteral("a"));
    hostmei.value = path("missing.txt");
    registry.fsakujyo(QStringLiteral("a"));
    EXPECT_EQ(prompter.messages(), (QStringList{QStringLiteral("接続名とホストの登録を行ってください"),
                                                QStringLiteral("接続名とホスト等の登録を行ってください"),
                                                QStringLiteral("接続名とホスト等の登録を行ってください")}));
    EXPECT_FALSE(QFile::exists(path("missing.txt")));
}

TEST_F(RegistryTest, FirstRunAsksForTheFileBeforeCheckingTheFields)
{
    prompter.chooseFile(path("chosen.txt"));
    fill("n", "", "u", "p");
    registry.command2();
    EXPECT_EQ(hostmei.value, path("chosen.txt"));
    EXPECT_EQ(prompter.lastMessage(), QStringLiteral("アドレスを入れてください"));
    EXPECT_FALSE(QFile::exists(path("chosen.txt")));
    ASSERT_FALSE(prompter.shown().empty());
    EXPECT_EQ(prompter.shown().front().text, QStringLiteral("hostname.txt"));

    // The field checks in order; blanks count as content.
    for (auto [a, u, p, n, msg] : {std::tuple{"a", "", "p", "n", "ユーザー名を入れてください"},
                                   std::tuple{"a", "u", "", "n", "パスワードを入れてください"},
                                   std::tuple{"a", "u", "p", "", "接続名を入れてください"}}) {
        fill(n, a, u, p);
        registry.command2();
        EXPECT_EQ(prompter.lastMessage(), QString::fromUtf8(msg));
    }
    EXPECT_FALSE(QFile::exists(path("chosen.txt")));
    fill(" ", " ", " ", " ");
    registry.command2();
    EXPECT_EQ(readBytes(path("chosen.txt")), QByteArray("\" \",\" \",\" \",\" \"\r\n"));
}

TEST_F(RegistryTest, CancelledOrShortChoicesStoreNothing)
{
    prompter.cancelDialog();
    fill("n", "a", "u", "p");
    registry.command2();
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("接続名保存は、完了していません！")});
    EXPECT_EQ(hostmei.saves, 1);
    EXPECT_TRUE(hostmei.value.isEmpty());

    prompter.clear();
    prompter.chooseFile(QStringLiteral("a.t"));
    registry.command8(false);
    EXPECT_TRUE(hostmei.value.isEmpty());
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("もう一度ファイルを指定してください")});
}

TEST_F(RegistryTest, ChangingAndResettingTheLocation)
{
    hostmei.value = path("old.txt");
    prompter.chooseFile(path("new.txt"));
    registry.command8(false);
    EXPECT_EQ(hostmei.value, path("new.txt"));
    EXPECT_FALSE(QFile::exists(path("new.txt")));
    // The dialog proposes the last chosen file next time.
    EXPECT_EQ(registry.cobftp().fileName, path("new.txt"));

    // Shift-click forgets the location first; a cancelled dialog leaves it empty.
    prompter.cancelDialog();
    registry.command8(true);
    EXPECT_TRUE(hostmei.value.isEmpty());
    EXPECT_EQ(prompter.messages(), (QStringList{QStringLiteral("接続名保存は、完了していません！"),
                                                QStringLiteral("もう一度ファイルを指定してください")}));
    registry.command9();
    EXPECT_EQ(prompter.lastMessage(), QStringLiteral("接続名登録場所="));
}

TEST_F(RegistryTest, ChoosingFromTheListLoadsOnlyAnotherName)
{
    ASSERT_TRUE(writeBytes(path(), kTwo));
    hostmei.value = path();
    registry.fyomiko();
    EXPECT_EQ(form.curname, QStringLiteral("home"));
    form.text1 = QStringLiteral("edited");
    registry.comboChosen(QStringLiteral("home"));
    EXPECT_EQ(form.text1, QStringLiteral("edited"));
    registry.comboChosen(QStringLiteral("work"));
    EXPECT_EQ(form.text1, QStringLiteral("ftp.b.example"));
    EXPECT_EQ(form.label9, QStringLiteral("work"));
}

TEST_F(RegistryTest, RefusalsKeepTheStoredEntriesIntact)
{
    // A twelfth connection.
    ASSERT_TRUE(writeBytes(path(), elevenEntries()));
    fill("n11", "h", "u", "p");
    registry.fkakiko(path());
    EXPECT_EQ(readBytes(path()), elevenEntries());
    EXPECT_TRUE(prompter.lastMessage().contains(QStringLiteral("11")));
    // Updating one of the eleven still works.
    fill("n3", "H", "u", "p");
    registry.fkakiko(path());
    EXPECT_TRUE(readBytes(path()).contains("\"n3\",\"H\",\"u\",\"p\""));

    // A double quote or a character without a code page 932 form.
    const QByteArray before = readBytes(path());
    for (const char *password : {"pa\"ss", "p\xF0\x9F\x98\x80"}) {
        prompter.clear();
        fill("n0", "h", "u", password);
        registry.fkakiko(path());
        EXPECT_EQ(readBytes(path()), before);
        EXPECT_NE(prompter.lastMessage(), QStringLiteral("書込み完了"));
    }

    // A registry that cannot be read is never rewritten.
    const QByteArray broken = "\"a\",\"b\"\r\n";
    ASSERT_TRUE(writeBytes(path("broken.txt"), broken));
    fill("z", "h", "u", "p");
    registry.fkakiko(path("broken.txt"));
    EXPECT_EQ(readBytes(path("broken.txt")), broken);
    hostmei.value = path("broken.txt");
    prompter.clear();
    registry.fsakujyo(QStringLiteral("a"));
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("登録を行ってください")});
    EXPECT_EQ(readBytes(path("broken.txt")), broken);

    // An entry edited by hand that would not read back as it stands: nothing
    // is rewritten until that entry is gone.
    const QByteArray handMade = "ab\"c,h,u,p\r\n\"ok\",\"h\",\"u\",\"p\"\r\n";
    ASSERT_TRUE(writeBytes(path("hand.txt"), handMade));
    prompter.clear();
    fill("new", "h", "u", "p");
    registry.fkakiko(path("hand.txt"));
    EXPECT_EQ(readBytes(path("hand.txt")), handMade);
    EXPECT_TRUE(prompter.lastMessage().contains(QStringLiteral("接続名「ab\"c」")))
        << prompter.lastMessage().toStdString();
    hostmei.value = path("hand.txt");
    registry.fsakujyo(QStringLiteral("ab\"c"));
    EXPECT_EQ(readBytes(path("hand.txt")), QByteArray("\"ok\",\"h\",\"u\",\"p\"\r\n"));

    // A path that cannot be written: no file appears, the message says so.
    prompter.clear();
    const QString unwritable = dir.filePath(QStringLiteral("no/such/dir/hosts.txt"));
    registry.fkakiko(unwritable);
    EXPECT_FALSE(QFile::exists(unwritable));
    EXPECT_TRUE(prompter.lastMessage().startsWith(QStringLiteral("接続名保存は、完了していません！")));
}
