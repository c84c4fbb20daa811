#include "app/mainloop.h"

#include "app/desktop.h"
#include "app/history_step.h"
#include "app/menu.h"
#include "app/poll.h"
#include "monitor/fetch.h"
#include "monitor/report.h"
#include "monitor/state.h"
#include "notify/dispatch.h"
#include "notify/state.h"
#include "runtime/channels.h"
#include "runtime/events.h"
#include "runtime/hooks.h"
#include "runtime/windows.h"

#include <algorithm>

namespace {

bool InTime(std::int64_t now, std::int64_t limit)
{
    return gPipeStartTicks == 0 || now <= gPipeStartTicks + limit;
}

void SetReport(const ShortString& text)
{
    QzContainerSetStr(gReport, text);
}

constexpr double kPassSeconds = 0.1;
constexpr double kPollSeconds = 1800.0;

// The pass's timer stops itself after a pass that leaves nothing to do.
std::int64_t MainLoopTimer(void* /*timer*/)
{
    MainLoopTick();
    return MainLoopHasWork() ? 0 : 1;
}

std::int64_t PollTimer(void* /*timer*/)
{
    PollTimerFired();
    return 0;
}

// A pass 0.1 s from now, and every 0.1 s after while there is work.
void RunPasses()
{
    if (!QzTimerScheduled(MainLoopTimer))
        QzTimer(MainLoopTimer, true, kPassSeconds);
}

} // namespace

bool MainLoopHasWork()
{
    const bool fetchStep = gOpenPanel == 0
        && (gTodayLaunchPending == 1 || gTodayRequested == 1 || gYesterdayLaunchPending == 1
            || gYesterdayRequested == 1);
    return gAccessCheckPending == 1 || gMenuPending == 1 || gTodayPipeOpen == 1 || gYesterdayPipeOpen == 1
        || gShowReportPending == 1 || gIntroPending == 1 || fetchStep || (gEmailRequested == 1 && gEmailStepHeld == 0);
}

void ArmMainLoop()
{
    if (MainLoopHasWork())
        RunPasses();
}

std::int64_t NextHourOneEdge(std::int64_t nowMs)
{
    return std::min(QzNextLocalHour(nowMs, 1), QzNextLocalHour(nowMs, 2));
}

void StartMainLoopTimers()
{
    ArmMainLoop();
    QzOnBeforeWaiting(ArmMainLoop);
    QzWallClockTimer(NextHourOneEdge, RunPasses);
    QzTimer(PollTimer, true, kPollSeconds);
}

int CurrentLocalHour()
{
    // The pass asks up to ten times a second; the local hour can only change at
    // a minute boundary of the wall clock, so it is formatted once a minute
    // (and again whenever the clock is set to another minute).
    static std::int64_t minute = -1;
    static int hour = 0;
    const std::int64_t now = gQzNowHook() / 60000;
    if (now != minute) {
        const ShortString clock = QzDateText("HH:mm:ss");
        const int colon = QzInstr(1, clock, ":");
        hour = static_cast<std::int16_t>(QzVal(QzLeft(clock, colon - 1)));
        minute = now;
    }
    return hour;
}

void MainLoopTick()
{
    const std::uint32_t analyses = gAnalysesDone;
    // 1. Accessibility check after start-up.
    AccessibilityCheckStep();

    // 2. Daily reset, once in the night's hour 1.
    if (CurrentLocalHour() != 1) {
        gDailyResetDone = 0;
    } else if (gDailyResetDone == 0) {
        QzSetCurrentWindow(1);
        ResetFetchState();
        StampPipeStart();
        gDailyResetDone = 1;
    }

    // 3. A pending menu choice; those of the status icon and the desktop
    // items first.
    if (gMenuPending == 1 && DesktopMenuChoice(gMenuNumber, gMenuItem))
        gMenuPending = 0;
    PendingMenuStep();

    // 4. Today's command was started: read it, or fetch two hours instead
    // when it waited too long.
    if (gTodayPipeOpen == 1) {
        const std::int64_t now = TicksNow();
        gTodayPipeOpen = 0;
        if (InTime(now, gTodayLimitTicks)) {
            gTodayReadNow = 1;
        } else {
            gTodayReadNow = 0;
            gTodayRequested = 0;
            gTodayLaunchPending = 0;
            QzClose(1);
            gShortLogMode = 1;
        }
        FetchTodayLog();
    }

    // 5. Yesterday's command was started.
    if (gYesterdayPipeOpen == 1) {
        const std::int64_t now = TicksNow();
        gYesterdayPipeOpen = 0;
        if (InTime(now, gYesterdayLimitTicks)) {
            gYesterdayReadNow = 1;
            FetchYesterdayLog();
        } else {
            gYesterdayRequested = 0;
            gYesterdayLaunchPending = 0;
            QzClose(1);
            SetReport(kCrLf + "Yesterday's log is not available" + kCrLf);
            ShowReport();
            ResetFetchState();
        }
    }

    // 6, 7. Show the report; the introduction is shown on the next pass.
    if (gShowReportPending == 1) {
        gShowReportPending = 0;
        ShowReport();
    }
    if (gIntroPending == 1) {
        gIntroPending = 0;
        gShowReportPending = 1;
        SetReport(kCrLf + kCrLf);
        QzContainerAppend(gReport, gIntroText);
    }

    // 8-11. Launch and announce the fetches, while no sheet is open.
    if (gOpenPanel == 0 && gTodayLaunchPending == 1) {
        gTodayLaunchPending = 0;
        FetchTodayLog();
        QzSetCurrentWindow(1);
    }
    if (gOpenPanel == 0 && gTodayRequested == 1) {
        gTodayRequested = 0;
        gTodayLaunchPending = 1;
        SetReport(kCrLf + kCrLf + "GETTING TODAY'S TIME MACHINE LOG. Please Wait...");
        ShowReport();
    }
    if (gOpenPanel == 0 && gYesterdayLaunchPending == 1) {
        gYesterdayLaunchPending = 0;
        FetchYesterdayLog();
        ShowReport();
    }
    if (gOpenPanel == 0 && gYesterdayRequested == 1) {
        gYesterdayRequested = 0;
        gYesterdayLaunchPending = 1;
        SetReport(kCrLf + kCrLf + "GETTING YESTERDAY'S TIME MACHINE LOG. Please Wait...");
        ShowReport();
    }

    // The status icon and the desktop notices after a check of today's log,
    // before the email's dispatch adds to the problem text.
    DesktopStep();

    // 12. Email dispatch; then an analysis of this pass goes into the
    // history, with whether its mail went out.
    const bool mailing = gEmailRequested == 1 && gEmailSent == 0 && gEmailStepHeld == 0;
    EmailDispatchStep();
    if (gAnalysesDone != analyses)
        RecordAnalysisStep(mailing && gEmailSent == 1 && gEmailDelivered == 1);
}
