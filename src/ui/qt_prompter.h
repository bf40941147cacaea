// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QWidget>

#include "document/prompter.h"

namespace webloom {

// The Prompter of the running program: modal Qt message boxes titled
// "webloom" (information: OK, no icon; questions: Yes/No with the warning
// icon and the caller's title) and the file dialogs of FileDialog.
class QtPrompter : public Prompter {
public:
    explicit QtPrompter(QWidget *parent = nullptr) : parent_(parent) {}

    void message(const QString &text) override;
    bool question(const QString &title, const QString &text) override;
    bool questionDefaultNo(const QString &title, const QString &text) override;
    bool openFile(FileDialogState &state) override;
    bool saveFile(FileDialogState &state) override;

private:
    QPointer<QWidget> parent_;
};

} // namespace webloom
