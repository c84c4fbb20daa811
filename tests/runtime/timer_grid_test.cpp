#include "test_support.h"
#include "ui_support.h"

#include <QTimer>

namespace {

int gGridFires = 0;

std::int64_t CountGridFire(void*)
{
    ++gGridFires;
    return 0;
}

// Stays "up" while the timer falls due twice, and is answered, by the
// clock, 0.15 s into the fourth period of a 0.2 s timer started at 1000.
int AnswerLate(const QzAlertRequest&)
{
    const std::int64_t held = gQzHeldTimerFires;
    WaitFor([held] { return gQzHeldTimerFires >= held + 2; });
    TestClock::SetUptime(1000.75);
    return 0;
}

class TimerGrid : public UiTest { };

} // namespace

TEST_F(TimerGrid, AHeldTimerFiresOnceAfterTheAlertAndKeepsItsOriginalGrid)
{
    TestClock clock;
    gGridFires = 0;
    QzInstallAppDelegate();
    auto* timer = static_cast<QTimer*>(QzTimer(CountGridFire, true, 0.2));
    ASSERT_TRUE(WaitFor([] { return gGridFires >= 1; }));
    const int before = gGridFires;
    {
        const QzHookGuard<QzAlertFn> hook(gQzAlertHook, AnswerLate);
        QzAlertNote("Busy getting today's log.", "Please wait until done.");
    }
    EXPECT_EQ(gGridFires, before);
    // The catch-up fire comes once; the next is due at 1000.8, 50 ms on,
    // not a full period after the late fire.
    ASSERT_TRUE(WaitFor([before] { return gGridFires > before; }));
    EXPECT_EQ(gGridFires, before + 1);
    EXPECT_LE(timer->remainingTime(), 50);
    // From the grid point on the timer runs its full period again.
    ASSERT_TRUE(WaitFor([before] { return gGridFires > before + 1; }));
    EXPECT_EQ(timer->interval(), 200);
}
