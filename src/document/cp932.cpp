#include "document/cp932.h"

#include <QList>
#include <QStringDecoder>

#include <cerrno>
#include <iconv.h>

namespace webloom::cp932 {

namespace {

// One conversion descriptor per thread and direction, opened on first use.
class Converter {
public:
    Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much of [*in, *in + *inLeft) as possible into out. Returns
    // 0 when everything was converted, else errno (EILSEQ, EINVAL).
    int convert(const char **in, size_t *inLeft, QByteArray &out)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char buffer[4096];
        while (*inLeft > 0) {
            char *outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t r = iconv(cd_, const_cast<char **>(in), inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<qsizetype>(sizeof buffer - outLeft));
            if (r == static_cast<size_t>(-1) && errno != E2BIG)
                return errno;
        }
        return 0;
    }

private:
    iconv_t cd_;
};

Converter &encoder()
{
    thread_local Converter c("CP932", "UTF-8");
    return c;
}

Converter &decoder()
{
    thread_local Converter c("UTF-8", "CP932");
    return c;
}

// Length of the UTF-8 sequence that starts with byte b (valid UTF-8 input).
int utf8Length(unsigned char b)
{
    if (b < 0x80)
        return 1;
    if ((b & 0xE0) == 0xC0)
        return 2;
    if ((b & 0xF0) == 0xE0)
        return 3;
    return 4;
}

bool isPlainAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

} // namespace

QByteArray encode(QStringView text, Unmappable mode)
{
    if (isPlainAscii(text))
        return text.toLatin1();

    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    Converter &conv = encoder();
    const char *in = utf8.constData();
    size_t left = static_cast<size_t>(utf8.size());
    while (left > 0) {
        if (!conv.valid() || conv.convert(&in, &left, out) != 0) {
            // The character at `in` has no CP932 form (or iconv is missing).
            const int len = std::min<size_t>(static_cast<size_t>(utf8Length(static_cast<unsigned char>(*in))), left);
            const QString ch = QString::fromUtf8(in, len);
            if (mode == Unmappable::NumericReference) {
                const uint cp = ch.isEmpty() ? 0xFFFD : ch.toUcs4().value(0, 0xFFFD);
                out += "&#" + QByteArray::number(cp) + ';';
            } else {
                out += '?';
            }
            in += len;
            left -= static_cast<size_t>(len);
        }
    }
    return out;
}

QString decode(QByteArrayView bytes)
{
    bool ascii = true;
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return QString::fromLatin1(bytes);

    QByteArray utf8;
    utf8.reserve(bytes.size() * 3 / 2);
    Converter &conv = decoder();
    const char *in = bytes.data();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        if (!conv.valid() || conv.convert(&in, &left, utf8) != 0) {
            // An invalid or truncated byte: replace it and go on after it.
            utf8 += "\xEF\xBF\xBD";
            ++in;
            --left;
        }
    }
    return QString::fromUtf8(utf8);
}

} // namespace webloom::cp932
