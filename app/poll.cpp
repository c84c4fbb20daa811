#include "app/poll.h"

#include "monitor/state.h"

void PollTimerFired()
{
    if (gTodayPipeOpen == 1 || gYesterdayPipeOpen == 1)
        return;
    if (gPollAllowed == 1)
        gTodayRequested = 1;
    if (gTestEmailPending == 1)
        return;
    if (gEmailRequested == 1 && gLastProblem.len < 5)
        gEmailRequested = 0;
}
