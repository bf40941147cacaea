// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/cp932.h"

#include <QList>

#include <bitset>
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

    // The whole of bytes converted, or nothing when any part fails.
    bool convertAll(QByteArrayView bytes, QByteArray &out)
    {
        if (!valid())
            return false;
        const char *in = bytes.data();
        size_t left = static_cast<size_t>(bytes.size());
        QByteArray converted;
        if (convert(&in, &left, converted) != 0)
            return false;
        out += converted;
        return true;
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

bool isLeadByte(int b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The characters (all in the BMP) that survive: every character some byte
// sequence of the code page decodes to, kept when its own encoding decodes
// back to it. Built once from the conversion table itself, so it cannot
// disagree with what encode and decode do.
class SurvivorTable {
public:
    SurvivorTable()
    {
        for (int b = 0; b < 0x100; ++b) {
            if (isLeadByte(b)) {
                for (int t = 0x40; t <= 0xFC; ++t) {
                    const char pair[] = {char(b), char(t)};
                    if (t != 0x7F)
                        consider(QByteArrayView(pair, 2));
                }
            } else {
                const char single = char(b);
                consider(QByteArrayView(&single, 1));
            }
        }
    }

    bool contains(char32_t c) const { return c < 0x10000 && bits_.test(c); }

private:
    void consider(QByteArrayView bytes)
    {
        QByteArray utf8;
        if (!decoder().convertAll(bytes, utf8))
            return;
        const QString text = QString::fromUtf8(utf8);
        if (text.size() != 1 || text.at(0) == QChar::ReplacementCharacter || text.at(0).isSurrogate())
            return;
        QByteArray encoded;
        QByteArray back;
        if (encoder().convertAll(utf8, encoded) && decoder().convertAll(encoded, back) && back == utf8)
            bits_.set(text.at(0).unicode());
    }

    std::bitset<0x10000> bits_;
};

const SurvivorTable &survivors()
{
    static const SurvivorTable table;
    return table;
}

bool isPlainAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// One character of a text: its code point (U+FFFD for a lone surrogate, which
// is never a character of its own) and its length in UTF-16 units.
struct CodePoint {
    char32_t value;
    qsizetype length;
    bool loneSurrogate;
};

CodePoint codePointAt(QStringView text, qsizetype i)
{
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
        return {QChar::surrogateToUcs4(c, text.at(i + 1)), 2, false};
    if (c.isSurrogate())
        return {QChar::ReplacementCharacter, 1, true};
    return {c.unicode(), 1, false};
}

bool survives(const CodePoint &cp)
{
    return !cp.loneSurrogate && (cp.value < 0x80 || survivors().contains(cp.value));
}

} // namespace

QByteArray encode(QStringView text, Unmappable mode)
{
    if (isPlainAscii(text))
        return text.toLatin1();

    QByteArray out;
    out.reserve(text.size() * 2);
    Converter &conv = encoder();
    qsizetype runStart = 0; // first character of the run of survivors not yet converted
    auto flushRun = [&](qsizetype end) {
        if (end > runStart && !conv.convertAll(text.sliced(runStart, end - runStart).toUtf8(), out))
            out += QByteArray(end - runStart, '?'); // iconv is missing: nothing survives
    };
    for (qsizetype i = 0; i < text.size();) {
        const CodePoint cp = codePointAt(text, i);
        if (survives(cp)) {
            i += cp.length;
            continue;
        }
        flushRun(i);
        if (mode == Unmappable::NumericReference) {
            out += "&#" + QByteArray::number(cp.value) + ';';
        } else if (cp.loneSurrogate || !conv.convertAll(text.sliced(i, cp.length).toUtf8(), out)) {
            out += '?';
        }
        i += cp.length;
        runStart = i;
    }
    flushRun(text.size());
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

QString lossyCharacters(QStringView text)
{
    QString lost;
    QList<char32_t> seen;
    for (qsizetype i = 0; i < text.size();) {
        const CodePoint cp = codePointAt(text, i);
        i += cp.length;
        if (survives(cp) || seen.contains(cp.value))
            continue;
        seen.append(cp.value);
        lost += QStringView(QChar::fromUcs4(cp.value)); // fromUcs4 on a string would drop a U+FEFF
    }
    return lost;
}

} // namespace webloom::cp932
