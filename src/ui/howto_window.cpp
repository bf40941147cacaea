// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/howto_window.h"

#include <QPushButton>
#include <QShortcut>

#include "document/addresses.h"
#include "document/prompter.h"
#include "ui/program_icon.h"
#include "ui_howto_window.h"

namespace webloom {

HowtoWindow::HowtoWindow(Prompter &prompter, QWidget *parent)
    : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::helper1>()), opener_(prompter)
{
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(programIcon());
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    ui_->Label2->setText(
        QStringLiteral(
            "まず、トップページに置く絵や写真のファイルが必要です。もし無い場合は、Windowsに付属の「ペイント」を使って"
            "画像を作成し、拡張子(jpg)にて保存しましょう。「ペイント」でjpgが作成出来ない場合はフリーウエア等をしようし"
            "一度(bmp)にて保存して(jpg)に変換してください。参考ソフト　") +
        addresses::kRecommendedSoftware1);
    ui_->Label11->setText(QStringLiteral("上級の方は高機能フリーソフトをご使用下さい。　") +
                          addresses::kRecommendedSoftware2);
    ui_->Text1->setText(addresses::kFreeSoftwarePage);
    ui_->Text3->setText(addresses::kMakerHomePage);
    ui_->Text4->setText(addressForReading(addresses::kMakerMail));
    ui_->SSTab1->setCurrentIndex(0);

    const auto opens = [this](QPushButton *button, const QString &address) {
        connect(button, &QPushButton::clicked, this, [this, address] { opener_.open(address); });
    };
    opens(ui_->Command1, addresses::kRecommendedSoftware1);
    opens(ui_->Command2, addresses::kMakerHomePage);
    opens(ui_->Command3, addresses::kRecommendedSoftware2);
    opens(ui_->Command4, addresses::kFreeSoftwarePage);
}

HowtoWindow::~HowtoWindow() = default;

} // namespace webloom
