// SPDX-License-Identifier: GPL-3.0-or-later
#include "photos/metadata.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace webloom::photos {

namespace {

// Longer credits are cut: the whole EXIF block of a JPEG must fit one
// segment.
constexpr qsizetype kMaxCredit = 16 * 1024;

quint8 byteAt(const QByteArray &b, qsizetype i)
{
    return static_cast<quint8>(b[i]);
}

quint32 be16(const QByteArray &b, qsizetype i)
{
    return quint32(byteAt(b, i)) << 8 | byteAt(b, i + 1);
}

quint32 be32(const QByteArray &b, qsizetype i)
{
    return be16(b, i) << 16 | be16(b, i + 2);
}

void putBe16(QByteArray &out, quint32 v)
{
    out.append(char(v >> 8 & 0xFF));
    out.append(char(v & 0xFF));
}

void putBe32(QByteArray &out, quint32 v)
{
    putBe16(out, v >> 16);
    putBe16(out, v & 0xFFFF);
}

void putLe16(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8 & 0xFF));
}

void putLe32(QByteArray &out, quint32 v)
{
    putLe16(out, v & 0xFFFF);
    putLe16(out, v >> 16);
}

class TiffReader {
public:
    explicit TiffReader(const QByteArray &bytes) : b_(bytes) {}
    bool little = true;
    bool has(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset <= b_.size() && length <= b_.size() - offset;
    }
    quint32 u16(qint64 i) const
    {
        return little ? quint32(byteAt(b_, i)) | quint32(byteAt(b_, i + 1)) << 8 : be16(b_, i);
    }
    quint32 u32(qint64 i) const { return little ? u16(i) | u16(i + 2) << 16 : u16(i) << 16 | u16(i + 2); }
    const QByteArray &bytes() const { return b_; }

private:
    const QByteArray &b_;
};

QByteArray asciiValue(const TiffReader &tiff, qint64 entry, quint32 count)
{
    if (count == 0 || count > kMaxCredit)
        return {};
    const qint64 at = count <= 4 ? entry + 8 : qint64(tiff.u32(entry + 8));
    if (!tiff.has(at, count))
        return {};
    QByteArray value = tiff.bytes().mid(at, count);
    while (value.endsWith('\0'))
        value.chop(1);
    return value;
}

quint32 crc32(const char *data, qsizetype size, quint32 crc = 0)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (qsizetype i = 0; i < size; ++i)
        crc = table[(crc ^ static_cast<quint8>(data[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

QByteArray pngChunk(const char type[4], const QByteArray &data)
{
    QByteArray chunk;
    putBe32(chunk, quint32(data.size()));
    chunk.append(type, 4);
    chunk.append(data);
    putBe32(chunk, crc32(chunk.constData() + 4, chunk.size() - 4));
    return chunk;
}

bool startsWith(const QByteArray &data, qsizetype from, const char *text, qsizetype length)
{
    return data.size() - from >= length && std::memcmp(data.constData() + from, text, size_t(length)) == 0;
}

} // namespace

void readExif(const QByteArray &block, Found &found)
{
    const QByteArray data = block.startsWith(QByteArray("Exif\0\0", 6)) ? block.mid(6) : block;
    TiffReader tiff(data);
    if (data.size() < 8)
        return;
    if (data.startsWith("II"))
        tiff.little = true;
    else if (data.startsWith("MM"))
        tiff.little = false;
    else
        return;
    if (tiff.u16(2) != 42)
        return;
    const qint64 ifd = tiff.u32(4);
    if (!tiff.has(ifd, 2))
        return;
    const qint64 entries = std::min<qint64>(tiff.u16(ifd), (data.size() - ifd - 2) / 12);
    for (qint64 i = 0; i < entries; ++i) {
        const qint64 entry = ifd + 2 + 12 * i;
        const quint32 tag = tiff.u16(entry);
        const quint32 type = tiff.u16(entry + 2);
        const quint32 count = tiff.u32(entry + 4);
        if (tag == 0x0112 && type == 3 && count >= 1) {
            const quint32 value = tiff.u16(entry + 8);
            if (value >= 1 && value <= 8)
                found.orientation = int(value);
        } else if (tag == 0x013B && type == 2) {
            found.credit.artist = asciiValue(tiff, entry, count);
        } else if (tag == 0x8298 && type == 2) {
            found.credit.copyright = asciiValue(tiff, entry, count);
        }
    }
}

QByteArray exifBlock(const Credit &credit)
{
    QList<std::pair<quint32, QByteArray>> values;
    if (!credit.artist.isEmpty())
        values.append({0x013B, credit.artist.left(kMaxCredit) + '\0'});
    if (!credit.copyright.isEmpty())
        values.append({0x8298, credit.copyright.left(kMaxCredit) + '\0'});
    if (values.isEmpty())
        return {};
    QByteArray out("II*\0", 4);
    putLe32(out, 8);
    putLe16(out, quint32(values.size()));
    quint32 dataAt = 8 + 2 + 12 * quint32(values.size()) + 4;
    QByteArray data;
    for (const auto &[tag, value] : values) {
        putLe16(out, tag);
        putLe16(out, 2);
        putLe32(out, quint32(value.size()));
        if (value.size() <= 4) {
            out.append(value.leftJustified(4, '\0'));
        } else {
            putLe32(out, dataAt + quint32(data.size()));
            data.append(value);
            if (data.size() % 2)
                data.append('\0');
        }
    }
    putLe32(out, 0);
    return out + data;
}

std::optional<QByteArray> cleanJpeg(const QByteArray &in, Found *foundOut, const std::optional<Credit> &credit)
{
    const qsizetype size = in.size();
    if (size < 4 || byteAt(in, 0) != 0xFF || byteAt(in, 1) != 0xD8)
        return std::nullopt;
    Found found;
    bool exifSeen = false;
    QByteArray jfif;
    QList<std::pair<int, QByteArray>> icc; // sequence number, whole segment
    QByteArray body;
    bool frame = false;
    bool scan = false;
    qsizetype pos = 2;
    for (;;) {
        if (pos >= size || byteAt(in, pos) != 0xFF)
            return std::nullopt;
        while (pos < size && byteAt(in, pos) == 0xFF)
            ++pos;
        if (pos >= size)
            return std::nullopt;
        const quint8 marker = byteAt(in, pos++);
        if (marker == 0xD9)
            break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (marker == 0xD8 || marker == 0x00 || size - pos < 2)
            return std::nullopt;
        const qsizetype length = be16(in, pos);
        if (length < 2 || length > size - pos)
            return std::nullopt;
        const QByteArray segment = in.mid(pos - 2, length + 2);
        const qsizetype data = pos + 2;
        const qsizetype dataLength = length - 2;
        const QByteArray head = in.mid(data, std::min<qsizetype>(dataLength, 14));
        pos += length;
        if (marker == 0xE0) {
            if (jfif.isEmpty() && head.startsWith(QByteArray("JFIF\0", 5)))
                jfif = segment;
        } else if (marker == 0xE1) {
            if (!exifSeen && head.startsWith(QByteArray("Exif\0\0", 6))) {
                exifSeen = true;
                readExif(in.mid(data, dataLength), found);
            }
        } else if (marker == 0xE2) {
            if (dataLength >= 14 && head.startsWith(QByteArray("ICC_PROFILE\0", 12)))
                icc.append({byteAt(head, 12), segment});
        } else if (marker == 0xEE) {
            if (head.startsWith("Adobe"))
                body.append(segment);
        } else if (marker >= 0xE0 && marker <= 0xEF) {
            // Maker data, IPTC, multi-picture indexes and the like.
        } else if (marker == 0xFE) {
            // A comment can say anything.
        } else {
            frame = frame || (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC);
            body.append(segment);
        }
        if (marker != 0xDA)
            continue;
        if (!frame)
            return std::nullopt;
        // Entropy-coded data runs to the next marker that is neither a
        // stuffed zero nor a restart.
        const qsizetype start = pos;
        for (;;) {
            const void *ff = std::memchr(in.constData() + pos, 0xFF, size_t(size - pos));
            if (!ff)
                return std::nullopt;
            pos = static_cast<const char *>(ff) - in.constData();
            if (size - pos < 2)
                return std::nullopt;
            const quint8 next = byteAt(in, pos + 1);
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                pos += 2;
                continue;
            }
            if (next == 0xFF) {
                ++pos;
                continue;
            }
            break;
        }
        body.append(in.mid(start, pos - start));
        scan = true;
    }
    if (!scan)
        return std::nullopt;
    if (foundOut) {
        *foundOut = found;
        foundOut->hasIcc = !icc.isEmpty();
    }
    std::stable_sort(icc.begin(), icc.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QByteArray out("\xFF\xD8", 2);
    out.append(jfif);
    const QByteArray exif = exifBlock(credit ? *credit : found.credit);
    if (!exif.isEmpty()) {
        out.append("\xFF\xE1", 2);
        putBe16(out, quint32(2 + 6 + exif.size()));
        out.append(QByteArray("Exif\0\0", 6));
        out.append(exif);
    }
    for (const auto &part : std::as_const(icc))
        out.append(part.second);
    out.append(body);
    out.append("\xFF\xD9", 2);
    return out;
}

std::optional<QByteArray> cleanPng(const QByteArray &in, Found *foundOut, const std::optional<Credit> &credit)
{
    static const QByteArray kSignature("\x89PNG\r\n\x1A\n", 8);
    static const QList<QByteArray> kKept = {"PLTE", "IDAT", "tRNS", "gAMA", "cHRM", "sRGB", "iCCP", "cICP",
                                            "mDCv", "cLLi", "sBIT", "bKGD", "pHYs", "acTL", "fcTL", "fdAT"};
    if (!in.startsWith(kSignature))
        return std::nullopt;
    Found found;
    QByteArray header;
    QByteArray body;
    bool end = false;
    qsizetype pos = kSignature.size();
    while (!end) {
        if (in.size() - pos < 12)
            return std::nullopt;
        const qsizetype length = be32(in, pos);
        if (length > in.size() - pos - 12)
            return std::nullopt;
        const QByteArray type = in.mid(pos + 4, 4);
        const QByteArray chunk = in.mid(pos, length + 12);
        const qsizetype data = pos + 8;
        pos += length + 12;
        if (header.isEmpty()) {
            if (type != "IHDR")
                return std::nullopt;
            header = chunk;
        } else if (type == "IEND") {
            end = true;
        } else if (type == "eXIf") {
            readExif(in.mid(data, length), found);
        } else if (type == "tEXt" || type == "zTXt" || type == "iTXt") {
            const QByteArray keyword = in.mid(data, std::min<qsizetype>(length, 80));
            if (startsWith(keyword, 0, "Copyright\0", 10) || startsWith(keyword, 0, "Author\0", 7))
                found.credit.pngText.append(chunk);
        } else if (kKept.contains(type)) {
            found.hasIcc = found.hasIcc || type == "iCCP";
            body.append(chunk);
        }
    }
    if (foundOut)
        *foundOut = found;
    const Credit &kept = credit ? *credit : found.credit;
    QByteArray out = kSignature + header;
    if (const QByteArray exif = exifBlock(kept); !exif.isEmpty())
        out.append(pngChunk("eXIf", exif));
    for (const QByteArray &text : kept.pngText)
        out.append(text);
    out.append(body);
    out.append(pngChunk("IEND", {}));
    return out;
}

} // namespace webloom::photos
