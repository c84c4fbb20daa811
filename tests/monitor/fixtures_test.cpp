// Fixture logs against tests/fixtures/expected/ (QZ_UPDATE_EXPECTED=1 writes them afresh, for review); generated logs
// against tests/fixtures/analysis-digests.txt (QZ_WRITE_DIGESTS=<file> writes fresh ones when a rule changes).

#include "monitor_support.h"

#include "app/mainwindow.h"
#include "monitor/fetch.h"
#include "monitor/report.h"
#include "monitor/state.h"
#include "runtime/channels.h"
#include "runtime/state.h"
#include "runtime/textcontainer.h"
#include "runtime/windows.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <QCryptographicHash>

#include <array>
#include <cstdio>
#include <fstream>
#include <random>

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

// Printable ASCII as it is, "\\" doubled, other bytes as \xHH, a line break after \x0a.
std::string Escape(std::string_view bytes)
{
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", b);
        out += b == '\\' ? "\\\\" : b >= 0x20 && b < 0x7f ? std::string(1, c) : hex + std::string(b == '\n', '\n');
    }
    return out;
}

std::string Outcome()
{
    QzSetCurrentWindow(1);
    std::string out = "status: " + Escape(QzTextFieldString(8).toStdString()) + "\n";
    const std::pair<const char*, const ShortString*> texts[]
        = {{"last problem", &gLastProblem}, {"problem folder", &gProblemFolder}, {"success text", &gLastSuccessText},
            {"failure text", &gFailureText}, {"invisible suffix", &gInvisibleSuffix}};
    for (const auto& [name, text] : texts)
        out += std::string(name) + ": " + Escape(text->view()) + "\n";
    char flags[400];
    std::snprintf(flags, sizeof flags,
        "error found %d, drive offline %d, spotlight %d, success found %d, backup failed %d, too few lines %d\n"
        "email requested %d, email sent %d, too many noticed %d, no-backup warning day %d, volumes position %lld\n"
        "last backup day in the file %d\n",
        gErrorFound, gDriveOffline, gSpotlightConflict, gSuccessFound, gBackupFailed, gTooFewLines, gEmailRequested,
        gEmailSent, gTooManyNoticed, gNoBackupWarnDay, static_cast<long long>(gVolumesPos), ReadLastBackupDay());
    return out + flags + "report:\n" + Escape(gReport.bytes) + "\n";
}

// A case: the fixture below tests/fixtures without ".log", then words for what differs from a plain run of today's
// analysis: "yesterday"; "as:X" names the expected file when a fixture runs more than once; "both": the same outcome
// with the recent wording on and off; steps' words (the state left by earlier runs, the settings).
const char* const kCases[] = {"today-error-free-morning sent=1 requested=1",
    "today-error-free-morning as:-offline-before sent=1 offline=1", "today-not-starting-benign", "today-few-lines",
    "today-48-lines-after-grep", "today-49-lines-after-grep", "today-drive-offline sent=1",
    "today-failed-error-19 sent=1", "today-failed-error-27 sent=1", "today-failed-error-11-after-success",
    "today-success-after-failure sent=1 requested=1", "today-spotlight-importer-failed",
    "today-ds-store-problem requested=1", "today-copy-error-to-volumes", "today-copy-error-to-null",
    "today-copy-error-null-null", "today-too-many-problems", "today-too-many-problems yesterday",
    "today-snapshots-only sent=1", "today-snapshots-only as:-five-days sent=1 daily=1 backupDay=64", "garbled",
    "garbled-without-nul", "yesterday-error-free yesterday", "yesterday-48-lines yesterday",
    "yesterday-49-lines yesterday", "yesterday-with-problems yesterday", "yesterday-snapshots-only yesterday",
    "garbled yesterday", "garbled-without-nul yesterday", "recent/today-network-offline sent=1 recent=1",
    "recent/today-network-offline as:-classic", "recent/today-disk-image-offline sent=1 recent=1",
    "recent/today-failure-codes recent=1", "recent/today-failure-after-success recent=1",
    "recent/today-success-after-failure sent=1 requested=1 recent=1",
    "recent/today-start-clears-offline sent=1 recent=1 offline=1", "recent/yesterday-recent yesterday recent=1",
    "recent/yesterday-recent yesterday as:-classic", "cases/empty", "cases/empty yesterday",
    "cases/too-many-25000-bytes", "cases/too-many-25001-bytes", "cases/copy-error-past-32767-bytes",
    "cases/problem-without-backup-start sent=1 offline=1", "cases/unmount-mid-backup", "cases/failure-without-success",
    "cases/srcerr-no-to-volumes", "cases/copy-without-destination", "cases/copy-error-lower-case",
    "cases/no-slash-before-volumes", "cases/cleaned-and-ignored-lines", "cases/long-success-line",
    "cases/two-success-lines", "cases/long-line-in-two-pieces", "cases/recent-near-misses both",
    "cases/recent-near-misses yesterday both"};

// Every pattern the rules test, near misses, and bytes treated specially.
const char* const kPieces[] = {"Recovery", "recovery", "deleting backup", "Couldn't get volume info for unmounted disk",
    "Operation not permitted", "snapshot", "Created Time Machine local snapshot", "Error iterating sibling links",
    "Error writing to backup log", "Not prioritizing backups with priority errors", "inprogress",
    "Error Domain=NSPOSIXErrorDomain Code=60", "Failed to read sticky exclusion", "Injecting event for exclusion",
    "emlx, error: 2 No such file or directory", "connection invalid", "Failed to remove attribute", "Error", "error",
    "Error:", "Erro", "rror", "Not starting scheduled Time Machine backup", "Backup already running",
    "Less than 10 minutes since last backup", "Stopping backup to allow disk to be unmounted or ejected",
    "Backing up to", "Backing up", "Backup failed with error: 19", "Backup failed with error: 27",
    "Backup failed with error: 11", "Backup failed with error", "Backup failed with erro", "Importer start failed",
    "SrcErr:YES Copying (null) to (null)", "SrcErr:YES Copying ", "YES Copying ", "to /Volumes/", "to /Volumes/Backup",
    " to /Volumes/Backup/Backups.backupdb", "/Users/sam/Documents/report.txt", "/Users/a/b/.DS_Store", "/", "//",
    ".DS_Store", "Backup completed successfully", "Completed backup", "Backup succeeded",
    "Log      - Default:", "upd: (", "\"", "\x80", "\xE2\x80\x9C", "\r", " ", "al] ",
    "Mountpoint '/Volumes/Backup' is still valid", "Found 313 files (16.1 MB) needing backup"};

// Lines of pieces, random bytes (no line ends, nor the two whose platform character is not settled) and NULs, a few
// longer than one read; what earlier analyses and the settings file left. The numbers are the same everywhere.
std::string RandomLog(std::mt19937_64& random)
{
    const auto below = [&random](std::size_t n) { return static_cast<int>(random() % n); };
    gDriveOffline = below(2), gEmailSent = below(2), gEmailRequested = below(2), gTooManyNoticed = below(2);
    gNoBackupWarnDay = below(2) == 0 ? 69 : 0;
    gEmailNotifyOn = below(2), gNotifyMinorErrors = below(2), gDailyEmail = below(2);
    gLastBackupDay = std::array<std::int16_t, 5> {69, 68, 67, 60, 300}[below(5)];
    gSuccessFound = gBackupFailed = gErrorFound = gSpotlightConflict = gTooFewLines = 0;
    gLastSuccessLineNo = gLastFailureLineNo = gLineNo = 0;
    gFolderEnd = gCopyErrorPos = gErrorLineStart = gCopyingPos = gVolumesPos = 0;
    gLastSuccessText = gLastProblem = gProblemFolder = gInvisibleSuffix = gFailureText = ShortString();
    SaveSettings();
    const int kind = below(10);
    std::string out;
    const int lines = kind == 0 ? below(10) : kind < 4 ? 44 + below(10) : kind == 4 ? 300 + below(300) : below(120);
    for (int n = 0; n < lines; ++n) {
        std::string line = below(3) == 0 ? "" : "2026-03-10 10:15:03al] ";
        for (int pieces = below(5); pieces > 0; --pieces) {
            if (below(8) == 0)
                for (int bytes = 1 + below(12); bytes > 0; --bytes) {
                    const int b = below(256);
                    line += b == '\n' || b == 0xC6 || b == 0xF0 ? 'x' : static_cast<char>(b);
                }
            else
                line += below(40) == 0 ? std::string(1, '\0') : kPieces[below(std::size(kPieces))];
            line += below(3) == 0 ? " " : "";
        }
        if (below(25) == 0)
            line += std::string(200 + below(200), 'y') + line;
        out += line + (below(30) == 0 ? "\r\n" : "\n");
    }
    if (below(4) == 0 && !out.empty())
        out.pop_back(); // no line end after the last line
    return out;
}

// The whole log in a real pipe on FileChannel 1: thousands of commands would be slow. The settings live in memory
// where possible, as every success line saves them.
void Generated(bool today)
{
    MonitorWorld world;
    const QTemporaryDir memory(QDir(QStringLiteral("/dev/shm")).exists()
            ? QStringLiteral("/dev/shm/quillaby-XXXXXX")
            : QDir::tempPath() + QStringLiteral("/quillaby-XXXXXX"));
    setenv("XDG_DATA_HOME", memory.path().toUtf8().constData(), 1);
    LoadSettings();
    TestClock::SetLocal("2026-03-10 10:20:00"); // day 69 of the year
    const std::string prefix = today ? "today/" : "yesterday/";
    std::map<std::string, std::string> recorded, results;
    std::ifstream in(FixturePath(QStringLiteral("analysis-digests.txt")).toStdString());
    for (std::string name, digest; in >> name >> digest;)
        if (name.starts_with(prefix))
            recorded[name] = digest;
    for (int i = 0; i < 1500; ++i) {
        std::mt19937_64 random(static_cast<std::uint64_t>(i) * 2 + (today ? 0U : 1U));
        const std::string log = RandomLog(random);
        gRecentWording = today ? static_cast<std::uint8_t>(i % 2) : 0;
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
        ASSERT_EQ(write(fds[1], log.data(), log.size()), static_cast<ssize_t>(log.size()));
        close(fds[1]);
        QzClose(1);
        gQzChannels[1].open = gQzChannels[1].isPipe = true;
        gQzChannels[1].pipeFd = fds[0];
        (today ? gTodayReadNow : gYesterdayReadNow) = 1;
        static_cast<void>(today ? FetchTodayLog() : FetchYesterdayLog());
        const std::string outcome = Outcome() + MonitorWorld::ReportShown().toStdString() + " "
            + std::to_string(gLastSuccessLineNo) + " " + std::to_string(gLastFailureLineNo) + " "
            + std::to_string(gCopyingPos) + " " + std::to_string(gFolderEnd) + " " + std::to_string(gLineNo) + " "
            + std::to_string(gPollAllowed) + " " + std::to_string(gLastBackupDay);
        const QByteArray hash
            = QCryptographicHash::hash(QByteArray::fromStdString(outcome), QCryptographicHash::Sha256);
        results[prefix + std::to_string(i)] = hash.toHex().left(16).toStdString();
    }
    if (const char* out = std::getenv("QZ_WRITE_DIGESTS")) {
        std::ofstream file(out, std::ios::app);
        for (const auto& [name, digest] : results)
            file << name << ' ' << digest << '\n';
        GTEST_SKIP() << "digests written to " << out;
    }
    int differing = 0;
    for (const auto& [name, digest] : results)
        if (recorded[name] != digest && ++differing <= 10)
            ADD_FAILURE() << "results differ for " << name;
    EXPECT_EQ(differing + results.size(), recorded.size());
}

} // namespace

// Each case; the recorded logs, not in a folder of their own, give the same outcome with the recent wording on.
TEST(Fixtures, EachLogGivesItsExpectedOutcome)
{
    const bool update = std::getenv("QZ_UPDATE_EXPECTED") != nullptr;
    for (const char* const spec : kCases) {
        QString words = QString::fromUtf8(spec);
        const QString fixture = words.section(QLatin1Char(' '), 0, 0);
        const bool yesterday = words.contains(QStringLiteral(" yesterday")),
                   both = words.contains(QStringLiteral(" both"));
        const bool recentOnly = words.contains(QStringLiteral(" recent=1"));
        const QString name = QStringLiteral("expected/") + fixture
            + QRegularExpression(QStringLiteral(" as:(\\S+)")).match(words).captured(1)
            + (yesterday ? QStringLiteral(".yesterday") : QStringLiteral(".today"));
        words
            = words.section(QLatin1Char(' '), 1).remove(QRegularExpression(QStringLiteral("(yesterday|both|as:\\S+)")));
        for (const bool recent : {recentOnly, recentOnly || both || !fixture.contains(QLatin1Char('/'))}) {
            SCOPED_TRACE(name.toStdString() + (recent ? " (recent wording)" : ""));
            MonitorWorld world; // yesterday's analysis clears what an earlier analysis left
            world.SetLogOutput(ReadFile(FixturePath(fixture + QStringLiteral(".log"))));
            world.Run({{("backupDay=68 daily=0 notify=1 minor=0 " + words.toStdString() + (recent ? " recent=1" : "")
                + (yesterday ? " offline=1 spotlight=1 folder=9 Yesterday() yOpen=0 yReadNow=1 Yesterday()"
                             : " Today() open=0 readNow=1 Today()"))
                            .c_str()}});
            // The command was read to its end, its channel closed, the report shown.
            EXPECT_EQ(QzEof(1), -1);
            EXPECT_EQ(gTodayReadNow + gYesterdayReadNow, 0);
            EXPECT_EQ(gPollAllowed, 1);
            EXPECT_EQ(MonitorWorld::ReportShown(), QzContainerToCF(gReport));
            const std::string got = Outcome();
            QFile file(FixturePath(name));
            if (update && file.open(QIODevice::WriteOnly))
                file.write(got.data(), static_cast<qint64>(got.size()));
            else
                EXPECT_EQ(got, ReadFile(FixturePath(name)));
        }
    }
}

TEST(AnalysisSameness, GeneratedLogsThroughBothAnalyses)
{
    for (const bool today : {true, false})
        Generated(today);
}

// Texts of every length up to several vectors over a small alphabet (NUL among it), so that keys, near misses and
// their first and last bytes are common, and wherever a vector's places end.
TEST(KeySearch, FindsTheFirstOfUpToEightKeysAsAPlainSearchDoes)
{
    std::uint32_t seed = 11;
    const auto below = [&seed](std::uint32_t n) { return ((seed = seed * 1664525u + 1013904223u) >> 8) % n; };
    const auto text = [&below](std::size_t length) {
        std::string s;
        for (std::size_t i = 0; i < length; ++i)
            s += std::string_view("rok \0", 5)[below(5)];
        return s;
    };
    int found = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::size_t count = below(9);
        std::string keyBytes[8];
        std::string_view keys[8];
        for (std::size_t k = 0; k < count; ++k)
            keys[k] = keyBytes[k] = text(4);
        const std::string haystack = text(below(100));
        std::size_t first = haystack.size();
        for (std::size_t k = 0; k < count; ++k)
            first = std::min(first, std::min(haystack.find(keys[k]), haystack.size()));
        found += first < haystack.size() ? 1 : 0;
        ASSERT_EQ(FindFirstKey(
                      reinterpret_cast<const std::uint8_t*>(haystack.data()), haystack.size(), std::span(keys, count)),
            first)
            << haystack << " with " << count << " keys";
    }
    EXPECT_GT(found, 400); // the keys were found often enough to matter
}

// Commands, launches, stalls and stale-command kills.
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
