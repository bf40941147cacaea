// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace webloom::photos {

enum class Format { Jpeg, Png, Gif, WebP };

// The picture format of a file by its first bytes (at least 12), whatever
// its name says; nothing for anything else.
std::optional<Format> sniffFormat(const QByteArray &head);

struct Options {
    // Longest side of a web copy in pixels; 0 keeps every picture's size.
    int longestSide = 1600;
};

// Files larger than this are not taken for pictures.
constexpr qint64 kMaxPictureBytes = 256ll * 1024 * 1024;

struct WebCopy {
    QByteArray bytes;
    // Why the file is no picture that goes to the server; empty on success.
    QString error;
};

// The copy of a picture that goes on the web: upright (EXIF Orientation
// applied to the pixels), no longer than the limit (scaled with a Lanczos
// filter after the decoder's own shrinking; JPEG and WebP at quality 85),
// of the same format, and with no location, camera or thumbnail data left:
// only the colour profile, Artist and Copyright stay. A JPEG or PNG that
// needs neither turning nor scaling keeps its pixel data bit for bit. An
// animated GIF or WebP is taken as it is. Safe to call from several
// threads at once.
WebCopy makeWebCopy(const QByteArray &source, const Options &options);

// Empty when the bytes are a picture of one of the formats that decodes;
// otherwise why not. Used for originals, which go as they are.
QString pictureProblem(const QByteArray &source);

// A text that changes whenever the copies this program makes may change
// (the library's version and this program's own rules); part of the key of
// every cached copy.
QString webCopyVersion();

} // namespace webloom::photos
