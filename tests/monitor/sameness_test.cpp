// A few thousand generated logs through both analyses; a digest of everything
// each run leaves must equal the one in tests/fixtures/analysis-digests.txt,
// taken from the analyses before the one-pass line matcher.
// QZ_WRITE_DIGESTS=<file> writes fresh digests, for when a rule changes on purpose.

#include "monitor_support.h"

#include "monitor/fetch.h"
#include "monitor/state.h"
#include "runtime/channels.h"
#include "runtime/state.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <unistd.h>

namespace {

constexpr int kGeneratedLogs = 1500; // per day

// A portable generator: the same numbers on every platform and library.
struct Rng {
    std::uint64_t s;
    std::uint64_t Next()
    {
        s += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = s;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
};

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

std::string RandomBytes(Rng& r, int n)
{
    std::string s;
    for (int i = 0; i < n; ++i) {
        int b = r.Below(256);
        if (b == '\n' || b == 0xC6 || b == 0xF0) // line ends; two bytes whose platform character is not settled
            b = 'x';
        s += static_cast<char>(b);
    }
    return s;
}

std::string RandomLine(Rng& r)
{
    std::string line = r.Below(3) == 0 ? "" : "2026-03-10 10:15:03al] ";
    const int pieces = r.Below(5);
    for (int i = 0; i < pieces; ++i) {
        if (r.Below(8) == 0)
            line += RandomBytes(r, 1 + r.Below(12));
        else if (r.Below(40) == 0)
            line += std::string(1, '\0');
        else
            line += kPieces[r.Below(static_cast<int>(std::size(kPieces)))];
        if (r.Below(3) == 0)
            line += ' ';
    }
    if (r.Below(25) == 0) // longer than one read: the reader splits it at 255 bytes
        line = line + std::string(static_cast<std::size_t>(200 + r.Below(200)), 'y') + line;
    return line;
}

std::string RandomLog(Rng& r)
{
    const int kind = r.Below(10);
    const int lines = kind == 0 ? r.Below(10)
        : kind < 4              ? 44 + r.Below(10)
        : kind == 4             ? 300 + r.Below(300)
                                : r.Below(120);
    std::string out;
    for (int i = 0; i < lines; ++i) {
        out += RandomLine(r);
        out += r.Below(30) == 0 ? "\r\n" : "\n";
    }
    if (r.Below(4) == 0 && !out.empty())
        out.pop_back(); // no line end after the last line
    return out;
}

// What earlier analyses and the settings file left.
void RandomStart(Rng& r)
{
    gDriveOffline = static_cast<std::uint8_t>(r.Below(2));
    gEmailSent = static_cast<std::uint8_t>(r.Below(2));
    gEmailRequested = static_cast<std::uint8_t>(r.Below(2));
    gTooManyNoticed = static_cast<std::int16_t>(r.Below(2));
    gNoBackupWarnDay = static_cast<std::int16_t>(r.Below(2) == 0 ? 69 : 0);
    gEmailNotifyOn = static_cast<std::uint8_t>(r.Below(2));
    gNotifyMinorErrors = static_cast<std::uint8_t>(r.Below(2));
    gDailyEmail = static_cast<std::uint8_t>(r.Below(2));
    const std::int16_t days[] = {69, 68, 67, 60, 300};
    gLastBackupDay = days[r.Below(5)];
    gSuccessFound = gBackupFailed = gErrorFound = gSpotlightConflict = gTooFewLines = 0;
    gLastSuccessLineNo = gLastFailureLineNo = gLineNo = 0;
    gFolderEnd = gCopyErrorPos = gErrorLineStart = gCopyingPos = gVolumesPos = 0;
    gLastSuccessText = gLastProblem = gProblemFolder = gInvisibleSuffix = gFailureText = ShortString();
    SaveSettings();
}

// A digest of everything an analysis leaves behind.
std::string Digest()
{
    QJsonObject o;
    o.insert(QStringLiteral("report"), QString::fromLatin1(QByteArray::fromStdString(gReport.bytes).toHex()));
    o.insert(QStringLiteral("shown"), MonitorWorld::ReportShown());
    o.insert(QStringLiteral("status"), MonitorWorld::Status());
    const std::pair<const char*, const ShortString*> texts[]
        = {{"lastProblem", &gLastProblem}, {"problemFolder", &gProblemFolder}, {"lastSuccessText", &gLastSuccessText},
            {"failureText", &gFailureText}, {"invisible", &gInvisibleSuffix}};
    for (const auto& [name, s] : texts)
        o.insert(QLatin1String(name), QString::fromLatin1(QByteArray::fromStdString(std::string(s->view())).toHex()));
    const std::int64_t numbers[] = {gEmailRequested, gEmailSent, gErrorFound, gDriveOffline, gSpotlightConflict,
        gSuccessFound, gTooFewLines, gTooManyNoticed, gNoBackupWarnDay, gBackupFailed, gLastSuccessLineNo,
        gLastFailureLineNo, gLastBackupDay, gVolumesPos, gCopyingPos, gFolderEnd, gLineNo, gPollAllowed};
    QString joined;
    for (const std::int64_t n : numbers)
        joined += QString::number(n) + QLatin1Char(',');
    o.insert(QStringLiteral("numbers"), joined);
    const QByteArray json = QJsonDocument(o).toJson(QJsonDocument::Compact);
    return QCryptographicHash::hash(json, QCryptographicHash::Sha256).toHex().left(16).toStdString();
}

// Settings in memory where possible: every success line saves them with fsync.
struct FastWorld {
    MonitorWorld world;
    QTemporaryDir memory {QDir(QStringLiteral("/dev/shm")).exists()
            ? QStringLiteral("/dev/shm/quillaby-XXXXXX")
            : QDir::tempPath() + QStringLiteral("/quillaby-XXXXXX")};

    FastWorld()
    {
        setenv("XDG_DATA_HOME", memory.path().toUtf8().constData(), 1);
        LoadSettings();
        TestClock::SetLocal("2026-03-10 10:20:00"); // day 69 of the year
    }

    // The whole log in a real pipe on FileChannel 1: thousands of commands would be slow.
    static void Analyse(const std::string& output, bool today)
    {
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
        fcntl(fds[1], F_SETFL, O_NONBLOCK);
        ASSERT_EQ(write(fds[1], output.data(), output.size()), static_cast<ssize_t>(output.size()));
        close(fds[1]);
        QzClose(1);
        QzFileChannel& ch = gQzChannels[1];
        ch.open = ch.isPipe = true;
        ch.pipeFd = fds[0];
        (today ? gTodayReadNow : gYesterdayReadNow) = 1;
        static_cast<void>(today ? FetchTodayLog() : FetchYesterdayLog());
    }
};

void Generated(bool today)
{
    FastWorld fast;
    std::vector<std::pair<std::string, std::string>> results;
    const std::string prefix = today ? "today/" : "yesterday/";
    for (int i = 0; i < kGeneratedLogs; ++i) {
        Rng r {static_cast<std::uint64_t>(i) * 2 + (today ? 0U : 1U)};
        RandomStart(r);
        gRecentWording = today ? static_cast<std::uint8_t>(i % 2) : 0;
        fast.Analyse(RandomLog(r), today);
        results.emplace_back(prefix + std::to_string(i), Digest());
    }
    if (const char* out = std::getenv("QZ_WRITE_DIGESTS")) {
        std::ofstream file(out, std::ios::app);
        for (const auto& [name, digest] : results)
            file << name << ' ' << digest << '\n';
        GTEST_SKIP() << "digests written to " << out;
    }
    std::map<std::string, std::string> recorded;
    std::ifstream in(FixturePath(QStringLiteral("analysis-digests.txt")).toStdString());
    for (std::string name, digest; in >> name >> digest;)
        if (name.rfind(prefix, 0) == 0)
            recorded[name] = digest;
    EXPECT_EQ(results.size(), recorded.size());
    int differing = 0;
    for (const auto& [name, digest] : results)
        if (recorded[name] != digest && ++differing <= 10)
            ADD_FAILURE() << "results differ for " << name;
    EXPECT_EQ(differing, 0);
}

} // namespace

TEST(AnalysisSameness, GeneratedLogsThroughTodaysAnalysis)
{
    Generated(true);
}

TEST(AnalysisSameness, GeneratedLogsThroughYesterdaysAnalysis)
{
    Generated(false);
}
