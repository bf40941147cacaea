// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/folder_chooser.h"

#include <QDir>
#include <QHash>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>

#include "document/prompter.h"
#include "document/settings.h"
#include "document/site_document.h"
#include "pages/photo_tools.h"
#include "ui/program_icon.h"
#include "ui_folder_chooser.h"

namespace webloom {

namespace {

// The folder last entered on each drive during this run. This platform keeps
// no current folder per drive; the record stands in for it, so that picking
// a drive again returns to where the user was on it. Process-wide, like the
// current folder itself.
QHash<QString, QString> &driveFolders()
{
    static QHash<QString, QString> folders;
    return folders;
}

} // namespace

FolderChooser::FolderChooser(SiteDocument &doc, Prompter &prompter, PurposeSource purpose, QWidget *parent)
    : QWidget(parent), ui_(std::make_unique<Ui::fm1>()), doc_(doc), prompter_(prompter), purpose_(std::move(purpose))
{
    ui_->setupUi(this);
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(programIcon());

    connect(ui_->Drive1, &DriveList::driveChanged, this, &FolderChooser::driveChanged);
    connect(ui_->Dir1, &DirList::pathChanged, this, &FolderChooser::folderChanged);
    connect(ui_->Command3, &QPushButton::clicked, this, &FolderChooser::goToDesktop);
    connect(ui_->Command1, &QPushButton::clicked, this, &FolderChooser::accept);
    connect(ui_->Command2, &QPushButton::clicked, this, &QWidget::close);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    // Opening at the current folder runs step 2 through pathChanged, which
    // fills Text1, File1 and Drive1. A current folder that has vanished
    // cannot be shown; the home folder (or the root) stands in for it.
    if (!ui_->Dir1->setPath(QDir::currentPath()) && !ui_->Dir1->setPath(QDir::homePath()))
        ui_->Dir1->setPath(QDir::rootPath());
    ui_->Dir1->setFocus();
}

FolderChooser::~FolderChooser() = default;

QString FolderChooser::missingDesktopMessage()
{
    return QStringLiteral("デスクトップディレクトリが見つかりません。");
}

void FolderChooser::driveChanged(const QString &root)
{
    // The drive's current folder, or its root when the user has not been on
    // it yet (or the folder is gone). Failures are ignored: Dir1 stays.
    const QString last = driveFolders().value(root);
    if (last.isEmpty() || !ui_->Dir1->setPath(last))
        ui_->Dir1->setPath(root);
    QDir::setCurrent(ui_->Dir1->path());
    // A drive whose root could not be entered leaves Drive1 showing the
    // drive of the folder still shown.
    showDriveOf(ui_->Dir1->path());
}

void FolderChooser::folderChanged(const QString &path)
{
    ui_->Text1->setText(path);
    ui_->File1->setFolder(path);
    if (QDir::setCurrent(path)) {
        const QString drive = DriveList::driveOf(path, ui_->Drive1->drives());
        if (!drive.isEmpty())
            driveFolders().insert(drive, path);
    }
    // Dir1 can step down into another mounted volume; Drive1 follows quietly
    // (step 1 would move Dir1 again).
    showDriveOf(path);
}

void FolderChooser::showDriveOf(const QString &path)
{
    const QSignalBlocker block(ui_->Drive1);
    ui_->Drive1->setDriveOf(path);
}

void FolderChooser::goToDesktop()
{
    const QString desktop = settings::desktopFolder();
    if (desktop.isEmpty() || !ui_->Dir1->setPath(desktop)) {
        prompter_.message(missingDesktopMessage());
        return;
    }
    // Already showing the desktop: pathChanged did not come, but the current
    // folder may have moved since (the FTP window browses too).
    QDir::setCurrent(ui_->Dir1->path());
    showDriveOf(ui_->Dir1->path());
}

void FolderChooser::accept()
{
    const int purpose = purpose_ ? purpose_() : 0;
    if (fm1end(doc_, prompter_, purpose, ui_->Text1->text(), [] { settings::saveFirstdir(); }))
        close();
}

} // namespace webloom
