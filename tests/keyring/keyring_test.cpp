// Passwords in the desktop keyring, against a real Secret Service: a session
// bus and a keyring daemon of the test's own, with HOME and the XDG folders
// in a temporary folder. The keyring library and the bus connection live for
// the whole process, so each case needs a process of its own (CTest runs each
// one so).
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>
#include <ostream>

#include "document/project_file.h"
#include "document/settings.h"
#include "support/golden.h"
#include "support/scoped_env.h"
#include "support/scripted_prompter.h"
#include "ui/ftp_window.h"
#include "upload/curl_transfer.h"
#include "upload/ftp_server.h"
#include "upload/password_store.h"
#include "upload/registry.h"

static void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

using namespace webloom;

namespace {

const QString kNoKeyring = QStringLiteral("キーリングを使えないため、パスワードは登録ファイルに保存します。");
const QString kMove = QStringLiteral("\nパスワードをキーリングに移しますか？\n");
const QString kDone = QStringLiteral("書込み完了");
const Connection kOld{QStringLiteral("うちのＨＰ"), QStringLiteral("ftp.one.example"), QStringLiteral("nekoneko"),
                      QStringLiteral("pass 1")};
const Connection kAnonymous{QStringLiteral("公開"), QStringLiteral("ftp.anon.example"), QStringLiteral("anonymous"),
                            QString()};

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
        for (const char *folder : {"home", "data", "config", "cache", "run"})
            ASSERT_TRUE(QDir(root_.path()).mkpath(QString::fromLatin1(folder)));
        QFile::setPermissions(path("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env("HOME", path("home"));
        env("XDG_DATA_HOME", path("data"));
        env("XDG_CONFIG_HOME", path("config"));
        env("XDG_CACHE_HOME", path("cache"));
        env("XDG_RUNTIME_DIR", path("run"));
        env("XDG_CURRENT_DESKTOP", QByteArray("X-Test"));
        settings::useFile(path("config/webloom.ini"));
        hostmei_.value = path("hosts.txt");
    }
    void TearDown() override
    {
        if (window_)
            window_->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
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
    void env(const char *name, const QByteArray &value)
    {
        envs_.push_back(std::make_unique<test::ScopedEnv>(name, value));
    }

    // A session bus and a keyring daemon unlocked with a test password.
    void startKeyring()
    {
        bus_.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                    QStringLiteral("--address=unix:path=") + path("run/bus")});
        ASSERT_TRUE(bus_.waitForReadyRead(10000)) << bus_.errorString().toStdString();
        env("DBUS_SESSION_BUS_ADDRESS", bus_.readLine().trimmed());
        keyring_.start(
            QStringLiteral("gnome-keyring-daemon"),
            {QStringLiteral("--unlock"), QStringLiteral("--components=secrets"), QStringLiteral("--foreground")});
        ASSERT_TRUE(keyring_.waitForStarted(10000)) << keyring_.errorString().toStdString();
        keyring_.write("test password");
        keyring_.closeWriteChannel();
        ASSERT_TRUE(QTest::qWaitFor(
            [] {
                QProcess ask;
                ask.start(QStringLiteral("dbus-send"),
                          {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                           QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                           QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                           QStringLiteral("string:org.freedesktop.secrets")});
                return ask.waitForFinished(5000) && ask.readAllStandardOutput().contains("boolean true");
            },
            10000))
            << "the keyring daemon did not come up";
    }

    FtpWindow *open(PasswordStore &passwords)
    {
        FtpWindow::Services services;
        services.makeTransfer = [] { return std::make_unique<CurlTransfer>(); };
        services.prompter = &prompter_;
        services.hostmei = &hostmei_;
        services.passwords = &passwords;
        window_ = new FtpWindow(services);
        window_->show();
        return window_;
    }
    void close()
    {
        window_->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QLineEdit *edit(const char *name) const { return window_->findChild<QLineEdit *>(QString::fromLatin1(name)); }
    QComboBox *combo() const { return window_->findChild<QComboBox *>(QStringLiteral("Combo1")); }
    void choose(const QString &name) const
    {
        const int index = combo()->findText(name);
        ASSERT_GE(index, 0);
        combo()->setCurrentIndex(index);
        emit combo()->activated(index);
    }
    void press(const char *name) const
    {
        QTest::mouseClick(window_->findChild<QPushButton *>(QString::fromLatin1(name)), Qt::LeftButton);
    }
    void registerAs(const QString &name, const Connection &c)
    {
        combo()->setEditText(name);
        edit("Text1")->setText(c.address);
        edit("Text2")->setText(c.user);
        edit("Text3")->setText(c.password);
        prompter_.clear();
        press("Command2");
        EXPECT_EQ(prompter_.messages(), QStringList{kDone});
    }
    QByteArray registry() const { return test::readBytes(hostmei_.value); }
    static QString stored(const Connection &c)
    {
        SecretServiceStore fresh;
        QString password;
        return fresh.read(passwordKey(c.user, c.address), &password) == PasswordStore::Status::Done
                   ? password
                   : QStringLiteral("(none)");
    }

    // "webloom ftp" or "webloom publish" as a process of this session, with
    // nothing on standard input unless typed.
    QString run(const QStringList &arguments, const QByteArray &typed = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        environment.remove(QStringLiteral("WEBLOOM_FTP_PASSWORD"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(WEBLOOM_BINARY), arguments);
        process.write(typed);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(60000));
        return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError()) +
               QStringLiteral("exit %1").arg(process.exitCode());
    }

    // Without a keyring the window works from the file as it is, and says so
    // once.
    void expectFileKeptAndToldOnce()
    {
        ASSERT_TRUE(test::writeBytes(hostmei_.value, registryBytes({kOld, kAnonymous})));
        open(store_);
        EXPECT_EQ(prompter_.messages(), QStringList{kNoKeyring});
        EXPECT_TRUE(prompter_.questions().isEmpty());
        EXPECT_EQ(edit("Text3")->text(), kOld.password);
        choose(kAnonymous.name);
        EXPECT_TRUE(edit("Text3")->text().isEmpty());
        const Connection added{QStringLiteral("二つ目"), QStringLiteral("ftp.two.example"), QStringLiteral("inu"),
                               QStringLiteral("p2")};
        registerAs(added.name, added); // nothing said again
        EXPECT_EQ(registry(), registryBytes({kOld, kAnonymous, added}));
        close();
        prompter_.clear();
        open(store_); // nor in the next window of this run
        EXPECT_TRUE(prompter_.shown().empty());
    }

    QTemporaryDir root_, serverRoot_;
    std::vector<std::unique_ptr<test::ScopedEnv>> envs_;
    QProcess bus_, keyring_;
    MemoryHostmei hostmei_;
    test::ScriptedPrompter prompter_;
    SecretServiceStore store_;
    QPointer<FtpWindow> window_;
    test::FtpServer server_;
};

Connection with(Connection c, const QString &password)
{
    c.password = password;
    return c;
}

TEST_F(KeyringTest, StoredReadBackMovedOnceAndDeleted)
{
    ASSERT_NO_FATAL_FAILURE(startKeyring());
    ASSERT_TRUE(server_.start(serverRoot_.path(), QStringLiteral("sakura"), QStringLiteral("hana 2")));
    const Connection site{QStringLiteral("さくら"), server_.address(), QStringLiteral("sakura"),
                          QStringLiteral("hana 2")};
    ASSERT_TRUE(test::writeBytes(hostmei_.value, registryBytes({kOld, kAnonymous})));

    // The registry's passwords move on Yes; the fields show them still.
    prompter_.answerYes();
    open(store_);
    EXPECT_EQ(prompter_.questions(), QStringList{kMove});
    EXPECT_FALSE(prompter_.shown().front().defaultNo);
    EXPECT_TRUE(prompter_.messages().isEmpty());
    EXPECT_EQ(registry(), registryBytes({with(kOld, QString()), kAnonymous}));
    EXPECT_EQ(stored(kOld), kOld.password);
    EXPECT_EQ(edit("Text3")->text(), kOld.password);
    // An empty field the keyring knows nothing of stays anonymous.
    choose(kAnonymous.name);
    EXPECT_EQ(edit("Text2")->text(), kAnonymous.user);
    EXPECT_TRUE(edit("Text3")->text().isEmpty());

    // A password registered goes to the keyring, its line keeps the format.
    registerAs(site.name, site);
    registerAs(QStringLiteral("別名"), site);
    const Connection alias{QStringLiteral("別名"), site.address, site.user, QString()};
    EXPECT_EQ(registry(), registryBytes({with(kOld, QString()), kAnonymous, with(site, QString()), alias}));
    EXPECT_EQ(stored(site), site.password);
    close();

    // Another run of the program: the commands and a new window find them.
    const QString ftp = run({QStringLiteral("ftp"), site.address, site.user, QStringLiteral("DIR")});
    EXPECT_TRUE(ftp.startsWith(QStringLiteral("DIR\tok"))) << ftp.toStdString();
    SiteDocument doc;
    ASSERT_TRUE(loadProjectFile(doc, prompter_, test::dataPath(QStringLiteral("../../examples/sample-project.txt"))));
    doc.setText(Field::Label1, path("home"));
    ASSERT_TRUE(test::writeBytes(path("site.txt"), projectBytes(doc)));
    const QString publish = run({QStringLiteral("publish"), path("site.txt"), QStringLiteral("--connection"), site.name,
                                 QStringLiteral("--registry"), hostmei_.value, QStringLiteral("--dry-run")});
    EXPECT_TRUE(publish.contains(QStringLiteral("would upload\tindex.html"))) << publish.toStdString();
    EXPECT_TRUE(publish.endsWith(QStringLiteral("exit 0"))) << publish.toStdString();

    SecretServiceStore restarted;
    prompter_.clear();
    open(restarted);
    EXPECT_TRUE(prompter_.shown().empty()); // asked once only
    EXPECT_EQ(edit("Text3")->text(), kOld.password);
    choose(site.name);
    EXPECT_EQ(edit("Text3")->text(), site.password);

    // Deleting one of two names for one account keeps the password for the
    // other; deleting the last removes it.
    combo()->setEditText(site.name);
    press("Command3");
    EXPECT_EQ(stored(site), site.password);
    combo()->setEditText(QStringLiteral("別名"));
    press("Command3");
    EXPECT_EQ(stored(site), QStringLiteral("(none)"));
    EXPECT_EQ(registry(), registryBytes({with(kOld, QString()), kAnonymous}));
    EXPECT_EQ(prompter_.messages(), (QStringList{kDone, kDone}));
    close();
}

TEST_F(KeyringTest, NoKeepsTheFileAsItIsAndIsRemembered)
{
    ASSERT_NO_FATAL_FAILURE(startKeyring());
    ASSERT_TRUE(test::writeBytes(hostmei_.value, registryBytes({kOld})));
    prompter_.answerNo();
    open(store_);
    EXPECT_EQ(prompter_.questions(), QStringList{kMove});
    EXPECT_EQ(edit("Text3")->text(), kOld.password);
    // That file keeps its passwords, a new one too.
    const Connection added{QStringLiteral("二つ目"), QStringLiteral("ftp.two.example"), QStringLiteral("inu"),
                           QStringLiteral("p2")};
    registerAs(added.name, added);
    EXPECT_EQ(registry(), registryBytes({kOld, added}));
    EXPECT_EQ(stored(kOld), QStringLiteral("(none)"));
    EXPECT_EQ(stored(added), QStringLiteral("(none)"));
    close();

    prompter_.clear();
    open(store_);
    EXPECT_TRUE(prompter_.shown().empty());
    EXPECT_EQ(registry(), registryBytes({kOld, added}));
}

TEST_F(KeyringTest, NoSessionBusKeepsThePasswordsInTheFileAndSaysSoOnce)
{
    env("DBUS_SESSION_BUS_ADDRESS", QStringLiteral("unix:path=") + path("run/no-bus"));
    ASSERT_NO_FATAL_FAILURE(expectFileKeptAndToldOnce());

    // The command line asks for the password as before.
    ASSERT_TRUE(server_.start(serverRoot_.path(), QStringLiteral("sakura"), QStringLiteral("hana")));
    const QString ftp =
        run({QStringLiteral("ftp"), server_.address(), QStringLiteral("sakura"), QStringLiteral("DIR")}, "hana\n");
    EXPECT_TRUE(ftp.contains(QStringLiteral("DIR\tok"))) << ftp.toStdString();
}

TEST_F(KeyringTest, ASilentBusIsGivenUpAndTheFileUsed)
{
    // A bus socket that takes the connection and never says a word.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(path("run/silent"));
    ASSERT_LT(size_t(socketPath.size()), sizeof(address.sun_path));
    memcpy(address.sun_path, socketPath.constData(), socketPath.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 16), 0);
    env("DBUS_SESSION_BUS_ADDRESS", QStringLiteral("unix:path=") + path("run/silent"));

    ASSERT_NO_FATAL_FAILURE(expectFileKeptAndToldOnce());
    ::close(listener);
}

} // namespace
