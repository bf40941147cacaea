// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include "document/prompter.h"
#include "document/site_document.h"

class QIODevice;

namespace webloom {

// The project file: key=value lines in code page 932 with CR LF, holding
// Label1, every stored text field, the lists List3 and List4 and, after
// them, the page options that are not at their defaults.

// Body to list: rebuilds List4 from rtext1, an empty line stored as "　".
void rfchg(SiteDocument &doc);
// List to body: rebuilds rtext1 from List4.
void lstrtxt(SiteDocument &doc);

// The bytes a save writes for the document as it stands (List4 as it is;
// the save command runs rfchg first).
QByteArray projectBytes(const SiteDocument &doc);
// The bytes a save would write now: List4 rebuilt from the body as rfchg
// does, the document itself left alone.
QByteArray savedBytes(const SiteDocument &doc);

// The "SAVE" command: rfchg, the question about characters the file cannot
// keep (if any), the save dialog of cob1, the overwrite question, an atomic
// write, "書込み完了". A failure shows "書き込みは、完了していません！" with the
// reason on a second line. Returns true when the file was written.
bool saveProject(SiteDocument &doc, Prompter &prompter, FileDialogState &cob1);

// The "LOAD" command: the open dialog of cob1, then loadProjectFile.
bool loadProject(SiteDocument &doc, Prompter &prompter, FileDialogState &cob1);

// Reads a chosen project file into the document, shows "読込み完了" on a
// complete load or the failure message (path + "ファイルがありません") and
// returns whether the load was complete. Fields read before a failure keep
// their new values.
bool loadProjectFile(SiteDocument &doc, Prompter &prompter, const QString &path);

// The record reader behind loadProjectFile, for any open device: sets the
// fields as their lines come, points File1 at a te003 folder (or at nothing
// when that folder is not on this computer). Returns false when the device
// fails or ends inside a list; the fields read before keep their new values.
// A complete file that leaves out a page option sets that option to its
// default.
// Shows nothing and leaves rtext1 alone.
bool readProjectRecords(SiteDocument &doc, QIODevice &device);

// The dialog settings the main window's cob1 starts with.
FileDialogState initialProjectDialog();

} // namespace webloom
