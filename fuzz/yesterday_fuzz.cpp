// Yesterday's analysis with the bytes as the command's output.

#include "fuzz_support.h"

#include "monitor/fetch.h"
#include "monitor/state.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInitAnalysis();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FedPipe pipe(1, data, size, 4096);
    gTodayPipeOpen = 0;
    gYesterdayReadNow = 1;
    FetchYesterdayLog();
    return 0;
}
