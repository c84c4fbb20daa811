#include "app/busy.h"

#include "monitor/state.h"
#include "runtime/events.h"

namespace {

const ShortString kPleaseWait = "Please wait until done.";

} // namespace

void TodayBusyAlert()
{
    QzAlertNote("Busy getting today's log.", kPleaseWait);
}

void YesterdayBusyAlert()
{
    QzAlertNote("Busy getting yesterday's log.", kPleaseWait);
}

bool RefuseWhileFetching()
{
    if (gTodayPipeOpen == 1) {
        TodayBusyAlert();
        return true;
    }
    if (gYesterdayPipeOpen == 1) {
        YesterdayBusyAlert();
        return true;
    }
    return false;
}
