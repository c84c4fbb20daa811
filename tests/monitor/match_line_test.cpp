#include "monitor/report.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// What MatchLine must answer: each pattern searched for on its own.
LineMatches Plainly(const ShortString& line)
{
    LineMatches found = 0;
    for (const LinePatternText& p : kLinePatterns)
        if (line.view().find(p.text) != std::string_view::npos)
            found |= Bit(p.pattern);
    return found;
}

} // namespace

// Lines built from pieces of the patterns, at every offset and length,
// near the line's ends, overlapping and with odd bytes between them.
TEST(MatchLine, FindsWhatASearchForEachPatternFinds)
{
    std::mt19937 random(7);
    const auto pick = [&random](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    const std::string noise = std::string("rorE\0\r\n \x80\xff", 11) + "aBek";
    for (int round = 0; round < 200000; ++round) {
        std::string text;
        const std::size_t target = pick(256);
        while (text.size() < target) {
            const std::string_view p = kLinePatterns[pick(std::size(kLinePatterns))].text;
            if (pick(3) == 0) {
                text += noise[pick(noise.size())];
            } else {
                const std::size_t from = pick(3) == 0 ? pick(p.size()) : 0;
                text += p.substr(from, pick(4) == 0 ? pick(p.size() + 1) : p.size());
            }
        }
        const ShortString line = ShortString::FromView(text.substr(0, 255));
        ASSERT_EQ(MatchLine(line), Plainly(line)) << line;
    }
}
