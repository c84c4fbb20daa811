// The pipe line reader over a real pipe, written in chunks of a size the
// first byte picks, so that lines straddle the reads; then the same bytes
// read again with the lines before each K passed over, which must give the
// same lines, none of the passed ones holding a K.

#include "fuzz_support.h"

#include "runtime/channels.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t chunk = 1 + data[0] * 7u;
    FedPipe pipe(1, data + 1, size - 1, chunk);
    std::size_t bytes = 0;
    std::vector<std::string> lines;
    ShortString line;
    do {
        QzLineInput(1, line);
        bytes += line.len;
        lines.emplace_back(line.view());
        // Every read takes at least one byte or meets the end.
        if (lines.size() > size + 1)
            std::abort();
    } while (QzEof(1) == 0);
    if (bytes > size - 1)
        std::abort();
    QzClose(1);

    const QzFirstOfInterestFn firstK = [](const std::uint8_t* b, std::size_t n) {
        const void* k = std::memchr(b, 'K', n);
        return k ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(k) - b) : n;
    };
    FedPipe again(1, data + 1, size - 1, chunk);
    std::size_t at = 0;
    do {
        for (std::int64_t n = QzSkipPipeLines(1, firstK); n > 0; --n, ++at)
            if (at >= lines.size() || lines[at].find('K') != std::string::npos)
                std::abort();
        QzLineInput(1, line);
        if (at >= lines.size() || line.view() != lines[at++])
            std::abort();
    } while (QzEof(1) == 0);
    if (at != lines.size())
        std::abort();
    QzClose(1);
    return 0;
}
