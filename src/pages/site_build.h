// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

#include "document/site_document.h"
#include "pages/file_digest.h"

namespace webloom {

// One local file of the site as it goes to the server: every page, and the
// files the pages refer to by a bare name.
struct LocalFile {
    enum class Kind { Page, Photo, Picture };
    QString name; // on the server, in the remote folder
    QString path; // on this computer
    qint64 size = 0;
    QByteArray sha256; // hex, of the bytes of the file at path
    Kind kind = Kind::Page;
    // What the file system said of the file when sha256 was taken, when that
    // may vouch for sha256 at the next publish (see FileDigest).
    std::optional<FileStamp> stamp;
};

// A page the site could not build, and why (as the window would have said).
struct SkippedPage {
    QString kind; // "top", "self", "link", "sub", "photo"
    QString reason;
    bool failed = false; // a file could not be written (not a missing field)
};

// A file the pages name that does not go to the server, and why.
struct NotSentFile {
    QString name;
    QString path;
    QString reason;
};

struct SiteFiles {
    QList<LocalFile> files;
    QList<SkippedPage> skipped;
    QList<NotSentFile> notSent = {};
    // The photo folder the photos were taken from, when it is not the base
    // folder or inside it (a project file can name any folder).
    QString outsidePhotoFolder = {};
    // The name of the top page among the files (the page that leads to all
    // the others); empty when it was not built.
    QString topPage = {};
};

// A working copy of a document, so that building its pages (which moves
// lists and fields the way the buttons do) leaves the window's own alone.
// The copy is what a SAVE followed by a LOAD would give, except that with
// UTF-8 pages the texts keep the characters code page 932 lacks.
std::unique_ptr<SiteDocument> documentCopy(const SiteDocument &doc);

// Builds every page of the document into its base folder exactly as
// "webloom build" does, and collects the files to publish: the pages; the
// photos of the photo pages when they have no photo address of their own
// (they go beside the pages); the top page's picture and banner when they
// name a file in the base folder. Nothing outside the base folder and the
// photo folder is ever taken. A file whose stamp is still the one known
// gets the known SHA-256 without being read.
SiteFiles buildSite(SiteDocument &doc, const KnownDigests &known = {});

} // namespace webloom
