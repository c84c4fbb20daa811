// The pass's timers: real timers and a real event loop, on the test clock.

#include "../monitor/monitor_support.h"

#include "app/mainloop.h"
#include "app/state.h"
#include "monitor/state.h"
#include "runtime/events.h"
#include "runtime/testing.h"
#include "runtime/widgets_p.h"

#include <QElapsedTimer>
#include <QEventLoop>

#include <unicode/timezone.h>

namespace {

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

// Runs the event loop as the program does (waiting for events between
// them) until the condition holds or the time is up.
bool RunLoopUntil(const std::function<bool()>& condition, int milliseconds)
{
    QEventLoop loop;
    QTimer look;
    const QDeadlineTimer deadline(milliseconds);
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (condition() || deadline.hasExpired())
            loop.quit();
    });
    look.start(5);
    loop.exec();
    return condition();
}

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

// Idle, nothing wakes the pass; a request set anywhere runs a pass 0.1 s
// later, passes follow while the fetch has work, and then the timer stops.
TEST(MainLoopTimers, APendingRequestRunsWithinAPassAndTheTimerStopsWhenIdle)
{
    MonitorWorld world;
    world.SetLogOutput(LogOutput(Filler(60)));
    Timers timers;
    EXPECT_FALSE(PassTimerRunning());
    QElapsedTimer since;
    since.start();
    world.Run({{"poll=1 today=1"}});
    ASSERT_TRUE(RunLoopUntil([] { return gTodayLaunchPending == 1; }, 5000));
    EXPECT_GE(since.elapsed(), 95);
    EXPECT_LT(since.elapsed(), 2000);
    ASSERT_TRUE(RunLoopUntil([] { return !PassTimerRunning(); }, 10000));
    world.Run({{"open==0 launch==0", "Current Time Machine Log for last 4 hours:"}});
}

// The pass runs at each start and end of hour 1 with nothing else pending,
// so the daily reset happens in hour 1 without the pass's timer running.
TEST(MainLoopTimers, TheDailyResetWakesAtTheEdgesOfHourOne)
{
    MonitorWorld world;
    const std::pair<const char*, const char*> edges[] = {{"2026-03-10 00:59:59", "2026-03-10 01:00:00"},
        {"2026-03-10 01:00:00", "2026-03-10 02:00:00"}, {"2026-03-10 01:59:59", "2026-03-10 02:00:00"},
        {"2026-03-10 02:00:00", "2026-03-11 01:00:00"}, {"2026-03-31 23:30:00", "2026-04-01 01:00:00"}};
    for (const auto& [now, edge] : edges)
        EXPECT_EQ(NextHourOneEdge(At(now)), At(edge)) << now;
    // New York (times in UTC): hour 1 twice on 1 November begins at its
    // first time and ends at 02:00 EST; on 8 March hour 2 is skipped and
    // hour 1 ends at 03:00 EDT.
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
    ASSERT_TRUE(RunLoopUntil([] { return gEmailSent == 0; }, 5000));
    world.Run({{"sent==0 poll==1 reset==1"}});
    EXPECT_FALSE(PassTimerRunning());
}
