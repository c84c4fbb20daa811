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
