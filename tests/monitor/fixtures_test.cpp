// Every recorded log in tests/fixtures run through the real analyses: the
// stub `log` prints a fixture, and for today's log the real grep and cut
// shorten it as on a Mac. The expected reports, texts and flags below were
// worked out by hand from the analysis rules, line by line; only the
// mechanical parts (which lines grep keeps and what cut leaves of them) are
// computed here. The reader hands over at most 255 bytes at a time, so a
// longer line is written below as its first piece, substr(0, 255), and the
// rest.

#include "monitor_support.h"

#include "app/settings.h"
#include "app/state.h"
#include "monitor/state.h"
#include "runtime/channels.h"
#include "runtime/shortstring.h"
#include "runtime/textcontainer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

const std::string kCrLf = "\r\n";
const std::string kGap = "\r\n\r\n"; // after each problem line of today's report
const std::string kHeading = "Current Time Machine Log for last 4 hours:\r\n\r\n";
const std::string kNoErrors = "\r\nNo Time Machine Errors to report in the current log.";
const std::string kNoSuccess = "\r\n\r\nNo successful backups reported in the current log\r\n";
const std::string kSpotlightNote
    = "\r\n\r\n     ************ NOTE ************\r\n"
      "Your Time Machine Backup drive may be conflicting with Spotlight Search indexing.\r\n\r\n"
      "Click on the Help Button and find \xE2\x80\x9CImporter Start failed\xE2\x80\x9D, for help on this topic.\r\n";
const std::string kYesterdayHeading = "Yesterday's Time Machine Log:\r\n\r\n";
const std::string kYesterdayNoErrors = "\r\nNo Time Machine errors to report in yesterday's log.\r\n";
const std::string kNoBackupFolder = "No successful backups reported in the current log and no problems reported.";

std::string Fixture(const char* name)
{
    return ReadFile(FixturePath(QString::fromLatin1(name)));
}

// The file's lines as `log show` ends them (LF only; a CR stays inside).
std::vector<std::string> FileLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Line n (from 1) of the file, whole: what yesterday's command prints.
std::string WholeLine(const std::string& text, std::size_t n)
{
    return FileLines(text).at(n - 1);
}

// Line n (from 1) of `grep 'upd: (' | cut -c 1-19,140-999` under LC_ALL=C:
// of the n-th line holding "upd: (", bytes 1 to 19 and then 140 to 999.
std::string CutLine(const std::string& text, std::size_t n)
{
    std::size_t seen = 0;
    for (const std::string& line : FileLines(text)) {
        if (line.find("upd: (") == std::string::npos)
            continue;
        if (++seen == n)
            return line.substr(0, 19) + (line.size() > 139 ? line.substr(139, 860) : std::string());
    }
    ADD_FAILURE() << "no cut line " << n;
    return {};
}

// The bytes 226 128 153 of the curly apostrophe in "Sam’s" as today's
// analysis leaves them: its byte 128 becomes an apostrophe.
std::string SamsApostropheCleaned(std::string line)
{
    const std::string curly = "Sam\xE2\x80\x99s";
    const std::size_t at = line.find(curly);
    EXPECT_NE(at, std::string::npos) << line;
    if (at != std::string::npos)
        line.replace(at, curly.size(), "Sam\xE2'\x99s");
    return line;
}

// A success line of today's log as cut: the time stamp and the message.
std::string TodaySuccess(const char* time)
{
    return "2026-03-10 "s + time + "Info] Backup completed successfully.";
}

std::string SuccessBlock(const std::string& line)
{
    return "\r\n\r\nLast Successful Backup Message:\r\n" + line + "\r\n\r\n";
}

std::string Repeat(const std::string& s, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += s;
    return out;
}

std::string Text(const ShortString& s)
{
    return std::string(s.view());
}

struct Settings {
    std::uint8_t notifyOn = 1;
    std::uint8_t minorErrors = 0;
    std::uint8_t dailyEmail = 0;
    std::uint8_t emailSent = 0;
    std::uint8_t emailRequested = 0;
};

// The state a fresh start would have, then the settings of the case.
void Prepare(const Settings& settings)
{
    gEmailNotifyOn = settings.notifyOn;
    gNotifyMinorErrors = settings.minorErrors;
    gDailyEmail = settings.dailyEmail;
    gEmailSent = settings.emailSent;
    gEmailRequested = settings.emailRequested;
    gDriveOffline = 0;
    gSpotlightConflict = 0;
    gTooManyNoticed = 0;
    gNoBackupWarnDay = 0;
}

void RunToday(const MonitorWorld& world, const char* file, const Settings& settings = {})
{
    world.SetLogOutput(Fixture(file));
    Prepare(settings);
    world.FetchToday();
}

void RunYesterday(const MonitorWorld& world, const char* file)
{
    world.SetLogOutput(Fixture(file));
    Prepare({});
    // Left over from an earlier analysis: yesterday's analysis clears them.
    gDriveOffline = 1;
    gSpotlightConflict = 1;
    gProblemFolder = "left over";
    world.FetchYesterday();
}

struct Outcome {
    // Unset: not checked here (see the long-line tests at the end).
    std::optional<std::string> report;
    std::optional<std::string> lastProblem;
    std::optional<std::string> status; // bytes, shown as Mac Roman text
    std::string folder;
    std::string successText;
    int errorFound = 0;
    int driveOffline = 0;
    int spotlight = 0;
    int successFound = 0;
    int emailRequested = 0;
};

void ExpectToday(const char* file, const Outcome& want)
{
    SCOPED_TRACE(file);
    if (want.report) {
        EXPECT_EQ(MonitorWorld::Report(), *want.report);
    }
    EXPECT_EQ(MonitorWorld::ReportShown(), QzContainerToCF(gReport));
    if (want.lastProblem) {
        EXPECT_EQ(Text(gLastProblem), *want.lastProblem);
    }
    if (want.status) {
        EXPECT_EQ(MonitorWorld::Status().toStdString(), QzStrToCF(SS(*want.status)).toStdString());
    }
    EXPECT_EQ(Text(gProblemFolder), want.folder);
    EXPECT_EQ(Text(gLastSuccessText), want.successText);
    EXPECT_EQ(gErrorFound, want.errorFound);
    EXPECT_EQ(gDriveOffline, want.driveOffline);
    EXPECT_EQ(gSpotlightConflict, want.spotlight);
    EXPECT_EQ(gSuccessFound, want.successFound);
    EXPECT_EQ(gEmailRequested, want.emailRequested);
    // The command was read to its end and its channel closed.
    EXPECT_EQ(QzEof(1), -1);
    EXPECT_EQ(gTodayReadNow, 0);
    EXPECT_EQ(gPollAllowed, 1);
    // A success is recorded as today's day (69); otherwise the day stays 68.
    EXPECT_EQ(ReadLastBackupDay(), want.successFound ? 69 : 68);
}

void ExpectYesterday(const char* file, const std::optional<std::string>& report, const std::string& lastProblem,
    const std::string& status, int errorFound)
{
    SCOPED_TRACE(file);
    if (report) {
        EXPECT_EQ(MonitorWorld::Report(), *report);
    }
    EXPECT_EQ(MonitorWorld::ReportShown(), QzContainerToCF(gReport));
    EXPECT_EQ(Text(gLastProblem), lastProblem);
    EXPECT_EQ(MonitorWorld::Status().toStdString(), QzStrToCF(SS(status)).toStdString());
    EXPECT_EQ(gErrorFound, errorFound);
    EXPECT_EQ(Text(gProblemFolder), "");
    EXPECT_EQ(Text(gLastSuccessText), "");
    EXPECT_EQ(gDriveOffline, 0);
    EXPECT_EQ(gSpotlightConflict, 0);
    EXPECT_EQ(gEmailRequested, 0); // never requests an email
    EXPECT_EQ(QzEof(1), -1);
    EXPECT_EQ(gYesterdayReadNow, 0);
    EXPECT_EQ(gPollAllowed, 1);
}

// The expected outcomes of the fixtures whose problem lines come in pieces
// of 255 bytes, shared by their tests (which leave out what the long-line
// tests at the end check) and those long-line tests.

const std::string kSuccess0814 = TodaySuccess("08:14:47");
const std::string kSuccess0915 = TodaySuccess("09:15:20");
const std::string kSuccess1014 = TodaySuccess("10:14:54");
const std::string kSuccess1116 = TodaySuccess("11:16:02");

// Successes at 08:14 and 09:15, then a copy error (its cut line of 272
// bytes arrives as 255 + 17 bytes), "Stopping backup." and error 11, which
// holds "error" and so stands twice. The file named before "to /Volumes/"
// is the last problem; the failure comes last, so an email is asked for.
Outcome ElevenAfterSuccess()
{
    const std::string copy = CutLine(Fixture("today-failed-error-11-after-success.log"), 60);
    EXPECT_EQ(copy.size(), 272u);
    EXPECT_EQ(copy.substr(255), "/Documents/Thesis");
    const std::string failed = "2026-03-10 10:13:53Error] Backup failed with error: 11";
    const std::string success = TodaySuccess("09:15:11");
    Outcome want;
    want.report = kHeading + kSuccess0814 + kCrLf + success + kCrLf + SamsApostropheCleaned(copy.substr(0, 255)) + kGap
        + "2026-03-10 10:13:52Error] Stopping backup." + kGap + failed + kGap + failed + kGap + SuccessBlock(success)
        + kCrLf + kCrLf;
    want.lastProblem = "chapter3.docx";
    want.status = "The last problem was 'chapter3.docx'";
    want.folder = "Users:sam:Documents:Thesis";
    want.successText = SuccessBlock(success);
    want.errorFound = 1;
    want.successFound = 1;
    want.emailRequested = 1;
    return want;
}

// The same failure at 08:12, then three successes: the status line is
// cleared for the success and then names the problem file; no email with
// minor errors off.
Outcome SuccessAfterFailure()
{
    const std::string copy = CutLine(Fixture("today-success-after-failure.log"), 12);
    EXPECT_EQ(copy.size(), 272u);
    const std::string failed = "2026-03-10 08:12:59Error] Backup failed with error: 11";
    const std::string last = TodaySuccess("11:16:12");
    Outcome want;
    want.report = kHeading + SamsApostropheCleaned(copy.substr(0, 255)) + kGap
        + "2026-03-10 08:12:57Error] Stopping backup." + kGap + failed + kGap + failed + kGap + TodaySuccess("09:16:09")
        + kCrLf + TodaySuccess("10:15:48") + kCrLf + last + kCrLf + SuccessBlock(last) + kCrLf + kCrLf;
    want.lastProblem = "chapter3.docx";
    want.status = "The last problem was 'chapter3.docx'";
    want.folder = "Users:sam:Documents:Thesis";
    want.successText = SuccessBlock(last);
    want.errorFound = 1;
    want.successFound = 1;
    return want;
}

// The copy line of an invisible .DS_Store, cut to exactly 255 bytes, with
// a destination: the file's name and folder win over the copy text.
Outcome DsStore()
{
    const std::string copy = CutLine(Fixture("today-ds-store-problem.log"), 58);
    EXPECT_EQ(copy.size(), 255u);
    Outcome want;
    want.report = kHeading + kSuccess0814 + kCrLf + kSuccess0915 + kCrLf + SamsApostropheCleaned(copy) + kGap
        + kSuccess1014 + kCrLf + kSuccess1116 + kCrLf + SuccessBlock(kSuccess1116) + kCrLf + kCrLf;
    want.lastProblem = ".DS_Store";
    want.status = "The last problem was '.DS_Store' (Invisible)";
    want.folder = "Users:sam:Documents";
    want.successText = SuccessBlock(kSuccess1116);
    want.errorFound = 1;
    want.successFound = 1;
    return want;
}

// A copy line of 275 bytes: "to /Volumes/" is in its first piece.
Outcome CopyToVolumes()
{
    const std::string copy = CutLine(Fixture("today-copy-error-to-volumes.log"), 51);
    EXPECT_EQ(copy.size(), 275u);
    EXPECT_EQ(copy.substr(255), "am/Pictures/Holidays");
    Outcome want;
    want.report = kHeading + kSuccess0814 + kCrLf + kSuccess0915 + kCrLf + SamsApostropheCleaned(copy.substr(0, 255))
        + kGap + kSuccess1014 + kCrLf + kSuccess1116 + kCrLf + SuccessBlock(kSuccess1116) + kCrLf + kCrLf;
    want.lastProblem = "IMG_2043.HEIC";
    want.status = "The last problem was 'IMG_2043.HEIC'";
    want.folder = "Users:sam:Pictures:Holidays";
    want.successText = SuccessBlock(kSuccess1116);
    want.errorFound = 1;
    want.successFound = 1;
    return want;
}

// 112 copy errors, each longer than 255 bytes: the first piece of each is
// a problem line, the rest matches nothing. The report passes 25000 bytes;
// the too-many text is then replaced by the last copy error (from the
// "Error]" after its time stamp to the end of its piece), and with the
// problem-file position dropped, the copy error's folder (the path up to
// the piece's last "/") stays.
Outcome TooMany()
{
    const std::string log = Fixture("today-too-many-problems.log");
    const std::string last = TodaySuccess("09:15:37");
    std::string report = kHeading + kSuccess0814 + kCrLf;
    for (std::size_t n = 29; n <= 140; ++n) {
        const std::string copy = CutLine(log, n);
        EXPECT_GT(copy.size(), 255u) << n;
        EXPECT_NE(copy.find("SrcErr:YES Copying /Users/sam/"), std::string::npos) << n;
        report += SamsApostropheCleaned(copy.substr(0, 255)) + kGap;
    }
    report += last + kCrLf;
    const std::string lastCopy = SamsApostropheCleaned(CutLine(log, 140).substr(0, 255));
    EXPECT_EQ(lastCopy.substr(0, 25), "2026-03-10 09:15:23Error]");
    Outcome want;
    want.report = report + SuccessBlock(last) + kCrLf + kCrLf;
    want.lastProblem = lastCopy.substr(19);
    want.status = want.lastProblem;
    want.folder = "Users:sam:Pictures:Photos Library.photoslibrary:originals:0:IMG_4211.HEIC to :Volumes:Backup "
                  "Plus:Backups.backupdb:Sam\xE2'\x99s MacBook Pro:2026-03-10-091204.inProgress";
    want.successText = SuccessBlock(last);
    want.errorFound = 1;
    want.successFound = 1;
    return want;
}

// The copy error of garbled.log, as today's analysis sees it: bytes above
// 127 kept, the 128 made an apostrophe.
const std::string kGarbledCopy
    = "Error] Error: (-36) SrcErr:YES Copying /Users/sam/Documents/R\xE9sum\xE9 \xD5 '\x81\xFE\xFF.pages to (null)";

// Without the NUL line the 1 MB entry comes through grep, cut to 879 bytes:
// its first 255-byte piece is the last copy error, and its path the folder.
Outcome GarbledWithoutNulToday()
{
    const std::string deep = "Error] Error: (-36) SrcErr:YES Copying /Users/sam/" + Repeat("deep/", 37) + "d";
    const std::string first = TodaySuccess("10:14:31");
    const std::string second = TodaySuccess("11:02:00");
    Outcome want;
    want.report = kHeading + first + kCrLf + "2026-03-10 10:50:00" + kGarbledCopy + kGap + "2026-03-10 11:01:00" + deep
        + kGap + second + kCrLf + SuccessBlock(second) + kCrLf + kCrLf;
    want.lastProblem = deep;
    want.status = deep;
    want.folder = "Users:sam:" + Repeat("deep:", 36) + "deep";
    want.successText = SuccessBlock(second);
    want.errorFound = 1;
    want.successFound = 1;
    return want;
}

// Yesterday's lines are whole, in 255-byte pieces: a piece is a problem
// when it holds "error" or "Error" (the type column "Error" counts), so the
// .emlx line (ignored only today) gives two problem pieces, and the two copy
// lines one each. The offline line holds no error; error 19 is a problem
// like any other; the importer line is the last problem.
std::string YesterdayWithProblemsReport()
{
    const std::string log = Fixture("yesterday-with-problems.log");
    const auto line = [&](std::size_t n) { return WholeLine(log, n); };
    const std::string emlx = line(19);
    EXPECT_EQ(emlx.size(), 304u);
    EXPECT_EQ(emlx.substr(255), "es/48213.emlx, error: 2 No such file or directory");
    EXPECT_EQ(line(23).size(), 375u);
    EXPECT_EQ(line(41).size(), 392u);
    std::string report = kYesterdayHeading + line(9) + kCrLf + line(17) + kCrLf + emlx.substr(0, 255) + kCrLf
        + emlx.substr(255) + kCrLf + line(23).substr(0, 255) + kCrLf + line(26) + kCrLf + line(33) + kCrLf
        + line(41).substr(0, 255) + kCrLf;
    for (std::size_t n : {42, 43, 49, 56, 62, 68, 71, 77, 87})
        report += line(n) + kCrLf;
    return report + kCrLf;
}

// Whole lines of the garbled logs: the 1 MB entry arrives in 4113 pieces of
// which only the first holds "Error"; in garbled.log the NUL line's "error"
// follows the second backup.
std::string YesterdayGarbledReport(const char* file)
{
    const std::string log = Fixture(file);
    std::string report = kYesterdayHeading + WholeLine(log, 9) + kCrLf + WholeLine(log, 11) + kCrLf
        + WholeLine(log, 16).substr(0, 255) + kCrLf + WholeLine(log, 17) + kCrLf;
    if (std::string(file) == "garbled.log")
        report += WholeLine(log, 18) + kCrLf;
    return report + kCrLf;
}

// The start and the end of the report, around its long problem lines.
void ExpectReportAround(const std::string& begin, const std::string& end)
{
    const std::string report = MonitorWorld::Report();
    EXPECT_EQ(report.substr(0, begin.size()), begin);
    EXPECT_GE(report.size(), end.size());
    if (report.size() >= end.size()) {
        EXPECT_EQ(report.substr(report.size() - end.size()), end);
    }
}

} // namespace

TEST(FixtureToday, ErrorFreeLogsListTheirBackupsAndNoProblem)
{
    {
        // Every error-like line is on the ignore list, "inProgress" (capital
        // P) is no ignore pattern but holds no error; four successes.
        MonitorWorld world;
        RunToday(world, "today-error-free-morning.log", {.emailSent = 1, .emailRequested = 1});
        const std::string last = TodaySuccess("11:15:07");
        Outcome want;
        want.report = kHeading + TodaySuccess("08:14:47") + kCrLf + TodaySuccess("09:14:45") + kCrLf
            + TodaySuccess("10:14:58") + kCrLf + last + kCrLf + kNoErrors + SuccessBlock(last) + kCrLf + kCrLf;
        want.successText = SuccessBlock(last);
        want.successFound = 1;
        ExpectToday("today-error-free-morning.log", want);
        EXPECT_EQ(gEmailSent, 0); // nothing to report: the latch is released
    }
    {
        // "Not starting ..." with "Backup already running" or "Less than 10
        // minutes since last backup" is no offline report.
        MonitorWorld world;
        RunToday(world, "today-not-starting-benign.log");
        const std::string last = TodaySuccess("11:15:11");
        Outcome want;
        want.report = kHeading + TodaySuccess("08:14:44") + kCrLf + TodaySuccess("09:14:31") + kCrLf
            + TodaySuccess("10:04:35") + kCrLf + last + kCrLf + kNoErrors + SuccessBlock(last) + kCrLf + kCrLf;
        want.successText = SuccessBlock(last);
        want.successFound = 1;
        ExpectToday("today-not-starting-benign.log", want);
    }
}

TEST(FixtureToday, FortyNineLinesAfterGrepAreNeeded)
{
    for (const char* file : {"today-few-lines.log", "today-48-lines-after-grep.log"}) {
        MonitorWorld world;
        RunToday(world, file);
        const std::string last = TodaySuccess("11:15:04");
        Outcome want;
        want.report = kHeading + TodaySuccess("10:14:31") + kCrLf + last + kCrLf + SuccessBlock(last) + kCrLf + kCrLf;
        want.lastProblem = " Unable to get today's error log.";
        want.status = "Unable to get today's error log";
        want.successText = SuccessBlock(last);
        want.successFound = 1;
        ExpectToday(file, want);
    }
    MonitorWorld world;
    RunToday(world, "today-49-lines-after-grep.log");
    const std::string last = TodaySuccess("11:15:04");
    Outcome want;
    want.report
        = kHeading + TodaySuccess("10:14:31") + kCrLf + last + kCrLf + kNoErrors + SuccessBlock(last) + kCrLf + kCrLf;
    want.successText = SuccessBlock(last);
    want.successFound = 1;
    ExpectToday("today-49-lines-after-grep.log", want);
}

TEST(FixtureToday, OfflineDrive)
{
    {
        // "Not starting ... destination not resolvable" marks the drive
        // offline and names it in the status line, but it holds no "error":
        // with no problem line the evaluation clears the offline flag again,
        // so the report is not replaced: it lists the three lines.
        MonitorWorld world;
        RunToday(world, "today-drive-offline.log", {.emailSent = 1});
        const std::string success = TodaySuccess("08:15:01");
        const std::string notStarting
            = "Info] Not starting scheduled Time Machine backup - time machine destination not resolvable.";
        Outcome want;
        want.report = kHeading + success + kCrLf + "2026-03-10 09:13:06" + notStarting + kGap + "2026-03-10 10:13:28"
            + notStarting + kGap + "2026-03-10 11:13:21" + notStarting + kGap + kNoErrors + SuccessBlock(success)
            + kCrLf + kCrLf;
        want.lastProblem = "The last problem was 'Time Machine Backup Offline'";
        want.status = want.lastProblem;
        want.successText = SuccessBlock(success);
        want.successFound = 1;
        ExpectToday("today-drive-offline.log", want);
        EXPECT_EQ(Text(gFailureText), "Backup Drive Offline");
        // The latch was tested while the drive still counted as offline.
        EXPECT_EQ(gEmailSent, 1);
    }
    for (const char* file : {"today-failed-error-19.log", "today-failed-error-27.log"}) {
        // Error 19 and 27 are copied once, as problem lines, and mean the
        // drive is offline: the report becomes "Backup drive offline" with
        // the closing sections, and the failure after the success asks for
        // an email.
        MonitorWorld world;
        RunToday(world, file, {.emailSent = 1});
        const std::string success = TodaySuccess("08:15:01");
        Outcome want;
        want.report = "Backup drive offline" + SuccessBlock(success) + kCrLf + kCrLf;
        want.lastProblem = "Backup drive offline";
        want.status = "Backup drive offline";
        want.successText = SuccessBlock(success);
        want.errorFound = 1;
        want.driveOffline = 1;
        want.successFound = 1;
        want.emailRequested = 1;
        ExpectToday(file, want);
        EXPECT_EQ(gBackupFailed, 0);
        EXPECT_EQ(Text(gFailureText), "Backup Drive Offline");
        EXPECT_EQ(gTooManyNoticed, 0);
        EXPECT_EQ(gEmailSent, 1);
    }
}

TEST(FixtureToday, FailureBeforeAndAfterTheLastSuccess)
{
    const std::string failed11 = "Error] Backup failed with error: 11";
    {
        MonitorWorld world;
        RunToday(world, "today-failed-error-11-after-success.log");
        Outcome want = ElevenAfterSuccess();
        want.report.reset(); // whole: FixtureLongLines
        ExpectToday("today-failed-error-11-after-success.log", want);
        ExpectReportAround(kHeading + kSuccess0814 + kCrLf + TodaySuccess("09:15:11") + kCrLf
                + "2026-03-10 10:13:52Error] Error: (-36) SrcErr:NO Copying /Users/sam/Documents/Thesis/",
            "2026-03-10 10:13:53" + failed11 + kGap + "2026-03-10 10:13:53" + failed11 + kGap
                + SuccessBlock(TodaySuccess("09:15:11")) + kCrLf + kCrLf);
        EXPECT_EQ(gBackupFailed, 1);
        EXPECT_EQ(Text(gInvisibleSuffix), "");
    }
    {
        MonitorWorld world;
        RunToday(world, "today-success-after-failure.log", {.emailSent = 1, .emailRequested = 1});
        Outcome want = SuccessAfterFailure();
        want.report.reset(); // whole: FixtureLongLines
        ExpectToday("today-success-after-failure.log", want);
        const std::string last = TodaySuccess("11:16:12");
        ExpectReportAround(kHeading + "2026-03-10 08:12:57Error] Error: (-36) SrcErr:NO Copying /Users/sam/",
            "2026-03-10 08:12:59" + failed11 + kGap + "2026-03-10 08:12:59" + failed11 + kGap + TodaySuccess("09:16:09")
                + kCrLf + TodaySuccess("10:15:48") + kCrLf + last + kCrLf + SuccessBlock(last) + kCrLf + kCrLf);
        EXPECT_EQ(gEmailSent, 0);
        // The "Backing up to" of 09:13 cleared the failure text.
        EXPECT_EQ(Text(gFailureText), "");
    }
}

TEST(FixtureToday, SpotlightImporterConflict)
{
    // The importer line holds "Error" and "Importer start failed": copied
    // twice. The last "Error" of the report starts the last problem, which
    // runs on through the later success lines up to 255 bytes.
    MonitorWorld world;
    RunToday(world, "today-spotlight-importer-failed.log");
    const std::string importer
        = "Error] Importer start failed for /Volumes/Backup Plus (101), Spotlight indexing conflict";
    const std::string last = TodaySuccess("11:16:02");
    const std::string afterImporter
        = TodaySuccess("09:15:20") + kCrLf + TodaySuccess("10:15:41") + kCrLf + last + kCrLf;
    Outcome want;
    want.report = kHeading + TodaySuccess("08:14:47") + kCrLf + "2026-03-10 09:14:17" + importer + kGap
        + "2026-03-10 09:14:17" + importer + kGap + afterImporter + kSpotlightNote + SuccessBlock(last) + kCrLf + kCrLf;
    want.lastProblem = (importer + kGap + afterImporter).substr(0, 255);
    want.status = want.lastProblem;
    want.successText = SuccessBlock(last);
    want.errorFound = 1;
    want.spotlight = 1;
    want.successFound = 1;
    ExpectToday("today-spotlight-importer-failed.log", want);
}

TEST(FixtureToday, ProblemFilesAndCopyErrors)
{
    const std::string after = kSuccess1014 + kCrLf + kSuccess1116 + kCrLf + SuccessBlock(kSuccess1116) + kCrLf + kCrLf;
    {
        MonitorWorld world;
        RunToday(world, "today-ds-store-problem.log", {.emailRequested = 1});
        Outcome want = DsStore();
        want.report.reset(); // whole: FixtureLongLines
        ExpectToday("today-ds-store-problem.log", want);
        ExpectReportAround(kHeading + kSuccess0814 + kCrLf + kSuccess0915 + kCrLf
                + "2026-03-10 10:13:50Error] Error: (-36) SrcErr:YES Copying /Users/sam/Documents/.DS_Store to ",
            after);
        EXPECT_EQ(Text(gInvisibleSuffix), " (Invisible)");
    }
    {
        MonitorWorld world;
        RunToday(world, "today-copy-error-to-volumes.log");
        Outcome want = CopyToVolumes();
        want.report.reset(); // whole: FixtureLongLines
        ExpectToday("today-copy-error-to-volumes.log", want);
        ExpectReportAround(kHeading + kSuccess0814 + kCrLf + kSuccess0915 + kCrLf
                + "2026-03-10 10:13:50Error] Error: (-36) SrcErr:YES Copying /Users/sam/Pictures/Holidays/",
            after);
        EXPECT_EQ(Text(gInvisibleSuffix), "");
    }
    {
        // "YES Copying " without a destination: the copy text from the first
        // "Error" of its line (the category "Error]") names the problem, and
        // the source path gives the folder.
        MonitorWorld world;
        RunToday(world, "today-copy-error-to-null.log");
        const std::string copy = "Error] Error: (-8084) SrcErr:YES Copying "
                                 "/Users/sam/Library/Preferences/com.apple.dt.Xcode.plist to (null)";
        Outcome want;
        want.report
            = kHeading + kSuccess0814 + kCrLf + kSuccess0915 + kCrLf + "2026-03-10 10:13:50" + copy + kGap + after;
        want.lastProblem = copy;
        want.status = copy;
        want.folder = "Users:sam:Library:Preferences";
        want.successText = SuccessBlock(kSuccess1116);
        want.errorFound = 1;
        want.successFound = 1;
        ExpectToday("today-copy-error-to-null.log", want);
    }
    {
        // "SrcErr:YES Copying (null) to (null)": no path, so no folder; the
        // "Backing up to" of 11:13 empties the text this pattern set, and the
        // copy text names the problem at the end.
        MonitorWorld world;
        RunToday(world, "today-copy-error-null-null.log");
        const std::string copy = "Error] Error: (-8062) SrcErr:YES Copying (null) to (null)";
        Outcome want;
        want.report
            = kHeading + kSuccess0814 + kCrLf + kSuccess0915 + kCrLf + "2026-03-10 10:13:50" + copy + kGap + after;
        want.lastProblem = copy;
        want.status = copy;
        want.successText = SuccessBlock(kSuccess1116);
        want.errorFound = 1;
        want.successFound = 1;
        ExpectToday("today-copy-error-null-null.log", want);
    }
}

TEST(FixtureToday, TooManyProblems)
{
    MonitorWorld world;
    RunToday(world, "today-too-many-problems.log");
    Outcome want = TooMany();
    const std::string lastProblem = *want.lastProblem;
    want.report.reset(); // whole, with the texts: FixtureLongLines
    want.lastProblem.reset();
    want.status.reset();
    ExpectToday("today-too-many-problems.log", want);
    EXPECT_GE(MonitorWorld::Report().size(), 25001u);
    EXPECT_LT(MonitorWorld::Report().size(), 30000u);
    const std::string last = TodaySuccess("09:15:37");
    ExpectReportAround(kHeading + kSuccess0814 + kCrLf + "2026-03-10 09:14:02Error] Error: (-36) SrcErr:YES Copying ",
        last + kCrLf + SuccessBlock(last) + kCrLf + kCrLf);
    // Not the too-many text: the last copy error names the problem.
    const std::string copyHead = lastProblem.substr(0, 120);
    EXPECT_EQ(Text(gLastProblem).substr(0, 120), copyHead);
    EXPECT_EQ(MonitorWorld::Status().toStdString().substr(0, 120), copyHead);
    EXPECT_EQ(gTooManyNoticed, 1);
    EXPECT_EQ(gVolumesPos, 0);
}

TEST(FixtureToday, SnapshotsWithoutBackup)
{
    {
        MonitorWorld world;
        RunToday(world, "today-snapshots-only.log", {.emailSent = 1});
        Outcome want;
        want.report = kHeading + kNoErrors + kNoSuccess + kCrLf + kCrLf;
        want.lastProblem = "Local snapshots were created.";
        want.status = "No backup drive available. Local snapshots were created.";
        want.folder = kNoBackupFolder;
        want.successText = kNoSuccess;
        ExpectToday("today-snapshots-only.log", want);
        EXPECT_EQ(gEmailSent, 0);
    }
    {
        // The last backup five days ago: the warning joins the report and
        // the daily email is asked for, but the snapshot text has the last
        // word in the status line.
        MonitorWorld world;
        gLastBackupDay = 64;
        SaveSettings();
        RunToday(world, "today-snapshots-only.log", {.dailyEmail = 1, .emailSent = 1});
        EXPECT_EQ(MonitorWorld::Report(),
            kHeading + kNoErrors + kNoSuccess + kCrLf + "NO SUCESSFUL BACKUPS FOR MORE THAN A DAY\r\n" + kCrLf);
        EXPECT_EQ(Text(gLastProblem), "Local snapshots were created.");
        EXPECT_EQ(MonitorWorld::Status(), QStringLiteral("No backup drive available. Local snapshots were created."));
        EXPECT_EQ(Text(gProblemFolder), kNoBackupFolder);
        EXPECT_EQ(gEmailRequested, 1);
        EXPECT_EQ(gEmailSent, 0);
        EXPECT_EQ(gNoBackupWarnDay, 69);
    }
}

TEST(FixtureToday, EmailRequestForEachSettingsCombination)
{
    struct Case {
        const char* file;
        int requested[4]; // (notify on, minor errors) = (1,1), (1,0), (0,1), (0,0)
    };
    const Case cases[] = {
        {"today-error-free-morning.log", {0, 0, 0, 0}},
        {"today-not-starting-benign.log", {0, 0, 0, 0}},
        {"today-drive-offline.log", {0, 0, 0, 0}},
        {"today-failed-error-19.log", {1, 1, 0, 0}},
        {"today-failed-error-27.log", {1, 1, 0, 0}},
        {"today-failed-error-11-after-success.log", {1, 1, 0, 0}},
        {"today-success-after-failure.log", {1, 0, 0, 0}},
        {"today-spotlight-importer-failed.log", {1, 0, 0, 0}},
        {"today-ds-store-problem.log", {1, 0, 0, 0}},
        {"today-copy-error-to-volumes.log", {1, 0, 0, 0}},
        {"today-copy-error-to-null.log", {1, 0, 0, 0}},
        {"today-copy-error-null-null.log", {1, 0, 0, 0}},
        {"today-too-many-problems.log", {1, 0, 0, 0}},
        {"today-few-lines.log", {0, 0, 0, 0}},
        {"today-snapshots-only.log", {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        int i = 0;
        for (std::uint8_t on : {1, 0}) {
            for (std::uint8_t minor : {1, 0}) {
                MonitorWorld world;
                RunToday(world, c.file, {.notifyOn = on, .minorErrors = minor});
                EXPECT_EQ(gEmailRequested, c.requested[i]) << c.file << " on=" << int(on) << " minor=" << int(minor);
                ++i;
            }
        }
    }
    // With email off, a request still pending is kept when the failure
    // comes after the last success, and dropped otherwise.
    for (const auto& [file, kept] :
        {std::pair {"today-failed-error-11-after-success.log", 1}, std::pair {"today-failed-error-19.log", 1},
            std::pair {"today-success-after-failure.log", 0}, std::pair {"today-error-free-morning.log", 0}}) {
        MonitorWorld world;
        RunToday(world, file, {.notifyOn = 0, .emailRequested = 1});
        EXPECT_EQ(gEmailRequested, kept) << file;
    }
}

TEST(FixtureYesterday, ErrorFreeAndTheFortyNineLineBoundary)
{
    {
        // The closing statistics line holds "Error:" but is no entry; the
        // SystemUIServer line with "error" says "Operation not permitted".
        MonitorWorld world;
        const std::string log = Fixture("yesterday-error-free.log");
        RunYesterday(world, "yesterday-error-free.log");
        std::string report = kYesterdayHeading;
        for (std::size_t n : {9, 17, 25, 32, 40, 49, 62, 68, 75, 82, 88, 97}) {
            const std::string line = WholeLine(log, n);
            ASSERT_NE(line.find("] Backup completed successfully."), std::string::npos) << n;
            report += line + kCrLf;
        }
        ExpectYesterday("yesterday-error-free.log", report + kYesterdayNoErrors + kCrLf, "", "", 0);
    }
    {
        MonitorWorld world;
        const std::string log = Fixture("yesterday-48-lines.log");
        RunYesterday(world, "yesterday-48-lines.log");
        ExpectYesterday("yesterday-48-lines.log",
            kYesterdayHeading + WholeLine(log, 12) + kCrLf + WholeLine(log, 26) + kCrLf + WholeLine(log, 40) + kCrLf
                + kCrLf,
            " Unable to get yesterday's error log.", "Unable to get yesterday's error log", 0);
    }
    {
        MonitorWorld world;
        const std::string log = Fixture("yesterday-49-lines.log");
        RunYesterday(world, "yesterday-49-lines.log");
        ExpectYesterday("yesterday-49-lines.log",
            kYesterdayHeading + WholeLine(log, 12) + kCrLf + WholeLine(log, 26) + kCrLf + WholeLine(log, 41) + kCrLf
                + kYesterdayNoErrors + kCrLf,
            "", "", 0);
    }
}

TEST(FixtureYesterday, ProblemsAndSnapshots)
{
    {
        MonitorWorld world;
        const std::string log = Fixture("yesterday-with-problems.log");
        RunYesterday(world, "yesterday-with-problems.log");
        const std::string importer = WholeLine(log, 68);
        ASSERT_NE(importer.find("Importer start failed"), std::string::npos);
        std::string end;
        for (std::size_t n : {42, 43, 49, 56, 62, 68, 71, 77, 87})
            end += WholeLine(log, n) + kCrLf;
        // The whole report: FixtureLongLines.
        ExpectYesterday("yesterday-with-problems.log", std::nullopt, importer,
            ("The last problem yesterday was '" + importer).substr(0, 255), 1);
        ExpectReportAround(kYesterdayHeading + WholeLine(log, 9) + kCrLf + WholeLine(log, 17) + kCrLf
                + WholeLine(log, 19).substr(0, 120),
            end + kCrLf);
    }
    {
        MonitorWorld world;
        RunYesterday(world, "yesterday-snapshots-only.log");
        ExpectYesterday("yesterday-snapshots-only.log", kYesterdayHeading + kYesterdayNoErrors + kCrLf,
            "Local snapshots were created.", "No backup drive available. Local snapshots were created.", 0);
    }
}

TEST(FixtureGarbled, TodaysAnalysisOfGarbledLogs)
{
    // grep stops at the NUL's buffer, so only the first nine entries reach
    // the analysis: a backup, the copy error with bytes above 127 and the
    // CR line, which the reader splits in two. Ten lines are too few; the
    // copy error then names the problem.
    const std::string first = TodaySuccess("10:14:31");
    {
        MonitorWorld world;
        RunToday(world, "garbled.log");
        Outcome want;
        want.report = kHeading + first + kCrLf + "2026-03-10 10:50:00" + kGarbledCopy + kGap + SuccessBlock(first)
            + kCrLf + kCrLf;
        want.lastProblem = kGarbledCopy;
        want.status = kGarbledCopy;
        want.folder = "Users:sam:Documents";
        want.successText = SuccessBlock(first);
        want.errorFound = 1;
        want.successFound = 1;
        ExpectToday("garbled.log", want);
    }
    {
        MonitorWorld world;
        RunToday(world, "garbled-without-nul.log");
        Outcome want = GarbledWithoutNulToday();
        const std::string lastProblem = *want.lastProblem;
        want.report.reset(); // whole, with the texts: FixtureLongLines
        want.lastProblem.reset();
        want.status.reset();
        ExpectToday("garbled-without-nul.log", want);
        const std::string second = TodaySuccess("11:02:00");
        ExpectReportAround(kHeading + first + kCrLf + "2026-03-10 10:50:00" + kGarbledCopy + kGap
                + "2026-03-10 11:01:00Error] Error: (-36) SrcErr:YES Copying /Users/sam/deep/",
            second + kCrLf + SuccessBlock(second) + kCrLf + kCrLf);
        EXPECT_EQ(Text(gLastProblem).substr(0, 200), lastProblem.substr(0, 200));
        EXPECT_EQ(MonitorWorld::Status().toStdString().substr(0, 200), lastProblem.substr(0, 200));
    }
}

TEST(FixtureGarbled, YesterdaysAnalysisOfGarbledLogs)
{
    {
        // The NUL line's "error" makes it the last problem, NUL bytes and
        // all; the unended last line is read like any other.
        MonitorWorld world;
        const std::string log = Fixture("garbled.log");
        RunYesterday(world, "garbled.log");
        const std::string nul = WholeLine(log, 18);
        ASSERT_EQ(nul.substr(nul.size() - 32), "Backup failed with error: \0\00019 \0"s);
        // The whole report: FixtureLongLines.
        ExpectYesterday("garbled.log", std::nullopt, nul, "The last problem yesterday was '" + nul, 1);
        ExpectReportAround(kYesterdayHeading + WholeLine(log, 9) + kCrLf + WholeLine(log, 11) + kCrLf,
            WholeLine(log, 17) + kCrLf + nul + kCrLf + kCrLf);
    }
    {
        // Without it the 1 MB entry's first piece is the last problem.
        MonitorWorld world;
        const std::string log = Fixture("garbled-without-nul.log");
        RunYesterday(world, "garbled-without-nul.log");
        const std::string deep = WholeLine(log, 16).substr(0, 255);
        ExpectYesterday("garbled-without-nul.log", std::nullopt, deep,
            ("The last problem yesterday was '" + deep).substr(0, 255), 1);
        ExpectReportAround(kYesterdayHeading + WholeLine(log, 9) + kCrLf + WholeLine(log, 11) + kCrLf,
            WholeLine(log, 17) + kCrLf + kCrLf);
    }
}

// Each line read, however long, stands on its own line of the report: a
// problem line is followed by CR LF CR LF in today's report and by CR LF in
// yesterday's, also when it is a piece of 255 bytes, and the copy error's
// text ends at that line's end. The analyses build the line and its line
// ends piece by piece, so no line runs into the next one.
TEST(FixtureLongLines, TodaysLongProblemLinesKeepTheirLineEnds)
{
    const std::pair<const char*, Outcome (*)()> cases[] = {
        {"today-failed-error-11-after-success.log", ElevenAfterSuccess},
        {"today-success-after-failure.log", SuccessAfterFailure},
        {"today-ds-store-problem.log", DsStore},
        {"today-copy-error-to-volumes.log", CopyToVolumes},
        {"today-too-many-problems.log", TooMany},
        {"garbled-without-nul.log", GarbledWithoutNulToday},
    };
    for (const auto& [file, outcome] : cases) {
        MonitorWorld world;
        RunToday(world, file);
        ExpectToday(file, outcome());
    }
}

TEST(FixtureLongLines, YesterdaysLongProblemLinesKeepTheirLineEnds)
{
    for (const char* file : {"yesterday-with-problems.log", "garbled.log", "garbled-without-nul.log"}) {
        MonitorWorld world;
        RunYesterday(world, file);
        EXPECT_EQ(MonitorWorld::Report(),
            std::string(file) == "yesterday-with-problems.log" ? YesterdayWithProblemsReport()
                                                               : YesterdayGarbledReport(file))
            << file;
    }
}
