// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <functional>
#include <memory>

#include "publish/link_check.h"
#include "publish/live_check.h"
#include "publish/publisher.h"
#include "controllers/registry_form.h"
#include "net/trust_store.h"

namespace Ui {
class publishform;
}

class QTreeWidgetItem;

namespace webloom {

class Prompter;
class SiteDocument;

// "ホームページ公開": builds every page of the site and sends what changed to
// a registered connection's folder in one step. The list shows what goes,
// what is unchanged and which pages could not be built, and the user agrees
// before anything is sent; progress, the files on their way and the time left
// show while it runs, and "中止" stops after those files. The choices are kept
// per base folder in the settings store.
//
// Modeless; it deletes itself when closed, which stops a running publish.
class PublishWindow : public QWidget {
    Q_OBJECT
public:
    struct Services {
        // Borrowed: the site as the main window holds it.
        SiteDocument *document = nullptr;
        // Makes each connection's transfer (required).
        Publisher::MakeTransfer makeTransfer;
        // Borrowed; without one the window shows Qt boxes over itself.
        Prompter *prompter = nullptr;
        // Borrowed; without one the per-user settings store.
        HostmeiSetting *hostmei = nullptr;
        // Borrowed; without one the per-user store of trusted servers.
        TrustStore *trust = nullptr;
        // Borrowed; without one keyring::userStore().
        PasswordStore *passwords = nullptr;
        // Where the records of earlier publishes live; empty: the per-user
        // data folder.
        QString recordFolder;
        // Where web copies of photos are kept; empty: the per-user cache.
        QString photoCacheFolder;
    };

    explicit PublishWindow(Services services, QWidget *parent = nullptr);
    ~PublishWindow() override;

    // Whether a publish is planned or running.
    bool busy() const { return publisher_ != nullptr; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void loadConnections();
    void start();
    void planned(const PublishPlan &plan);
    void showProgress(const PublishProgress &progress);
    void fileSent(const QString &name);
    void photoReady(const QString &name, qint64 bytes, bool unchanged);
    // The plan's totals, with the photos' before and after.
    void showSummary(const PublishPlan::Photos &photos);
    void fileFailed(const QString &name, const QString &reason);
    void finished(const PublishSummary &summary);
    void setInputsEnabled(bool enabled);
    // The web address kept for this base folder and connection, or at
    // first the folder of the site's own address.
    void fillWebAddress();
    void listBrokenLinks(const QList<PageLink> &broken);
    void checkOnline();
    std::optional<Transfer::Connection> resolve(const TransferOutcome &outcome, const Transfer::Connection &current);

    std::unique_ptr<Ui::publishform> ui_;
    Services services_;
    std::unique_ptr<Prompter> ownPrompter_;
    std::unique_ptr<HostmeiSetting> ownHostmei_;
    std::unique_ptr<TrustStore> ownTrust_;
    QList<RegisteredConnection> connections_;
    QString baseFolder_;
    QString connectionName_;
    Publisher *publisher_ = nullptr;
    QHash<QString, QTreeWidgetItem *> items_;
    // Of the publish under way: the site built for it, its links, the
    // pages sent, where they should show on the web.
    SiteFiles site_;
    QString topPage_;
    QList<PageLink> links_;
    QSet<QString> sent_;
    QString webAddress_;
    QString remote_;
    LiveCheck *liveCheck_ = nullptr;
    QString summary_;
};

} // namespace webloom
