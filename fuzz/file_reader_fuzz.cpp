// The file line reader (the 254/255 rule) over a real file.

#include "fuzz_support.h"

#include "runtime/channels.h"

#include <QString>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = FuzzHome() + "/input";
    if (!FuzzWriteFile(path, data, size))
        std::abort();
    QzOpenInput(2, 0, QString::fromStdString(path), 256);
    std::size_t bytes = 0;
    std::size_t reads = 0;
    ShortString line;
    while (QzEof(2) == 0) {
        QzLineInput(2, line);
        bytes += line.len;
        if (++reads > size + 1)
            std::abort();
    }
    if (bytes > size)
        std::abort();
    QzClose(2);
    return 0;
}
