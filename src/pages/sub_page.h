// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include "document/prompter.h"
#include "document/site_document.h"
#include "pages/page_frame.h"

namespace webloom {

// "ＨＰ作成" of the sub-page tab (Command14): rebuilds List4 from the body
// (rfchg), checks Text1 and Text2, then runs kakisub.
PageResult command14(PageFrame &frame);

// Writes the sub page from List4 into the file Text49 (trimmed) of the base
// folder. Refuses an empty List4 or an empty Text49.
PageResult kakisub(PageFrame &frame);

// The largest body file "ファイルの読み込み" reads: far beyond any page, and
// small enough that a wrong choice does not stall the window.
inline constexpr qsizetype kMaxBodyFileBytes = 16 * 1024 * 1024;

// "ファイルの読み込み" (Command16): replaces the body by the text of a file
// chosen in the open dialog of cob1, whose filter is left as the last
// command set it. A cancelled dialog changes nothing. Anything but a regular
// file of at most kMaxBodyFileBytes, and a file that cannot be read, leave
// the body as it was with a message naming the file and the reason.
void command16(SiteDocument &doc, Prompter &prompter, FileDialogState &cob1);

// "ファイルの書き込み" (Command17): saves the body, one line per body line
// in code page 932 with CR LF, to a file chosen in the save dialog of cob1.
// Characters the file cannot keep are named first and saved only when the
// user agrees. The file is replaced only once it is complete; a write that
// fails shows "書き込みは、完了していません！" and the reason on a second
// line. Returns true when the file was written.
bool command17(SiteDocument &doc, Prompter &prompter, FileDialogState &cob1);

// The text of a body file: UTF-8 (with or without a byte-order mark) when the
// bytes are valid UTF-8 and hold something beyond ASCII, code page 932
// otherwise. CR LF, LF and CR all end a line; the result uses "\n".
QString decodeBodyFile(const QByteArray &bytes);

// The bytes Command17 writes for a body: every line followed by CR LF,
// characters without a code page 932 form as "?".
QByteArray encodeBodyFile(const SiteDocument &doc);

} // namespace webloom
