// Commands, launches, stalls and stale-command kills; analyses are checked on the fixtures.

#include "monitor_support.h"

#include "app/mainwindow.h"
#include "monitor/fetch.h"
#include "monitor/state.h"
#include "runtime/channels.h"
#include "runtime/state.h"

namespace {

const char* const kFromTwoHours = "Current Time Machine Log for last 4 hours:\r\n\r\n-- LOG IS TOO LARGE TO SHOW THE "
                                  "WHOLE DAY --\r\n             This report is for the last two hours         \r\n\r\n";

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

TEST(Fetch, CommandsLaunchThenAreRead)
{
    EXPECT_EQ(TodayCommand(false),
        SS("log show --last 4h --predicate 'subsystem == \"com.apple.TimeMachine\"' --info "
           "| grep  'upd: (' | cut -c 1-19,140-999"));
    EXPECT_EQ(TodayCommand(true),
        SS("log show --last 2h --predicate 'subsystem == \"com.apple.TimeMachine\"' --info | "
           "grep 'upd: (' | cut -c 1-19,140-999"));
    EXPECT_EQ(
        YesterdayCommand(), SS("log show --predicate 'subsystem == \"com.apple.TimeMachine\"' --info --yesterday"));
    MonitorWorld world;
    world.SetLogOutput(LogOutput({LogEntry("2026-03-10 10:15:03", "Backup completed successfully.")}));
    // While a command runs a call only resets; with a sheet open nothing changes.
    world.Run({{"Today() open==1 stamp==60060 line==0"},
        {"problem=3 folder=3 error=1 poll=0 Today() problem==0 folder==0 error==0 poll==1"},
        {"panel=4 problem=4 Today() problem==4 panel=0"},
        {"readNow=1 Today() readNow==0 ran:4h", "Current Time Machine Log for last 4 hours:\r\n\r\n2026"}});
    EXPECT_NE(world.LogArguments().find("--last\n4h\n--predicate\nsubsystem == \"com.apple.TimeMachine\"\n--info"),
        std::string::npos);
    world.Run({{"short=1 stamp=5 open=0 Today() short==0 open==0 stamp==5 ran:2h", kFromTwoHours},
        {"error=1 successText=3 Yesterday() yOpen==1 poll==0 error==0 successText==0 stamp==60060"},
        {"yReadNow=1 Yesterday() yReadNow==0 poll==1 eof==-1 ran:--yesterday", "Yesterday's Time Machine Log:"},
        {"open=1 yOpen=0 Yesterday() yOpen==0 poll==1"}});
    // Building the window and its report area again keeps them and what they show.
    ShowMainWindow(false);
    BuildReportArea();
    world.Run({{"", "Yesterday's Time Machine Log:"}});
}

// Limits of half a second: each stalled command is killed after about a second.
TEST(HungCommands, StalledCommandsEndAtTheirLimits)
{
    MonitorWorld world;
    // Half a day of lines with a success, then a stall with the output open.
    std::vector<std::string> entries = Filler(3000);
    entries[20] = LogEntry("2026-03-10 10:15:03", "Backup completed successfully.");
    world.SetLogOutput(LogOutput(entries), "exec sleep 1000");
    // Today's: both commands killed, the report holds what two hours gave.
    world.Run({{"todayLimit=30 yesterdayLimit=30 psLimit=30"},
        {"Today() open=0 readNow=1 Today() ran:2h success==1 few==0 short==0 eof==-1", kFromTwoHours},
        {"yesterday=1 Yesterday() yOpen=0 yReadNow=1 Yesterday() yesterday==0 poll==1 problem==0",
            "\r\nYesterday's log is not available\r\n"}});
    world.sandbox.Stub(QStringLiteral("ps"), "echo '  501 1 /sbin/launchd'\nexec sleep 1000");
    world.Run({{"Today() open==1 line==0"}});
}

// Only a stale log command of this user is killed: one left to the system (itself, or the shell running its
// pipeline) or running longer than any live fetch may; never another running copy's, nor the program's own.
TEST(HungCommands, OnlyThisUsersStaleLogShowCommandIsKilled)
{
    MonitorWorld world;
    const pid_t innocent = Sleeper();
    const std::string me = std::to_string(getuid());
    const std::string other = std::to_string(getuid() + 1);
    const std::string i = std::to_string(innocent);
    QzPrestartPipe("exec sleep 1000"); // a command of the program's own, started ahead
    const std::string own = std::to_string(gQzPrestarted.pid);
    // Rows "uid pid ppid elapsed command"; 70 and 71 are the shells of two fetches, 71's left to the system.
    const std::string rows = me + " 70 60 00:03 /bin/sh -c log show --last 4h | grep\n" + me
        + " 71 1 00:03 /bin/sh -c log show --last 4h | grep\n" + me + " " + i + " 1 9:00 vim notes-on-log show --x\n"
        + other + " " + i + " 1 9:00 log show --last 4h\n" + me + " " + i + " 1 9:00 /usr/bin/log showx --\n" + me + " "
        + i + " 1 9:00 /usr/bin/xlog show --\n" + "garbage 1 9:00 log show --x\n" + me + " " + i + " 1\n" + me + " " + i
        + " 1 9:00 editor " + std::string(239 - me.size() - i.size(), 'x') + me + " " + i + " 1 9:00 log show --x\n"
        + me + " " + own + " 1 59:00 /usr/bin/log show --last 4h\n" + me + " " + i
        + " 70 01:59 log show --last 4h --predicate x\n";
    for (const char* stale : {" 71 00:03 log show --last 4h", " 70 1-00:00:05 log show --x"}) {
        const pid_t pid = Sleeper();
        world.sandbox.Stub(
            QStringLiteral("ps"), "cat <<'EOF'\n" + rows + me + " " + std::to_string(pid) + stale + "\nEOF");
        KillStaleLogCommand();
        int status = 0;
        for (int n = 0; n < 1000 && waitpid(pid, &status, WNOHANG) == 0; ++n)
            usleep(10000);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << stale;
        if (!WIFSIGNALED(status))
            Killed(pid);
    }
    QzDiscardPrestartedPipe();
    EXPECT_TRUE(Killed(innocent)) << "an unrelated process was killed";
}
