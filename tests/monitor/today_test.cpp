#include "monitor_support.h"

#include "app/settings.h"
#include "app/state.h"
#include "monitor/fetch.h"
#include "monitor/state.h"
#include "runtime/channels.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kHeading = "Current Time Machine Log for last 4 hours:\r\n\r\n";
const std::string kNoErrors = "\r\nNo Time Machine Errors to report in the current log.";
const std::string kNoSuccessBlock = "\r\n\r\nNo successful backups reported in the current log\r\n";
const std::string kT = "2026-03-10 10:15:03";

std::string SuccessBlock(const std::string& cutLine)
{
    return "\r\n\r\nLast Successful Backup Message:\r\n" + cutLine + "\r\n\r\n";
}

// A four-hour log of `total` backupd lines: the given entries, then filler.
std::string TodayLog(std::vector<std::string> entries, int total = 60)
{
    const auto filler = Filler(total - static_cast<int>(entries.size()));
    entries.insert(entries.end(), filler.begin(), filler.end());
    // Other processes of the subsystem never reach the analysis.
    entries.push_back(LogEntry(kT, "Error: this is not backupd", "General", "SystemUIServer"));
    return LogOutput(entries);
}

} // namespace

TEST(TodayLog, ErrorFreeLogWithSuccessAndTheFortyNineLineBoundary)
{
    const std::string success = "Backup completed successfully.";
    const std::vector<std::string> entries = {LogEntry(kT, "Starting automatic backup"),
        LogEntry(kT, "Backing up to /dev/disk3s2: /Volumes/Backup/Backups.backupdb"), LogEntry(kT, success)};
    {
        MonitorWorld world;
        gEmailSent = 1;
        gEmailRequested = 1;
        world.SetLogOutput(TodayLog(entries, 49));
        world.FetchToday();
        const std::string s = Cut(kT, success);
        EXPECT_EQ(MonitorWorld::Report(), kHeading + s + "\r\n" + kNoErrors + SuccessBlock(s) + "\r\n" + "\r\n");
        EXPECT_EQ(MonitorWorld::ReportShown().toStdString(), MonitorWorld::Report());
        EXPECT_EQ(MonitorWorld::Status(), QString());
        EXPECT_EQ(gLastProblem, SS(""));
        EXPECT_EQ(gLastSuccessText, SS(SuccessBlock(s)));
        EXPECT_EQ(gEmailRequested, 0);
        EXPECT_EQ(gEmailSent, 0);
        EXPECT_EQ(gDriveOffline, 0);
        EXPECT_EQ(gSuccessFound, 1);
        EXPECT_EQ(gLastSuccessLineNo, 3);
        EXPECT_EQ(gPollAllowed, 1);
        EXPECT_EQ(QzEof(1), -1); // the command was read to its end and closed
        // The success was recorded in the settings file at once.
        EXPECT_EQ(ReadLastBackupDay(), 69);
        EXPECT_NE(world.LogArguments().find("--last\n4h\n--predicate\nsubsystem == \"com.apple.TimeMachine\"\n--info"),
            std::string::npos);
    }
    {
        // No output at all: one empty read, nothing after the heading; with
        // neither problem nor success the no-success text is set last.
        MonitorWorld world;
        world.SetLogOutput("");
        world.FetchToday();
        EXPECT_EQ(gLineNo, 1);
        EXPECT_EQ(gTooFewLines, 1);
        EXPECT_EQ(MonitorWorld::Report(), kHeading + kNoSuccessBlock + "\r\n" + "\r\n");
        EXPECT_EQ(MonitorWorld::Status(), QStringLiteral("No successful backups reported in the current log"));
    }
}

TEST(TodayLog, OfflineDriveReplacesTheReportAndCarriesOver)
{
    MonitorWorld world;
    gEmailNotifyOn = 1;
    world.SetLogOutput(
        TodayLog({LogEntry(kT, "Starting automatic backup"), LogEntry(kT, "Backup failed with error: 19")}));
    world.FetchToday();
    EXPECT_EQ(MonitorWorld::Report(), "Backup drive offline" + kNoSuccessBlock + "\r\n" + "\r\n");
    EXPECT_EQ(MonitorWorld::Status(), QStringLiteral("Backup drive offline"));
    EXPECT_EQ(gLastProblem, SS("Backup drive offline"));
    EXPECT_EQ(gDriveOffline, 1);
    EXPECT_EQ(gBackupFailed, 0);
    EXPECT_EQ(gEmailRequested, 1);
    EXPECT_EQ(gLastFailureLineNo, 2);

    // The next log has a problem but no "Backing up to": still offline.
    gEmailRequested = 0;
    gEmailSent = 1;
    world.SetLogOutput(TodayLog({LogEntry(kT, "Error: (-36) SrcErr:NO Copying /Users/sam/notes.txt")}));
    world.FetchToday();
    EXPECT_EQ(MonitorWorld::Report(), "Backup drive offline" + kNoSuccessBlock + "\r\n" + "\r\n");
    EXPECT_EQ(gEmailRequested, 0); // the latch holds the repeat back

    // A backup that starts clears it; the offline line stays in the report.
    const std::string offline = "Not starting scheduled Time Machine backup: Backup destination not mounted";
    const std::string start = "Backing up to /dev/disk3s2: /Volumes/Backup/Backups.backupdb";
    world.SetLogOutput(TodayLog({LogEntry(kT, offline), LogEntry(kT, start)}));
    world.FetchToday();
    EXPECT_EQ(gDriveOffline, 0);
    EXPECT_EQ(gFailureText, SS(""));
    EXPECT_EQ(MonitorWorld::Report(),
        kHeading + Cut(kT, offline) + "\r\n\r\n" + kNoErrors + kNoSuccessBlock + "\r\n" + "\r\n");
    EXPECT_EQ(gLastProblem, SS("No successful backups reported in the current log"));
    EXPECT_EQ(gProblemFolder, SS("No successful backups reported in the current log and no problems reported."));

    // Busy or too-early lines are not offline reports.
    world.SetLogOutput(TodayLog({LogEntry(kT, "Not starting scheduled Time Machine backup: Backup already running"),
        LogEntry(kT, "Not starting scheduled Time Machine backup - Less than 10 minutes since last backup")}));
    world.FetchToday();
    EXPECT_EQ(gDriveOffline, 0);
    EXPECT_EQ(MonitorWorld::Report(), kHeading + kNoErrors + kNoSuccessBlock + "\r\n" + "\r\n");

    // Unmounting the disk mid-backup counts as offline, with a problem line.
    world.SetLogOutput(TodayLog({LogEntry(kT, "Stopping backup to allow disk to be unmounted or ejected."),
        LogEntry(kT, "Error: backup disk is gone")}));
    world.FetchToday();
    EXPECT_EQ(MonitorWorld::Report(), "Backup drive offline" + kNoSuccessBlock + "\r\n" + "\r\n");
    EXPECT_EQ(gFailureText, SS("Backup Drive Offline"));
}

TEST(TodayLog, FailuresSpotlightAndTheLastErrorText)
{
    MonitorWorld world;
    const std::string failed = "Backup failed with error: 11";
    const std::string importer = "Importer start failed for /Volumes/Backup";
    const std::string errorLine = "Error: (-50) Unable to read /Users/sam/Library/Caches/x.db";
    world.SetLogOutput(TodayLog({LogEntry(kT, importer), LogEntry(kT, errorLine), LogEntry(kT, failed)}));
    world.FetchToday();
    const std::string f = Cut(kT, failed);
    const std::string e = Cut(kT, errorLine);
    // A failure with another code is copied twice: it holds "error" too.
    const std::string read
        = kHeading + Cut(kT, importer) + "\r\n\r\n" + e + "\r\n\r\n" + f + "\r\n\r\n" + f + "\r\n\r\n";
    const std::string note
        = "\r\n\r\n     ************ NOTE ************\r\n"
          "Your Time Machine Backup drive may be conflicting with Spotlight Search indexing.\r\n\r\n"
          "Click on the Help Button and find \xE2\x80\x9CImporter Start failed\xE2\x80\x9D, for help on "
          "this topic.\r\n";
    EXPECT_EQ(MonitorWorld::Report(), read + note + kNoSuccessBlock + "\r\n" + "\r\n");
    EXPECT_EQ(gSpotlightConflict, 1);
    EXPECT_EQ(gBackupFailed, 1);
    // Without a success the failure line names the problem.
    EXPECT_EQ(gLastProblem, SS(failed));
    EXPECT_EQ(MonitorWorld::Status(), QString::fromStdString(failed));
    EXPECT_EQ(gLastSuccessText, SS(kNoSuccessBlock));
    EXPECT_TRUE(MonitorWorld::ReportShown().contains(QStringLiteral("\u201CImporter Start failed\u201D")));

    // Positions past 32767 bytes keep working: a copy error far down a
    // long report still names its text and folder.
    std::vector<std::string> many;
    for (int i = 0; i < 160; ++i)
        many.push_back(LogEntry(kT,
            "Warning: slow copy of /Users/sam/Movies/clip" + std::to_string(i)
                + ".mov, retrying with a smaller buffer; error count " + std::to_string(i) + " "
                + std::string(100, 'p')));
    many.push_back(LogEntry(kT, "Backup completed successfully."));
    const std::string copy = "Error: (-36) SrcErr:YES Copying /Users/sam/Movies/big/clip.mov";
    many.push_back(LogEntry(kT, copy));
    world.SetLogOutput(TodayLog(many, 200));
    world.FetchToday();
    EXPECT_GT(MonitorWorld::Report().size(), 32767u);
    EXPECT_EQ(gTooManyNoticed, 1);
    EXPECT_EQ(gLastProblem, SS(copy));
    EXPECT_EQ(gProblemFolder, SS("Users:sam:Movies:big"));
}

TEST(TodayLog, TooManyProblemsStartsAt25001Bytes)
{
    // Problem lines whose report text adds up to exactly 25000 bytes.
    auto lines = [](int extra) {
        std::vector<std::string> entries;
        for (int i = 0; i < 98; ++i) // 23 + 223 + 4 = 250 bytes each
            entries.push_back(LogEntry(kT, "Error: " + std::string(216, 'a')));
        entries.push_back(LogEntry(kT, "Error: " + std::string(193, 'b'))); // 227 bytes
        entries.push_back(LogEntry(kT, "Error: " + std::string(193 + extra, 'c')));
        return TodayLog(entries, 120);
    };
    MonitorWorld world;
    world.SetLogOutput(lines(0));
    world.FetchToday();
    EXPECT_EQ(gLastProblem, SS("Error: " + std::string(193, 'c') + "\r\n\r\n"));
    EXPECT_EQ(gTooManyNoticed, 0);
    world.SetLogOutput(lines(1));
    world.FetchToday();
    EXPECT_EQ(gLastProblem, SS("Too Many problems to list all of them"));
    EXPECT_EQ(MonitorWorld::Status(), QStringLiteral("Too Many problems to list all of them"));
    EXPECT_EQ(gTooManyNoticed, 1);
}

// The email request for each order of failure and success is checked on
// the fixtures (Fixtures.EmailRequestForEachSettingsCombination).
TEST(TodayLog, APendingRequestStaysWithEmailOffAndASuccessAfterTheFailureClearsTheStatus)
{
    const std::string success = "Backup completed successfully.";
    const std::string failure = "Backup failed with error: 11";
    MonitorWorld world;
    gEmailRequested = 1;
    world.SetLogOutput(TodayLog({LogEntry(kT, success), LogEntry(kT, failure)}));
    world.FetchToday();
    EXPECT_EQ(gEmailRequested, 1);
    world.SetLogOutput(TodayLog({LogEntry(kT, failure), LogEntry(kT, success)}));
    world.FetchToday();
    EXPECT_EQ(MonitorWorld::Status(), QString());
    EXPECT_EQ(gLastFailureLineNo, 1);
    EXPECT_EQ(gLastSuccessLineNo, 2);
}

TEST(TodayLog, ProblemFilesCopyErrorsAndTheirFolders)
{
    MonitorWorld world;
    const std::string success = "Backup completed successfully.";
    const std::string dsStore = "Error: (-36) SrcErr:NO Copying /Users/sam/Documents/.DS_Store to "
                                "/Volumes/Backup/Backups.backupdb/Sams-MacBook/Latest";
    world.SetLogOutput(TodayLog({LogEntry(kT, success), LogEntry(kT, dsStore)}));
    world.FetchToday();
    EXPECT_EQ(gLastProblem, SS(".DS_Store"));
    EXPECT_EQ(MonitorWorld::Status(), QStringLiteral("The last problem was '.DS_Store' (Invisible)"));
    EXPECT_EQ(gProblemFolder, SS("Users:sam:Documents"));
    EXPECT_EQ(gInvisibleSuffix, SS(" (Invisible)"));

    const std::string copy = "Error: (-43) SrcErr:YES Copying /Users/a/b/c.txt";
    world.SetLogOutput(TodayLog({LogEntry(kT, copy), LogEntry(kT, success)}));
    world.FetchToday();
    EXPECT_EQ(gLastProblem, SS(copy));
    EXPECT_EQ(MonitorWorld::Status(), QString::fromStdString(copy));
    EXPECT_EQ(gProblemFolder, SS("Users:a:b"));

    // The same copy line with a destination: the file's own folder wins.
    const std::string copyTo = copy + " to /Volumes/Backup/Backups.backupdb/Sams-MacBook/Latest";
    world.SetLogOutput(TodayLog({LogEntry(kT, copyTo), LogEntry(kT, success)}));
    world.FetchToday();
    EXPECT_EQ(gLastProblem, SS("c.txt"));
    EXPECT_EQ(MonitorWorld::Status(), QStringLiteral("The last problem was 'c.txt'"));
    EXPECT_EQ(gProblemFolder, SS("Users:a:b"));

    // A copy line without "Error" is named from the line's start.
    const std::string lower = "warning, error -43: SrcErr:YES Copying /Users/a/d.txt";
    world.SetLogOutput(TodayLog({LogEntry(kT, lower), LogEntry(kT, success)}));
    world.FetchToday();
    EXPECT_EQ(gLastProblem, SS(Cut(kT, lower)));
    EXPECT_EQ(gProblemFolder, SS("Users:a"));

    // A copy of nothing to nowhere.
    const std::string null = "Error: (-8062) SrcErr:YES Copying (null) to (null)";
    world.SetLogOutput(TodayLog({LogEntry(kT, success), LogEntry(kT, null)}));
    world.FetchToday();
    EXPECT_EQ(gLastProblem, SS(null));
    EXPECT_EQ(gProblemFolder, SS(""));

    // No "/" before "to /Volumes/": an empty name and no folder.
    const std::string bare = "Error: unable to copy x to /Volumes/Backup";
    world.SetLogOutput(TodayLog({LogEntry(kT, bare), LogEntry(kT, success)}));
    world.FetchToday();
    EXPECT_EQ(gLastProblem, SS(""));
    EXPECT_EQ(MonitorWorld::Status(), QString());
    EXPECT_EQ(gProblemFolder, SS(""));
}

TEST(TodayLog, LinesAreCleanedIgnoredAndCountedInOrder)
{
    MonitorWorld world;
    const std::string quoted = "Error: \"quoted\" a\xE2\x80\x9C"
                               "b";
    world.SetLogOutput(TodayLog({
        LogEntry(kT, "Error: recovery volume skipped"), // ignored before any rule
        LogEntry(kT, "Created Time Machine local snapshot with name 'x' on disk '/'"),
        LogEntry(kT, "Error writing to backup log"),
        LogEntry(kT, "Saved event cache at /Volumes/Backup/2026-03-10-101512.inprogress/x.eventdb"),
        LogEntry(kT, quoted),
        LogEntry(kT, "Backup completed successfully."),
    }));
    world.FetchToday();
    const std::string cleaned = Cut(kT,
        "Error: 'quoted' a\xE2'\x9C"
        "b");
    EXPECT_EQ(MonitorWorld::Report(),
        kHeading + cleaned + "\r\n\r\n" + Cut(kT, "Backup completed successfully.") + "\r\n"
            + SuccessBlock(Cut(kT, "Backup completed successfully.")) + "\r\n" + "\r\n");
    EXPECT_EQ(gLastSuccessLineNo, 2); // ignored lines take no numbers

    // A 240-byte success line fills the success block to exactly 255 bytes.
    const std::string longSuccess = "Backup completed successfully. " + std::string(240 - 23 - 31, 'z');
    world.SetLogOutput(TodayLog({LogEntry(kT, longSuccess), LogEntry(kT, "Completed backup: 2026-03-10-101512")}));
    world.FetchToday();
    // The second success line replaces the first in the block.
    EXPECT_EQ(gLastSuccessText, SS(SuccessBlock(Cut(kT, "Completed backup: 2026-03-10-101512"))));
    world.SetLogOutput(TodayLog({LogEntry(kT, longSuccess)}));
    world.FetchToday();
    ASSERT_EQ(Cut(kT, longSuccess).size(), 240u);
    EXPECT_EQ(gLastSuccessText.len, 255);
    EXPECT_EQ(
        gLastSuccessText, SS(("\r\n\r\nLast Successful Backup Message:\r\n" + Cut(kT, longSuccess)).substr(0, 255)));

    // A 400-byte log line arrives as two pieces, each a line of its own.
    world.SetLogOutput(TodayLog({LogEntry(kT, std::string(330, 'q') + "Error at the end")}));
    world.FetchToday();
    EXPECT_EQ(MonitorWorld::Report().substr(kHeading.size(), 118), std::string(98, 'q') + "Error at the end\r\n\r\n");
}

TEST(TodayLog, SnapshotsWithoutBackupAndTheNoBackupWarning)
{
    MonitorWorld world;
    world.SetLogOutput(TodayLog({LogEntry(kT,
        "Created Time Machine local snapshot with name "
        "'com.apple.TimeMachine.2026-03-10-101512.local' on disk '/System/Volumes/Data'")}));
    world.FetchToday();
    EXPECT_EQ(gLastProblem, SS("Local snapshots were created."));
    EXPECT_EQ(MonitorWorld::Status(), QStringLiteral("No backup drive available. Local snapshots were created."));
    EXPECT_EQ(MonitorWorld::Report(), kHeading + kNoErrors + kNoSuccessBlock + "\r\n" + "\r\n");

    // Last backup five days ago: the warning at every analysis, the email
    // test only at the first of the day.
    gLastBackupDay = 64;
    SaveSettings();
    gEmailNotifyOn = 1;
    gDailyEmail = 1;
    world.SetLogOutput(TodayLog({}));
    world.FetchToday();
    const std::string warning = "NO SUCESSFUL BACKUPS FOR MORE THAN A DAY\r\n";
    EXPECT_EQ(MonitorWorld::Report(), kHeading + kNoErrors + kNoSuccessBlock + "\r\n" + warning + "\r\n");
    EXPECT_EQ(MonitorWorld::Status(), QStringLiteral("NO SUCESSFUL BACKUPS FOR MORE THAN A DAY"));
    EXPECT_EQ(gEmailRequested, 1);
    EXPECT_EQ(gNoBackupWarnDay, 69);
    gEmailRequested = 0;
    world.FetchToday();
    EXPECT_NE(MonitorWorld::Report().find(warning), std::string::npos);
    EXPECT_EQ(gEmailRequested, 0);

    // Across the new year the difference is negative: no warning.
    TestClock::SetLocal("2027-01-02 09:00:00");
    gLastBackupDay = 360;
    SaveSettings();
    world.FetchToday();
    EXPECT_EQ(MonitorWorld::Report().find(warning), std::string::npos);
    EXPECT_EQ(MonitorWorld::Status(), QStringLiteral("No successful backups reported in the current log"));
}

TEST(TodayLog, LaunchCommandsAndTheStaleCommandKill)
{
    EXPECT_EQ(TodayCommand(false),
        SS("log show --last 4h --predicate 'subsystem == \"com.apple.TimeMachine\"' --info "
           "| grep  'upd: (' | cut -c 1-19,140-999"));
    EXPECT_EQ(TodayCommand(false).len, 115);
    EXPECT_EQ(TodayCommand(true),
        SS("log show --last 2h --predicate 'subsystem == \"com.apple.TimeMachine\"' --info | "
           "grep 'upd: (' | cut -c 1-19,140-999"));
    EXPECT_EQ(TodayCommand(true).len, 114);

    MonitorWorld world;
    // A stale log command: a child that waits to be killed, listed by ps
    // with its owner and number right-aligned.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t stale = fork();
    if (stale == 0) {
        std::signal(SIGTERM, SIG_DFL);
        char c = 'r';
        (void)!write(ready[1], &c, 1);
        for (;;)
            pause();
    }
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    char row[128];
    std::snprintf(row, sizeof row, "%5d %7d /usr/bin/log show --last 4h --predicate x --info", getuid(), stale);
    world.sandbox.Stub(QStringLiteral("ps"), "echo '" + std::string(row) + "'");
    FetchTodayLog();
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 1000 && done == 0; ++i) {
        done = waitpid(stale, &status, WNOHANG);
        if (done == 0)
            usleep(10000);
    }
    if (done == 0) {
        kill(stale, SIGKILL);
        waitpid(stale, &status, 0);
        FAIL() << "the stale command was not killed";
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(gTodayPipeOpen, 1);
    EXPECT_EQ(gPipeStartTicks, 1000 * 60 + 60);
    EXPECT_EQ(gLogLine, SS(""));

    // While the command runs and nothing asks for its output, a call only
    // does the entry resets.
    gLastProblem = "old";
    gProblemFolder = "old";
    gErrorFound = 1;
    gPollAllowed = 0;
    world.SetLogOutput(""); // not run again
    FetchTodayLog();
    EXPECT_EQ(gLastProblem, SS(""));
    EXPECT_EQ(gProblemFolder, SS(""));
    EXPECT_EQ(gErrorFound, 0);
    EXPECT_EQ(gPollAllowed, 1);

    // With a sheet open nothing at all changes.
    gOpenPanel = 4;
    gLastProblem = "kept";
    FetchTodayLog();
    EXPECT_EQ(gLastProblem, SS("kept"));
    gOpenPanel = 0;
    QzClose(1);

    // Short mode launches the two-hour command and reads it in one call.
    world.sandbox.Stub(
        QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'\necho 'garbage without a number log show --x'");
    world.SetLogOutput(TodayLog({}));
    gShortLogMode = 1;
    gTodayPipeOpen = 0;
    gPipeStartTicks = 5;
    FetchTodayLog();
    EXPECT_EQ(gShortLogMode, 0);
    EXPECT_EQ(gTodayPipeOpen, 0);
    EXPECT_EQ(gPipeStartTicks, 5);
    EXPECT_NE(world.LogArguments().find("--last\n2h\n"), std::string::npos);
    EXPECT_EQ(MonitorWorld::Report().rfind(kHeading
                      + "-- LOG IS TOO LARGE TO SHOW THE WHOLE DAY --\r\n"
                        "             This report is for the last two hours         \r\n\r\n",
                  0),
        0u);
}
