#include "monitor_support.h"

#include "monitor/fetch.h"
#include "monitor/state.h"
#include "runtime/channels.h"

#include <gtest/gtest.h>

namespace {

const std::string kHeading = "Yesterday's Time Machine Log:\r\n\r\n";
const std::string kNoErrors = "\r\nNo Time Machine errors to report in yesterday's log.\r\n";
const std::string kT = "2026-03-09 14:02:11";

// Whole output lines, as yesterday's command prints them: no grep, no cut.
std::string Lines(std::vector<std::string> entries, int total)
{
    const auto filler = Filler(total - static_cast<int>(entries.size()), kT);
    entries.insert(entries.end(), filler.begin(), filler.end());
    std::string out;
    for (const auto& e : entries)
        out += e + "\n";
    return out;
}

} // namespace

TEST(YesterdayLog, LaunchThenAnalyseWithTheFortyNineLineBoundary)
{
    EXPECT_EQ(
        YesterdayCommand(), SS("log show --predicate 'subsystem == \"com.apple.TimeMachine\"' --info --yesterday"));
    MonitorWorld world;
    const std::string success = LogEntry(kT, "Backup completed successfully.");
    world.SetLogOutput(Lines({success}, 49));
    gErrorFound = 1;
    gLastProblem = "old";
    gLastSuccessText = "old";
    FetchYesterdayLog();
    EXPECT_EQ(gYesterdayPipeOpen, 1);
    EXPECT_EQ(gPollAllowed, 0);
    EXPECT_EQ(gErrorFound, 0);
    EXPECT_EQ(gLastProblem, SS(""));
    EXPECT_EQ(gLastSuccessText, SS(""));
    EXPECT_EQ(MonitorWorld::Status(), QString());
    EXPECT_EQ(gPipeStartTicks, 1000 * 60 + 60);
    gYesterdayPipeOpen = 0;
    gYesterdayReadNow = 1;
    FetchYesterdayLog();
    EXPECT_NE(world.LogArguments().find("--info\n--yesterday"), std::string::npos);
    EXPECT_EQ(gYesterdayReadNow, 0);
    EXPECT_EQ(gPollAllowed, 1);
    EXPECT_EQ(MonitorWorld::Report(), kHeading + success + "\r\n" + kNoErrors + "\r\n");
    EXPECT_EQ(MonitorWorld::ReportShown().toStdString(), MonitorWorld::Report());
    EXPECT_EQ(MonitorWorld::Status(), QString());
    EXPECT_EQ(QzEof(1), -1);

    world.SetLogOutput(Lines({success}, 48));
    world.FetchYesterday();
    EXPECT_EQ(gLastProblem, SS(" Unable to get yesterday's error log."));
    EXPECT_EQ(MonitorWorld::Status(), QStringLiteral("Unable to get yesterday's error log"));
    EXPECT_EQ(MonitorWorld::Report(), kHeading + success + "\r\n" + "\r\n");

    // Nothing at all: one empty read and the same message.
    world.SetLogOutput("");
    world.FetchYesterday();
    EXPECT_EQ(MonitorWorld::Status(), QStringLiteral("Unable to get yesterday's error log"));

    // Today's command running: both calls return at once.
    gTodayPipeOpen = 1;
    gPollAllowed = 1;
    FetchYesterdayLog();
    EXPECT_EQ(gYesterdayPipeOpen, 0);
    EXPECT_EQ(gPollAllowed, 1);
}

TEST(YesterdayLog, ProblemsSuccessesAndIgnoredLines)
{
    MonitorWorld world;
    const std::string both = LogEntry(kT, "Backup succeeded, error count 0");
    const std::string problem = LogEntry(kT, "Error: (-36) SrcErr:NO Copying /Users/sam/a.txt");
    world.SetLogOutput(
        Lines({LogEntry(kT, "Error: failed to delete local snapshot"),
                  LogEntry(kT, "com.apple.backupd.xpc: connection invalid"),
                  LogEntry(kT, "Completed backup: 2026-03-09-140211", "General", "SystemUIServer"), both, problem},
            60));
    gDriveOffline = 1;
    gSpotlightConflict = 1;
    world.FetchYesterday();
    const std::string other = LogEntry(kT, "Completed backup: 2026-03-09-140211", "General", "SystemUIServer");
    EXPECT_EQ(
        MonitorWorld::Report(), kHeading + other + "\r\n" + both + "\r\n" + both + "\r\n" + problem + "\r\n" + "\r\n");
    EXPECT_EQ(gLastProblem, SS(problem));
    EXPECT_EQ(MonitorWorld::Status(), QString::fromStdString("The last problem yesterday was '" + problem).left(255));
    EXPECT_EQ(gDriveOffline, 0);
    EXPECT_EQ(gSpotlightConflict, 0);
    EXPECT_EQ(gErrorFound, 1);

    // The statistics line that closes the output is no problem.
    world.SetLogOutput(LogOutput({LogEntry(kT, "Backup completed successfully.")}) + Lines({}, 60));
    world.FetchYesterday();
    EXPECT_EQ(gErrorFound, 0);
    EXPECT_EQ(MonitorWorld::Status(), QString());

    // Only snapshots: no errors to report, and no backup drive.
    world.SetLogOutput(Lines(
        {LogEntry(kT, "Created Time Machine local snapshot with name 'com.apple.TimeMachine.2026-03-09-140211.local'")},
        60));
    world.FetchYesterday();
    EXPECT_EQ(MonitorWorld::Report(), kHeading + kNoErrors + "\r\n");
    EXPECT_EQ(gLastProblem, SS("Local snapshots were created."));
    EXPECT_EQ(MonitorWorld::Status(), QStringLiteral("No backup drive available. Local snapshots were created."));
}

TEST(YesterdayLog, TooManyProblemsKeepTheWholeReport)
{
    MonitorWorld world;
    std::vector<std::string> entries;
    for (int i = 0; i < 200; ++i)
        entries.push_back(LogEntry(kT, "Error: (-36) SrcErr:NO Copying /Users/sam/Pictures/photo" + std::to_string(i)));
    entries.push_back(LogEntry(kT, "Backup completed successfully."));
    world.SetLogOutput(Lines(entries, 300));
    world.FetchYesterday();
    EXPECT_GT(MonitorWorld::Report().size(), 25000u);
    EXPECT_EQ(MonitorWorld::ReportShown().size(), static_cast<qsizetype>(MonitorWorld::Report().size()));
    EXPECT_EQ(gLastProblem, SS("Too Many problems to list all of them"));
    EXPECT_EQ(MonitorWorld::Status(),
        QStringLiteral("The last problem yesterday was 'Too Many problems to list all of them"));

    // Without a successful backup the snapshot text is set last and wins.
    entries.pop_back();
    world.SetLogOutput(Lines(entries, 300));
    world.FetchYesterday();
    EXPECT_EQ(gLastProblem, SS("Local snapshots were created."));
}
