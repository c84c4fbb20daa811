// Commands that never end, and the stale-command clean-up's choice of
// what to kill. The limits are shortened through their state variables so
// that each case takes about a second.

#include "monitor_support.h"

#include "monitor/fetch.h"
#include "monitor/state.h"
#include "runtime/channels.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kT = "2026-03-10 10:15:03";

// Lines of half a day, a problem and a success among them; then the stub
// stalls with its output still open.
std::string HalfADayThenStall(const MonitorWorld& world)
{
    std::vector<std::string> entries = Filler(3000);
    entries[10] = LogEntry(kT, "Error: (-36) SrcErr:NO Copying /Users/sam/a.txt");
    entries[20] = LogEntry(kT, "Backup completed successfully.");
    const QString file = world.sandbox.Write(QStringLiteral("half-a-day"), LogOutput(entries));
    return "printf '%s\\n' \"$@\" >> '" + world.sandbox.path().toStdString() + "/log-args'\ncat '" + file.toStdString()
        + "'\nexec sleep 1000";
}

struct ShortLimits {
    ShortLimits()
    {
        gTodayLimitTicks = 30;
        gYesterdayLimitTicks = 30;
        gPsLimitTicks = 30;
    }
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

TEST(HungCommands, TodaysStalledLogEndsAsOverdueWithWhatTheTwoHoursGave)
{
    MonitorWorld world;
    ShortLimits limits;
    world.sandbox.Stub(QStringLiteral("log"), HalfADayThenStall(world));
    world.FetchToday();
    // The four-hour command was killed at its limit, the two-hour command
    // fetched at once and killed at its own limit; the report holds what the
    // pipeline passed on before the stall.
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
    // Every line but the last names the innocent process, each in a way
    // that must not count: the text elsewhere in the arguments, the shell
    // running a pipeline, another user's command, another subcommand, and
    // the continuation of a line longer than one read.
    const std::vector<std::string> rows = {me + " " + i + " vim notes-on-log show --last 4h",
        me + " " + i + " /bin/sh -c log show --last 4h --predicate x", other + " " + i + " log show --last 4h",
        me + " " + i + " /usr/bin/log showx --", me + " " + i + " /usr/bin/xlog show --",
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
