// SPDX-License-Identifier: GPL-3.0-or-later
// The FTP window over a scripted transfer: load, the local pane, the
// registry controls and the session's buttons as the user presses them.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <ostream>

#include "document/cp932.h"
#include "document/project_file.h"
#include "document/settings.h"
#include "pages/page_kinds.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"
#include "ui/dir_list.h"
#include "ui/drive_list.h"
#include "ui/file_list_widget.h"
#include "ui/ftp_window.h"
#include "ui/main_window.h"
#include "controllers/fake_transfer.h"
#include "controllers/ftp_session.h"
#include "net/ftp_server.h"
#include "sites/password_store.h"
#include "controllers/registry_form.h"

static void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

using namespace webloom;
using webloom::test::FakeTransfer;

namespace {

class MemoryHostmei : public HostmeiSetting {
public:
    QString read() const override { return value; }
    void save(const QString &path) override { value = path; }
    QString value;
};

QString cleanPath(const QString &path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}

class FtpWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(local.isValid());
        savedCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(local.path()));
        // The passwords stay in the registry file, never in the keyring of
        // whoever runs the tests.
        keyring::useStore(nullptr);
    }
    void TearDown() override
    {
        if (window)
            window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(window.isNull()) << "the window outlived its close";
        QDir::setCurrent(savedCwd);
        keyring::useStore(savedPasswords);
        EXPECT_EQ(prompter.unexpected(), 0);
    }

    FtpWindow *open()
    {
        FtpWindow::Services services;
        services.makeTransfer = [this] {
            auto t = std::make_unique<FakeTransfer>();
            transfer = t.get();
            return std::unique_ptr<Transfer>(std::move(t));
        };
        services.prompter = &prompter;
        services.hostmei = &hostmei;
        services.desktopFolder = [this] { return desktop; };
        window = new FtpWindow(services);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.data()));
        return window;
    }

    template <class T> T *child(const char *name) const
    {
        T *w = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QPushButton *button(const char *name) const { return child<QPushButton>(name); }
    QLineEdit *edit(const char *name) const { return child<QLineEdit>(name); }
    QComboBox *combo() const { return child<QComboBox>("Combo1"); }
    QListWidget *lstDir() const { return child<QListWidget>("lstDir"); }
    FileListWidget *file1() const { return child<FileListWidget>("File1"); }
    DirList *dir1() const { return child<DirList>("Dir1"); }
    DriveList *drive1() const { return child<DriveList>("Drive1"); }
    void click(const char *name) const { QTest::mouseClick(button(name), Qt::LeftButton); }

    QStringList lstDirEntries() const
    {
        QStringList out;
        for (int i = 0; i < lstDir()->count(); ++i)
            out.append(lstDir()->item(i)->text());
        return out;
    }
    QStringList comboItems() const
    {
        QStringList out;
        for (int i = 0; i < combo()->count(); ++i)
            out.append(combo()->itemText(i));
        return out;
    }

    void selectFiles(const QStringList &names) const
    {
        for (int i = 0; i < file1()->count(); ++i)
            file1()->item(i)->setSelected(names.contains(file1()->name(i)));
    }

    // Runs the event loop until the session has done all it was given.
    void settle() const
    {
        ASSERT_TRUE(QTest::qWaitFor(
            [this] { return (!window || !window->session() || window->session()->idle()) && !transfer->busy(); },
            5000));
        QCoreApplication::processEvents();
    }

    void connectWith(const QStringList &listing = {})
    {
        transfer->listing = listing;
        click("Command1");
        settle();
        transfer->commands.clear();
        prompter.clear();
    }

    void writeRegistry(const QList<RegisteredConnection> &entries)
    {
        hostmei.value = local.filePath(QStringLiteral("hosts.txt"));
        ASSERT_TRUE(test::writeBytes(hostmei.value, registryBytes(entries)));
    }

    QTemporaryDir local;
    QString savedCwd;
    PasswordStore *savedPasswords = keyring::userStore();
    QString desktop;
    MemoryHostmei hostmei;
    test::ScriptedPrompter prompter;
    QPointer<FtpWindow> window;
    FakeTransfer *transfer = nullptr; // owned by the window
};

void touch(const QString &path, const QByteArray &bytes = "x")
{
    ASSERT_TRUE(test::writeBytes(path, bytes));
}

const RegisteredConnection kFirst{QStringLiteral("うちのＨＰ"), QStringLiteral("ftp.one.example"),
                                  QStringLiteral("nekoneko"), QStringLiteral("pass 1")};
const RegisteredConnection kSecond{QStringLiteral("two"), QStringLiteral("ftp.two.example"), QStringLiteral("inu"),
                                   QStringLiteral("p2")};

TEST_F(FtpWindowTest, OpensEmptyWithoutARegistryLocation)
{
    touch(local.filePath(QStringLiteral("b.txt")));
    touch(local.filePath(QStringLiteral("A.html")));
    touch(local.filePath(QStringLiteral(".hidden")));
    ASSERT_TRUE(QDir(local.path()).mkdir(QStringLiteral("img")));
    open();

    EXPECT_TRUE(prompter.shown().empty());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("簡易FTPクライアント"));
    EXPECT_EQ(button("Command1")->text(), QStringLiteral("接　続"));
    EXPECT_EQ(lstDir()->count(), 0);
    EXPECT_TRUE(lstDir()->isEnabled());
    EXPECT_EQ(lstDir()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(file1()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_FALSE(child<QCheckBox>("Check1")->isChecked());
    EXPECT_FALSE(child<QCheckBox>("Check2")->isChecked());
    for (const char *name : {"Text1", "Text2", "Text3", "Text4", "Text5"})
        EXPECT_TRUE(edit(name)->text().isEmpty()) << name;
    EXPECT_EQ(combo()->count(), 0);
    EXPECT_TRUE(combo()->currentText().isEmpty());
    EXPECT_TRUE(child<QLabel>("Label9")->text().isEmpty());

    // The local pane starts at the working folder: its files, no folders,
    // nothing hidden.
    EXPECT_EQ(dir1()->path(), cleanPath(local.path()));
    EXPECT_EQ(file1()->list().names(), (QStringList{QStringLiteral("A.html"), QStringLiteral("b.txt")}));
    EXPECT_EQ(drive1()->drive(), DriveList::driveOf(local.path(), drive1()->drives()));

    // The password shows as stars.
    QTest::keyClicks(edit("Text3"), QStringLiteral("abc"));
    EXPECT_EQ(edit("Text3")->text(), QStringLiteral("abc"));
    EXPECT_EQ(edit("Text3")->displayText(), QStringLiteral("***"));
}

TEST_F(FtpWindowTest, LoadReadsTheRegistryNamedByTheSetting)
{
    writeRegistry({kFirst, kSecond});
    open();
    EXPECT_TRUE(prompter.shown().empty());
    EXPECT_EQ(comboItems(), (QStringList{kFirst.name, kSecond.name}));
    EXPECT_EQ(combo()->currentText(), kFirst.name);
    EXPECT_EQ(child<QLabel>("Label9")->text(), kFirst.name);
    EXPECT_EQ(edit("Text1")->text(), kFirst.address);
    EXPECT_EQ(edit("Text2")->text(), kFirst.user);
    EXPECT_EQ(edit("Text3")->text(), kFirst.password);
    window->close();

    // A location whose file has gone: the one message, empty fields.
    hostmei.value = local.filePath(QStringLiteral("gone.txt"));
    open();
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("接続名とホストの登録を行ってください")});
    EXPECT_TRUE(edit("Text1")->text().isEmpty());
    EXPECT_EQ(combo()->count(), 0);
}

TEST_F(FtpWindowTest, FolderListMovesFileListDriveAndWorkingFolder)
{
    QTemporaryDir driveA, driveB;
    const QString deep = driveA.filePath(QStringLiteral("deep"));
    ASSERT_TRUE(QDir().mkdir(deep));
    touch(deep + QStringLiteral("/in-deep.html"));
    touch(driveB.filePath(QStringLiteral("on-b.html")));
    open();
    drive1()->setDrives(
        DriveList::sortedDrives({QDir::rootPath(), cleanPath(driveA.path()), cleanPath(driveB.path())}));

    // A folder chosen in Dir1: File1 lists it, it becomes the working
    // folder, and the drive list follows to the drive that holds it.
    ASSERT_TRUE(dir1()->setPath(deep));
    EXPECT_EQ(file1()->list().names(), QStringList{QStringLiteral("in-deep.html")});
    EXPECT_EQ(QDir::currentPath(), QDir::cleanPath(deep));
    EXPECT_EQ(drive1()->drive(), cleanPath(driveA.path()));

    // Another drive opens at its root the first time...
    const auto pick = [this](const QString &root) {
        const int index = drive1()->findText(cleanPath(root));
        ASSERT_GE(index, 0);
        drive1()->setCurrentIndex(index);
        emit drive1()->activated(index);
    };
    pick(driveB.path());
    EXPECT_EQ(dir1()->path(), cleanPath(driveB.path()));
    EXPECT_EQ(file1()->list().names(), QStringList{QStringLiteral("on-b.html")});
    EXPECT_EQ(QDir::currentPath(), QDir::cleanPath(driveB.path()));

    // ...and a drive chosen again opens at the folder last shown on it.
    pick(driveA.path());
    EXPECT_EQ(dir1()->path(), cleanPath(deep));
    EXPECT_EQ(QDir::currentPath(), QDir::cleanPath(deep));

    // When that folder has gone, the drive opens at its root.
    pick(driveB.path());
    ASSERT_TRUE(QDir(deep).removeRecursively());
    pick(driveA.path());
    EXPECT_EQ(dir1()->path(), cleanPath(driveA.path()));
    EXPECT_EQ(drive1()->drive(), cleanPath(driveA.path()));

    // A drive that cannot be opened at all: the list returns silently to the
    // shown folder's drive, and nothing else moves.
    QTemporaryDir driveC;
    const QString rootC = cleanPath(driveC.path());
    drive1()->setDrives(drive1()->drives() << rootC);
    driveC.remove();
    pick(rootC);
    EXPECT_EQ(drive1()->drive(), cleanPath(driveA.path()));
    EXPECT_EQ(dir1()->path(), cleanPath(driveA.path()));
    EXPECT_EQ(QDir::currentPath(), QDir::cleanPath(driveA.path()));
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(FtpWindowTest, DesktopShowsTheDesktopAndUploadsFromIt)
{
    QTemporaryDir desk;
    desktop = cleanPath(desk.path());
    touch(desk.filePath(QStringLiteral("from-desk.html")));
    touch(local.filePath(QStringLiteral("from-desk.html"))); // same name elsewhere
    open();
    connectWith();
    ASSERT_TRUE(QDir::setCurrent(savedCwd));

    click("Command12");
    EXPECT_EQ(dir1()->path(), desktop);
    EXPECT_EQ(file1()->list().names(), QStringList{QStringLiteral("from-desk.html")});
    EXPECT_EQ(drive1()->drive(), DriveList::driveOf(desktop, drive1()->drives()));
    EXPECT_EQ(QDir::currentPath(), QDir::cleanPath(desk.path()));

    QString folderAtPut;
    transfer->onExecute = [&folderAtPut](const QString &command) {
        if (command.startsWith(QLatin1String("PUT ")))
            folderAtPut = QDir::currentPath();
    };
    selectFiles({QStringLiteral("from-desk.html")});
    click("Command6");
    settle();
    EXPECT_EQ(transfer->commands,
              (QStringList{
                  QStringLiteral("PUT %1 from-desk.html").arg(QDir(desktop).filePath(QStringLiteral("from-desk.html"))),
                  QStringLiteral("DIR")}));
    EXPECT_EQ(folderAtPut, QDir::cleanPath(desk.path()));
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("アップロードが終了しました")});

    // Without a desktop folder the button says so and moves nothing.
    prompter.clear();
    desktop = local.filePath(QStringLiteral("no-desktop"));
    click("Command12");
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("デスクトップのフォルダが見つかりません。")});
    EXPECT_EQ(dir1()->path(), cleanPath(desk.path()));
}

TEST_F(FtpWindowTest, UploadSendsFromTheShownFolderOnly)
{
    const QString shown = local.filePath(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkdir(shown));
    touch(shown + QStringLiteral("/index.html"));
    open();
    ASSERT_TRUE(dir1()->setPath(shown));
    connectWith();

    // Another window moved the working folder meanwhile.
    ASSERT_TRUE(QDir::setCurrent(local.path()));
    QString folderAtPut;
    transfer->onExecute = [&folderAtPut](const QString &command) {
        if (command.startsWith(QLatin1String("PUT ")))
            folderAtPut = QDir::currentPath();
    };
    selectFiles({QStringLiteral("index.html")});
    click("Command6");
    settle();
    EXPECT_EQ(folderAtPut, QDir::cleanPath(shown));
    EXPECT_EQ(transfer->commands.value(0), QStringLiteral("PUT %1/index.html index.html").arg(QDir::cleanPath(shown)));

    // The shown folder has gone: nothing is sent under its name from
    // wherever the working folder is.
    transfer->commands.clear();
    prompter.clear();
    ASSERT_TRUE(QDir::setCurrent(local.path()));
    ASSERT_TRUE(QDir(shown).removeRecursively());
    touch(local.filePath(QStringLiteral("index.html")));
    click("Command6");
    EXPECT_TRUE(transfer->commands.isEmpty()) << transfer->commands.join(u',').toStdString();
    ASSERT_EQ(prompter.messages().size(), 1);
    EXPECT_TRUE(prompter.lastMessage().contains(QStringLiteral("ファイルは送信されませんでした。")));
}

TEST_F(FtpWindowTest, LocalNewFolder)
{
    open();
    const QStringList before = QDir(local.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    edit("Text5")->setText(QStringLiteral("   "));
    click("Command11");
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("右にディレクトリ名を入れて下さい。")});
    EXPECT_EQ(QDir(local.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);

    // Made as typed, leading space included, inside the shown folder.
    prompter.clear();
    edit("Text5")->setText(QStringLiteral(" new dir"));
    click("Command11");
    EXPECT_TRUE(prompter.shown().empty());
    EXPECT_TRUE(QFileInfo(local.filePath(QStringLiteral(" new dir"))).isDir());
    EXPECT_TRUE(edit("Text5")->text().isEmpty());

    // Names that cannot be made: a message, the name kept for correcting,
    // and the window goes on working.
    touch(local.filePath(QStringLiteral("taken")));
    const QString outside = QFileInfo(local.path()).dir().filePath(QStringLiteral("webloom-escape-test"));
    for (const QString &name : {QStringLiteral(" new dir"), QStringLiteral("taken"),
                                QStringLiteral("../webloom-escape-test"), QStringLiteral("a/b")}) {
        prompter.clear();
        edit("Text5")->setText(name);
        click("Command11");
        ASSERT_EQ(prompter.messages().size(), 1) << name.toStdString();
        EXPECT_TRUE(prompter.lastMessage().contains(name)) << name.toStdString();
        EXPECT_EQ(edit("Text5")->text(), name);
    }
    EXPECT_FALSE(QFileInfo::exists(outside));
    EXPECT_TRUE(QFileInfo(local.filePath(QStringLiteral("taken"))).isFile());

    prompter.clear();
    edit("Text5")->setText(QStringLiteral("second"));
    click("Command11");
    EXPECT_TRUE(prompter.shown().empty());
    EXPECT_TRUE(QFileInfo(local.filePath(QStringLiteral("second"))).isDir());
}

TEST_F(FtpWindowTest, Command8WithShiftForgetsTheLocationFirst)
{
    open();
    const QString kNotSaved = QStringLiteral("接続名保存は、完了していません！");
    const QString kAgain = QStringLiteral("もう一度ファイルを指定してください");
    hostmei.value = QStringLiteral("/old/hosts.txt");

    // A plain click that is cancelled leaves the location alone.
    prompter.cancelDialog();
    click("Command8");
    EXPECT_EQ(hostmei.value, QStringLiteral("/old/hosts.txt"));
    EXPECT_EQ(prompter.messages(), (QStringList{kNotSaved, kAgain}));

    // Shift together with Ctrl is not the reset either.
    prompter.clear();
    prompter.cancelDialog();
    QTest::mouseClick(button("Command8"), Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_EQ(hostmei.value, QStringLiteral("/old/hosts.txt"));

    // Shift alone: the setting is emptied, then the cancelled dialog keeps
    // it empty.
    prompter.clear();
    prompter.cancelDialog();
    QTest::mouseClick(button("Command8"), Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(hostmei.value, QString());
    EXPECT_EQ(prompter.messages(), (QStringList{kNotSaved, kAgain}));

    // Shift alone with a file chosen: the new place.
    prompter.clear();
    hostmei.value = QStringLiteral("/old/hosts.txt");
    const QString chosen = local.filePath(QStringLiteral("new-hosts.txt"));
    prompter.chooseFile(chosen);
    QTest::mouseClick(button("Command8"), Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(hostmei.value, chosen);
    EXPECT_TRUE(prompter.messages().isEmpty());

    click("Command9");
    EXPECT_EQ(prompter.lastMessage(), QStringLiteral("接続名登録場所=") + chosen);
}

TEST_F(FtpWindowTest, Combo1TypingChoosingRegisteringAndDeleting)
{
    writeRegistry({kFirst, kSecond});
    open();
    auto *label9 = child<QLabel>("Label9");

    // Typing: Label9 follows every change, nothing is read.
    combo()->lineEdit()->selectAll();
    QTest::keyClicks(combo()->lineEdit(), QStringLiteral("ab"));
    EXPECT_EQ(label9->text(), QStringLiteral("ab"));
    EXPECT_EQ(edit("Text1")->text(), kFirst.address);

    // Choosing a name from the list loads it from the file as it is now.
    RegisteredConnection changed = kSecond;
    changed.address = QStringLiteral("ftp.changed.example");
    ASSERT_TRUE(test::writeBytes(hostmei.value, registryBytes({kFirst, changed})));
    combo()->setCurrentIndex(1);
    emit combo()->activated(1);
    EXPECT_EQ(combo()->currentText(), kSecond.name);
    EXPECT_EQ(label9->text(), kSecond.name);
    EXPECT_EQ(edit("Text1")->text(), changed.address);
    EXPECT_EQ(edit("Text2")->text(), kSecond.user);
    EXPECT_EQ(comboItems(), (QStringList{kFirst.name, kSecond.name}));

    // Choosing the name already loaded reads nothing.
    edit("Text1")->setText(QStringLiteral("typed over"));
    emit combo()->activated(1);
    EXPECT_EQ(edit("Text1")->text(), QStringLiteral("typed over"));
    EXPECT_TRUE(prompter.shown().empty());

    // Registering a new name from the fields appends it to file and list.
    combo()->lineEdit()->selectAll();
    combo()->lineEdit()->insert(QStringLiteral("三つ目")); // as the input method commits it
    click("Command2");
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("書込み完了")});
    const RegisteredConnection third{QStringLiteral("三つ目"), QStringLiteral("typed over"), kSecond.user,
                                     kSecond.password};
    EXPECT_TRUE(test::sameBytes(registryBytes({kFirst, changed, third}), test::readBytes(hostmei.value)));
    EXPECT_EQ(comboItems(), (QStringList{kFirst.name, kSecond.name, third.name}));
    EXPECT_EQ(label9->text(), third.name);

    // "接続名削除" deletes the typed name, then shows the first entry.
    prompter.clear();
    combo()->lineEdit()->selectAll();
    QTest::keyClicks(combo()->lineEdit(), kSecond.name);
    click("Command3");
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("書込み完了")});
    EXPECT_TRUE(test::sameBytes(registryBytes({kFirst, third}), test::readBytes(hostmei.value)));
    EXPECT_EQ(comboItems(), (QStringList{kFirst.name, third.name}));
    EXPECT_EQ(combo()->currentText(), kFirst.name);
    EXPECT_EQ(label9->text(), kFirst.name);
    EXPECT_EQ(edit("Text3")->text(), kFirst.password);
}

TEST_F(FtpWindowTest, ConnectUploadWithProgressDownloadAndDisconnect)
{
    touch(local.filePath(QStringLiteral("a.html")), "aaa");
    touch(local.filePath(QStringLiteral("b.html")), "bbb");
    touch(local.filePath(QStringLiteral("c.html")), "ccc");
    writeRegistry({kFirst});
    open();

    transfer->listing = {QStringLiteral("./"), QStringLiteral("../"), QStringLiteral("a.html"), QStringLiteral("img/")};
    click("Command1");
    EXPECT_EQ(button("Command1")->text(), QStringLiteral("切　断"));
    for (const char *name : {"Text1", "Text2", "Text3", "Combo1"})
        EXPECT_FALSE(child<QWidget>(name)->isEnabled()) << name;
    settle();
    EXPECT_EQ(transfer->connection().address, kFirst.address);
    EXPECT_EQ(transfer->connection().password, kFirst.password);
    EXPECT_EQ(lstDirEntries(), (QStringList{QStringLiteral("../"), QStringLiteral("a.html"), QStringLiteral("img/")}));
    EXPECT_TRUE(lstDir()->isEnabled());

    // Two files go up; while each runs the window names it with its number
    // and the bar follows the bytes.
    transfer->commands.clear();
    transfer->busyPeriod = 20;
    // Sampled right after the window has taken each report.
    QStringList seen;
    QList<int> bar;
    auto *progressBar = child<QProgressBar>("barTransfer");
    QObject::connect(window->session(), &FtpSession::fileStarted, window,
                     [&] { seen.append(child<QLabel>("lblTransfer")->text()); });
    QObject::connect(window->session(), &FtpSession::progress, window,
                     [&] { bar << progressBar->value() << progressBar->maximum(); });
    child<QCheckBox>("Check2")->setChecked(true);
    selectFiles({QStringLiteral("a.html"), QStringLiteral("c.html")});
    click("Command6");
    EXPECT_FALSE(dir1()->isEnabled()) << "the local pane stays put while files go up";
    settle();
    EXPECT_TRUE(dir1()->isEnabled());
    EXPECT_EQ(seen, (QStringList{QStringLiteral("送信中：a.html（1/2）"), QStringLiteral("送信中：c.html（2/2）")}));
    EXPECT_EQ(bar, (QList<int>{500, 1000, 1000, 1000, 500, 1000, 1000, 1000}));
    auto put = [this](const char *name) {
        return QStringLiteral("PUT %1 %2").arg(QDir(dir1()->path()).filePath(QLatin1String(name)), QLatin1String(name));
    };
    EXPECT_EQ(transfer->commands,
              (QStringList{QStringLiteral("DELETE a.html"), put("a.html"), put("c.html"), QStringLiteral("DIR")}));
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("アップロードが終了しました")});
    // The line no longer says "送信中" once everything went.
    EXPECT_EQ(child<QLabel>("lblTransfer")->text(), QStringLiteral("送信が終わりました（2 ファイル）"));
    EXPECT_EQ(child<QProgressBar>("barTransfer")->value(), 0);

    // A download: the existing local file is kept on No, and the GET is
    // sent whatever the answer.
    transfer->commands.clear();
    prompter.clear();
    lstDir()->clearSelection();
    lstDir()->item(1)->setSelected(true);
    prompter.answerNo();
    click("Command7");
    settle();
    EXPECT_EQ(
        transfer->commands,
        QStringList{QStringLiteral("GET a.html %1").arg(QDir(dir1()->path()).filePath(QStringLiteral("a.html")))});
    EXPECT_EQ(prompter.questions(), QStringList{QStringLiteral("\na.html のファイルを削除します\n")});
    EXPECT_EQ(prompter.lastMessage(), QStringLiteral("ダウンロードが終了しました"));
    EXPECT_EQ(child<QLabel>("lblTransfer")->text(), QStringLiteral("受信が終わりました（1 ファイル）"));
    EXPECT_EQ(test::readBytes(local.filePath(QStringLiteral("a.html"))), QByteArray("aaa"));

    // Double-click on a directory changes into it.
    transfer->commands.clear();
    transfer->busyPeriod = 0;
    const QPoint img = lstDir()->visualItemRect(lstDir()->item(2)).center();
    QTest::mouseClick(lstDir()->viewport(), Qt::LeftButton, Qt::NoModifier, img);
    QTest::mouseDClick(lstDir()->viewport(), Qt::LeftButton, Qt::NoModifier, img);
    settle();
    EXPECT_EQ(transfer->commands, (QStringList{QStringLiteral("CD img"), QStringLiteral("DIR")}));

    // Disconnect: CLOSE, the fields come back, the list stays.
    transfer->commands.clear();
    click("Command1");
    settle();
    EXPECT_EQ(transfer->commands, QStringList{QStringLiteral("CLOSE")});
    EXPECT_EQ(button("Command1")->text(), QStringLiteral("接　続"));
    for (const char *name : {"Text1", "Text2", "Text3", "Combo1"})
        EXPECT_TRUE(child<QWidget>(name)->isEnabled()) << name;
    EXPECT_FALSE(lstDirEntries().isEmpty());
}

TEST_F(FtpWindowTest, ClosingEndsTheSession)
{
    touch(local.filePath(QStringLiteral("a.html")));
    touch(local.filePath(QStringLiteral("b.html")));

    // Connected and idle: closing sends CLOSE and destroys the window.
    open();
    connectWith();
    QStringList commands;
    transfer->onExecute = [&commands](const QString &command) { commands.append(command); };
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(commands, QStringList{QStringLiteral("CLOSE")});

    // Closed in the middle of an upload: the rest is not sent and no
    // summary is shown over a closed window.
    open();
    connectWith();
    transfer->busyPeriod = 20;
    commands.clear();
    transfer->onExecute = [&commands](const QString &command) { commands.append(command); };
    transfer->whileBusy = [this](const QString &command) {
        if (command.startsWith(QLatin1String("PUT ")) && window)
            window->close();
    };
    selectFiles({QStringLiteral("a.html"), QStringLiteral("b.html")});
    const QString sent = QStringLiteral("PUT %1 a.html").arg(QDir(dir1()->path()).filePath(QStringLiteral("a.html")));
    click("Command6");
    QTest::qWait(100);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(commands, QStringList{sent});
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(FtpWindowTest, EscapeClosesAskingFirstWhileTheServerIsBusy)
{
    touch(local.filePath(QStringLiteral("a.html")));
    open();
    connectWith();
    transfer->busyPeriod = 20;
    // The answer No keeps the window and its upload; Yes closes it.
    prompter.answerNo();
    prompter.answerYes();
    int escapes = 0;
    transfer->whileBusy = [this, &escapes](const QString &command) {
        if (!command.startsWith(QLatin1String("PUT ")) || !window || escapes++ > 0)
            return;
        QTest::keyClick(window.data(), Qt::Key_Escape);
        EXPECT_FALSE(window.isNull());
        EXPECT_TRUE(transfer->busy());
        QTest::keyClick(window.data(), Qt::Key_Escape);
    };
    selectFiles({QStringLiteral("a.html")});
    click("Command6");
    EXPECT_TRUE(QTest::qWaitFor([this] { return window.isNull(); }, 5000));
    ASSERT_EQ(prompter.questions(), (QStringList(2, QStringLiteral("\n通信中です。中止して閉じますか？\n"))));
    EXPECT_TRUE(prompter.shown().front().defaultNo);

    // Idle, it closes without a word.
    prompter.clear();
    open();
    connectWith();
    QTest::keyClick(window.data(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(prompter.shown().empty());
}

// Opened from the main window: the real transfer, the settings store.
class FtpFromMainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.isValid() && local.isValid());
        settings::useFile(store.filePath(QStringLiteral("webloom.ini")));
        savedCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(local.path()));
        keyring::useStore(nullptr);
        main = std::make_unique<MainWindow>(&prompter);
        main->show();
    }
    void TearDown() override
    {
        QApplication::closeAllWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        main.reset();
        QDir::setCurrent(savedCwd);
        keyring::useStore(savedPasswords);
        settings::useFile(QString());
        EXPECT_EQ(prompter.unexpected(), 0);
    }

    static QList<FtpWindow *> ftpWindows()
    {
        QList<FtpWindow *> found;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *f = qobject_cast<FtpWindow *>(w); f && f->isVisible())
                found.append(f);
        }
        return found;
    }
    FtpWindow *openFtp()
    {
        main->findChild<QAction *>(QStringLiteral("easyftp"))->trigger();
        const QList<FtpWindow *> windows = ftpWindows();
        return windows.size() == 1 ? windows.first() : nullptr;
    }
    template <class T> static T *in(FtpWindow *w, const char *name)
    {
        T *child = w->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    static void press(FtpWindow *w, const char *name) { QTest::mouseClick(in<QPushButton>(w, name), Qt::LeftButton); }
    static bool finished(FtpWindow *w)
    {
        return QTest::qWaitFor([w] { return w->session()->idle(); }, 30000);
    }

    QTemporaryDir store, local;
    QString savedCwd;
    PasswordStore *savedPasswords = keyring::userStore();
    test::ScriptedPrompter prompter;
    std::unique_ptr<MainWindow> main;
};

TEST_F(FtpFromMainWindow, OneModelessWindowLoadedAfreshAtEachOpening)
{
    FtpWindow *first = openFtp();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(prompter.shown().empty()); // no hostmei: no message
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(main->isEnabled());

    // Again while open: the same window, not a second one.
    in<QLineEdit>(first, "Text4")->setText(QStringLiteral("kept"));
    EXPECT_EQ(openFtp(), first);
    EXPECT_EQ(in<QLineEdit>(first, "Text4")->text(), QStringLiteral("kept"));

    // Closed and opened again: a fresh load, which now reads the registry
    // named in the settings store.
    const QString hosts = local.filePath(QStringLiteral("hosts.txt"));
    ASSERT_TRUE(test::writeBytes(hosts, registryBytes({kFirst})));
    settings::saveHostmei(hosts);
    const QPointer<FtpWindow> closed(first);
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closed.isNull());
    FtpWindow *second = openFtp();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(in<QLineEdit>(second, "Text4")->text().isEmpty());
    EXPECT_EQ(in<QLineEdit>(second, "Text1")->text(), kFirst.address);
    EXPECT_EQ(in<QPushButton>(second, "Command1")->text(), QStringLiteral("接　続"));
    EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(FtpFromMainWindow, ExitDoesNotWaitForASilentServer)
{
    QTemporaryDir serverRoot;
    test::FtpServer server;
    ASSERT_TRUE(server.start(serverRoot.path(), QStringLiteral("u"), QStringLiteral("p")));
    FtpWindow *w = openFtp();
    ASSERT_NE(w, nullptr);
    in<QLineEdit>(w, "Text1")->setText(server.address());
    in<QLineEdit>(w, "Text2")->setText(QStringLiteral("u"));
    in<QLineEdit>(w, "Text3")->setText(QStringLiteral("p"));
    press(w, "Command1");
    auto *list = in<QListWidget>(w, "lstDir");
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() > 0 && list->isEnabled(); }, 30000));
    server.freeze();
    QElapsedTimer clock;
    clock.start();
    main->findChild<QAction *>(QStringLiteral("eexit"))->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(ftpWindows().isEmpty());
    EXPECT_LT(clock.elapsed(), 2000);
}

TEST_F(FtpFromMainWindow, AnUnencryptedServerIsAskedAboutOnceAndTheAnswerKept)
{
    QTemporaryDir serverRoot;
    test::FtpServer server;
    ASSERT_TRUE(server.start(serverRoot.path(), QStringLiteral("u"), QStringLiteral("p")));
    const QString hosts = local.filePath(QStringLiteral("hosts.txt"));
    const RegisteredConnection entry{QStringLiteral("うち"), server.hostPort(), QStringLiteral("u"),
                                     QStringLiteral("p")};
    ASSERT_TRUE(test::writeBytes(hosts, registryBytes({entry})));
    settings::saveHostmei(hosts);
    FtpWindow *w = openFtp();
    ASSERT_NE(w, nullptr);
    auto *security = in<QComboBox>(w, "cmbSecurity");
    EXPECT_EQ(security->currentText(), QStringLiteral("自動（できれば暗号化する）"));

    prompter.answerYes();
    press(w, "Command1");
    auto *list = in<QListWidget>(w, "lstDir");
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() > 0 && list->isEnabled(); }, 30000));
    ASSERT_EQ(prompter.questions().size(), 1);
    EXPECT_TRUE(prompter.shown().at(0).defaultNo);
    // Encryption was asked for first; the user name went only after the Yes.
    const QStringList commands = server.commands();
    ASSERT_GE(commands.indexOf(QStringLiteral("AUTH TLS")), 0) << commands.join(u'\n').toStdString();
    EXPECT_LT(commands.indexOf(QStringLiteral("AUTH TLS")), commands.indexOf(QStringLiteral("USER u")));
    const QString plain = QStringLiteral("ftp://") + server.hostPort();
    EXPECT_EQ(in<QLineEdit>(w, "Text1")->text(), plain);
    EXPECT_EQ(security->currentText(), QStringLiteral("暗号化しない（FTP）"));
    EXPECT_EQ(parseRegistry(test::readBytes(hosts)).value_or(QList<RegisteredConnection>{}).value(0).address, plain);
    press(w, "Command1");

    // The choice beside the address writes the scheme into it.
    const int sftp = security->findText(QStringLiteral("SSH で接続する（SFTP）"));
    ASSERT_GE(sftp, 0);
    security->setCurrentIndex(sftp);
    emit security->activated(sftp);
    EXPECT_EQ(in<QLineEdit>(w, "Text1")->text(), QStringLiteral("sftp://") + server.hostPort());
}

// The whole way: pages written by their buttons' commands into a base
// folder, a connection registered, and the pages uploaded to a real server
// on 127.0.0.1 and one fetched back.
TEST_F(FtpFromMainWindow, WrittenSiteGoesUpByteForByte)
{
    const QString kUser = QStringLiteral("sakura");
    const QString kPassword = QStringLiteral("hana 2");
    QTemporaryDir base, serverRoot, back;
    ASSERT_TRUE(base.isValid() && serverRoot.isValid() && back.isValid());

    // The site.
    SiteDocument &doc = main->document();
    ASSERT_TRUE(loadProjectFile(doc, prompter,
                                QDir(QStringLiteral(WEBLOOM_TEST_DATA "/../../examples"))
                                    .absoluteFilePath(QStringLiteral("sample-project.txt"))));
    doc.setText(Field::Label1, base.path());
    QStringList pages;
    for (const PageKind &kind : pageKinds()) {
        doc.setCurrentTab(kind.tab);
        PageFrame frame(doc, prompter);
        kind.command(frame);
        for (const QString &path : frame.writtenFiles())
            pages.append(QFileInfo(path).fileName());
    }
    ASSERT_GE(pages.size(), 4) << prompter.messages().join(u'\n').toStdString();
    ASSERT_TRUE(pages.contains(QStringLiteral("index.html")));
    prompter.clear();

    test::FtpServer server;
    ASSERT_TRUE(server.start(serverRoot.path(), kUser, kPassword)) << server.log().toStdString();

    FtpWindow *w = openFtp();
    ASSERT_NE(w, nullptr);

    // Register the connection; the registry file is chosen on the way.
    const QString hosts = local.filePath(QStringLiteral("hosts.txt"));
    auto *combo = in<QComboBox>(w, "Combo1");
    combo->lineEdit()->insert(QStringLiteral("テスト"));
    QTest::keyClicks(in<QLineEdit>(w, "Text1"), server.address());
    QTest::keyClicks(in<QLineEdit>(w, "Text2"), kUser);
    QTest::keyClicks(in<QLineEdit>(w, "Text3"), kPassword);
    prompter.chooseFile(hosts);
    press(w, "Command2");
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("書込み完了")});
    EXPECT_EQ(settings::readHostmei(), hosts);
    EXPECT_TRUE(test::sameBytes(QByteArray("\"") +
                                    cp932::encode(QStringLiteral("テスト"), cp932::Unmappable::QuestionMark) + "\",\"" +
                                    server.address().toLatin1() + "\",\"sakura\",\"hana 2\"\r\n",
                                test::readBytes(hosts)));
    prompter.clear();

    // Connect: the empty server folder lists as "../" alone.
    auto *list = in<QListWidget>(w, "lstDir");
    press(w, "Command1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() > 0 && list->isEnabled(); }, 30000))
        << prompter.messages().join(u'\n').toStdString() << server.log().toStdString();
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("../"));
    EXPECT_TRUE(prompter.shown().empty()) << prompter.messages().join(u'\n').toStdString();

    // Up go the pages, from the base folder shown in the local pane, even
    // when the working folder moves to another site with pages of the same
    // names while they go (the folder chooser or the photo tools can do that).
    QTemporaryDir decoy;
    for (const QString &page : pages)
        ASSERT_TRUE(test::writeBytes(QDir(decoy.path()).filePath(page), "wrong site"));
    ASSERT_TRUE(in<DirList>(w, "Dir1")->setPath(base.path()));
    auto *files = in<FileListWidget>(w, "File1");
    files->selectAll();
    EXPECT_EQ(files->selectedNames().size(), pages.size());
    QObject::connect(w->session(), &FtpSession::fileStarted, w, [&](const QString &, int number) {
        if (number == 1)
            QDir::setCurrent(decoy.path());
    });
    press(w, "Command6");
    ASSERT_TRUE(finished(w));
    EXPECT_EQ(QDir::currentPath(), QDir(decoy.path()).canonicalPath());
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("アップロードが終了しました")});
    for (const QString &page : pages) {
        EXPECT_TRUE(test::sameBytes(test::readBytes(base.filePath(page)),
                                    test::readBytes(QDir(serverRoot.path()).filePath(page))))
            << page.toStdString();
    }
    QStringList listed;
    for (int i = 0; i < list->count(); ++i)
        listed.append(list->item(i)->text());
    for (const QString &page : pages)
        EXPECT_TRUE(listed.contains(page)) << page.toStdString();

    // The top page rewritten and sent again: after the Yes the server holds
    // the new bytes; after a No the server's copy stays as it was.
    const QString index = base.filePath(QStringLiteral("index.html"));
    const QByteArray second = test::readBytes(index) + "<!-- again -->\r\n";
    ASSERT_TRUE(test::writeBytes(index, second));
    files->clearSelection();
    for (int i = 0; i < files->count(); ++i)
        files->item(i)->setSelected(files->name(i) == QStringLiteral("index.html"));
    prompter.clear();
    prompter.answerYes();
    press(w, "Command6");
    ASSERT_TRUE(finished(w));
    EXPECT_EQ(prompter.questions(), QStringList{QStringLiteral("\nindex.html のファイルを削除します\n")});
    EXPECT_TRUE(
        test::sameBytes(second, test::readBytes(QDir(serverRoot.path()).filePath(QStringLiteral("index.html")))));

    ASSERT_TRUE(test::writeBytes(index, "not wanted"));
    prompter.clear();
    prompter.answerNo();
    press(w, "Command6");
    ASSERT_TRUE(finished(w));
    EXPECT_EQ(prompter.messages(), (QStringList{QStringLiteral("アップロードに失敗しました"),
                                                QStringLiteral("アップロードが終了しました")}));
    EXPECT_TRUE(
        test::sameBytes(second, test::readBytes(QDir(serverRoot.path()).filePath(QStringLiteral("index.html")))));

    // And one page down into another folder.
    ASSERT_TRUE(in<DirList>(w, "Dir1")->setPath(back.path()));
    list->clearSelection();
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setSelected(list->item(i)->text() == QStringLiteral("index.html"));
    prompter.clear();
    press(w, "Command7");
    ASSERT_TRUE(finished(w));
    EXPECT_EQ(prompter.messages(), QStringList{QStringLiteral("ダウンロードが終了しました")});
    EXPECT_TRUE(test::sameBytes(second, test::readBytes(back.filePath(QStringLiteral("index.html")))));
    EXPECT_EQ(files->list().names(), QStringList{QStringLiteral("index.html")});

    press(w, "Command1");
    EXPECT_EQ(in<QPushButton>(w, "Command1")->text(), QStringLiteral("接　続"));
}

} // namespace
