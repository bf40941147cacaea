// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ftp_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QShortcut>
#include <QSignalBlocker>

#include <algorithm>

#include "connect/connection_questions.h"
#include "document/file_name.h"
#include "document/settings.h"
#include "pages/page_frame.h"
#include "ui/qt_prompter.h"
#include "ui/stored_hostmei.h"
#include "ui_ftp_window.h"
#include "controllers/ftp_session.h"
#include "net/address.h"
#include "net/transfer.h"

namespace webloom {

FtpWindow::FtpWindow(Services services, QWidget *parent)
    : QWidget(parent), ui_(std::make_unique<Ui::ftpform>()), prompter_(services.prompter), hostmei_(services.hostmei),
      desktopFolder_(std::move(services.desktopFolder))
{
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    if (!prompter_) {
        ownPrompter_ = std::make_unique<QtPrompter>(this);
        prompter_ = ownPrompter_.get();
    }
    if (!hostmei_) {
        ownHostmei_ = std::make_unique<StoredHostmei>();
        hostmei_ = ownHostmei_.get();
    }
    if (!desktopFolder_)
        desktopFolder_ = &settings::desktopFolder;
    trust_ = services.trust;
    if (!trust_) {
        ownTrust_ = std::make_unique<TrustStore>();
        trust_ = ownTrust_.get();
    }
    for (const auto &[scheme, text] :
         {std::pair{ServerAddress::Scheme::Auto, QStringLiteral("自動（できれば暗号化する）")},
          std::pair{ServerAddress::Scheme::Ftp, QStringLiteral("暗号化しない（FTP）")},
          std::pair{ServerAddress::Scheme::Ftpes, QStringLiteral("必ず暗号化する（FTPES）")},
          std::pair{ServerAddress::Scheme::Ftps, QStringLiteral("最初から暗号化する（FTPS）")},
          std::pair{ServerAddress::Scheme::Sftp, QStringLiteral("SSH で接続する（SFTP）")}})
        ui_->cmbSecurity->addItem(text, int(scheme));

    ui_->Text3->setEchoMode(QLineEdit::Password);
    // The password shows as "*", whatever the style's own mask character.
    ui_->Text3->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    ui_->File1->setMultiSelect(true);
    ui_->Command1->setText(FtpSession::kConnectCaption);
    clearProgress();

    registry_ = std::make_unique<ConnectionRegistry>(form_, *hostmei_, *prompter_,
                                                     services.passwords ? services.passwords : keyring::userStore());
    transfer_ = services.makeTransfer();
    // The registered connection follows an answer through useAddress.
    session_ = new FtpSession(
        *this, *transfer_, *prompter_,
        [this](const TransferOutcome &outcome, const Transfer::Connection &current) {
            PrompterQuestions questions(*prompter_, trust_);
            return connectAgain(questions, outcome, current);
        },
        this);

    connectControls();
    load();
}

FtpWindow::~FtpWindow()
{
    // The session refers to the transfer and to this view: it goes first.
    delete session_;
    session_ = nullptr;
}

void FtpWindow::connectControls()
{
    connect(ui_->Command1, &QPushButton::clicked, this, [this] { runSession(&FtpSession::connectOrDisconnect); });
    connect(ui_->Command6, &QPushButton::clicked, this, &FtpWindow::upload);
    connect(ui_->Command7, &QPushButton::clicked, this, &FtpWindow::download);
    connect(ui_->lstDir, &QListWidget::itemDoubleClicked, this, [this] { runSession(&FtpSession::changeDirectory); });
    connect(ui_->Command4, &QPushButton::clicked, this, [this] { runSession(&FtpSession::makeDirectory); });
    connect(ui_->Command5, &QPushButton::clicked, this, [this] { runSession(&FtpSession::removeDirectory); });
    connect(ui_->Command10, &QPushButton::clicked, this, [this] { runSession(&FtpSession::deleteSelected); });
    connect(session_, &FtpSession::fileStarted, this, &FtpWindow::fileStarted);
    connect(session_, &FtpSession::progress, this, &FtpWindow::showProgress);
    connect(session_, &FtpSession::becameIdle, this, &FtpWindow::sessionIdle);
    connect(session_, &FtpSession::batchEnded, this, &FtpWindow::batchEnded);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &FtpWindow::escape);

    connect(ui_->Command2, &QPushButton::clicked, this, [this] { runRegistry([this] { registry_->command2(); }); });
    connect(ui_->Command3, &QPushButton::clicked, this, [this] { runRegistry([this] { registry_->command3(); }); });
    // The Shift reset happened at the mouse press (eventFilter).
    connect(ui_->Command8, &QPushButton::clicked, this,
            [this] { runRegistry([this] { registry_->command8(false); }); });
    connect(ui_->Command9, &QPushButton::clicked, this, [this] { runRegistry([this] { registry_->command9(); }); });
    ui_->Command8->installEventFilter(this);
    // Label9 follows the text shown, typed or chosen from the list.
    connect(ui_->Combo1, &QComboBox::editTextChanged, ui_->Label9, &QLabel::setText);
    connect(ui_->Text1, &QLineEdit::textChanged, this, &FtpWindow::addressEdited);
    connect(ui_->cmbSecurity, &QComboBox::activated, this, &FtpWindow::securityChosen);
    connect(ui_->Combo1, &QComboBox::activated, this, [this](int index) {
        const QString name = ui_->Combo1->itemText(index);
        runRegistry([this, name] { registry_->comboChosen(name); });
    });

    connect(ui_->Drive1, &DriveList::driveChanged, this, &FtpWindow::driveChanged);
    connect(ui_->Dir1, &DirList::pathChanged, this, &FtpWindow::folderChanged);
    connect(ui_->Command12, &QPushButton::clicked, this, &FtpWindow::desktop);
    connect(ui_->Command11, &QPushButton::clicked, this, &FtpWindow::makeLocalFolder);
}

void FtpWindow::load()
{
    // The local pane starts at the working folder; the drive list follows.
    ui_->Dir1->setPath(QDir::currentPath());
    if (!hostmei_->read().isEmpty())
        runRegistry([this] { registry_->fyomiko(); });
}

void FtpWindow::escape()
{
    // The close box never asks (unloading is never refused); a key pressed
    // by mistake should not cut an upload short.
    if (session_ && !session_->idle() &&
        !prompter_->questionDefaultNo(kApplicationTitle,
                                      framedQuestion(QStringLiteral("通信中です。中止して閉じますか？"))))
        return;
    close();
}

void FtpWindow::closeEvent(QCloseEvent *event)
{
    // Unloading is never refused. The session goes now rather than with the
    // window, so an upload or download in progress stops at once instead of
    // going on behind a closed window; the transfer, which may still be
    // delivering to it, stays until the window itself is deleted.
    if (session_) {
        session_->unload();
        delete session_;
        session_ = nullptr;
    }
    clearProgress();
    event->accept();
}

bool FtpWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui_->Command8 && event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if ((mouse->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == Qt::ShiftModifier)
            hostmei_->save(QString());
    }
    return QWidget::eventFilter(watched, event);
}

// FtpView.

QString FtpWindow::text1() const
{
    return ui_->Text1->text();
}

QString FtpWindow::text2() const
{
    return ui_->Text2->text();
}

QString FtpWindow::text3() const
{
    return ui_->Text3->text();
}

void FtpWindow::setConnectionFieldsEnabled(bool enabled)
{
    for (QWidget *w :
         {static_cast<QWidget *>(ui_->Text1), static_cast<QWidget *>(ui_->Text2), static_cast<QWidget *>(ui_->Text3),
          static_cast<QWidget *>(ui_->Combo1), static_cast<QWidget *>(ui_->cmbSecurity)})
        w->setEnabled(enabled);
}

void FtpWindow::useAddress(const QString &address)
{
    const QString before = ui_->Text1->text();
    ui_->Text1->setText(address);
    // The registered connection of that name and address keeps the answer,
    // so that the question is not asked again next time.
    const QString name = ui_->Combo1->currentText();
    if (!name.isEmpty() && !hostmei_->read().isEmpty())
        registry_->rememberAddress(name, before, address);
}

void FtpWindow::addressEdited(const QString &text)
{
    const std::optional<ServerAddress> address = ServerAddress::parse(text);
    ServerAddress::Scheme scheme = address ? address->scheme : ServerAddress::Scheme::Auto;
    if (!address) {
        // Half typed: the scheme the text starts with, if any.
        for (auto candidate : {ServerAddress::Scheme::Ftp, ServerAddress::Scheme::Ftpes, ServerAddress::Scheme::Ftps,
                               ServerAddress::Scheme::Sftp}) {
            if (text.trimmed().startsWith(ServerAddress::schemePrefix(candidate), Qt::CaseInsensitive))
                scheme = candidate;
        }
    }
    ui_->cmbSecurity->setCurrentIndex(ui_->cmbSecurity->findData(int(scheme)));
}

void FtpWindow::securityChosen(int index)
{
    const auto scheme = ServerAddress::Scheme(ui_->cmbSecurity->itemData(index).toInt());
    QString rest = ui_->Text1->text().trimmed();
    for (auto candidate : {ServerAddress::Scheme::Ftp, ServerAddress::Scheme::Ftpes, ServerAddress::Scheme::Ftps,
                           ServerAddress::Scheme::Sftp}) {
        const QString prefix = ServerAddress::schemePrefix(candidate);
        if (rest.startsWith(prefix, Qt::CaseInsensitive)) {
            rest = rest.mid(prefix.size());
            break;
        }
    }
    ui_->Text1->setText(ServerAddress::schemePrefix(scheme) + rest);
}

QString FtpWindow::command1Caption() const
{
    return ui_->Command1->text();
}

void FtpWindow::setCommand1Caption(const QString &caption)
{
    ui_->Command1->setText(caption);
}

void FtpWindow::setCommand1Enabled(bool enabled)
{
    ui_->Command1->setEnabled(enabled);
}

QString FtpWindow::text4() const
{
    return ui_->Text4->text();
}

void FtpWindow::setText4(const QString &text)
{
    ui_->Text4->setText(text);
}

void FtpWindow::setCommand4Enabled(bool enabled)
{
    ui_->Command4->setEnabled(enabled);
}

int FtpWindow::lstDirCount() const
{
    return ui_->lstDir->count();
}

QString FtpWindow::lstDirItem(int index) const
{
    const QListWidgetItem *item = ui_->lstDir->item(index);
    return item ? item->text() : QString();
}

bool FtpWindow::lstDirSelected(int index) const
{
    const QListWidgetItem *item = ui_->lstDir->item(index);
    return item && item->isSelected();
}

int FtpWindow::lstDirCurrentIndex() const
{
    return ui_->lstDir->currentRow();
}

void FtpWindow::setLstDirItems(const QStringList &items)
{
    ui_->lstDir->clear();
    ui_->lstDir->addItems(items);
    ui_->lstDir->setCurrentRow(-1);
}

void FtpWindow::setLstDirEnabled(bool enabled)
{
    ui_->lstDir->setEnabled(enabled);
}

bool FtpWindow::check1() const
{
    return ui_->Check1->isChecked();
}

bool FtpWindow::check2() const
{
    return ui_->Check2->isChecked();
}

int FtpWindow::file1Count() const
{
    return ui_->File1->count();
}

QString FtpWindow::file1Item(int index) const
{
    return ui_->File1->name(index);
}

bool FtpWindow::file1Selected(int index) const
{
    return ui_->File1->isSelected(index);
}

void FtpWindow::refreshFile1()
{
    ui_->File1->refresh();
}

QString FtpWindow::dir1Path() const
{
    return ui_->Dir1->path();
}

// Local pane.

void FtpWindow::driveChanged(const QString &root)
{
    // Like a drive letter, each mount point keeps the folder last shown on it.
    const QString remembered = driveFolders_.value(root, root);
    if (ui_->Dir1->setPath(remembered) || ui_->Dir1->setPath(root))
        return;
    // The drive cannot be opened: the list goes back to the shown folder's.
    ui_->Drive1->setDriveOf(ui_->Dir1->path());
}

void FtpWindow::folderChanged(const QString &path)
{
    ui_->File1->setFolder(path);
    // Uploads name local files by their bare names. Should the change fail,
    // the upload sets the folder again before it sends anything.
    QDir::setCurrent(path);
    const QString root = DriveList::driveOf(path, ui_->Drive1->drives());
    if (root.isEmpty())
        return;
    driveFolders_.insert(root, path);
    // The folder list can climb to another mount point; the drive follows.
    ui_->Drive1->setDrive(root);
}

void FtpWindow::desktop()
{
    const QString path = desktopFolder_();
    if (path.isEmpty() || !QFileInfo(path).isDir()) {
        prompter_->message(QStringLiteral("デスクトップのフォルダが見つかりません。"));
        return;
    }
    QDir::setCurrent(path);
    ui_->Dir1->setPath(path);
    ui_->Drive1->setDriveOf(path);
}

void FtpWindow::makeLocalFolder()
{
    const QString name = ui_->Text5->text();
    if (trimSpaces(name).isEmpty()) {
        prompter_->message(QStringLiteral("右にディレクトリ名を入れて下さい。"));
        return;
    }
    const QString folder = ui_->Dir1->path();
    const QString target = QDir(folder).filePath(name);
    if (!isPlainFileName(name) || QFileInfo::exists(target) || !QDir(folder).mkdir(name)) {
        prompter_->message(QStringLiteral("ディレクトリ「%1」を作成できませんでした。\n"
                                          "同じ名前のファイルやディレクトリがないか、"
                                          "使えない文字がないか確かめて下さい。")
                               .arg(name));
        return;
    }
    ui_->Text5->clear();
}

// Session.

void FtpWindow::runSession(void (FtpSession::*operation)())
{
    if (session_)
        (session_->*operation)();
}

void FtpWindow::upload()
{
    if (!session_)
        return;
    // The files go up from the folder shown now. Should it have vanished
    // behind the window's back, nothing is sent.
    const QString folder = ui_->Dir1->path();
    if (!QDir::setCurrent(folder)) {
        prompter_->message(QStringLiteral("フォルダ「%1」を開けません。\n"
                                          "ファイルは送信されませんでした。")
                               .arg(folder));
        return;
    }
    startBatch(QStringLiteral("送信中"));
    session_->upload();
}

void FtpWindow::download()
{
    if (!session_)
        return;
    startBatch(QStringLiteral("受信中"));
    session_->download();
}

// While files go up or down the local pane stays where it was, so that what
// the user sees is where the files come from and go to.
void FtpWindow::startBatch(const QString &verb)
{
    transferVerb_ = verb;
    transferCount_ = 0;
    setLocalPaneEnabled(false);
}

void FtpWindow::sessionIdle()
{
    setLocalPaneEnabled(true);
    // The line keeps telling how the last upload or download ended; one that
    // stopped part-way leaves nothing on it.
    if (!transferVerb_.isEmpty())
        clearProgress();
    transferVerb_.clear();
}

void FtpWindow::batchEnded()
{
    const QString done = transferVerb_ == QStringLiteral("受信中") ? QStringLiteral("受信が終わりました")
                                                                   : QStringLiteral("送信が終わりました");
    clearProgress();
    ui_->lblTransfer->setText(transferCount_ > 0 ? QStringLiteral("%1（%2 ファイル）").arg(done).arg(transferCount_)
                                                 : done);
    transferVerb_.clear();
}

void FtpWindow::setLocalPaneEnabled(bool enabled)
{
    for (QWidget *w : {static_cast<QWidget *>(ui_->Drive1), static_cast<QWidget *>(ui_->Dir1),
                       static_cast<QWidget *>(ui_->Command11), static_cast<QWidget *>(ui_->Command12),
                       static_cast<QWidget *>(ui_->Text5)})
        w->setEnabled(enabled);
}

void FtpWindow::fileStarted(const QString &name, int number, int count)
{
    transferCount_ = count;
    ui_->lblTransfer->setText(QStringLiteral("%1：%2（%3/%4）").arg(transferVerb_, name).arg(number).arg(count));
    ui_->barTransfer->setRange(0, 0); // busy until the first byte count arrives
    ui_->barTransfer->setValue(0);
    ui_->barTransfer->setTextVisible(true);
}

void FtpWindow::showProgress(qint64 done, qint64 total)
{
    if (total <= 0) {
        ui_->barTransfer->setRange(0, 0);
        return;
    }
    // The bar counts in per mille: int would overflow on large files.
    ui_->barTransfer->setRange(0, 1000);
    ui_->barTransfer->setValue(int(std::clamp<qint64>(done * 1000 / total, 0, 1000)));
}

void FtpWindow::clearProgress()
{
    ui_->lblTransfer->clear();
    ui_->barTransfer->setRange(0, 100);
    ui_->barTransfer->setValue(0);
    ui_->barTransfer->setTextVisible(false); // no "0%" while nothing moves
}

// Registry.

void FtpWindow::runRegistry(const std::function<void()> &command)
{
    readForm();
    command();
    showForm();
}

void FtpWindow::readForm()
{
    form_.comboItems.clear();
    for (int i = 0; i < ui_->Combo1->count(); ++i)
        form_.comboItems.append(ui_->Combo1->itemText(i));
    form_.comboText = ui_->Combo1->currentText();
    form_.label9 = ui_->Label9->text();
    form_.text1 = ui_->Text1->text();
    form_.text2 = ui_->Text2->text();
    form_.text3 = ui_->Text3->text();
}

void FtpWindow::showForm()
{
    {
        // Filling the list is no typing: Label9 is set from the form below.
        const QSignalBlocker block(ui_->Combo1);
        ui_->Combo1->clear();
        ui_->Combo1->addItems(form_.comboItems);
        ui_->Combo1->setCurrentIndex(-1);
        ui_->Combo1->setEditText(form_.comboText);
    }
    ui_->Label9->setText(form_.label9);
    ui_->Text1->setText(form_.text1);
    ui_->Text2->setText(form_.text2);
    ui_->Text3->setText(form_.text3);
}

} // namespace webloom
