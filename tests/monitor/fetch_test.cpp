// Commands, launches, stalls and stale-command kills; analyses are checked on the fixtures.

#include "monitor_support.h"

#include "monitor/fetch.h"
#include "monitor/state.h"
#include "runtime/channels.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kGoodLog = LogOutput({LogEntry("2026-03-10 10:15:03", "Backup completed successfully.")});

// Half a day of lines with a problem and a success, then a stall with the output open.
std::string HalfADayThenStall(const MonitorWorld& world)
{
    std::vector<std::string> entries = Filler(3000);
    entries[10] = LogEntry("2026-03-10 10:15:03", "Error: (-36) SrcErr:NO Copying /Users/sam/a.txt");
    entries[20] = LogEntry("2026-03-10 10:15:03", "Backup completed successfully.");
    const QString file = world.sandbox.Write(QStringLiteral("half-a-day"), LogOutput(entries));
    return "printf '%s\\n' \"$@\" >> '" + world.sandbox.path().toStdString() + "/log-args'\ncat '" + file.toStdString()
        + "'\nexec sleep 1000";
}

// Limits of half a second, so that each stalled case takes about a second.
struct ShortLimits {
    ShortLimits() { gTodayLimitTicks = gYesterdayLimitTicks = gPsLimitTicks = 30; }
    ~ShortLimits()
    {
        gTodayLimitTicks = 7200;
        gYesterdayLimitTicks = 3600;
        gPsLimitTicks = 300;
    }
};

pid_t Sleeper()
{
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGTERM, SIG_DFL);
        for (;;)
            pause();
    }
    return pid;
}

} // namespace

TEST(Fetch, TodaysCommandLaunchesThenIsReadAndShortModeReadsAtOnce)
{
    EXPECT_EQ(TodayCommand(false),
        SS("log show --last 4h --predicate 'subsystem == \"com.apple.TimeMachine\"' --info "
           "| grep  'upd: (' | cut -c 1-19,140-999"));
    EXPECT_EQ(TodayCommand(true),
        SS("log show --last 2h --predicate 'subsystem == \"com.apple.TimeMachine\"' --info | "
           "grep 'upd: (' | cut -c 1-19,140-999"));
    MonitorWorld world;
    world.SetLogOutput(kGoodLog);
    FetchTodayLog();
    EXPECT_EQ(gTodayPipeOpen, 1);
    EXPECT_EQ(gPipeStartTicks, 1000 * 60 + 60);
    EXPECT_EQ(gLogLine, SS(""));

    // While the command runs a call only resets; with a sheet open nothing changes.
    gLastProblem = gProblemFolder = "old";
    gErrorFound = 1;
    gPollAllowed = 0;
    FetchTodayLog();
    EXPECT_EQ(gLastProblem, SS(""));
    EXPECT_EQ(gProblemFolder, SS(""));
    EXPECT_EQ(gErrorFound, 0);
    EXPECT_EQ(gPollAllowed, 1);
    gOpenPanel = 4;
    gLastProblem = "kept";
    FetchTodayLog();
    EXPECT_EQ(gLastProblem, SS("kept"));
    gOpenPanel = 0;

    gTodayPipeOpen = 0;
    gTodayReadNow = 1;
    FetchTodayLog();
    EXPECT_EQ(gTodayReadNow, 0);
    EXPECT_NE(world.LogArguments().find("--last\n4h\n--predicate\nsubsystem == \"com.apple.TimeMachine\"\n--info"),
        std::string::npos);

    // Short mode launches the two-hour command and reads it in one call.
    gShortLogMode = 1;
    gPipeStartTicks = 5;
    FetchTodayLog();
    EXPECT_EQ(gShortLogMode, 0);
    EXPECT_EQ(gTodayPipeOpen, 0);
    EXPECT_EQ(gPipeStartTicks, 5);
    EXPECT_NE(world.LogArguments().find("--last\n2h\n"), std::string::npos);
    EXPECT_EQ(MonitorWorld::Report().rfind("Current Time Machine Log for last 4 hours:\r\n\r\n"
                                           "-- LOG IS TOO LARGE TO SHOW THE WHOLE DAY --\r\n"
                                           "             This report is for the last two hours         \r\n\r\n",
                  0),
        0u);
}

TEST(Fetch, YesterdaysCommandLaunchesThenIsReadUnlessTodaysRuns)
{
    EXPECT_EQ(
        YesterdayCommand(), SS("log show --predicate 'subsystem == \"com.apple.TimeMachine\"' --info --yesterday"));
    MonitorWorld world;
    world.SetLogOutput(kGoodLog);
    gErrorFound = 1;
    gLastProblem = gLastSuccessText = "old";
    FetchYesterdayLog();
    EXPECT_EQ(gYesterdayPipeOpen, 1);
    EXPECT_EQ(gPollAllowed, 0);
    EXPECT_EQ(gErrorFound, 0);
    EXPECT_EQ(gLastProblem, SS(""));
    EXPECT_EQ(gLastSuccessText, SS(""));
    EXPECT_EQ(gPipeStartTicks, 1000 * 60 + 60);
    gYesterdayPipeOpen = 0;
    gYesterdayReadNow = 1;
    FetchYesterdayLog();
    EXPECT_NE(world.LogArguments().find("--info\n--yesterday"), std::string::npos);
    EXPECT_EQ(gYesterdayReadNow, 0);
    EXPECT_EQ(gPollAllowed, 1);
    EXPECT_EQ(QzEof(1), -1);

    gTodayPipeOpen = 1;
    FetchYesterdayLog();
    EXPECT_EQ(gYesterdayPipeOpen, 0);
    EXPECT_EQ(gPollAllowed, 1);
}

TEST(Fetch, YesterdaysAnalysisReadsAFileOnItsChannelAsItReadsTheCommand)
{
    MonitorWorld world;
    for (const char* name : {"yesterday-with-problems.log", "garbled.log", "cases/empty.log"}) {
        const QString fixture = FixturePath(QString::fromLatin1(name));
        world.SetLogOutput(ReadFile(fixture));
        world.FetchYesterday();
        const std::string piped = MonitorWorld::Report();
        QzOpenInput(1, 0, fixture, 0);
        gYesterdayReadNow = 1;
        FetchYesterdayLog();
        EXPECT_EQ(MonitorWorld::Report(), piped) << name;
    }
}

TEST(HungCommands, TodaysStalledLogEndsAsOverdueWithWhatTheTwoHoursGave)
{
    MonitorWorld world;
    ShortLimits limits;
    world.sandbox.Stub(QStringLiteral("log"), HalfADayThenStall(world));
    world.FetchToday();
    // Both commands killed at their limits; the report holds what two hours gave.
    const std::string args = world.LogArguments();
    EXPECT_NE(args.find("--last\n4h\n"), std::string::npos);
    EXPECT_NE(args.find("--last\n2h\n"), std::string::npos);
    const std::string report = MonitorWorld::Report();
    EXPECT_EQ(report.rfind("Current Time Machine Log for last 4 hours:\r\n\r\n-- LOG IS TOO LARGE", 0), 0u);
    EXPECT_NE(report.find("SrcErr:NO Copying /Users/sam/a.txt"), std::string::npos);
    EXPECT_EQ(gSuccessFound, 1);
    EXPECT_EQ(gTooFewLines, 0);
    EXPECT_EQ(gShortLogMode, 0);
    EXPECT_EQ(QzEof(1), -1);
}

TEST(HungCommands, YesterdaysStalledLogIsNotAvailable)
{
    MonitorWorld world;
    ShortLimits limits;
    world.sandbox.Stub(QStringLiteral("log"), HalfADayThenStall(world));
    gYesterdayRequested = 1;
    world.FetchYesterday();
    EXPECT_EQ(MonitorWorld::Report(), "\r\nYesterday's log is not available\r\n");
    EXPECT_EQ(gYesterdayRequested, 0);
    EXPECT_EQ(gPollAllowed, 1);
    EXPECT_EQ(gLastProblem, SS(""));
}

TEST(HungCommands, AProcessListThatNeverEndsStopsAtItsLimit)
{
    MonitorWorld world;
    ShortLimits limits;
    world.sandbox.Stub(QStringLiteral("ps"), "echo '  501 1 /sbin/launchd'\nexec sleep 1000");
    FetchTodayLog();
    EXPECT_EQ(gTodayPipeOpen, 1);
    EXPECT_EQ(gLogLine, SS(""));
    QzClose(1);
}

TEST(HungCommands, OnlyThisUsersLogShowCommandIsKilled)
{
    MonitorWorld world;
    const pid_t innocent = Sleeper();
    const pid_t stale = Sleeper();
    const std::string me = std::to_string(getuid());
    const std::string other = std::to_string(getuid() + 1);
    const std::string i = std::to_string(innocent);
    // Each row but the stale one names the innocent process in a way that must not count.
    const std::vector<std::string> rows = {me + " " + i + " vim notes-on-log show --last 4h",
        me + " " + i + " /bin/sh -c log show --last 4h --predicate x", other + " " + i + " log show --last 4h",
        me + " " + i + " /usr/bin/log showx --", me + " " + i + " /usr/bin/xlog show --",
        "garbage without a number log show --x", me + " " + i,
        me + " " + i + " editor " + std::string(246 - me.size() - i.size(), 'x') + me + " " + i + " log show --x",
        "  " + me + " " + std::to_string(stale) + " /usr/bin/log show --last 4h --predicate x",
        me + " " + i + " log show --last 4h"};
    std::string script;
    for (const std::string& row : rows)
        script += "echo '" + row + "'\n";
    world.sandbox.Stub(QStringLiteral("ps"), script);
    KillStaleLogCommand();

    int status = 0;
    pid_t done = 0;
    for (int n = 0; n < 1000 && done == 0; ++n) {
        done = waitpid(stale, &status, WNOHANG);
        if (done == 0)
            usleep(10000);
    }
    EXPECT_EQ(done, stale);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(waitpid(innocent, &status, WNOHANG), 0) << "an unrelated process was killed";
    kill(innocent, SIGKILL);
    waitpid(innocent, &status, 0);
    if (done == 0) {
        kill(stale, SIGKILL);
        waitpid(stale, &status, 0);
    }
}
