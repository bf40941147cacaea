// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include "document/prompter.h"

class QWidget;

namespace webloom {

// Converts a filter of label|pattern pairs, each followed by "|"
// ("ﾃｷｽﾄﾌｧｲﾙ|*.txt|All Files|*.*|"), into Qt name filters
// ("ﾃｷｽﾄﾌｧｲﾙ (*.txt)", "All Files (*.*)"). Patterns separated by ";" become
// one Qt filter with blank-separated patterns; a label without a pattern is
// dropped.
QStringList qtNameFilters(const QString &pipeFilter);
// The same filters joined with ";;", as QFileDialog takes them in one string.
QString qtFilterString(const QString &pipeFilter);

// Appends "." and the extension to a path whose file name has none. An
// empty extension or a name that already has one is left alone; a leading
// dot (".profile") does not count as an extension.
QString withDefaultExtension(const QString &path, const QString &extension);

// The open and save dialogs behind the Prompter. The state is the caller's
// dialog object (cob1, cobftp): its filter, proposed file and filter index
// are shown, and on success the chosen full path and filter are stored
// back. Cancel returns false and leaves the state as it was. The program
// asks its own overwrite question, so the dialog does not.
class FileDialog {
public:
    enum class Mode { Open, Save };
    static bool run(QWidget *parent, Mode mode, FileDialogState &state);
};

} // namespace webloom
