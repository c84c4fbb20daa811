#include "runtime/encoding.h"

#include <iconv.h>

#include <array>
#include <unordered_map>

namespace {

struct MacRomanTables {
    std::array<char16_t, 256> toUnicode {};
    std::unordered_map<char16_t, unsigned char> fromUnicode;
};

// Built once from the system's converter (iconv calls the encoding
// MACINTOSH), so the program carries no table of its own.
const MacRomanTables& Tables()
{
    static const MacRomanTables tables = [] {
        MacRomanTables t;
        iconv_t cd = iconv_open("UTF-16LE", "MACINTOSH");
        for (int b = 0; b < 256; ++b) {
            char in = static_cast<char>(b);
            char out[8] = {};
            char* inPtr = &in;
            char* outPtr = out;
            std::size_t inLeft = 1;
            std::size_t outLeft = sizeof out;
            char16_t ch = static_cast<char16_t>(b < 128 ? b : 0xFFFD);
            if (cd != reinterpret_cast<iconv_t>(-1)) {
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)
                    && outLeft == sizeof out - 2)
                    ch = static_cast<char16_t>(
                        static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
            }
            t.toUnicode[static_cast<std::size_t>(b)] = ch;
            t.fromUnicode.emplace(ch, static_cast<unsigned char>(b));
        }
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd);
        return t;
    }();
    return tables;
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

char16_t QzMacRomanChar(unsigned char byte)
{
    return Tables().toUnicode[byte];
}

QString QzDecodeBytes(const char* data, std::size_t size)
{
    const auto& table = Tables().toUnicode;
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

std::optional<std::string> QzEncodeMacRoman(const QString& text)
{
    const auto& map = Tables().fromUnicode;
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
            continue;
        }
        const auto it = map.find(u);
        if (it == map.end())
            return std::nullopt;
        out.push_back(static_cast<char>(it->second));
    }
    return out;
}
