// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/about_window.h"

#include <QPushButton>

#include "document/addresses.h"
#include "document/prompter.h"
#include "ui/program_icon.h"
#include "ui_about_window.h"

#ifndef WEBLOOM_BUILD_TAG
#define WEBLOOM_BUILD_TAG "local"
#endif

namespace webloom {

namespace {

const QString kProgramTitle = QStringLiteral("くるみのホームページ作成ツール");

} // namespace

QString releaseText()
{
    return QStringLiteral("2002/05/26-") + QStringLiteral(WEBLOOM_BUILD_TAG);
}

AboutWindow::AboutWindow(Prompter &prompter, QWidget *parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmabt>()), opener_(prompter)
{
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowIcon(programIcon());

    ui_->picIcon->setPixmap(programIcon().pixmap(48, 48));
    QFont titleFont = ui_->lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    ui_->lblTitle->setFont(titleFont);

    ui_->lblTitle->setText(kProgramTitle);
    ui_->exename->setText(QLatin1Char('(') + kApplicationTitle + QStringLiteral(".exe)"));
    ui_->lblVersion->setText(QStringLiteral("Ver ") + kVersionText + QStringLiteral("  (") + releaseText() +
                             QLatin1Char(')'));
    ui_->lblDescription->setText(QStringLiteral("簡易ホームページ作成ツール\n\nWin95/98/Me/2000pro/XP のみに対応"));
    ui_->Text1->setPlainText(QStringLiteral("ホームページ：\n") + addresses::kMakerHomePage +
                             QStringLiteral("\nEメール：\n") + addressForReading(addresses::kMakerMail));

    // Enter reaches OK through the dialog's default button, Esc through reject().
    connect(ui_->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->Command1, &QPushButton::clicked, this, [this] { opener_.open(addresses::kMakerHomePage); });
    ui_->cmdOK->setFocus();
}

AboutWindow::~AboutWindow() = default;

} // namespace webloom
