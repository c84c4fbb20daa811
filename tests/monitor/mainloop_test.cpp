#include "monitor_support.h"

#include "monitor/fetch.h"
#include "monitor/mainloop.h"
#include "monitor/state.h"
#include "runtime/channels.h"

#include <gtest/gtest.h>

namespace {

std::string GoodLog()
{
    auto entries = Filler(60);
    entries.push_back(LogEntry("2026-03-10 10:15:03", "Backup completed successfully."));
    return LogOutput(entries);
}

void Ticks(int n)
{
    for (int i = 0; i < n; ++i)
        MainLoopTick();
}

} // namespace

TEST(MainLoop, TodayTakesThreePassesAndFallsBackToTwoHoursWhenOverdue)
{
    MonitorWorld world;
    world.SetLogOutput(GoodLog());
    gTodayRequested = 1;
    MainLoopTick(); // the wait text
    EXPECT_EQ(MonitorWorld::ReportShown(), QStringLiteral("\r\n\r\nGETTING TODAY'S TIME MACHINE LOG. Please Wait..."));
    EXPECT_EQ(gTodayLaunchPending, 1);
    EXPECT_EQ(world.LogArguments(), "");
    MainLoopTick(); // the launch
    EXPECT_EQ(gTodayPipeOpen, 1);
    MainLoopTick(); // the read
    EXPECT_NE(world.LogArguments().find("--last\n4h"), std::string::npos);
    EXPECT_EQ(gTodayPipeOpen, 0);
    EXPECT_EQ(gTodayReadNow, 0);
    EXPECT_TRUE(MonitorWorld::ReportShown().startsWith(QStringLiteral("Current Time Machine Log for last 4 hours:")));
    EXPECT_EQ(gSuccessFound, 1);

    // Read more than 7200 ticks after the stamp: the two-hour log instead.
    gTodayRequested = 1;
    Ticks(2);
    ASSERT_EQ(gTodayPipeOpen, 1);
    TestClock::AdvanceUptime(7200.0 / 60 + 1.0 + 1.0);
    MainLoopTick();
    EXPECT_NE(world.LogArguments().find("--last\n2h"), std::string::npos);
    EXPECT_TRUE(MonitorWorld::ReportShown().contains(QStringLiteral("-- LOG IS TOO LARGE TO SHOW THE WHOLE DAY --")));
    EXPECT_EQ(gShortLogMode, 0);
    EXPECT_EQ(gTodayRequested, 0);
    EXPECT_EQ(gTodayLaunchPending, 0);

    // Exactly at the limit is still in time, and a stamp of 0 never expires.
    gTodayRequested = 1;
    Ticks(2);
    TestClock::AdvanceUptime(7200.0 / 60 + 1.0);
    MainLoopTick();
    EXPECT_FALSE(MonitorWorld::ReportShown().contains(QStringLiteral("TOO LARGE")));
    gTodayRequested = 1;
    Ticks(2);
    gPipeStartTicks = 0;
    TestClock::AdvanceUptime(100000);
    MainLoopTick();
    EXPECT_FALSE(MonitorWorld::ReportShown().contains(QStringLiteral("TOO LARGE")));
}

TEST(MainLoop, YesterdayFetchAndItsOverdueReport)
{
    MonitorWorld world;
    world.SetLogOutput(GoodLog());
    gYesterdayRequested = 1;
    MainLoopTick();
    EXPECT_EQ(
        MonitorWorld::ReportShown(), QStringLiteral("\r\n\r\nGETTING YESTERDAY'S TIME MACHINE LOG. Please Wait..."));
    MainLoopTick();
    EXPECT_EQ(gYesterdayPipeOpen, 1);
    EXPECT_EQ(gPollAllowed, 0);
    MainLoopTick();
    EXPECT_TRUE(MonitorWorld::ReportShown().startsWith(QStringLiteral("Yesterday's Time Machine Log:")));
    EXPECT_EQ(gPollAllowed, 1);

    gYesterdayRequested = 1;
    Ticks(2);
    gEmailSent = 1;
    TestClock::AdvanceUptime(3600.0 / 60 + 2.0);
    MainLoopTick();
    EXPECT_EQ(MonitorWorld::ReportShown(), QStringLiteral("\r\nYesterday's log is not available\r\n"));
    EXPECT_EQ(gEmailSent, 0);
    EXPECT_EQ(gPollAllowed, 1);
    EXPECT_EQ(gYesterdayReadNow, 0);
    EXPECT_EQ(QzEof(1), -1);
}

TEST(MainLoop, DailyResetRunsOncePerNight)
{
    MonitorWorld world;
    // The latch is set before each pass; the reset clears it in hour 1, once.
    for (const auto& [time, sent] : {std::pair {"2026-03-10 00:59:59", 1}, std::pair {"2026-03-10 01:00:00", 0},
             std::pair {"2026-03-10 01:59:00", 1}, std::pair {"2026-03-10 02:00:00", 1},
             std::pair {"2026-03-11 01:10:00", 0}}) {
        TestClock::SetLocal(time);
        gEmailSent = 1;
        gPollAllowed = 0;
        MainLoopTick();
        EXPECT_EQ(gEmailSent, sent) << time;
        EXPECT_EQ(gPollAllowed, 1 - sent) << time;
        EXPECT_EQ(gDailyResetDone, std::string_view(time).substr(11, 2) == "01" ? 1 : 0) << time;
    }
    EXPECT_EQ(gPipeStartTicks, 1000 * 60 + 60);
}

TEST(MainLoop, RequestsWaitForAnOpenSheetAndTheIntroductionStillShows)
{
    MonitorWorld world;
    world.SetLogOutput(GoodLog());
    QzContainerSetStr(gIntroText, "Welcome");
    gIntroPending = 1;
    gOpenPanel = 4;
    gTodayRequested = 1;
    gYesterdayRequested = 1;
    Ticks(2);
    EXPECT_EQ(MonitorWorld::ReportShown(), QStringLiteral("\r\n\r\nWelcome"));
    EXPECT_EQ(gTodayRequested, 1);
    EXPECT_EQ(gYesterdayRequested, 1);
    EXPECT_EQ(world.LogArguments(), "");

    // Announced together: today's launch runs first and yesterday's call
    // returns at once, so the yesterday request is dropped.
    gOpenPanel = 0;
    MainLoopTick();
    EXPECT_EQ(gTodayLaunchPending, 1);
    EXPECT_EQ(gYesterdayLaunchPending, 1);
    EXPECT_EQ(
        MonitorWorld::ReportShown(), QStringLiteral("\r\n\r\nGETTING YESTERDAY'S TIME MACHINE LOG. Please Wait..."));
    MainLoopTick();
    EXPECT_EQ(gTodayPipeOpen, 1);
    EXPECT_EQ(gYesterdayPipeOpen, 0);
    EXPECT_EQ(gYesterdayLaunchPending, 0);
    MainLoopTick();
    EXPECT_TRUE(MonitorWorld::ReportShown().startsWith(QStringLiteral("Current Time Machine Log")));

    // A sheet opened while the command runs: the pass clears the open flag
    // but the fetch does nothing; the next launch reads the waiting output.
    gTodayRequested = 1;
    Ticks(2);
    gOpenPanel = 5;
    MainLoopTick();
    EXPECT_EQ(gTodayPipeOpen, 0);
    EXPECT_EQ(gTodayReadNow, 1);
    gOpenPanel = 0;
    gTodayLaunchPending = 1;
    MainLoopTick();
    EXPECT_EQ(gTodayReadNow, 0);
    EXPECT_TRUE(MonitorWorld::ReportShown().startsWith(QStringLiteral("Current Time Machine Log")));
}

TEST(MainLoop, PollTimerRequestsTodayAndDropsEmptyEmails)
{
    MonitorWorld world;
    struct Row {
        std::uint8_t todayOpen, yesterdayOpen, pollAllowed, testPending;
        const char* problem;
        std::uint8_t emailRequested;
        int todayRequested, emailKept;
    };
    for (const Row& r :
        {Row {1, 0, 1, 0, "", 1, 0, 1}, Row {0, 1, 1, 0, "", 1, 0, 1}, Row {0, 0, 1, 1, "Oops", 1, 1, 1},
            Row {0, 0, 1, 0, "Oops", 1, 1, 0}, Row {0, 0, 0, 0, "Error", 1, 0, 1}, Row {0, 0, 1, 0, "", 0, 1, 0}}) {
        gTodayPipeOpen = r.todayOpen;
        gYesterdayPipeOpen = r.yesterdayOpen;
        gPollAllowed = r.pollAllowed;
        gTestEmailPending = r.testPending;
        gLastProblem = r.problem;
        gTodayRequested = 0;
        gEmailRequested = r.emailRequested;
        PollTimerFired();
        EXPECT_EQ(gTodayRequested, r.todayRequested) << r.problem;
        EXPECT_EQ(gEmailRequested, r.emailKept) << r.problem;
    }
}
