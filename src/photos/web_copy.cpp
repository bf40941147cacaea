// SPDX-License-Identifier: GPL-3.0-or-later
#include "photos/web_copy.h"

#include <vips/vips8>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "photos/metadata.h"

namespace webloom::photos {

namespace {

// Pictures beyond this many pixels are refused before they are decoded: a
// small file can claim a huge picture.
constexpr qint64 kMaxPixels = 300ll * 1000 * 1000;
// Bumped whenever a rule of makeWebCopy() changes what it writes.
constexpr int kRules = 1;

QString notAPicture()
{
    return QStringLiteral("画像ではありません");
}

QString undecodable()
{
    return QStringLiteral("画像として読めません");
}

void initialise()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (VIPS_INIT("webloom") != 0)
            return;
        // Several pictures are made at once, one per core; each keeps to one
        // thread. The operation cache would keep decoded pictures around.
        vips_concurrency_set(1);
        vips_cache_set_max(0);
        vips_cache_set_max_mem(0);
        vips_leak_set(FALSE);
        // A damaged picture is reported once, as not sent, not with the
        // decoder's warnings on the terminal.
        g_log_set_handler(
            "VIPS", GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO),
            [](const gchar *, GLogLevelFlags, const gchar *, gpointer) {}, nullptr);
    });
}

// Frees a blob that a VImage borrowed, when it is no longer needed.
struct Blob {
    explicit Blob(const QByteArray &bytes) : blob(vips_blob_new(nullptr, bytes.constData(), size_t(bytes.size()))) {}
    ~Blob() { vips_area_unref(VIPS_AREA(blob)); }
    Blob(const Blob &) = delete;
    Blob &operator=(const Blob &) = delete;
    VipsBlob *blob;
};

QByteArray take(VipsBlob *blob)
{
    size_t length = 0;
    const void *data = vips_blob_get(blob, &length);
    QByteArray bytes(static_cast<const char *>(data), qsizetype(length));
    vips_area_unref(VIPS_AREA(blob));
    return bytes;
}

bool decodes(const QByteArray &bytes, Format format)
{
    try {
        vips::VOption *options = vips::VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL);
        if (format == Format::Jpeg)
            options->set("shrink", 8);
        const vips::VImage image = vips::VImage::new_from_buffer(bytes.constData(), size_t(bytes.size()), "", options);
        if (qint64(image.width()) * image.height() > kMaxPixels)
            return false;
        (void)image.avg();
        return true;
    } catch (const vips::VError &) {
        vips_error_clear();
        return false;
    }
}

// Everything but the colour profile goes; the credit is written back by the
// caller.
vips::VImage withoutMetadata(const vips::VImage &in)
{
    vips::VImage image = in.copy();
    gchar **fields = vips_image_get_fields(image.get_image());
    for (gchar **field = fields; *field; ++field) {
        const char *name = *field;
        static const char *const kPrefixes[] = {"exif-",        "xmp-",        "iptc-",       "ipct-", "jpeg-thumbnail",
                                                "png-comment-", "gif-comment", "orientation", "heif-"};
        for (const char *prefix : kPrefixes) {
            if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) {
                image.remove(name);
                break;
            }
        }
    }
    g_strfreev(fields);
    return image;
}

Credit creditOf(const vips::VImage &image)
{
    Found found;
    if (image.get_typeof(VIPS_META_EXIF_NAME) != 0) {
        size_t length = 0;
        const void *data = image.get_blob(VIPS_META_EXIF_NAME, &length);
        readExif(QByteArray(static_cast<const char *>(data), qsizetype(length)), found);
    }
    return found.credit;
}

int pagesOf(const vips::VImage &image)
{
    return image.get_typeof(VIPS_META_N_PAGES) != 0 ? image.get_int(VIPS_META_N_PAGES) : 1;
}

} // namespace

std::optional<Format> sniffFormat(const QByteArray &head)
{
    if (head.size() < 12)
        return std::nullopt;
    if (head.startsWith("\xFF\xD8\xFF"))
        return Format::Jpeg;
    if (head.startsWith("\x89PNG\r\n\x1A\n"))
        return Format::Png;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return Format::Gif;
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return Format::WebP;
    return std::nullopt;
}

QString webCopyVersion()
{
    return QStringLiteral("%1.%2.%3/%4").arg(vips_version(0)).arg(vips_version(1)).arg(vips_version(2)).arg(kRules);
}

QString pictureProblem(const QByteArray &source)
{
    initialise();
    const std::optional<Format> format = sniffFormat(source);
    if (!format)
        return notAPicture();
    return decodes(source, *format) ? QString() : undecodable();
}

WebCopy makeWebCopy(const QByteArray &source, const Options &options)
{
    initialise();
    const std::optional<Format> format = sniffFormat(source);
    if (!format)
        return {{}, notAPicture()};
    if (source.size() > kMaxPictureBytes)
        return {{}, QStringLiteral("大きすぎます")};
    Found found;
    std::optional<QByteArray> cleaned;
    if (*format == Format::Jpeg)
        cleaned = cleanJpeg(source, &found);
    else if (*format == Format::Png)
        cleaned = cleanPng(source, &found);
    try {
        const vips::VImage header =
            vips::VImage::new_from_buffer(source.constData(), size_t(source.size()), "",
                                          vips::VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        const qint64 width = header.width();
        const qint64 height = header.height();
        if (width * height > kMaxPixels)
            return {{}, QStringLiteral("大きすぎます")};
        if ((*format == Format::Gif || *format == Format::WebP) && pagesOf(header) > 1) {
            if (!decodes(source, *format))
                return {{}, undecodable()};
            return {source, {}};
        }
        const int orientation = cleaned ? found.orientation : vips_image_get_orientation(header.get_image());
        const qint64 longest = std::max(width, height);
        const bool scale = options.longestSide > 0 && longest > options.longestSide;
        if (cleaned && !scale && orientation == 1) {
            if (!decodes(*cleaned, *format))
                return {{}, undecodable()};
            return {*cleaned, {}};
        }
        const Credit credit = cleaned ? found.credit : creditOf(header);
        const int target = int(scale ? options.longestSide : longest);
        const Blob blob(source);
        vips::VImage image = withoutMetadata(vips::VImage::thumbnail_buffer(
            blob.blob, target, vips::VImage::option()->set("height", target)->set("size", VIPS_SIZE_DOWN)));
        switch (*format) {
        case Format::Jpeg:
            cleaned = cleanJpeg(take(image.jpegsave_buffer(vips::VImage::option()->set("Q", 85))), nullptr, credit);
            break;
        case Format::Png:
            cleaned = cleanPng(take(image.pngsave_buffer()), nullptr, credit);
            break;
        case Format::WebP:
            if (const QByteArray exif = exifBlock(credit); !exif.isEmpty()) {
                const QByteArray block = QByteArray("Exif\0\0", 6) + exif;
                vips_image_set_blob_copy(image.get_image(), VIPS_META_EXIF_NAME, block.constData(),
                                         size_t(block.size()));
            }
            cleaned = take(image.webpsave_buffer(vips::VImage::option()->set("Q", 85)));
            break;
        case Format::Gif:
            cleaned = take(image.gifsave_buffer());
            break;
        }
        if (!cleaned)
            return {{}, undecodable()};
        return {*cleaned, {}};
    } catch (const vips::VError &) {
        vips_error_clear();
        return {{}, undecodable()};
    }
}

} // namespace webloom::photos
