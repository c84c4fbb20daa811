// The one-pass line matcher against a search for each pattern on its own.

#include "monitor/report.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ShortString line = ShortString::FromBytes(data, std::min<std::size_t>(size, ShortString::kMax));
    LineMatches expected = 0;
    for (const LinePatternText& p : kLinePatterns)
        if (line.view().find(p.text) != std::string_view::npos)
            expected |= Bit(p.pattern);
    if (MatchLine(line) != expected)
        std::abort();
    return 0;
}
