// The wording of macOS 11 and later. Its fixtures (tests/fixtures/recent)
// run through the real analyses, the stub `log` printing them and the real
// grep and cut shortening them; the expected reports, texts and flags were
// worked out by hand from the rules. The classic fixtures and generated
// classic logs must come out byte for byte the same with the recent
// wording switched on and off.

#include "monitor_support.h"

#include "app/settings.h"
#include "app/state.h"
#include "monitor/fetch.h"
#include "monitor/state.h"
#include "runtime/channels.h"
#include "runtime/textcontainer.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

const std::string kCrLf = "\r\n";
const std::string kGap = "\r\n\r\n";
const std::string kHeading = "Current Time Machine Log for last 4 hours:\r\n\r\n";
const std::string kNoErrors = "\r\nNo Time Machine Errors to report in the current log.";
const std::string kNoSuccess = "\r\n\r\nNo successful backups reported in the current log\r\n";
const std::string kYesterdayHeading = "Yesterday's Time Machine Log:\r\n\r\n";
const std::string kYesterdayNoErrors = "\r\nNo Time Machine errors to report in yesterday's log.\r\n";

std::string RecentFixture(const std::string& name)
{
    return ReadFile(QStringLiteral(QZ_FIXTURES_DIR "/recent/") + QString::fromStdString(name));
}

std::string Text(const ShortString& s)
{
    return std::string(s.view());
}

// A cut line of category "General", as today's analysis gets it.
std::string General(const std::string& time, const std::string& message)
{
    return "2026-03-10 " + time + "al] " + message;
}

std::string Completed(const std::string& time, const std::string& name)
{
    return General(time, "Completed backup: 2026-03-10-" + name);
}

std::string SuccessBlock(const std::string& line)
{
    return "\r\n\r\nLast Successful Backup Message:\r\n" + line + "\r\n\r\n";
}

struct Start {
    std::uint8_t notifyOn = 1;
    std::uint8_t minorErrors = 0;
    std::uint8_t dailyEmail = 0;
    std::uint8_t emailSent = 0;
    std::uint8_t emailRequested = 0;
    std::uint8_t driveOffline = 0; // carried from an earlier analysis
    std::int16_t lastBackupDay = 68; // yesterday
    std::int16_t noBackupWarnDay = 0;
    std::int16_t tooManyNoticed = 0;
};

void Prepare(const Start& s, bool recent)
{
    gRecentWording = recent ? 1 : 0;
    gEmailNotifyOn = s.notifyOn;
    gNotifyMinorErrors = s.minorErrors;
    gDailyEmail = s.dailyEmail;
    gEmailSent = s.emailSent;
    gEmailRequested = s.emailRequested;
    gDriveOffline = s.driveOffline;
    gSpotlightConflict = 0;
    gTooManyNoticed = s.tooManyNoticed;
    gNoBackupWarnDay = s.noBackupWarnDay;
    gLastBackupDay = s.lastBackupDay;
    SaveSettings();
}

// Everything an analysis leaves behind, as one text to compare.
std::string Results()
{
    std::string r = "report:" + gReport.bytes + "\nstatus:" + MonitorWorld::Status().toStdString()
        + "\nshown:" + MonitorWorld::ReportShown().toStdString() + "\nlastProblem:" + Text(gLastProblem)
        + "\nfolder:" + Text(gProblemFolder) + "\nsuccess:" + Text(gLastSuccessText) + "\nfailure:" + Text(gFailureText)
        + "\ninvisible:" + Text(gInvisibleSuffix) + "\nflags:";
    for (const long v : {long(gErrorFound), long(gDriveOffline), long(gSpotlightConflict), long(gSuccessFound),
             long(gEmailRequested), long(gEmailSent), long(gBackupFailed), long(gTooManyNoticed),
             long(gNoBackupWarnDay), long(gLastFailureLineNo), long(gLastSuccessLineNo), long(gLineNo),
             long(gVolumesPos), long(gCopyingPos), long(gTooFewLines), long(ReadLastBackupDay())})
        r += " " + std::to_string(v);
    return r;
}

struct Expected {
    std::string report;
    std::string lastProblem;
    std::string status;
    std::string successText;
    int errorFound = 0;
    int driveOffline = 0;
    int successFound = 0;
    int emailRequested = 0;
    std::string failureText;
    int backupFailed = 0;
};

void ExpectToday(const Expected& want)
{
    EXPECT_EQ(MonitorWorld::Report(), want.report);
    EXPECT_EQ(MonitorWorld::ReportShown(), QzContainerToCF(gReport));
    EXPECT_EQ(Text(gLastProblem), want.lastProblem);
    EXPECT_EQ(MonitorWorld::Status().toStdString(), QzStrToCF(SS(want.status)).toStdString());
    EXPECT_EQ(Text(gProblemFolder), "");
    EXPECT_EQ(Text(gLastSuccessText), want.successText);
    EXPECT_EQ(gErrorFound, want.errorFound);
    EXPECT_EQ(gDriveOffline, want.driveOffline);
    EXPECT_EQ(gSpotlightConflict, 0);
    EXPECT_EQ(gSuccessFound, want.successFound);
    EXPECT_EQ(gEmailRequested, want.emailRequested);
    EXPECT_EQ(Text(gFailureText), want.failureText);
    EXPECT_EQ(gBackupFailed, want.backupFailed);
    EXPECT_EQ(ReadLastBackupDay(), want.successFound ? 69 : 68);
}

void RunToday(const MonitorWorld& world, const std::string& file, const Start& start = {}, bool recent = true)
{
    world.SetLogOutput(RecentFixture(file));
    Prepare(start, recent);
    world.FetchToday();
}

} // namespace

TEST(RecentWording, DisconnectionsMeanTheDriveIsOffline)
{
    // Three "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)" after
    // the success of 08:15: each is a problem line and sets the drive
    // offline, so the report becomes "Backup drive offline" and the failure
    // after the success asks for an email.
    const std::string s0815 = Completed("08:15:10", "081403");
    const std::string s0914 = Completed("09:14:56", "091349");
    for (const auto& [file, success] :
        {std::pair {"today-network-offline.log"s, s0815}, std::pair {"today-disk-image-offline.log"s, s0914}}) {
        SCOPED_TRACE(file);
        // The disk image: "Failing backup with BACKUP_FAILED_DISCONNECTED_
        // DISK_IMAGE (70) because ..." and "Backup failed: ..._DISK_IMAGE
        // (70)" after the "Backing up 1 volumes to" of 10:13.
        MonitorWorld world;
        RunToday(world, file, {.emailSent = 1});
        Expected want;
        want.report = "Backup drive offline" + SuccessBlock(success) + kCrLf + kCrLf;
        want.lastProblem = want.status = "Backup drive offline";
        want.successText = SuccessBlock(success);
        want.errorFound = want.driveOffline = want.successFound = want.emailRequested = 1;
        want.failureText = "Backup Drive Offline";
        ExpectToday(want);
        EXPECT_EQ(gEmailSent, 1);
    }
    // Without the recent wording the same day looked error-free.
    MonitorWorld world;
    RunToday(world, "today-network-offline.log", {}, false);
    EXPECT_EQ(MonitorWorld::Report(), kHeading + s0815 + kCrLf + kNoErrors + SuccessBlock(s0815) + kCrLf + kCrLf);
    EXPECT_EQ(MonitorWorld::Status(), QString());
}

TEST(RecentWording, OtherFailureCodesNameTheLastFailure)
{
    // No success: every failure line is copied once (none holds "error"),
    // the last one is the failure text, and the last problem is cut from
    // its "Backup failed". A "Failing backup with" line that is no
    // disconnection is a failure too.
    MonitorWorld world;
    RunToday(world, "today-failure-codes.log");
    const std::string preflight = "Backup failed (312: BACKUP_FAILED_PREFLIGHT_STAGE_VOLUME_ENUMERATION)";
    const std::string last = General("11:13:11", preflight);
    Expected want;
    want.report = kHeading + General("08:13:09", preflight) + kGap + General("09:13:09", preflight) + kGap
        + General("10:13:15",
            "Failing backup with BACKUP_FAILED_SOURCE_UNREADABLE (41) because '/Users/robin/Movies' could not be read.")
        + kGap + General("10:13:15", "Backup failed: BACKUP_FAILED_SOURCE_UNREADABLE (41)") + kGap + last + kGap
        + kNoSuccess + kCrLf + kCrLf;
    want.lastProblem = want.status = preflight;
    want.successText = kNoSuccess;
    want.errorFound = want.emailRequested = want.backupFailed = 1;
    want.failureText = last;
    ExpectToday(want);
}

TEST(RecentWording, TheOrderOfFailuresAndSuccessesDecidesTheEmail)
{
    const std::string failing
        = "Failing backup with BACKUP_FAILED_SOURCE_UNREADABLE (41) because '/Users/robin/Movies' could not be read.";
    {
        // Failure after the last success: an email, and the failure line in
        // the report; no text holds "Error", so the status line is empty.
        MonitorWorld world;
        RunToday(world, "today-failure-after-success.log");
        const std::string second = Completed("09:14:56", "091349");
        Expected want;
        want.report = kHeading + Completed("08:15:10", "081403") + kCrLf + second + kCrLf + General("10:13:39", failing)
            + kGap + SuccessBlock(second) + kCrLf + kCrLf;
        want.successText = SuccessBlock(second);
        want.errorFound = want.successFound = want.emailRequested = want.backupFailed = 1;
        want.failureText = General("10:13:39", failing);
        ExpectToday(want);
    }
    {
        // Success after the failure: no email (minor errors off), the latch
        // released, the status line cleared.
        MonitorWorld world;
        RunToday(world, "today-success-after-failure.log", {.emailSent = 1, .emailRequested = 1});
        const std::string last = Completed("11:15:30", "111423");
        Expected want;
        want.report = kHeading
            + General("08:13:09", "Backup failed (312: BACKUP_FAILED_PREFLIGHT_STAGE_VOLUME_ENUMERATION)") + kGap
            + Completed("09:15:26", "091419") + kCrLf + Completed("10:15:28", "101421") + kCrLf + last + kCrLf
            + SuccessBlock(last) + kCrLf + kCrLf;
        want.successText = SuccessBlock(last);
        want.errorFound = want.successFound = want.backupFailed = 1;
        ExpectToday(want);
        EXPECT_EQ(gEmailSent, 0);
    }
}

TEST(RecentWording, AStartClearsAnEarlierOfflineState)
{
    // Offline from the last analysis and again at 08:13; the "Backing up 1
    // volumes to" of 09:14 clears it, so the report keeps its lines.
    MonitorWorld world;
    RunToday(world, "today-start-clears-offline.log", {.emailSent = 1, .driveOffline = 1});
    const std::string last = Completed("11:15:30", "111423");
    Expected want;
    want.report = kHeading + General("08:13:46", "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)") + kGap
        + Completed("09:15:26", "091419") + kCrLf + Completed("10:15:28", "101421") + kCrLf + last + kCrLf
        + SuccessBlock(last) + kCrLf + kCrLf;
    want.successText = SuccessBlock(last);
    want.errorFound = want.successFound = 1;
    ExpectToday(want);
    EXPECT_EQ(gEmailSent, 0);
}

TEST(RecentWording, YesterdayListsTheFailures)
{
    const std::string log = RecentFixture("yesterday-recent.log");
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(log.substr(start, end - start));
    const auto line = [&](std::size_t n) { return lines.at(n - 1); };
    // The "Failing backup with" line comes in two pieces; only the first
    // holds a pattern.
    ASSERT_GT(line(112).size(), 255u);
    ASSERT_EQ(line(112).substr(255), "ected.");
    std::string successes;
    std::string report = kYesterdayHeading;
    for (const std::size_t n : {28, 40, 53, 66, 72, 79, 92, 104, 112, 113, 126, 138, 146, 159, 171}) {
        report += line(n).substr(0, 255) + kCrLf;
        if (line(n).find("Completed backup") != std::string::npos)
            successes += line(n) + kCrLf;
    }
    MonitorWorld world;
    world.SetLogOutput(log);
    Prepare({}, true);
    world.FetchYesterday();
    EXPECT_EQ(MonitorWorld::Report(), report + kCrLf);
    EXPECT_EQ(Text(gLastProblem), line(146));
    EXPECT_EQ(MonitorWorld::Status().toStdString(), "The last problem yesterday was '" + line(146));
    EXPECT_EQ(gErrorFound, 1);
    EXPECT_EQ(gEmailRequested, 0);

    Prepare({}, false);
    world.FetchYesterday();
    EXPECT_EQ(MonitorWorld::Report(), kYesterdayHeading + successes + kYesterdayNoErrors + kCrLf);
    EXPECT_EQ(MonitorWorld::Status(), QString());
}

// The recorded logs of the older wording, through the real pipeline, with
// the recent wording off and on.
TEST(RecentWording, ClassicFixturesComeOutTheSameEitherWay)
{
    MonitorWorld world;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QZ_FIXTURES_DIR)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".log")
            continue;
        ++files;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        world.SetLogOutput(ReadFile(QString::fromStdString(entry.path().string())));
        for (const Start& start : {Start {}, Start {.minorErrors = 1, .emailSent = 1, .driveOffline = 1}}) {
            std::string results[2];
            for (const bool recent : {false, true}) {
                Prepare(start, recent);
                if (name.rfind("yesterday-", 0) == 0)
                    world.FetchYesterday();
                else
                    world.FetchToday();
                results[recent ? 1 : 0] = Results();
            }
            EXPECT_EQ(results[0], results[1]);
        }
    }
    EXPECT_GE(files, 20);
}

namespace {

// Lines of the older wording, as the analyses read them (after the time
// stamp), with their near misses: every classic rule and ignore pattern,
// and texts that share words with the recent patterns.
const char* const kClassicLines[] = {
    "Default] Starting automatic backup",
    "Default] Starting manual backup",
    "Info] Backing up to /dev/disk3s2: /Volumes/Backup Plus/Backups.backupdb",
    "Info] Backing up to /dev/disk2s2: /Volumes/2 volumes to go/Backups.backupdb",
    "Info] Backup completed successfully.",
    "Info] Backup succeeded",
    "Info] Completed backup: 2026-03-10-091204",
    "Error] Backup failed with error: 19",
    "Error] Backup failed with error: 27",
    "Error] Backup failed with error: 11",
    "Error] Backup failed with error: 45",
    "Error] Backup failed with error: 7 (disconnected)",
    "Info] Backup canceled.",
    "Error] Stopping backup.",
    "Info] Stopping backup to allow disk to be unmounted or ejected.",
    "Info] Not starting scheduled Time Machine backup - time machine destination not resolvable.",
    "Info] Not starting scheduled Time Machine backup - Backup already running",
    "Info] Not starting scheduled Time Machine backup - Less than 10 minutes since last backup",
    "Error] Error: (-36) SrcErr:YES Copying /Users/sam/Documents/a.txt to /Volumes/Backup Plus/Backups.backupdb/x",
    "Error] Error: (-36) SrcErr:YES Copying /Users/sam/Documents/.DS_Store to /Volumes/Backup Plus/Backups.backupdb/y",
    "Error] Error: (-8084) SrcErr:YES Copying /Users/sam/Library/Preferences/com.apple.Safari.plist to (null)",
    "Error] Error: (-8062) SrcErr:YES Copying (null) to (null)",
    "Error] Error: (-36) SrcErr:NO Copying /Users/sam/Documents/Thesis/chapter3.docx to /Volumes/Backup Plus/z",
    "Error] Importer start failed for /Volumes/Backup Plus (101), Spotlight indexing conflict",
    "Info] Waiting for index to be ready (101)",
    "Default] Created Time Machine local snapshot with name 'com.apple.TimeMachine.2026-03-10-091204' on disk '/'",
    "Error] com.apple.backupd.sandbox.xpc: connection invalid",
    "Info] Not prioritizing backups with priority errors. lockState=0",
    "Error] Failed to read sticky exclusion on '/Users/sam/Library/Caches', error: 93",
    "Info] Injecting event for exclusion /Users/sam/Downloads",
    "Error] Couldn't get volume info for unmounted disk /dev/disk1s3, error: 2",
    "Error] Error iterating sibling links for inode 123456",
    "Error] Error writing to backup log. NSFileHandleOperationException",
    "Info] Skipping Recovery volume disk1s3",
    "Error] Failed to remove attribute com.apple.backupd.SnapshotVolumeUUID, error: Operation not permitted",
    "Error] Failed to unmount disk image, error: Error Domain=NSPOSIXErrorDomain Code=60",
    "Error] Failed to get attributes of /Users/sam/Library/Mail/V7/x.emlx, error: 2 No such file or directory",
    "Info] Saved event cache at /Volumes/Backup Plus/Backups.backupdb/Sam/2026-03-10-091204.inprogress/.db",
    "Info] Mountpoint '/Volumes/Backup Plus' is still valid",
    "Info] Found 326 files (52.2 MB) needing backup",
    "Info] Copied 330 items (51.9 MB) from volume Macintosh HD - Data. Linked 4012.",
    "Info] Failed backup of 3 volumes to the old disk; retrying",
    "Info] Backing up 2 items to /Volumes/Backup Plus",
    "Error] Error: backup failed to start, DISCONNECTED",
    "Info] \"quoted\" text with a \x80 byte",
};

// A random log of the older wording: lines drawn from kClassicLines with
// now and then a long line that arrives in pieces.
std::string GeneratedLog(std::mt19937& rng, int lines)
{
    std::string out;
    for (int i = 0; i < lines; ++i) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "2026-03-10 %02d:%02d:%02d", 8 + i * 4 / (lines + 1), i % 60, (i * 7) % 60);
        std::string line = kClassicLines[rng() % std::size(kClassicLines)];
        if (rng() % 20 == 0)
            line += " " + std::string(200 + rng() % 200, 'x') + kClassicLines[rng() % std::size(kClassicLines)];
        out += stamp + line + "\n";
    }
    return out;
}

// A few thousand generated logs of the older wording, read from a file on
// FileChannel 1 (no command is run), through both analyses: 2000 in four
// tests that ctest can run side by side.
void ExpectGeneratedLogsTheSameEitherWay(std::uint32_t seed)
{
    // Every success line saves the settings file, with an fsync: the world
    // lives in memory where there is memory to live in.
    const QByteArray savedTmp = qgetenv("TMPDIR");
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        qputenv("TMPDIR", "/dev/shm");
    MonitorWorld world;
    if (savedTmp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", savedTmp);
    std::mt19937 rng(seed);
    const QString path = world.sandbox.path() + QStringLiteral("/generated.log");
    for (int n = 0; n < 500; ++n) {
        const int lines = static_cast<int>(rng() % 2 == 0 ? 40 + rng() % 20 : rng() % 160);
        world.sandbox.Write(QStringLiteral("generated.log"), GeneratedLog(rng, lines));
        const Start start {.notifyOn = static_cast<std::uint8_t>(rng() % 2),
            .minorErrors = static_cast<std::uint8_t>(rng() % 2),
            .dailyEmail = static_cast<std::uint8_t>(rng() % 2),
            .emailSent = static_cast<std::uint8_t>(rng() % 2),
            .emailRequested = static_cast<std::uint8_t>(rng() % 2),
            .driveOffline = static_cast<std::uint8_t>(rng() % 2),
            // Mostly today, so that the settings file is seldom rewritten.
            .lastBackupDay = static_cast<std::int16_t>(n % 8 == 0 ? 60 + rng() % 10 : 69),
            .tooManyNoticed = static_cast<std::int16_t>(rng() % 2)};
        const bool yesterday = n % 3 == 2;
        std::string results[2];
        for (const bool recent : {false, true}) {
            Prepare(start, recent);
            QzClose(1);
            QzOpenInput(1, 0, path, 0);
            if (yesterday) {
                gYesterdayReadNow = 1;
                FetchYesterdayLog();
            } else {
                gTodayReadNow = 1;
                FetchTodayLog();
            }
            results[recent ? 1 : 0] = Results();
        }
        ASSERT_EQ(results[0], results[1]) << "log " << n << (yesterday ? " (yesterday)" : " (today)");
    }
}

} // namespace

TEST(RecentWording, GeneratedClassicLogsComeOutTheSameEitherWay1)
{
    ExpectGeneratedLogsTheSameEitherWay(20260310);
}

TEST(RecentWording, GeneratedClassicLogsComeOutTheSameEitherWay2)
{
    ExpectGeneratedLogsTheSameEitherWay(20260311);
}

TEST(RecentWording, GeneratedClassicLogsComeOutTheSameEitherWay3)
{
    ExpectGeneratedLogsTheSameEitherWay(20260312);
}

TEST(RecentWording, GeneratedClassicLogsComeOutTheSameEitherWay4)
{
    ExpectGeneratedLogsTheSameEitherWay(20260313);
}
