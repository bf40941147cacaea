// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

#include "ui/web_opener.h"

namespace Ui {
class frmabt;
}

namespace webloom {

class Prompter;

// "2002/05/26-" and the build tag the build passes in.
QString releaseText();

// The about window frmabt: program title, version and the maker's addresses.
// Modeless; "OK" closes it with Enter and Esc. It deletes itself when
// closed, so an owner keeps it in a QPointer.
class AboutWindow : public QDialog {
    Q_OBJECT

public:
    explicit AboutWindow(Prompter &prompter, QWidget *parent = nullptr);
    ~AboutWindow() override;

    void setUrlLauncher(UrlLauncher launcher) { opener_.setLauncher(std::move(launcher)); }

private:
    std::unique_ptr<Ui::frmabt> ui_;
    WebOpener opener_;
};

} // namespace webloom
