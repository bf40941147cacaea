// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

#include "net/remote_entry.h"

namespace webloom::listing {

// One entry of a server's directory listing. The name stays in the server's
// bytes: a later request must send exactly these bytes back, whatever
// encoding they are in.
struct ListEntry {
    QByteArray name;
    bool directory = false;
    bool link = false;
    qint64 size = -1;   // -1 when the listing does not say
    QByteArray target;  // a symbolic link's target, when the listing gives it
    QDateTime modified; // invalid when the listing does not say
    // A DOS/IIS line: such servers do not tell names apart by case.
    bool dosStyle = false;
};

// A machine-readable listing line (MLSD facts, a space, the name).
std::optional<ListEntry> parseMlsdLine(QByteArrayView line);

// A LIST line in the Unix "ls -l" form or the DOS/IIS form. Lines that are
// neither ("total 12", banners, blanks) give nothing.
std::optional<ListEntry> parseListLine(QByteArrayView line);

enum class Format { Mlsd, List };

// Every entry of a listing's data; lines may end in CR LF or LF.
QList<ListEntry> parseListing(QByteArrayView data, Format format);

// A name as text: UTF-8 when the bytes are valid UTF-8, otherwise code page
// 932 (what older Japanese servers send).
QString decodeName(QByteArrayView raw);

// What the transfer control delivers for "DIR" (UTF-8 lines ending in CR LF,
// directories with a trailing "/", then one empty line) together with the
// server's bytes of every name shown, so that a name taken from the list can
// be sent back unchanged.
struct Listing {
    QByteArray text;
    QHash<QString, QByteArray> rawNames;
};

// The entries as the program shows them: directories first, then files, each
// in case-insensitive order. The entries "." and ".." are left out (the
// session adds "../" itself), and so are names that could not travel as one
// listing line or one path element (CR, LF, NUL, "/").
QList<RemoteEntry> remoteEntries(const QList<ListEntry> &entries);

// The same entries as one text (see Listing).
Listing formatListing(const QList<ListEntry> &entries);

} // namespace webloom::listing
