// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace webloom {

// The state of one file dialog object (the main window's cob1, the FTP
// window's cobftp). It keeps its settings and last result for the run: the
// file chosen last is proposed again at the next show.
struct FileDialogState {
    // Pairs of label and pattern, each followed by "|":
    // "ﾃｷｽﾄﾌｧｲﾙ|*.txt|All Files|*.*|".
    QString filter;
    // Proposed name; after a successful show, the chosen full path.
    QString fileName;
    // Appended with "." to a name typed without an extension; empty for none.
    QString defaultExt;
    // Index of the filter pair last chosen.
    int filterIndex = 0;
};

// Every message box, question and file dialog of the program goes through
// this interface, so that each rule with a message can be run without a
// display. Boxes are modal and titled with the application title "webloom".
class Prompter {
public:
    virtual ~Prompter() = default;

    // Information or refusal: OK button, no icon.
    virtual void message(const QString &text) = 0;
    // Yes/No question with the exclamation icon. The text is shown as given;
    // callers frame it with a line feed before and after. True for Yes.
    virtual bool question(const QString &title, const QString &text) = 0;
    // The same for a question whose safe answer is No (connect unencrypted,
    // trust a changed certificate): No is the default button, so that Enter
    // does not agree by accident.
    virtual bool questionDefaultNo(const QString &title, const QString &text) { return question(title, text); }
    // Open and save dialogs. False when the user cancels; on success the
    // chosen full path is stored in state.fileName.
    virtual bool openFile(FileDialogState &state) = 0;
    virtual bool saveFile(FileDialogState &state) = 0;
};

inline const QString kApplicationTitle = QStringLiteral("webloom");

// Frames a question text with a line feed before and after, as every
// question box of the program shows it.
inline QString framedQuestion(const QString &text)
{
    return QLatin1Char('\n') + text + QLatin1Char('\n');
}

} // namespace webloom
