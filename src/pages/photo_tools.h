// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

#include "document/prompter.h"
#include "document/site_document.h"

namespace webloom {

// How a photo file tool ended.
enum class ToolResult {
    Done,    // ran to the end (possibly with nothing to rename)
    Refused, // a missing input was reported; nothing renamed
    Failed,  // stopped with the failure message; earlier renames stay
};

// "ファイル名を変更" (Command4): points File1 at Text3 and renames every file it
// lists, in list order, to the serial name made from Text4 and its position,
// keeping the old extension part (from the first "."). A file that already
// carries its serial name is left as it is. A rename never replaces an
// existing file: a clash stops the command with the failure message, keeping
// the renames done before it. File1 shows the result afterwards.
ToolResult serialRename(SiteDocument &doc, Prompter &prompter);

// The extension button (Command5): every file of File1 whose name has no "."
// gets "." and the untrimmed Text5 appended, the whole name in lower case.
// Works on the folder File1 shows (re-read first); stops at the first rename
// that fails, like serialRename.
ToolResult addExtension(SiteDocument &doc, Prompter &prompter);

// The new name serialRename gives the file `oldName` at list position
// `index` (0-based).
QString serialFileName(const QString &stemField, qsizetype index, const QString &oldName);

// Renames folder/from to folder/to without ever replacing an existing file.
// Both names must be plain file names (no "/", not "." or ".."); a name that
// is equal to the old one succeeds without touching the file. On a file
// system that ignores case, a change of case only is carried out.
bool renameInFolder(const QString &folder, const QString &from, const QString &to);

// The folder chooser's purpose, set by the main window before showing it.
enum ChooserPurpose : int {
    ChooserPhotoFolder = 2,
    ChooserBaseFolder = 9,
};

// "Ｏ　Ｋ" of the folder chooser (fm1end) with the chooser's Text1.
// Base folder: Label1 becomes the text as typed, then saveFirstdir runs (it
// stores the process's current folder, the folder last browsed to).
// Photo folder: the process's current folder changes to the folder, Text3
// takes it (made absolute when typed relative) and File1 lists it; a folder
// that cannot be entered or listed changes nothing and is reported.
// Any other purpose changes nothing. Returns true when the chooser closes.
bool fm1end(SiteDocument &doc, Prompter &prompter, int purpose, const QString &text1,
            const std::function<void()> &saveFirstdir);

} // namespace webloom
