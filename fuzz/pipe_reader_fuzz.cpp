// The pipe line reader over a real pipe, written in chunks of a size the
// first byte picks, so that lines straddle the reads.

#include "fuzz_support.h"

#include "runtime/channels.h"

#include <cstdlib>

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
    std::size_t reads = 0;
    ShortString line;
    do {
        QzLineInput(1, line);
        bytes += line.len;
        // Every read takes at least one byte or meets the end.
        if (++reads > size + 1)
            std::abort();
    } while (QzEof(1) == 0);
    if (bytes > size - 1)
        std::abort();
    QzClose(1);
    return 0;
}
