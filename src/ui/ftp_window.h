// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

#include "controllers/ftp_view.h"
#include "controllers/registry_form.h"
#include "net/trust_store.h"

namespace Ui {
class ftpform;
}

namespace webloom {

class FtpSession;
class Prompter;
class Transfer;

// The FTP window ftpform "簡易FTPクライアント": the local computer on the
// left, the server on the right, the connection fields and the registry
// buttons above. The window is the FtpView of its FtpSession and the form of
// its ConnectionRegistry; it owns both, and the transfer they talk through.
//
// Modeless; it deletes itself when closed, so an owner keeps it in a
// QPointer. Closing it mid-transfer ends the session at once: the operation
// in progress stops and the transfer is torn down with the window.
class FtpWindow : public QWidget, private FtpView {
    Q_OBJECT
public:
    // What the window takes from outside; tests replace each part.
    struct Services {
        // Makes the transfer of the session (required; called once).
        std::function<std::unique_ptr<Transfer>()> makeTransfer;
        // Borrowed; without one the window shows Qt boxes over itself.
        Prompter *prompter = nullptr;
        // Borrowed; without one the per-user settings store.
        HostmeiSetting *hostmei = nullptr;
        // The desktop folder; without one the platform's.
        std::function<QString()> desktopFolder;
        // Borrowed; without one the per-user store of trusted servers.
        TrustStore *trust = nullptr;
        // Borrowed; without one keyring::userStore().
        PasswordStore *passwords = nullptr;
    };

    explicit FtpWindow(Services services, QWidget *parent = nullptr);
    ~FtpWindow() override;

    // The session, or nullptr once the window has been closed.
    FtpSession *session() const { return session_; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // FtpView over the widgets.
    QString text1() const override;
    QString text2() const override;
    QString text3() const override;
    void setConnectionFieldsEnabled(bool enabled) override;
    void useAddress(const QString &address) override;
    QString command1Caption() const override;
    void setCommand1Caption(const QString &caption) override;
    void setCommand1Enabled(bool enabled) override;
    QString text4() const override;
    void setText4(const QString &text) override;
    void setCommand4Enabled(bool enabled) override;
    int lstDirCount() const override;
    QString lstDirItem(int index) const override;
    bool lstDirSelected(int index) const override;
    int lstDirCurrentIndex() const override;
    void setLstDirItems(const QStringList &items) override;
    void setLstDirEnabled(bool enabled) override;
    bool check1() const override;
    bool check2() const override;
    int file1Count() const override;
    QString file1Item(int index) const override;
    bool file1Selected(int index) const override;
    void refreshFile1() override;
    QString dir1Path() const override;

    void connectControls();
    void load();

    // Local pane.
    void driveChanged(const QString &root);  // Drive1
    void folderChanged(const QString &path); // Dir1
    void desktop();                          // Command12
    void makeLocalFolder();                  // Command11

    // Session operations, guarded against a window closed meanwhile.
    void runSession(void (FtpSession::*operation)());
    void upload();   // Command6
    void download(); // Command7
    void startBatch(const QString &verb);
    void sessionIdle();
    void setLocalPaneEnabled(bool enabled);

    // Registry: the widgets are copied into form_ before a command and
    // shown from it afterwards.
    void runRegistry(const std::function<void()> &command);
    void readForm();
    void showForm();

    // The encryption choice beside the address: shows the scheme of Text1
    // and writes the chosen one into it.
    void addressEdited(const QString &text);
    void securityChosen(int index);

    // Progress of the running upload or download.
    void fileStarted(const QString &name, int number, int count);
    void showProgress(qint64 done, qint64 total);
    void clearProgress();
    void batchEnded();
    // Escape: closes, after asking while the server is being talked to.
    void escape();

    std::unique_ptr<Ui::ftpform> ui_;
    std::unique_ptr<Prompter> ownPrompter_;
    Prompter *prompter_ = nullptr;
    std::unique_ptr<HostmeiSetting> ownHostmei_;
    HostmeiSetting *hostmei_ = nullptr;
    std::unique_ptr<TrustStore> ownTrust_;
    TrustStore *trust_ = nullptr;
    std::function<QString()> desktopFolder_;
    RegistryForm form_;
    std::unique_ptr<ConnectionRegistry> registry_;
    std::unique_ptr<Transfer> transfer_;
    FtpSession *session_ = nullptr; // child; deleted when the window closes
    // The folder last shown on each drive: a drive chosen again opens there.
    QHash<QString, QString> driveFolders_;
    // What the progress line says the running transfer does; empty once it
    // has ended.
    QString transferVerb_;
    int transferCount_ = 0;
};

} // namespace webloom
