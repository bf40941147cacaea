// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTextStream>

#include "document/prompter.h"

namespace webloom {

// The prompter of the command line: every box becomes one line on the
// error stream (line breaks inside it turned into spaces, other control
// characters shown as terminalText does), every question is
// answered No and every file dialog is cancelled, so that nothing is deleted
// or replaced without a person to agree.
class ConsolePrompter : public Prompter {
public:
    explicit ConsolePrompter(QTextStream &err) : err_(err) {}

    void message(const QString &text) override;
    bool question(const QString &title, const QString &text) override;
    bool openFile(FileDialogState &state) override;
    bool saveFile(FileDialogState &state) override;

    // The text of a box as one line.
    static QString oneLine(const QString &text);

private:
    QTextStream &err_;
};

} // namespace webloom
