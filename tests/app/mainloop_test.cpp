// The main loop's pass, step by step on the test clock, and its timers: real timers and a real event loop.

#include "../monitor/monitor_support.h"
#include "runtime/ui_support.h"

#include "app/mainloop.h"
#include "app/state.h"
#include "monitor/state.h"
#include "runtime/widgets_p.h"

#include <QElapsedTimer>

#include <unicode/timezone.h>

namespace {

std::string GoodLog()
{
    auto entries = Filler(60);
    entries.push_back(LogEntry("2026-03-10 10:15:03", "Backup completed successfully."));
    return LogOutput(entries);
}

// The window program's timers, from start to the end of the test.
struct Timers {
    Timers()
    {
        QzInstallAppDelegate();
        StartMainLoopTimers();
    }
    ~Timers()
    {
        QzResetWindowState();
        gMainWindowBuilt = 0;
    }
};

bool PassTimerRunning()
{
    const QList<QTimer*> timers = QzDelegateObject()->findChildren<QTimer*>();
    return std::any_of(timers.begin(), timers.end(), [](QTimer* t) { return t->isActive() && t->interval() == 100; });
}

std::int64_t At(const char* localTime)
{
    TestClock::SetLocal(localTime);
    return gQzNowHook();
}

} // namespace

// The daily reset wakes the pass at the edges of hour 1 without its timer running; then, idle, a request set anywhere
// runs a pass 0.1 s later, passes follow while the fetch has work, and the timer stops.
TEST(MainLoopTimers, TheDailyResetWakesInHourOneAndAPendingRequestRunsWithinAPass)
{
    MonitorWorld world;
    const std::pair<const char*, const char*> edges[] = {{"2026-03-10 00:59:59", "2026-03-10 01:00:00"},
        {"2026-03-10 01:00:00", "2026-03-10 02:00:00"}, {"2026-03-10 01:59:59", "2026-03-10 02:00:00"},
        {"2026-03-10 02:00:00", "2026-03-11 01:00:00"}, {"2026-03-31 23:30:00", "2026-04-01 01:00:00"}};
    for (const auto& [now, edge] : edges)
        EXPECT_EQ(NextHourOneEdge(At(now)), At(edge)) << now;
    // New York (times in UTC): hour 1 twice on 1 November ends at 02:00 EST; on 8 March it ends at 03:00 EDT.
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("America/New_York"));
    const std::pair<const char*, const char*> newYork[] = {{"2026-11-01 04:30:00", "2026-11-01 05:00:00"},
        {"2026-11-01 05:00:00", "2026-11-01 07:00:00"}, {"2026-03-08 06:30:00", "2026-03-08 07:00:00"}};
    for (const auto& [now, edge] : newYork)
        EXPECT_EQ(NextHourOneEdge(At(now)), At(edge)) << now;
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));

    world.Run({{"sent=1 poll=0 reset=0"}}); // cleared at the end of the last hour 1
    At("2026-03-10 00:59:59");
    Timers timers;
    At("2026-03-10 01:00:00");
    ASSERT_TRUE(WaitFor([] { return gEmailSent == 0; }));
    world.Run({{"sent==0 poll==1 reset==1"}});
    EXPECT_FALSE(PassTimerRunning());
    world.SetLogOutput(LogOutput(Filler(60)));
    QElapsedTimer since;
    since.start();
    world.Run({{"today=1"}});
    ASSERT_TRUE(WaitFor([] { return gTodayLaunchPending == 1; }));
    EXPECT_GE(since.elapsed(), 95);
    EXPECT_LT(since.elapsed(), 2000);
    ASSERT_TRUE(WaitFor([] { return !PassTimerRunning(); }, 10000));
    world.Run({{"open==0 launch==0", "Current Time Machine Log for last 4 hours:"}});
}

TEST(MainLoop, DailyResetPollFetchesOverdueFetchesAndRequestsThatWaitForASheet)
{
    MonitorWorld world;
    world.SetLogOutput(GoodLog());
    QzContainerSetStr(gIntroText, "Welcome");
    // The latch is set before each pass; the reset clears it in hour 1, once.
    world.Run({{"clock=59 sent=1 poll=0 Tick() sent==1 poll==0 reset==0"},
        {"clock=60 sent=1 poll=0 Tick() sent==0 poll==1 reset==1"},
        {"clock=119 sent=1 poll=0 Tick() sent==1 poll==0 reset==1"},
        {"clock=120 sent=1 poll=0 Tick() sent==1 poll==0 reset==0"},
        {"clock=1510 sent=1 poll=0 Tick() sent==0 poll==1 reset==1 stamp==60060"}});
    // The poll timer: the state, then today's request and the email request.
    world.Run({{"open=1 poll=1 requested=1 Poll() today==0 requested==1"},
        {"open=0 yOpen=1 Poll() today==0 requested==1"}, {"yOpen=0 testEmail=1 problem=4 Poll() today==1 requested==1"},
        {"today=0 testEmail=0 Poll() today==1 requested==0"},
        {"today=0 poll=0 problem=5 requested=1 Poll() today==0 requested==1"},
        {"poll=1 problem=0 requested=0 Poll() today==1 requested==0"}});
    // Three passes fetch today's log. Read more than 7200 ticks after the stamp: the two-hour log instead; exactly
    // at the limit is still in time, and a stamp of 0 never expires.
    world.Run({{"clock=720 today=1 Tick() launch==1 ran:-", "\r\n\r\nGETTING TODAY'S TIME MACHINE LOG. Please Wait..."},
        {"Tick() open==1"},
        {"Tick() ran:4h open==0 readNow==0 success==1", "Current Time Machine Log for last 4 hours:"},
        {"today=1 Tick() Tick() open==1 wait=122 Tick() ran:2h short==0 today==0 launch==0",
            "Current Time Machine Log for last 4 hours:\r\n\r\n-- LOG IS TOO LARGE TO SHOW THE WHOLE DAY --"},
        {"today=1 Tick() Tick() wait=121 Tick() ran:4h", "!TOO LARGE"},
        {"today=1 Tick() Tick() stamp=0 wait=100000 Tick() ran:4h", "!TOO LARGE"}});
    // Yesterday's overdue command gives no log at all.
    world.Run({{"yesterday=1 Tick()", "\r\n\r\nGETTING YESTERDAY'S TIME MACHINE LOG. Please Wait..."},
        {"Tick() yOpen==1 poll==0"}, {"Tick() poll==1", "Yesterday's Time Machine Log:"},
        {"yesterday=1 Tick() Tick() sent=1 wait=62 Tick() sent==0 poll==1 yReadNow==0 eof==-1",
            "\r\nYesterday's log is not available\r\n"}});
    // With a sheet open the requests wait and the introduction still shows; announced together, today's launch runs
    // first and yesterday's is dropped. A sheet opened while the command runs: the fetch waits for the next launch.
    world.Run({{"intro=1 panel=4 today=1 yesterday=1 Tick() Tick() today==1 yesterday==1", "\r\n\r\nWelcome"},
        {"panel=0 Tick() launch==1 yLaunch==1", "\r\n\r\nGETTING YESTERDAY'S TIME MACHINE LOG. Please Wait..."},
        {"Tick() open==1 yOpen==0 yLaunch==0"}, {"Tick()", "Current Time Machine Log"},
        {"today=1 Tick() Tick() panel=5 Tick() open==0 readNow==1"},
        {"panel=0 launch=1 Tick() readNow==0", "Current Time Machine Log"}});
}
