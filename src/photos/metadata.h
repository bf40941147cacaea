// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

namespace webloom::photos {

// What a web copy keeps of who made a picture: the EXIF Artist and
// Copyright, and (PNG only) the text chunks whose keyword is "Author" or
// "Copyright", whole.
struct Credit {
    QByteArray artist;
    QByteArray copyright;
    QList<QByteArray> pngText; // each a whole chunk, length and CRC included
    bool isEmpty() const { return artist.isEmpty() && copyright.isEmpty() && pngText.isEmpty(); }
};

// What the rewriters saw in a file.
struct Found {
    Credit credit;
    int orientation = 1; // EXIF Orientation, 1 to 8
    bool hasIcc = false;
};

// Reads Orientation, Artist and Copyright from IFD0 of a TIFF structure (the
// body of an EXIF block, with or without its "Exif\0\0" head). Any offset or
// count that leaves the block is taken as no value.
void readExif(const QByteArray &tiff, Found &found);
// The smallest EXIF block (without "Exif\0\0") that holds Artist and
// Copyright; empty when the credit has neither.
QByteArray exifBlock(const Credit &credit);

// Rewrites a JPEG without decoding it: kept are the frame and scans, the
// quantisation and Huffman tables, JFIF, Adobe and the colour profile (every
// ICC_PROFILE part, in order); gone are EXIF (with the location, serial
// numbers, maker notes and thumbnail in it), XMP, IPTC, comments, every
// other application segment and whatever follows the end of the image. A new
// EXIF block holds only the credit (the given one, else the file's own).
// Nothing on a file that is not a well-formed JPEG; never reads outside the
// bytes given.
std::optional<QByteArray> cleanJpeg(const QByteArray &in, Found *found = nullptr,
                                    const std::optional<Credit> &credit = {});

// The same for PNG: kept are the chunks that shape the pixels (header,
// palette, data, transparency, gamma, chromaticities, sRGB, iCCP, cICP,
// bit depths, background, pixel size and the animation chunks) and the credit
// text chunks; eXIf, other text, time and unknown chunks are gone, and a new
// eXIf holds the credit's Artist and Copyright. CRCs are not checked: a
// broken one stays as broken as it was.
std::optional<QByteArray> cleanPng(const QByteArray &in, Found *found = nullptr,
                                   const std::optional<Credit> &credit = {});

} // namespace webloom::photos
