#include "monitor/fetch.h"
#include "monitor/state.h"

#include "runtime/platform.h"

std::int64_t TicksNow()
{
    return static_cast<std::int64_t>(QzUptime() * 60.0);
}

void StampPipeStart()
{
    gPipeStartTicks = TicksNow() + 60;
}

void ResetFetchState()
{
    gEmailSent = 0;
    gPollAllowed = 1;
    gTodayPipeOpen = 0;
    gYesterdayPipeOpen = 0;
}
