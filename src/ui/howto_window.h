// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <memory>

#include "ui/web_opener.h"

namespace Ui {
class helper1;
}

namespace webloom {

class Prompter;

// The how-to window helper1: three tabs of fixed explanations and four
// buttons that open web pages. Modeless, closed by its close box or Esc; it deletes
// itself when closed, so an owner keeps it in a QPointer.
class HowtoWindow : public QWidget {
    Q_OBJECT

public:
    explicit HowtoWindow(Prompter &prompter, QWidget *parent = nullptr);
    ~HowtoWindow() override;

    void setUrlLauncher(UrlLauncher launcher) { opener_.setLauncher(std::move(launcher)); }

private:
    std::unique_ptr<Ui::helper1> ui_;
    WebOpener opener_;
};

} // namespace webloom
