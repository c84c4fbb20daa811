// The one-pass line matcher against a search for each pattern on its own,
// and the search for the first of a few keys (the first byte says how many (up to 8),
// the bytes after it give them) against a plain one.

#include "monitor/report.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ShortString line = ShortString::FromBytes(data, std::min<std::size_t>(size, ShortString::kMax));
    LineMatches expected = 0;
    for (const LinePatternText& p : kLinePatterns)
        if (line.view().find(p.text) != std::string_view::npos)
            expected |= Bit(p.pattern);
    if (MatchLine(line) != expected)
        std::abort();

    if (size == 0)
        return 0;
    const std::size_t count = std::min<std::size_t>(data[0] % 9, (size - 1) / 4);
    const std::string_view whole(reinterpret_cast<const char*>(data), size);
    std::string_view keys[8];
    for (std::size_t k = 0; k < count; ++k)
        keys[k] = whole.substr(1 + 4 * k, 4);
    const std::string_view text = whole.substr(1 + 4 * count);
    std::size_t first = text.size();
    for (std::size_t k = 0; k < count; ++k)
        first = std::min(first, std::min(text.find(keys[k]), text.size()));
    const std::size_t found
        = FindFirstKey(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), std::span(keys, count));
    if (found != first)
        std::abort();
    return 0;
}
