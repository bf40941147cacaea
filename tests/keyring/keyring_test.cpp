// SPDX-License-Identifier: GPL-3.0-or-later
// The registry's passwords in the desktop keyring, against a real Secret
// Service: a session bus and a keyring daemon of the test's own, HOME and the
// XDG folders in a temporary folder. The keyring library and the bus
// connection live as long as the process, so each case needs a process of
// its own (CTest runs each one so).
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <csignal>
#include <memory>
#include <ostream>

#include "document/project_file.h"
#include "document/settings.h"
#include "support/golden.h"
#include "support/scoped_env.h"
#include "support/scripted_prompter.h"
#include "net/ftp_server.h"
#include "sites/password_store.h"
#include "controllers/registry_form.h"

static void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

using namespace webloom;

namespace {

const QString kNoKeyring = QStringLiteral("キーリングを使えないため、パスワードは登録ファイルに保存します。");
const QString kDone = QStringLiteral("書込み完了");
const RegisteredConnection kOld{QStringLiteral("うちのＨＰ"), QStringLiteral("ftp.one.example"),
                                QStringLiteral("nekoneko"), QStringLiteral("pass 1")};
const RegisteredConnection kAnonymous{QStringLiteral("公開"), QStringLiteral("ftp.anon.example"),
                                      QStringLiteral("anonymous"), QString()};
const RegisteredConnection kAdded{QStringLiteral("二つ目"), QStringLiteral("ftp.two.example"), QStringLiteral("inu"),
                                  QStringLiteral("p2")};

RegisteredConnection withPassword(RegisteredConnection c, const QString &password)
{
    c.password = password;
    return c;
}

class MemoryHostmei : public HostmeiSetting {
public:
    QString read() const override { return value; }
    void save(const QString &path) override { value = path; }
    QString value;
};

class KeyringTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int cases = 0;
        ASSERT_EQ(++cases, 1) << "run each case in a process of its own";
        ASSERT_TRUE(root_.isValid() && serverRoot_.isValid());
        for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            ASSERT_TRUE(QDir(root_.path()).mkpath(QString::fromLatin1(name)));
            env(name, path(name));
        }
        env("XDG_CURRENT_DESKTOP", QStringLiteral("X-Test"));
        settings::useFile(path("webloom.ini"));
        hostmei_.value = path("hosts.txt");
    }
    void TearDown() override
    {
        settings::useFile(QString());
        EXPECT_EQ(prompter_.unexpected(), 0);
        for (QProcess *p : {&keyring_, &bus_}) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
    QString path(const char *name) const { return QDir(root_.path()).filePath(QString::fromLatin1(name)); }
    void env(const char *name, const QString &value)
    {
        envs_.push_back(std::make_unique<test::ScopedEnv>(name, value));
    }

    // A session bus, and a keyring daemon unlocked with a test password.
    void startKeyring()
    {
        // A test program that crashes must not leave them behind.
        for (QProcess *p : {&bus_, &keyring_})
            p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        bus_.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                    QStringLiteral("--address=unix:path=") + path("bus")});
        ASSERT_TRUE(bus_.waitForReadyRead(10000)) << bus_.errorString().toStdString();
        env("DBUS_SESSION_BUS_ADDRESS", QString::fromLatin1(bus_.readLine().trimmed()));
        keyring_.start(
            QStringLiteral("gnome-keyring-daemon"),
            {QStringLiteral("--unlock"), QStringLiteral("--components=secrets"), QStringLiteral("--foreground")});
        keyring_.write("test password");
        keyring_.closeWriteChannel();
        const QStringList ask = {QStringLiteral("--session"),
                                 QStringLiteral("--print-reply"),
                                 QStringLiteral("--dest=org.freedesktop.DBus"),
                                 QStringLiteral("/org/freedesktop/DBus"),
                                 QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                                 QStringLiteral("string:org.freedesktop.secrets")};
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                QProcess p;
                p.start(QStringLiteral("dbus-send"), ask);
                return p.waitForFinished(5000) && p.readAllStandardOutput().contains("boolean true");
            },
            10000))
            << "no keyring daemon on the bus";
    }

    // The registry commands as a window opened afresh runs them, with a
    // store object of its own.
    void open()
    {
        store_ = std::make_unique<SecretServiceStore>();
        registry_ = std::make_unique<ConnectionRegistry>(form_, hostmei_, prompter_, store_.get());
        form_ = {};
        registry_->fyomiko();
    }
    void registerAs(const RegisteredConnection &c)
    {
        form_.comboText = c.name;
        form_.text1 = c.address;
        form_.text2 = c.user;
        form_.text3 = c.password;
        prompter_.clear();
        registry_->command2();
        EXPECT_EQ(prompter_.messages(), QStringList{kDone});
    }
    static QString stored(const RegisteredConnection &c)
    {
        QString password = QStringLiteral("(none)");
        SecretServiceStore().read(passwordKey(c.user, c.address), &password);
        return password;
    }
    QByteArray registry() const { return test::readBytes(hostmei_.value); }

    // "webloom ftp" or "webloom publish" in this session, nothing on its
    // standard input.
    QString run(const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        environment.remove(QStringLiteral("WEBLOOM_FTP_PASSWORD"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(WEBLOOM_BINARY), arguments);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(60000));
        return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError()) +
               QStringLiteral("exit %1").arg(process.exitCode());
    }

    // Without a keyring everything works from the file, said once a run.
    void expectFileKeptAndToldOnce()
    {
        ASSERT_TRUE(test::writeBytes(hostmei_.value, registryBytes({kOld, kAnonymous})));
        open();
        EXPECT_EQ(prompter_.messages(), QStringList{kNoKeyring});
        EXPECT_TRUE(prompter_.questions().isEmpty());
        EXPECT_EQ(form_.text3, kOld.password);
        registry_->comboChosen(kAnonymous.name);
        EXPECT_TRUE(form_.text3.isEmpty());
        registerAs(kAdded);
        EXPECT_EQ(registry(), registryBytes({kOld, kAnonymous, kAdded}));
        prompter_.clear();
        open();
        EXPECT_TRUE(prompter_.shown().empty());
    }

    QTemporaryDir root_, serverRoot_;
    std::vector<std::unique_ptr<test::ScopedEnv>> envs_;
    QProcess bus_, keyring_;
    MemoryHostmei hostmei_;
    test::ScriptedPrompter prompter_;
    RegistryForm form_;
    std::unique_ptr<SecretServiceStore> store_;
    std::unique_ptr<ConnectionRegistry> registry_;
    test::FtpServer server_;
};

TEST_F(KeyringTest, StoredReadBackMovedOnceAndDeleted)
{
    ASSERT_NO_FATAL_FAILURE(startKeyring());
    ASSERT_TRUE(server_.start(serverRoot_.path(), QStringLiteral("sakura"), QStringLiteral("hana 2")));
    const RegisteredConnection site{QStringLiteral("さくら"), server_.address(), QStringLiteral("sakura"),
                                    QStringLiteral("hana 2")};
    RegisteredConnection alias = site;
    alias.name = QStringLiteral("別名");

    // Yes moves the file's passwords; the fields still show them, and an
    // empty field the keyring knows nothing of stays anonymous.
    ASSERT_TRUE(test::writeBytes(hostmei_.value, registryBytes({kOld, kAnonymous})));
    prompter_.answerYes();
    open();
    ASSERT_EQ(prompter_.questions(), QStringList{QStringLiteral("\nパスワードをキーリングに移しますか？\n")});
    EXPECT_FALSE(prompter_.shown().front().defaultNo);
    EXPECT_EQ(registry(), registryBytes({withPassword(kOld, QString()), kAnonymous}));
    EXPECT_EQ(stored(kOld), kOld.password);
    EXPECT_EQ(form_.text3, kOld.password);
    registry_->comboChosen(kAnonymous.name);
    EXPECT_TRUE(form_.text3.isEmpty());

    // Registered: the password in the keyring, the line with an empty field.
    registerAs(site);
    registerAs(alias);
    EXPECT_EQ(registry(), registryBytes({withPassword(kOld, QString()), kAnonymous, withPassword(site, QString()),
                                         withPassword(alias, QString())}));

    // The next run of the program finds it, and so does the next window.
    const QString ftp = run({QStringLiteral("ftp"), site.address, site.user, QStringLiteral("DIR")});
    EXPECT_TRUE(ftp.startsWith(QStringLiteral("DIR\tok"))) << ftp.toStdString();
    SiteDocument doc;
    ASSERT_TRUE(loadProjectFile(doc, prompter_, test::dataPath(QStringLiteral("../../examples/sample-project.txt"))));
    doc.setText(Field::Label1, path("HOME"));
    ASSERT_TRUE(test::writeBytes(path("site.txt"), projectBytes(doc)));
    const QString publish = run({QStringLiteral("publish"), path("site.txt"), QStringLiteral("--connection"), site.name,
                                 QStringLiteral("--registry"), hostmei_.value, QStringLiteral("--dry-run")});
    EXPECT_TRUE(publish.contains(QStringLiteral("would upload\tindex.html"))) << publish.toStdString();
    prompter_.clear();
    open();
    EXPECT_TRUE(prompter_.shown().empty()); // asked once only
    EXPECT_EQ(form_.text3, kOld.password);
    registry_->comboChosen(site.name);
    EXPECT_EQ(form_.text3, site.password);

    // Deleting one of two names for an account keeps its password; deleting
    // the last removes it.
    form_.label9 = site.name;
    registry_->command3();
    EXPECT_EQ(stored(site), site.password);
    form_.label9 = alias.name;
    registry_->command3();
    EXPECT_EQ(stored(site), QStringLiteral("(none)"));
    EXPECT_EQ(registry(), registryBytes({withPassword(kOld, QString()), kAnonymous}));

    // No leaves another file as it is, a new password too, and is kept.
    hostmei_.value = path("other.txt");
    ASSERT_TRUE(test::writeBytes(hostmei_.value, registryBytes({kAdded})));
    prompter_.clear();
    prompter_.answerNo();
    open();
    EXPECT_EQ(prompter_.questions().size(), 1);
    EXPECT_EQ(form_.text3, kAdded.password);
    registerAs(site);
    EXPECT_EQ(registry(), registryBytes({kAdded, site}));
    EXPECT_EQ(stored(site), QStringLiteral("(none)"));
    prompter_.clear();
    open();
    EXPECT_TRUE(prompter_.shown().empty());
}

TEST_F(KeyringTest, NoSessionBusKeepsThePasswordsInTheFileAndSaysSoOnce)
{
    env("DBUS_SESSION_BUS_ADDRESS", QStringLiteral("unix:path=") + path("no-bus"));
    ASSERT_NO_FATAL_FAILURE(expectFileKeptAndToldOnce());
}

TEST_F(KeyringTest, ASilentBusIsGivenUpAndTheFileUsed)
{
    // A socket that takes the connection and never says a word.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(path("silent"));
    ASSERT_LT(size_t(socketPath.size()), sizeof(address.sun_path));
    memcpy(address.sun_path, socketPath.constData(), socketPath.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 16), 0);
    env("DBUS_SESSION_BUS_ADDRESS", QStringLiteral("unix:path=") + path("silent"));
    ASSERT_NO_FATAL_FAILURE(expectFileKeptAndToldOnce());
}

} // namespace
