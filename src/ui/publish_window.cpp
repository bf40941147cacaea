// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/publish_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QShortcut>
#include <QTreeWidgetItem>

#include "connect/connection_questions.h"
#include "document/prompter.h"
#include "document/settings.h"
#include "document/site_document.h"
#include "ui/qt_prompter.h"
#include "ui/stored_hostmei.h"
#include "ui_publish_window.h"
#include "net/address.h"

namespace webloom {

namespace {

QString sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 バイト").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg(double(bytes) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

QString reasonText(PublishPlan::Why why)
{
    switch (why) {
    case PublishPlan::Why::New:
        return QStringLiteral("送る（新しい）");
    case PublishPlan::Why::Changed:
        return QStringLiteral("送る（変更あり）");
    case PublishPlan::Why::MissingOnServer:
        return QStringLiteral("送る（サーバーにない）");
    case PublishPlan::Why::OtherSizeOnServer:
        return QStringLiteral("送る（サーバーと大きさが違う）");
    case PublishPlan::Why::WebCopy:
        return QStringLiteral("送る（Web 用に整えています）");
    }
    return {};
}

QString pageName(const QString &kind)
{
    if (kind == QLatin1String("top"))
        return QStringLiteral("トップページ");
    if (kind == QLatin1String("self"))
        return QStringLiteral("自己紹介ページ");
    if (kind == QLatin1String("link"))
        return QStringLiteral("リンクページ");
    if (kind == QLatin1String("sub"))
        return QStringLiteral("サブページ");
    return QStringLiteral("写真ページ");
}

} // namespace

PublishWindow::PublishWindow(Services services, QWidget *parent)
    : QWidget(parent), ui_(std::make_unique<Ui::publishform>()), services_(std::move(services))
{
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    if (!services_.prompter) {
        ownPrompter_ = std::make_unique<QtPrompter>(this);
        services_.prompter = ownPrompter_.get();
    }
    if (!services_.hostmei) {
        ownHostmei_ = std::make_unique<StoredHostmei>();
        services_.hostmei = ownHostmei_.get();
    }
    if (!services_.trust) {
        ownTrust_ = std::make_unique<TrustStore>();
        services_.trust = ownTrust_.get();
    }
    if (!services_.passwords)
        services_.passwords = keyring::userStore();
    if (services_.recordFolder.isEmpty())
        services_.recordFolder = PublishRecord::defaultFolder();
    ui_->treePlan->setColumnWidth(0, 240);
    ui_->treePlan->setColumnWidth(1, 90);

    baseFolder_ = services_.document->text(Field::Label1);
    ui_->lblBase->setText(QStringLiteral("公開するフォルダ：") + QDir::toNativeSeparators(baseFolder_));
    loadConnections();
    const settings::PublishChoice choice = settings::readPublishChoice(baseFolder_);
    if (const int index = ui_->cmbConnection->findText(choice.connection); index >= 0)
        ui_->cmbConnection->setCurrentIndex(index);
    ui_->txtRemote->setText(choice.remote);
    ui_->spnParallel->setValue(choice.parallel);
    fillWebAddress();
    connect(ui_->cmbConnection, &QComboBox::currentTextChanged, this, &PublishWindow::fillWebAddress);
    ui_->chkWebPhotos->setChecked(choice.webPhotos);
    ui_->spnPhotoSize->setValue(choice.photoSize);
    ui_->spnPhotoSize->setEnabled(choice.webPhotos);
    connect(ui_->chkWebPhotos, &QCheckBox::toggled, ui_->spnPhotoSize, &QWidget::setEnabled);

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        // The close box stops a publish without asking; a key pressed by
        // mistake should not.
        if (busy() && !services_.prompter->questionDefaultNo(
                          kApplicationTitle, framedQuestion(QStringLiteral("公開の途中です。中止して閉じますか？"))))
            return;
        close();
    });
    connect(ui_->cmdPublish, &QPushButton::clicked, this, &PublishWindow::start);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, [this] {
        if (publisher_) {
            ui_->cmdCancel->setEnabled(false);
            ui_->lblProgress->setText(QStringLiteral("送信中のファイルが終わったら止めます…"));
            publisher_->cancel();
        }
    });
}

PublishWindow::~PublishWindow()
{
    delete publisher_;
}

void PublishWindow::loadConnections()
{
    connections_.clear();
    ui_->cmbConnection->clear();
    connections_ = readRegistryFile(services_.hostmei->read()).value_or(QList<RegisteredConnection>{});
    for (const RegisteredConnection &c : connections_) {
        if (ui_->cmbConnection->findText(c.name) < 0)
            ui_->cmbConnection->addItem(c.name);
    }
    const bool any = ui_->cmbConnection->count() > 0;
    ui_->cmdPublish->setEnabled(any);
    if (!any)
        ui_->lblSummary->setText(QStringLiteral("接続名がありません。簡易ＦＴＰで接続名を登録してください。"));
}

void PublishWindow::fillWebAddress()
{
    const std::optional<QString> kept = settings::readWebAddress(baseFolder_, ui_->cmbConnection->currentText());
    ui_->txtWebAddress->setText(kept ? *kept : webFolder(services_.document->text(Field::Text1)));
}

void PublishWindow::setInputsEnabled(bool enabled)
{
    ui_->txtWebAddress->setEnabled(enabled);
    ui_->cmbConnection->setEnabled(enabled);
    ui_->txtRemote->setEnabled(enabled);
    ui_->spnParallel->setEnabled(enabled);
    ui_->chkWebPhotos->setEnabled(enabled);
    ui_->spnPhotoSize->setEnabled(enabled && ui_->chkWebPhotos->isChecked());
    ui_->cmdPublish->setEnabled(enabled && ui_->cmbConnection->count() > 0);
}

void PublishWindow::start()
{
    if (publisher_)
        return;
    connectionName_ = ui_->cmbConnection->currentText();
    const std::optional<RegisteredConnection> entry = findConnection(connections_, connectionName_);
    if (!entry) {
        services_.prompter->message(QStringLiteral("接続名を選んでください。"));
        return;
    }
    const QString remote = ui_->txtRemote->text().trimmed();
    const int parallel = ui_->spnParallel->value();
    PhotoChoice photos;
    photos.webCopies = ui_->chkWebPhotos->isChecked();
    photos.options.longestSide = ui_->spnPhotoSize->value();
    photos.cacheFolder = services_.photoCacheFolder;
    settings::savePublishChoice(baseFolder_,
                                {connectionName_, remote, parallel, photos.webCopies, photos.options.longestSide});
    const QString typed = ui_->txtWebAddress->text().trimmed();
    settings::saveWebAddress(baseFolder_, connectionName_, typed);
    webAddress_ = typed.isEmpty() ? QString() : webFolder(typed);
    remote_ = remote;
    delete liveCheck_;
    liveCheck_ = nullptr;
    ui_->lblCheck->clear();
    if (!typed.isEmpty() && webAddress_.isEmpty()) {
        services_.prompter->message(QStringLiteral("公開アドレスは http:// か https:// で始めてください。"));
        return;
    }

    // A local file unchanged since the last publish here is not read again;
    // the record's name needs no password.
    const QString recordPath = PublishRecord::pathFor(entry->toTransfer(QString()), remote, services_.recordFolder);
    // The pages, built from a copy as "webloom build" would from the saved
    // project, so the window's own fields stay as they are.
    const std::unique_ptr<SiteDocument> copy = documentCopy(*services_.document);
    const SiteFiles site = buildSite(*copy, PublishRecord::knownDigests(recordPath));
    if (site.files.isEmpty()) {
        QStringList reasons;
        for (const SkippedPage &page : site.skipped)
            reasons.append(pageName(page.kind) + QStringLiteral("：") + page.reason);
        services_.prompter->message(QStringLiteral("公開できるページがありません。\n") +
                                    reasons.join(QLatin1Char('\n')));
        return;
    }
    site_ = site;
    topPage_ = QFileInfo(copy->text(Field::Text21)).fileName();
    links_ = siteLinks(*copy, site);
    sent_.clear();
    const Transfer::Connection connection = entry->toTransfer(services_.passwords);
    publisher_ = new Publisher({connection, remote, parallel, recordPath, false, photos}, site, services_.makeTransfer,
                               [this](const TransferOutcome &outcome, const Transfer::Connection &current) {
                                   return resolve(outcome, current);
                               });
    connect(publisher_, &Publisher::planned, this, &PublishWindow::planned);
    connect(publisher_, &Publisher::progress, this, &PublishWindow::showProgress);
    connect(publisher_, &Publisher::fileSent, this, &PublishWindow::fileSent);
    connect(publisher_, &Publisher::fileFailed, this, &PublishWindow::fileFailed);
    connect(publisher_, &Publisher::photoReady, this, &PublishWindow::photoReady);
    connect(publisher_, &Publisher::leftoverDeleted, this, [this](const QString &name) {
        if (QTreeWidgetItem *item = items_.value(name))
            item->setText(2, QStringLiteral("削除しました"));
    });
    connect(publisher_, &Publisher::finished, this, &PublishWindow::finished);
    setInputsEnabled(false);
    ui_->treePlan->clear();
    items_.clear();
    ui_->barProgress->setRange(0, 0);
    ui_->lblSummary->clear();
    ui_->lblProgress->setText(QStringLiteral("サーバーのファイルを調べています…"));
    publisher_->plan();
}

std::optional<Transfer::Connection> PublishWindow::resolve(const TransferOutcome &outcome,
                                                           const Transfer::Connection &current)
{
    PrompterQuestions questions(*services_.prompter, services_.trust);
    return connectAgain(questions, outcome, current, [this](const QString &oldAddress, const QString &newAddress) {
        rememberRegistryAddress(services_.hostmei->read(), connectionName_, oldAddress, newAddress);
        for (RegisteredConnection &c : connections_) {
            if (c.name == connectionName_ && c.address == oldAddress)
                c.address = newAddress;
        }
    });
}

void PublishWindow::listBrokenLinks(const QList<PageLink> &broken)
{
    for (const PageLink &link : broken) {
        auto *item =
            new QTreeWidgetItem(ui_->treePlan, {link.page, QString(),
                                                QStringLiteral("リンク先がありません：") + link.target +
                                                    QStringLiteral("（") + link.caption + QStringLiteral("）")});
        item->setToolTip(2, item->text(2));
    }
}

void PublishWindow::planned(const PublishPlan &plan)
{
    const QList<PageLink> broken = brokenLinks(links_, site_, plan.remote);
    listBrokenLinks(broken);
    if (!broken.isEmpty())
        ui_->lblCheck->setText(
            QStringLiteral("リンク先のないリンクが %1 個あります。公開はできますが、一覧で確かめてください。")
                .arg(broken.size()));
    for (const PublishPlan::Entry &entry : plan.send) {
        auto *item =
            new QTreeWidgetItem(ui_->treePlan, {entry.file.name, sizeText(entry.file.size), reasonText(entry.why)});
        items_.insert(entry.file.name, item);
    }
    for (const PublishPlan::Leftover &leftover : plan.leftovers) {
        auto *item =
            new QTreeWidgetItem(ui_->treePlan, {leftover.name, leftover.size < 0 ? QString() : sizeText(leftover.size),
                                                leftover.why == PublishPlan::Leftover::Why::Stopped
                                                    ? QStringLiteral("削除（止まった公開の一時ファイル）")
                                                    : QStringLiteral("削除（1日以上前の一時ファイル）")});
        items_.insert(leftover.name, item);
    }
    for (const LocalFile &file : plan.unchanged)
        new QTreeWidgetItem(ui_->treePlan, {file.name, sizeText(file.size), QStringLiteral("変更なし")});
    if (!plan.outsidePhotoFolder.isEmpty()) {
        auto *item = new QTreeWidgetItem(ui_->treePlan, {QDir::toNativeSeparators(plan.outsidePhotoFolder), QString(),
                                                         QStringLiteral("写真フォルダ（ベースフォルダの外）")});
        item->setToolTip(0, QDir::toNativeSeparators(plan.outsidePhotoFolder));
    }
    for (const NotSentFile &file : plan.notSent) {
        auto *item =
            new QTreeWidgetItem(ui_->treePlan, {file.name, QString(), QStringLiteral("送らない：") + file.reason});
        item->setToolTip(0, QDir::toNativeSeparators(file.path));
    }
    for (const SkippedPage &page : plan.skipped) {
        auto *item = new QTreeWidgetItem(
            ui_->treePlan, {pageName(page.kind), QString(), QStringLiteral("作成できません：") + page.reason});
        item->setToolTip(2, page.reason);
    }
    summary_ = QStringLiteral("送るファイル：%1 個（%2）　変更なし：%3 個")
                   .arg(plan.send.size())
                   .arg(sizeText(plan.bytesToSend()))
                   .arg(plan.unchanged.size()) +
               (plan.leftovers.isEmpty() ? QString()
                                         : QStringLiteral("　削除する一時ファイル：%1 個").arg(plan.leftovers.size()));
    showSummary(plan.photos);
    ui_->barProgress->setRange(0, 1000);
    ui_->barProgress->setValue(0);
    ui_->lblProgress->clear();
    if (plan.send.isEmpty() && plan.leftovers.isEmpty()) {
        services_.prompter->message(QStringLiteral("送るファイルはありません。サーバーは最新です。"));
        if (publisher_)
            publisher_->cancel();
        return;
    }
    QString what = plan.send.isEmpty() ? QStringLiteral("送るファイルはありません。")
                                       : QStringLiteral("%1 個のファイル（%2）を送ります。")
                                             .arg(plan.send.size())
                                             .arg(sizeText(plan.bytesToSend()));
    if (!plan.leftovers.isEmpty())
        what += QStringLiteral("前の公開の一時ファイル %1 個を削除します。").arg(plan.leftovers.size());
    if (!broken.isEmpty()) {
        QStringList lines;
        for (const PageLink &link : broken.mid(0, 8))
            lines.append(link.page + QStringLiteral("：") + link.caption + QStringLiteral(" → ") + link.target);
        if (broken.size() > 8)
            lines.append(QStringLiteral("ほか %1 個").arg(broken.size() - 8));
        what = QStringLiteral("リンク先のないリンクがあります（%1 個）。\n").arg(broken.size()) +
               lines.join(QLatin1Char('\n')) + QStringLiteral("\n\n") + what;
    }
    const bool go = services_.prompter->question(QStringLiteral("ホームページ公開"),
                                                 framedQuestion(what + QStringLiteral("よろしいですか？")));
    if (!publisher_)
        return;
    if (!go) {
        publisher_->cancel();
        return;
    }
    ui_->cmdCancel->setEnabled(true);
    publisher_->publish();
}

void PublishWindow::showSummary(const PublishPlan::Photos &photos)
{
    QString text = summary_;
    if (photos.count > 0) {
        text += QStringLiteral("\n写真 %1 枚：%2 → ").arg(photos.count).arg(sizeText(photos.before));
        text += photos.waiting > 0 ? QStringLiteral("整えています（残り %1 枚）").arg(photos.waiting)
                                   : sizeText(photos.after);
    }
    ui_->lblSummary->setText(text);
}

void PublishWindow::photoReady(const QString &name, qint64 bytes, bool unchanged)
{
    if (QTreeWidgetItem *item = items_.value(name)) {
        item->setText(1, sizeText(bytes));
        if (unchanged)
            item->setText(2, QStringLiteral("変更なし"));
        else if (item->text(2) == reasonText(PublishPlan::Why::WebCopy))
            item->setText(2, QStringLiteral("送る（Web 用に整えました）"));
    }
    if (publisher_)
        showSummary(publisher_->photos());
}

void PublishWindow::showProgress(const PublishProgress &progress)
{
    if (progress.bytesTotal > 0)
        ui_->barProgress->setValue(int(progress.bytesDone * 1000 / progress.bytesTotal));
    QString text = QStringLiteral("%1/%2 ファイル　%3 / %4")
                       .arg(progress.filesDone)
                       .arg(progress.filesTotal)
                       .arg(sizeText(progress.bytesDone), sizeText(progress.bytesTotal));
    if (!progress.current.isEmpty())
        text += QStringLiteral("　送信中：") + progress.current.join(QStringLiteral("、"));
    if (const qint64 left = progress.remainingMs(); left >= 0 && progress.filesDone < progress.filesTotal)
        text += QStringLiteral("　残り 約 %1 秒").arg((left + 999) / 1000);
    ui_->lblProgress->setText(text);
}

void PublishWindow::fileSent(const QString &name)
{
    sent_.insert(name);
    if (QTreeWidgetItem *item = items_.value(name))
        item->setText(2, QStringLiteral("送りました"));
}

void PublishWindow::fileFailed(const QString &name, const QString &reason)
{
    if (QTreeWidgetItem *item = items_.value(name)) {
        item->setText(2, QStringLiteral("失敗：") + reason);
        item->setToolTip(2, reason);
    }
}

void PublishWindow::finished(const PublishSummary &summary)
{
    Publisher *done = publisher_;
    publisher_ = nullptr;
    // It is still delivering this signal.
    done->deleteLater();
    setInputsEnabled(true);
    ui_->cmdCancel->setEnabled(false);
    ui_->lblProgress->clear();
    if (!summary.error.isEmpty()) {
        services_.prompter->message(QStringLiteral("公開できませんでした。\n") + summary.error);
        return;
    }
    if (!summary.failed.isEmpty()) {
        services_.prompter->message(
            QStringLiteral("送れなかったファイルがあります（%1 個）。\n").arg(summary.failed.size()) +
            summary.failed.mid(0, 8).join(QLatin1Char('\n')));
        return;
    }
    if (summary.ok())
        checkOnline();
    if (summary.sent > 0 && summary.cancelled) {
        services_.prompter->message(
            QStringLiteral("途中で止めました。送ったファイル：%1 個。残りは次の公開で送ります。").arg(summary.sent));
        return;
    }
    if (summary.sent > 0)
        services_.prompter->message(QStringLiteral("公開が終わりました。送ったファイル：%1 個（%2）")
                                        .arg(summary.sent)
                                        .arg(sizeText(summary.bytesSent)));
}

void PublishWindow::checkOnline()
{
    QList<SentPage> pages;
    for (const LocalFile &file : site_.files) {
        if (file.kind == LocalFile::Kind::Page && (sent_.contains(file.name) || file.name == topPage_))
            pages.append({file.name, file.sha256, file.size});
    }
    if (webAddress_.isEmpty() || pages.isEmpty())
        return;
    liveCheck_ = new LiveCheck(webAddress_, pages, this);
    connect(liveCheck_, &LiveCheck::finished, this, [this](const QList<PageCheck> &checks) {
        ui_->lblCheck->setText(checkSummary(checks, webAddress_, remote_));
        liveCheck_->deleteLater();
        liveCheck_ = nullptr;
    });
    ui_->lblCheck->setText(QStringLiteral("公開したページを %1 から読んで確かめています…").arg(webAddress_));
    liveCheck_->start();
}

void PublishWindow::closeEvent(QCloseEvent *event)
{
    // Closing stops a publish: the files on their way are cut off, and the
    // record keeps only what arrived.
    delete publisher_;
    publisher_ = nullptr;
    event->accept();
}

} // namespace webloom
