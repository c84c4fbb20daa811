#include "runtime/encoding.h"
#include "runtime/shortstring.h"

#include <gtest/gtest.h>

// The Mac's characters for bytes 0x80 to 0xFF, from
// `printf '\xNN' | uconv -f macintosh -t UTF-32BE` for every byte.
constexpr char16_t kMacHighBytes[]
    = u"\u00C4\u00C5\u00C7\u00C9\u00D1\u00D6\u00DC\u00E1\u00E0\u00E2\u00E4\u00E3\u00E5\u00E7\u00E9\u00E8\u00EA\u00EB"
      u"\u00ED\u00EC\u00EE\u00EF\u00F1\u00F3\u00F2\u00F4\u00F6\u00F5\u00FA\u00F9\u00FB\u00FC\u2020\u00B0\u00A2\u00A3"
      u"\u00A7\u2022\u00B6\u00DF\u00AE\u00A9\u2122\u00B4\u00A8\u2260\u00C6\u00D8\u221E\u00B1\u2264\u2265\u00A5\u00B5"
      u"\u2202\u2211\u220F\u03C0\u222B\u00AA\u00BA\u03A9\u00E6\u00F8\u00BF\u00A1\u00AC\u221A\u0192\u2248\u2206\u00AB"
      u"\u00BB\u2026\u00A0\u00C0\u00C3\u00D5\u0152\u0153\u2013\u2014\u201C\u201D\u2018\u2019\u00F7\u25CA\u00FF\u0178"
      u"\u2044\u20AC\u2039\u203A\uFB01\uFB02\u2021\u00B7\u201A\u201E\u2030\u00C2\u00CA\u00C1\u00CB\u00C8\u00CD\u00CE"
      u"\u00CF\u00CC\u00D3\u00D4\uF8FF\u00D2\u00DA\u00DB\u00D9\u0131\u02C6\u02DC\u00AF\u02D8\u02D9\u02DA\u00B8\u02DD"
      u"\u02DB\u02C7";

TEST(MacRoman, EveryHighByteReadsAsOnTheMacAndEveryByteRoundTrips)
{
    std::string all;
    QString text;
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        const QString one = QzDecodeBytes(&byte, 1);
        EXPECT_EQ(one, QChar(b < 128 ? char16_t(b) : kMacHighBytes[b - 128])) << "byte " << b;
        EXPECT_EQ(QzEncodeMacRoman(one), std::string(1, byte)) << "byte " << b;
        if (b > 0) {
            all.push_back(byte);
            text += one; // runs of high bytes can form valid UTF-8: each byte alone
        }
    }
    EXPECT_EQ(QzEncodeMacRoman(text), all);
    EXPECT_EQ(QzStrFromCF(text), ShortString::FromView(all));
    // Straight to UTF-8, as the report command writes: the same text, for
    // each byte and for mixed UTF-8, broken sequences and Mac Roman.
    for (const std::string& bytes :
        {all, std::string("\xC3\xA9t\xE9 \xF0\x9F\x98\x80\xF0\x9F\xED\xA0\x80\xC0\xAF\0z")}) {
        std::string utf8;
        QzAppendBytesAsUtf8(bytes.data(), bytes.size(), utf8);
        EXPECT_EQ(utf8, QzDecodeBytes(bytes.data(), bytes.size()).toUtf8().toStdString());
    }
    // Characters the Mac table lacks, including iconv's reading of 0xC6 and 0xF0, have no byte.
    for (char16_t missing : {u'\u0394', u'\uE01E', u'\u4E2D'})
        EXPECT_EQ(QzEncodeMacRoman(QStringLiteral("a") + QChar(missing)), std::nullopt) << int(missing);
}
