// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

#include "document/site_document.h"
#include "pages/page_frame.h"

namespace webloom {

// A stem field made six characters long: trimmed of spaces, filled up on the
// right with "0" or cut to its first six characters. Characters are counted
// as code points, so a cut never splits a surrogate pair.
QString sixCharacterStem(const QString &stemField);

// The six-character stem, the number with at least two digits and the
// ending, all in lower case: ("pic", 1, ".html") gives "pic00001.html".
QString serialName(const QString &stemField, qint64 number, const QString &ending);

// A number with at least two digits: 1 gives "01", 100 gives "100".
QString twoDigitNumber(qint64 number);

// Photos per page from the text of Text7. The text is read from its start as
// a number (leading blanks skipped, reading stops at the first character that
// cannot continue the number); anything that does not come out as a whole
// number of at least 1 gives nothing. Very large values are capped, which
// changes nothing for any folder that can exist.
std::optional<qint64> photosPerPage(const QString &text7);

// The entries of File1 whose name contains the text of Text5 anywhere
// (case-sensitive, no anchoring, no dot required), in File1 order.
QStringList photoNames(const SiteDocument &doc);

// Message shown when Text7 cannot serve as the number of photos per page.
QString photosPerPageRefusal();

// The "ＨＰ作成" command of the photo tab: the required-field check over Text1,
// Text2, Text3, Text5, Text7, Text8, Text9, the Text7 check, then listmake and
// kaki. Works on the files File1 lists at that moment.
PageResult chkpic(PageFrame &frame);

// Rebuilds List1 with one page file name per page (pages counted over the
// photos) and normalises Text6: a "/" is appended to an address without one,
// and the default "http://" becomes empty. Only chkpic calls it.
void listmake(SiteDocument &doc);

// Rebuilds List2, writes one page per item of List1, refreshes File1, shows
// the success message and puts "http://" back into an empty Text6. Stops at
// the first page that cannot be written (pages already written stay).
// Only chkpic calls it, after listmake.
PageResult kaki(PageFrame &frame);

// chkpic on the folder that Text3 names: File1 is pointed at Text3 first, and
// a Text3 that names no readable folder refuses the run. The command line
// builds the photo pages with this.
PageResult photoPagesFromText3(PageFrame &frame);

// "写真パソコンディレクトリがありません。" followed by the folder on its own line.
QString missingPhotoFolderMessage(const QString &folder);

} // namespace webloom
