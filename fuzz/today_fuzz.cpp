// Today's analysis and evaluation with the bytes as the command's output.

#include "fuzz_support.h"

#include "monitor/fetch.h"
#include "monitor/state.h"
#include "settings/settings.h"
#include "settings/state.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInitAnalysis();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the day the settings remember and the write size.
    gLastBackupDay = static_cast<std::int16_t>(data[0] % 4 == 0 ? TodayDayOfYear() : data[0]);
    FedPipe pipe(1, data + 1, size - 1, 1 + data[0] * 13u);
    gOpenPanel = 0;
    gShortLogMode = 0;
    gTodayReadNow = 1;
    FetchTodayLog();
    return 0;
}
