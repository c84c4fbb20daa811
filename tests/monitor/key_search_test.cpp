#include "test_support.h"

#include "monitor/report.h"

#include <array>

// The search for the first of up to eight 4-byte keys against a plain one,
// on texts of every length from empty to several vectors, over a small
// alphabet (NUL among it) so that keys, near misses and their first and
// last bytes are common, and wherever a vector's places end.
TEST(KeySearch, FindsTheFirstOfUpToEightKeysAsAPlainSearchDoes)
{
    std::uint32_t seed = 11;
    const auto below = [&seed](std::uint32_t n) { return ((seed = seed * 1664525u + 1013904223u) >> 8) % n; };
    const auto text = [&below](std::size_t length) {
        std::string s;
        for (std::size_t i = 0; i < length; ++i)
            s += std::string_view("rok \0", 5)[below(5)];
        return s;
    };
    int found = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::size_t count = below(9);
        std::string keyBytes[8];
        std::string_view keys[8];
        for (std::size_t k = 0; k < count; ++k)
            keys[k] = keyBytes[k] = text(4);
        const std::string haystack = text(below(100));
        std::size_t first = haystack.size();
        for (std::size_t k = 0; k < count; ++k)
            first = std::min(first, std::min(haystack.find(keys[k]), haystack.size()));
        found += first < haystack.size() ? 1 : 0;
        ASSERT_EQ(FindFirstKey(
                      reinterpret_cast<const std::uint8_t*>(haystack.data()), haystack.size(), std::span(keys, count)),
            first)
            << haystack << " with " << count << " keys";
    }
    EXPECT_GT(found, 400); // the keys were found often enough to matter
}

// The one-pass matcher against a search for each pattern on its own, on
// lines of every length up to 255 made of patterns whole, cut short or with
// one byte changed, and noise between them, so that patterns begin at every
// place of the vectors and of the bytes after them.
TEST(LineMatcher, FindsEveryPatternAPlainSearchFinds)
{
    std::uint32_t seed = 5;
    const auto below = [&seed](std::uint32_t n) { return ((seed = seed * 1664525u + 1013904223u) >> 8) % n; };
    std::array<int, kPatCount> seen {};
    for (int round = 0; round < 20000; ++round) {
        std::string line;
        while (line.size() < 255 && below(8) != 0) {
            std::string piece(kLinePatterns[below(kPatCount)].text);
            if (below(3) == 0)
                piece[below(static_cast<std::uint32_t>(piece.size()))] ^= static_cast<char>(1 << below(8));
            piece.resize(below(3) == 0 ? below(static_cast<std::uint32_t>(piece.size())) : piece.size());
            line += std::string(below(4), " e/\0"[below(4)]) + piece;
        }
        const ShortString text = ShortString::FromView(line);
        LineMatches expected = 0;
        for (const LinePatternText& p : kLinePatterns)
            if (text.view().find(p.text) != std::string_view::npos) {
                expected |= Bit(p.pattern);
                ++seen[p.pattern];
            }
        ASSERT_EQ(MatchLine(text), expected) << line;
    }
    EXPECT_GT(*std::min_element(seen.begin(), seen.end()), 50); // every pattern was found often enough to matter
}
