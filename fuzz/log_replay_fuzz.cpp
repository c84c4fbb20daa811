// The stand-in `log`'s replay of a recorded output, for the last N seconds
// or for yesterday, on any bytes.

#include "simmac/log/log_replay.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

std::string gPath;
std::FILE* gSink = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("TZ", "Europe/Berlin", 1); // a zone with clock changes
    gPath = "/tmp/qzfuzz-replay-" + std::to_string(getpid());
    gSink = std::fopen("/dev/null", "w");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 8)
        return 0;
    std::uint32_t window = 0;
    std::memcpy(&window, data, 4);
    std::uint32_t shift = 0;
    std::memcpy(&shift, data + 4, 4);
    std::FILE* f = std::fopen(gPath.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(data + 8, 1, size - 8, f);
    std::fclose(f);
    tmlog::ReplayRequest request;
    request.path = gPath;
    request.now.seconds = 1773100000 + static_cast<std::int64_t>(shift % 100000000) - 50000000;
    request.now.micros = static_cast<int>(shift % 1000000);
    request.yesterday = (window & 1) != 0;
    request.lastSeconds = window >> 1;
    if (tmlog::WriteReplay(gSink, gSink, request) != 0)
        std::abort();
    return 0;
}
