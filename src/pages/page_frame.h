// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <initializer_list>

#include "document/atomic_file.h"
#include "document/prompter.h"
#include "document/spaces.h"
#include "document/site_document.h"

namespace webloom {

// How a "ＨＰ作成" command ended.
enum class PageResult {
    Written, // every file written, success message shown
    Refused, // a check refused it; nothing written
    Failed,  // a file could not be written; the failure was shown
};

// The frame shared by every page writer: output path, the one current output
// file, page opening, heading, navigation bar, closing, required-field check
// and the success message. Lines are encoded to code page 932 (unmappable
// characters as numeric character references), or to UTF-8 when the page
// options say so, and end in CR LF. The page options also decide the head's
// declarations and the style rules for phones (page opening).
//
// A page is kept in memory until close(): when the file of its name already
// holds the same bytes nothing is written at all (file time and inode stay);
// otherwise it goes to a temporary file that is renamed over the old page
// only when complete, so a failed write never leaves a half page behind.
class PageFrame {
public:
    PageFrame(SiteDocument &doc, Prompter &prompter) : doc_(doc), prompter_(prompter) {}
    ~PageFrame();
    PageFrame(const PageFrame &) = delete;
    PageFrame &operator=(const PageFrame &) = delete;

    SiteDocument &doc() { return doc_; }
    Prompter &prompter() { return prompter_; }

    // Label1 followed by the file name, with one "/" between them unless
    // Label1 already ends with "/".
    QString outputPath(const QString &fileName) const;

    // Whether fileName, given by field, may name a page: refused, with a
    // message naming the field and the reason, when it is absolute or its
    // path leaves the base folder ("../x.html", "a/../../x.html"), since a
    // project file from someone else could otherwise overwrite any file the
    // user may write. Names that stay inside, subfolders included, pass.
    // Writers ask before anything is written.
    bool allowName(Field field, const QString &fileName);

    // Opens the output path of fileName into the current-output-file slot.
    // Nothing touches the disk before close(), which reports a folder that
    // cannot take the page.
    bool open(const QString &fileName);
    bool isOpen() const { return !path_.isEmpty(); }
    // Appends one line to the current output file.
    void line(const QString &text);

    void pageOpening(const QString &title, const QString &baseAddress = {});
    void heading(const QString &text);
    void kakikyo();
    // The credit block is written before "</BODY>" (top page only).
    void pageClosing(const QStringList &creditBlock = {});

    // The parts every page body shares: page opening, heading, navigation bar
    // and "<HR>"; the centred table a body sits in; and the end of a single
    // page (closing, close, success message).
    void pageHead(const QString &title, const QString &headingText, const QString &baseAddress = {});
    void centredTable();
    void endCentredTable();
    PageResult finishPage(const QStringList &creditBlock = {});

    // Completes the current file and empties the slot. On failure shows a
    // message naming the file and the system's reason, keeps any earlier file
    // of that name and returns false.
    bool close();
    // Drops the current file unwritten (used when a writer gives up).
    void discard();

    // "作成しました。"
    void success();

    // Required-field check: true when every field is filled (length > 0,
    // untrimmed). Otherwise switches to tab 0 when Text1 or Text2 is empty,
    // shows one message and points the document at the first empty field.
    bool requiredCheck(std::initializer_list<Field> fields);

    // Full paths of the files completed by close(), in order.
    const QStringList &writtenFiles() const { return written_; }

private:
    void fail(const QString &path, const QString &reason);

    SiteDocument &doc_;
    Prompter &prompter_;
    QString path_;      // of the current file; empty when none is open
    QByteArray buffer_; // every byte of the current file
    QStringList written_;
};

// Why fileName cannot name a page inside the base folder, or an empty text
// when it can (see PageFrame::allowName).
QString pageNameProblem(const QString &fileName);

} // namespace webloom
