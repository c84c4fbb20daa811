#include "runtime/encoding.h"

#include <unicode/ucnv.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace {

// ICU's "macintosh" converter has the Mac's own table (the Apple logo at
// 0xF0, the increment sign at 0xC6). It is opened once and kept for the
// whole run; null when ICU lacks it, and then only ASCII converts.
UConverter* MacRomanConverter()
{
    static UConverter* const converter = [] {
        UErrorCode status = U_ZERO_ERROR;
        UConverter* c = ucnv_open("macintosh", &status);
        if (U_FAILURE(status))
            return static_cast<UConverter*>(nullptr);
        ucnv_setFallback(c, false);
        status = U_ZERO_ERROR;
        ucnv_setFromUCallBack(c, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
        ucnv_setToUCallBack(c, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
        return c;
    }();
    return converter;
}

// Bytes to characters, taken once from the converter so that decoding
// mixed UTF-8 and Mac Roman text can go byte by byte.
const std::array<char16_t, 256>& ToUnicode()
{
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t {};
        UConverter* c = MacRomanConverter();
        for (int b = 0; b < 256; ++b) {
            t[static_cast<std::size_t>(b)] = static_cast<char16_t>(b < 128 ? b : 0xFFFD);
            const char in = static_cast<char>(b);
            UChar out[4] = {};
            UErrorCode status = U_ZERO_ERROR;
            if (c && ucnv_toUChars(c, out, 4, &in, 1, &status) == 1 && U_SUCCESS(status))
                t[static_cast<std::size_t>(b)] = out[0];
        }
        return t;
    }();
    return table;
}

// Length of the valid UTF-8 sequence starting at p (2 to 4 bytes), or 0.
std::size_t Utf8SequenceLength(const unsigned char* p, std::size_t left, char32_t* code)
{
    const unsigned char b0 = p[0];
    std::size_t n;
    char32_t c;
    char32_t minimum;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
        c = b0 & 0x1F;
        minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        c = b0 & 0x0F;
        minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        c = b0 & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    *code = c;
    return n;
}

} // namespace

QString QzDecodeBytes(const char* data, std::size_t size)
{
    const auto& table = ToUnicode();
    QString out;
    out.reserve(static_cast<qsizetype>(size));
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    std::size_t i = 0;
    while (i < size) {
        // Runs of ASCII are the common case: copy them without decoding.
        std::size_t run = i;
        while (run < size && p[run] < 0x80)
            ++run;
        if (run > i) {
            out.append(QLatin1StringView(data + i, static_cast<qsizetype>(run - i)));
            i = run;
            continue;
        }
        char32_t code = 0;
        const std::size_t n = Utf8SequenceLength(p + i, size - i, &code);
        if (n > 0) {
            if (code >= 0x10000) {
                out.append(QChar(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10))));
                out.append(QChar(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF))));
            } else {
                out.append(QChar(static_cast<char16_t>(code)));
            }
            i += n;
        } else {
            out.append(QChar(table[p[i]]));
            ++i;
        }
    }
    return out;
}

void QzAppendBytesAsUtf8(const char* data, std::size_t size, std::string& out)
{
    const auto& table = ToUnicode();
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    std::size_t i = 0;
    while (i < size) {
        // ASCII and valid UTF-8 are copied as they are, in runs.
        std::size_t run = i;
        char32_t code = 0;
        for (;;) {
            // Eight ASCII bytes at a time, as long as they last.
            for (std::uint64_t word; run + 8 <= size; run += 8) {
                std::memcpy(&word, p + run, 8);
                if ((word & 0x8080808080808080ULL) != 0)
                    break;
            }
            if (run < size && p[run] < 0x80) {
                ++run;
            } else if (const std::size_t n = run < size ? Utf8SequenceLength(p + run, size - run, &code) : 0) {
                run += n;
            } else {
                break;
            }
        }
        out.append(data + i, run - i);
        i = run;
        if (i == size)
            break;
        // A byte that is not UTF-8: its Mac Roman character, which is in
        // the Basic Multilingual Plane and not a surrogate.
        const char16_t c = table[p[i]];
        if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        out += static_cast<char>(0x80 | (c & 0x3F));
        ++i;
    }
}

std::optional<std::string> QzEncodeMacRoman(const QString& text)
{
    std::string out(static_cast<std::size_t>(text.size()), '\0');
    std::size_t n = 0;
    for (; n < out.size() && text.at(static_cast<qsizetype>(n)).unicode() < 0x80; ++n)
        out[n] = static_cast<char>(text.at(static_cast<qsizetype>(n)).unicode());
    if (n == out.size())
        return out;
    UConverter* c = MacRomanConverter();
    if (!c)
        return std::nullopt;
    // One byte a character: the whole rest fits, and a character without a
    // Mac Roman byte stops the conversion.
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(c);
    const int32_t written = ucnv_fromUChars(c, out.data() + n, static_cast<int32_t>(out.size() - n),
        reinterpret_cast<const UChar*>(text.utf16()) + n, static_cast<int32_t>(text.size()) - static_cast<int32_t>(n),
        &status);
    if (U_FAILURE(status))
        return std::nullopt;
    out.resize(n + static_cast<std::size_t>(written));
    return out;
}

QString QzVisibleControls(const QString& text, bool keepLineBreaks)
{
    QString out = text;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        const bool lineBreak = u == u'\t' || u == u'\r' || u == u'\n';
        if ((u < 0x20 && !(keepLineBreaks && lineBreak)) || u == 0x7F)
            c = QChar(u == 0x7F ? char16_t {0x2421} : static_cast<char16_t>(0x2400 + u));
    }
    return out;
}
