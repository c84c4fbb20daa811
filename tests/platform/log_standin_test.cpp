// The stand-in `log` command, run the way the application runs it: through
// /bin/sh with the stand-in folder first on PATH, the C locale, and the real
// grep and cut. "Now" is fixed through QUILLABY_LOG_NOW and the time zone is
// the test main's UTC unless a test names another, so nothing depends on the
// time of day.

#include "test_support.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const kToday = "log show --last 4h --predicate 'subsystem == \"com.apple.TimeMachine\"' --info";
const char* const kYesterday = "log show --predicate 'subsystem == \"com.apple.TimeMachine\"' --info --yesterday";
const char* const kCut = " | grep  'upd: (' | cut -c 1-19,140-999";
const char* const kNow = "QUILLABY_LOG_NOW='2026-03-10 12:00:00'";

struct Result {
    std::string out;
    int status = -1;
};

// Runs `command` under /bin/sh; `env` is put before it (assignments for the
// first command of a pipeline). stderr goes to `errFile` when given.
Result Shell(const std::string& env, const std::string& command, const std::string& errFile = {})
{
    std::string line
        = "PATH='" QZ_STANDIN_DIR "':\"$PATH\"; export PATH; LC_ALL=C; export LC_ALL; " + env + " " + command;
    if (!errFile.empty())
        line = "{ " + line + "; } 2>'" + errFile + "'";
    Result r;
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe)
        return r;
    char buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        r.out.append(buf, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool IsEntry(const std::string& line)
{
    static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
    return line.size() >= 19 && std::regex_match(line.substr(0, 19), stamp);
}

struct Fields {
    std::string process, category, message, type;
};

// Checks one entry line against the default layout; returns what is wrong,
// or an empty text.
std::string LayoutProblem(const std::string& line, Fields* fields = nullptr)
{
    static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}[+-]\d{4} )");
    static const std::regex thread(R"(0x[0-9a-f]+ * )");
    static const std::regex type(R"((Default|Info|Debug|Error|Fault) * )");
    static const std::regex activity(R"(0x[0-9a-f]+ * )");
    static const std::regex pid(R"([0-9]+ * )");
    if (line.size() < 140)
        return "shorter than 140 bytes";
    if (!std::regex_match(line.substr(0, 32), stamp))
        return "time stamp in columns 1-31";
    if (!std::regex_match(line.substr(32, 11), thread))
        return "thread in columns 33-42";
    if (!std::regex_match(line.substr(43, 12), type))
        return "type in columns 44-54";
    if (!std::regex_match(line.substr(55, 21), activity))
        return "activity in columns 56-75";
    if (!std::regex_match(line.substr(76, 7), pid))
        return "PID in columns 77-82";
    if (line.substr(83, 5) != "0    ")
        return "TTL in columns 84-87";
    const std::string sender = ": (TimeMachine) [com.apple.TimeMachine:";
    const std::size_t senderAt = line.find(sender, 88);
    if (senderAt == std::string::npos || senderAt == 88)
        return "process and sender from column 89";
    const std::size_t categoryAt = senderAt + sender.size();
    const std::size_t close = line.find("] ", categoryAt);
    if (close == std::string::npos)
        return "category";
    const std::size_t categoryLength = close - categoryAt;
    if (line.compare(88, senderAt - 88, "backupd") == 0 && close + 2 != 136 + categoryLength)
        return "message of a backupd line not at column 137 + category length";
    if (fields) {
        fields->process = line.substr(88, senderAt - 88);
        fields->category = line.substr(categoryAt, categoryLength);
        fields->message = line.substr(close + 2);
        fields->type = line.substr(43, line.find(' ', 43) - 43);
    }
    return {};
}

bool IsLayoutLine(const std::string& line)
{
    return line.rfind("Filtering the log data using ", 0) == 0 || line.rfind("Skipping ", 0) == 0
        || line.rfind("Timestamp ", 0) == 0 || line.rfind("Log      - ", 0) == 0 || line.rfind("Activity - ", 0) == 0
        || line == std::string(116, '-');
}

// The preamble, header and closing lines around the entries of `lines`, and
// (unless the lines are a part of a replayed recording, whose closing lines
// are passed on as recorded) the closing statistics matching the entries.
void ExpectFullLayout(const std::vector<std::string>& lines, const std::string& what, bool wholeLog = true)
{
    ASSERT_GE(lines.size(), 6u) << what;
    EXPECT_EQ(lines[0], "Filtering the log data using \"subsystem == \"com.apple.TimeMachine\"\"") << what;
    EXPECT_EQ(lines[1], "Skipping debug messages, pass --debug to include.") << what;
    EXPECT_EQ(lines[2], "Timestamp                       Thread     Type        Activity             PID    TTL  ")
        << what;
    const std::size_t n = lines.size();
    EXPECT_EQ(lines[n - 3], std::string(116, '-')) << what;
    EXPECT_EQ(lines[n - 1], "Activity - Create:           0, Transition:          0, Actions:           0") << what;
    std::map<std::string, long> counts;
    bool afterEntry = false;
    for (std::size_t i = 3; i + 3 < n; ++i) {
        if (IsEntry(lines[i])) {
            Fields f;
            const std::string problem = LayoutProblem(lines[i], &f);
            EXPECT_EQ(problem, "") << what << " line " << i + 1 << ": " << lines[i].substr(0, 200);
            counts[f.type] += 1;
            afterEntry = true;
        } else {
            EXPECT_TRUE(afterEntry && !lines[i].empty() && lines[i][0] == '\t')
                << what << " line " << i + 1 << " is neither an entry nor a tab-indented continuation";
        }
    }
    if (!wholeLog)
        return;
    char closing[200];
    std::snprintf(closing, sizeof closing,
        "Log      - Default: %10ld, Info: %16ld, Debug: %13ld, Error: %10ld, Fault: %10ld", counts["Default"],
        counts["Info"], counts["Debug"], counts["Error"], counts["Fault"]);
    EXPECT_EQ(lines[n - 2], closing) << what;
}

// A cut line: the date and time, then the category from its sixth letter on,
// "] " and the message, all taken from the uncut line.
void ExpectCutOf(const std::string& cut, const std::string& raw)
{
    Fields f;
    ASSERT_EQ(LayoutProblem(raw, &f), "") << raw.substr(0, 200);
    ASSERT_EQ(f.process, "backupd");
    ASSERT_GE(f.category.size(), 5u);
    const std::string expected = raw.substr(0, 19) + f.category.substr(5) + "] " + f.message;
    EXPECT_EQ(cut, expected.substr(0, 19 + 860));
}

std::string Stamp(const std::string& line)
{
    return line.substr(0, 19);
}

} // namespace

TEST(LogStandin, SimulatedTodayCutsLikeAMac)
{
    const Result full = Shell(kNow, kToday);
    ASSERT_EQ(full.status, 0);
    const std::vector<std::string> lines = Lines(full.out);
    ExpectFullLayout(lines, "simulated today");

    const Result raw = Shell(kNow, std::string(kToday) + " | grep 'upd: ('");
    const Result cut = Shell(kNow, std::string(kToday) + kCut);
    ASSERT_EQ(cut.status, 0);
    const std::vector<std::string> rawLines = Lines(raw.out);
    const std::vector<std::string> cutLines = Lines(cut.out);
    ASSERT_EQ(rawLines.size(), cutLines.size());
    ASSERT_GE(cutLines.size(), 49u);
    std::string previous = "2026-03-10 08:00:00";
    std::string all;
    for (std::size_t i = 0; i < cutLines.size(); ++i) {
        ExpectCutOf(cutLines[i], rawLines[i]);
        EXPECT_GE(Stamp(cutLines[i]), previous);
        EXPECT_LE(Stamp(cutLines[i]), "2026-03-10 12:00:00");
        previous = Stamp(cutLines[i]);
        all += cutLines[i] + "\n";
    }
    EXPECT_NE(all.find("Info] Starting automatic backup"), std::string::npos);
    EXPECT_NE(all.find("Info] Backing up to /dev/disk3s2: /Volumes/Backup Plus/Backups.backupdb"), std::string::npos);
    EXPECT_NE(all.find("Info] Backup completed successfully."), std::string::npos);
    // Other processes log to the subsystem too, and grep leaves them out.
    EXPECT_NE(full.out.find("backupd-helper: (TimeMachine)"), std::string::npos);
    EXPECT_EQ(all.find("backupd-helper"), std::string::npos);
}

TEST(LogStandin, SimulatedHoursAreTheSameAtEveryFetch)
{
    const std::string cut = std::string(kToday) + kCut;
    const Result first = Shell(kNow, cut);
    const Result again = Shell(kNow, cut);
    EXPECT_EQ(first.out, again.out);

    // Half an hour later the overlapping three and a half hours are unchanged.
    const Result later = Shell("QUILLABY_LOG_NOW='2026-03-10 12:30:00'", cut);
    const auto between = [](const std::string& text, const std::string& from, const std::string& to) {
        std::string kept;
        for (const std::string& line : Lines(text))
            if (Stamp(line) >= from && Stamp(line) < to)
                kept += line + "\n";
        return kept;
    };
    const std::string overlap = between(first.out, "2026-03-10 08:30:00", "2026-03-10 12:00:00");
    EXPECT_GT(overlap.size(), 1000u);
    EXPECT_EQ(overlap, between(later.out, "2026-03-10 08:30:00", "2026-03-10 12:00:00"));

    // Across midnight, the four-hour fetch agrees with yesterday's log.
    const Result night = Shell("QUILLABY_LOG_NOW='2026-03-10 01:00:00'", cut);
    const Result day = Shell(kNow, std::string(kYesterday) + kCut);
    const std::string lateEvening = between(day.out, "2026-03-09 21:00:00", "2026-03-10 00:00:00");
    EXPECT_GT(lateEvening.size(), 1000u);
    EXPECT_EQ(lateEvening, between(night.out, "2026-03-09 21:00:00", "2026-03-10 00:00:00"));

    // The two-hour fetch is the tail of the four-hour one.
    const Result two = Shell(kNow,
        "log show --last 2h --predicate 'subsystem == \"com.apple.TimeMachine\"' --info | grep 'upd: (' | cut -c "
        "1-19,140-999");
    EXPECT_EQ(two.out, between(first.out, "2026-03-10 10:00:00", "2026-03-10 12:00:01"));
}

TEST(LogStandin, SimulatedYesterdayIsThePreviousCalendarDay)
{
    const Result day = Shell(kNow, kYesterday);
    ASSERT_EQ(day.status, 0);
    const std::vector<std::string> lines = Lines(day.out);
    ExpectFullLayout(lines, "simulated yesterday");
    EXPECT_GT(lines.size(), 1500u);
    EXPECT_LT(lines.size(), 8000u);
    std::set<std::string> hours;
    for (const std::string& line : lines)
        if (IsEntry(line)) {
            EXPECT_EQ(line.substr(0, 11), "2026-03-09 ");
            hours.insert(line.substr(11, 2));
        }
    EXPECT_EQ(hours.size(), 24u);
    EXPECT_NE(day.out.find("\tAutoBackup = 1;\n"), std::string::npos) << "multi-line entries";

    // The rate follows QUILLABY_LOG_LINES_PER_HOUR; the backups stay.
    const Result busy = Shell(std::string(kNow) + " QUILLABY_LOG_LINES_PER_HOUR=1000", kYesterday);
    EXPECT_GT(Lines(busy.out).size(), 20000u);
    const Result quiet = Shell(std::string(kNow) + " QUILLABY_LOG_LINES_PER_HOUR=0", kYesterday);
    const std::size_t quietLines = Lines(quiet.out).size();
    EXPECT_LT(quietLines, 800u);
    const auto count = [](const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count(quiet.out, "Backup completed successfully."), count(day.out, "Backup completed successfully."));

    // Over two weeks the machine mostly backs up and now and then has a problem.
    std::size_t problemDays = 0;
    for (int d = 1; d <= 14; ++d) {
        char env[96];
        std::snprintf(env, sizeof env, "QUILLABY_LOG_NOW='2026-04-%02d 09:00:00'", d);
        const Result r = Shell(env, kYesterday);
        EXPECT_GE(count(r.out, "Backup completed successfully."), 12u) << env;
        if (r.out.find("Backup failed with error") != std::string::npos || r.out.find("SrcErr:") != std::string::npos
            || r.out.find("Not starting scheduled Time Machine backup - time") != std::string::npos
            || r.out.find("Importer start failed") != std::string::npos)
            ++problemDays;
    }
    EXPECT_GE(problemDays, 2u);
    EXPECT_LE(problemDays, 13u);
}

TEST(LogStandin, YesterdayFollowsTheLocalClockAcrossAClockChange)
{
    if (!std::filesystem::exists("/usr/share/zoneinfo/America/New_York"))
        GTEST_SKIP() << "no time zone data";
    // 2026-03-08 is the day New York moves its clocks from 02:00 to 03:00.
    const Result day = Shell("TZ=America/New_York QUILLABY_LOG_NOW='2026-03-09 12:00:00'", kYesterday);
    ASSERT_EQ(day.status, 0);
    std::set<std::string> hours;
    for (const std::string& line : Lines(day.out)) {
        if (!IsEntry(line))
            continue;
        ASSERT_EQ(line.substr(0, 11), "2026-03-08 ");
        const std::string hour = line.substr(11, 2);
        hours.insert(hour);
        EXPECT_EQ(line.substr(26, 5), hour < "03" ? "-0500" : "-0400") << line.substr(0, 40);
    }
    EXPECT_EQ(hours.size(), 23u);
    EXPECT_EQ(hours.count("02"), 0u);
}

TEST(LogStandin, ReplayMovesARecordingIntoTheAskedPeriod)
{
    const QString fixture = FixturePath(QStringLiteral("today-error-free-morning.log"));
    const std::vector<std::string> recorded = Lines(ReadFile(fixture));
    const std::string replay = "QUILLABY_LOG_REPLAY='" + fixture.toStdString() + "' ";

    // Four hours: the whole recording (it spans less), its last entry now.
    const Result today = Shell(replay + "QUILLABY_LOG_NOW='2026-05-20 15:30:00'", kToday);
    ASSERT_EQ(today.status, 0);
    const std::vector<std::string> lines = Lines(today.out);
    ASSERT_EQ(lines.size(), recorded.size());
    std::string lastStamp;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsEntry(recorded[i])) {
            EXPECT_EQ(lines[i].substr(19), recorded[i].substr(19)) << "line " << i + 1;
            EXPECT_EQ(lines[i].substr(0, 11), "2026-05-20 ");
            lastStamp = Stamp(lines[i]);
        } else {
            EXPECT_EQ(lines[i], recorded[i]) << "line " << i + 1;
        }
    }
    EXPECT_EQ(lastStamp, "2026-05-20 15:30:00");
    // Every entry moved by the same amount: the cut lines of the recording
    // and of the replay differ only in their date and time, which keep their
    // distances.
    const Result cutRecorded = Shell("", "cat '" + fixture.toStdString() + "'" + kCut);
    const Result cutReplayed = Shell(replay + "QUILLABY_LOG_NOW='2026-05-20 15:30:00'", std::string(kToday) + kCut);
    const std::vector<std::string> a = Lines(cutRecorded.out), b = Lines(cutReplayed.out);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_GE(a.size(), 49u);
    for (std::size_t i = 0; i < a.size(); ++i)
        EXPECT_EQ(a[i].substr(19), b[i].substr(19));
    const auto seconds = [](const std::string& s) {
        return std::stoi(s.substr(11, 2)) * 3600 + std::stoi(s.substr(14, 2)) * 60 + std::stoi(s.substr(17, 2));
    };
    for (std::size_t i = 1; i < a.size(); ++i)
        EXPECT_EQ(seconds(b[i]) - seconds(a[i]), seconds(b[0]) - seconds(a[0]));

    // One hour: only the entries of the last hour, with their continuation
    // lines; the layout lines stay.
    const Result hour = Shell(replay + "QUILLABY_LOG_NOW='2026-05-20 15:30:00'",
        "log show --last 1h --predicate 'subsystem == \"com.apple.TimeMachine\"' --info");
    const std::vector<std::string> hourLines = Lines(hour.out);
    ExpectFullLayout(hourLines, "one hour of replay", false);
    EXPECT_LT(hourLines.size(), recorded.size());
    bool keptEntry = false;
    for (const std::string& line : hourLines) {
        if (IsEntry(line)) {
            EXPECT_GE(Stamp(line), "2026-05-20 14:30:00");
            keptEntry = true;
        } else if (!IsLayoutLine(line)) {
            EXPECT_TRUE(keptEntry && line[0] == '\t') << "continuation of an entry left out: " << line;
        }
    }

    // Yesterday: the same time of day on yesterday's date.
    const Result yesterday = Shell(replay + "QUILLABY_LOG_NOW='2026-05-20 15:30:00'", kYesterday);
    const std::vector<std::string> yLines = Lines(yesterday.out);
    ASSERT_EQ(yLines.size(), recorded.size());
    for (std::size_t i = 0; i < yLines.size(); ++i) {
        if (IsEntry(recorded[i])) {
            EXPECT_EQ(yLines[i].substr(0, 11), "2026-05-19 ");
            EXPECT_EQ(yLines[i].substr(11), recorded[i].substr(11));
        } else {
            EXPECT_EQ(yLines[i], recorded[i]);
        }
    }

    // Another time zone: the stamps carry the local offset, the rest stays.
    const Result kolkata = Shell("TZ=Asia/Kolkata " + replay + "QUILLABY_LOG_NOW='2026-05-20 15:30:00'", kToday);
    const std::vector<std::string> kLines = Lines(kolkata.out);
    ASSERT_EQ(kLines.size(), recorded.size());
    for (std::size_t i = 0; i < kLines.size(); ++i)
        if (IsEntry(recorded[i])) {
            EXPECT_EQ(kLines[i].substr(26, 5), "+0530");
            EXPECT_EQ(kLines[i].substr(31), recorded[i].substr(31));
        }
}

TEST(LogStandin, BadCommandLinesExitWith64)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string err = dir.path().toStdString() + "/stderr";
    const std::string predicate = "--predicate 'subsystem == \"com.apple.TimeMachine\"'";
    const std::vector<std::string> bad = {
        "log",
        "log show",
        "log stream " + predicate + " --info",
        "log help",
        "log show --last 4h --info",
        "log show --last 4h --predicate 'subsystem == \"com.apple.Finder\"' --info",
        "log show --last 4h " + predicate,
        "log show --last 4x " + predicate + " --info",
        "log show --last 0h " + predicate + " --info",
        "log show --last h " + predicate + " --info",
        "log show --last " + predicate + " --info",
        "log show --last 4h --last 2h " + predicate + " --info",
        "log show --last 4h " + predicate + " --info --yesterday",
        "log show " + predicate + " --info --info --yesterday",
        "log show " + predicate + " --info --yesterday --style compact",
    };
    for (const std::string& command : bad) {
        const Result r = Shell(kNow, command, err);
        EXPECT_EQ(r.status, 64) << command;
        EXPECT_EQ(r.out, "") << command;
        EXPECT_NE(ReadFile(QString::fromStdString(err)).find("usage: log show"), std::string::npos) << command;
    }
    EXPECT_EQ(Shell("QUILLABY_LOG_NOW='noon'", kToday, err).status, 64);
    EXPECT_EQ(Shell(std::string(kNow) + " QUILLABY_LOG_LINES_PER_HOUR=lots", kToday, err).status, 64);

    // The options in another order, and minutes, are understood.
    EXPECT_EQ(Shell(kNow, "log show --info " + predicate + " --last 90m", err).status, 0);
    EXPECT_EQ(Shell(kNow, "log show --yesterday --info " + predicate, err).status, 0);
}

TEST(LogStandin, GarbledRecordingsDoNotCrashIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string err = dir.path().toStdString() + "/stderr";
    const std::string now = "QUILLABY_LOG_NOW='2026-03-10 12:00:00' ";

    // The garbled fixture: every byte after the stamps comes back unchanged.
    const QString garbled = FixturePath(QStringLiteral("garbled.log"));
    const std::string recorded = ReadFile(garbled);
    for (const char* command : {kToday, kYesterday}) {
        const Result r = Shell(now + "QUILLABY_LOG_REPLAY='" + garbled.toStdString() + "'", command, err);
        EXPECT_EQ(r.status, 0) << command;
        ASSERT_EQ(r.out.size(), recorded.size()) << command;
        const std::vector<std::string> a = Lines(r.out), b = Lines(recorded);
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i)
            EXPECT_EQ(a[i].substr(std::min<std::size_t>(a[i].size(), IsEntry(b[i]) ? 31 : 0)),
                b[i].substr(std::min<std::size_t>(b[i].size(), IsEntry(b[i]) ? 31 : 0)))
                << command << " line " << i + 1;
    }
    // Without the NUL bytes, grep passes the 1 MB line and cut keeps 879 bytes of it.
    const QString withoutNul = FixturePath(QStringLiteral("garbled-without-nul.log"));
    const Result cut
        = Shell(now + "QUILLABY_LOG_REPLAY='" + withoutNul.toStdString() + "'", std::string(kToday) + kCut);
    EXPECT_EQ(cut.status, 0);
    std::size_t longest = 0;
    for (const std::string& line : Lines(cut.out))
        longest = std::max(longest, line.size());
    EXPECT_EQ(longest, 19u + 860u);

    // One huge line without a line end, and nothing, come back whole (any
    // other bytes are the replay fuzz target's).
    const std::string huge = "2026-03-10 11:00:00.000000+0000 " + std::string(5 * 1024 * 1024, 'x');
    const std::vector<std::pair<std::string, std::string>> files = {{"huge", huge}, {"empty", ""}};
    for (const auto& [name, bytes] : files) {
        const QString path = dir.path() + QStringLiteral("/") + QString::fromStdString(name);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
        f.close();
        for (const char* command : {kToday, kYesterday}) {
            const Result r = Shell(now + "QUILLABY_LOG_REPLAY='" + path.toStdString() + "'", command, err);
            EXPECT_EQ(r.status, 0) << name << ": " << command;
            EXPECT_EQ(r.out.size(), bytes.size()) << name << ": " << command;
        }
    }

    const Result missing = Shell(now + "QUILLABY_LOG_REPLAY=/nonexistent/recording.log", kToday, err);
    EXPECT_EQ(missing.status, 66);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(ReadFile(QString::fromStdString(err)).find("/nonexistent/recording.log"), std::string::npos);
}

TEST(LogStandin, FixturesHaveTheDefaultLayoutAndTheirStatedCounts)
{
    struct Fact {
        const char* file;
        std::size_t lines; // lines of the file, which the replay prints whole
        std::size_t grepLines; // lines that grep 'upd: (' keeps
        std::vector<std::string> present;
        std::vector<std::string> absent;
    };
    const std::vector<std::string> problems
        = {"SrcErr:", "Backup failed with error", "Not starting scheduled", "Importer start failed", "Stopping backup"};
    const std::vector<Fact> facts = {
        {"today-error-free-morning.log", 123, 107,
            {"Backup completed successfully.", "connection invalid", "emlx, error: 2 No such file or directory",
                "inprogress", "Failed to read sticky exclusion"},
            problems},
        {"today-drive-offline.log", 74, 62,
            {"Not starting scheduled Time Machine backup - time machine destination not resolvable."},
            {"Backup already running", "Less than 10 minutes"}},
        {"today-not-starting-benign.log", 100, 90,
            {"Not starting scheduled Time Machine backup - Backup already running",
                "Not starting scheduled Time Machine backup - Less than 10 minutes since last backup"},
            {"destination not resolvable", "Backup failed"}},
        {"today-failed-error-19.log", 77, 65, {"Backup failed with error: 19"}, {"error: 27", "error: 11"}},
        {"today-failed-error-27.log", 77, 65, {"Backup failed with error: 27"}, {"error: 19", "error: 11"}},
        {"today-failed-error-11-after-success.log", 80, 70,
            {"Backup completed successfully.", "Backup failed with error: 11"}, {"error: 19", "error: 27"}},
        {"today-success-after-failure.log", 94, 84, {"Backup failed with error: 11", "Backup completed successfully."},
            {}},
        {"today-spotlight-importer-failed.log", 100, 90, {"Importer start failed"}, {"Backup failed"}},
        {"today-ds-store-problem.log", 99, 89,
            {"Error: (-36) SrcErr:YES Copying /Users/sam/Documents/.DS_Store to /Volumes/"}, {"Backup failed"}},
        {"today-copy-error-to-volumes.log", 99, 89,
            {"SrcErr:YES Copying /Users/sam/Pictures/Holidays/IMG_2043.HEIC to /Volumes/"}, {"Backup failed"}},
        {"today-copy-error-to-null.log", 99, 89,
            {"SrcErr:YES Copying /Users/sam/Library/Preferences/com.apple.dt.Xcode.plist to (null)"},
            {"Backup failed", "YES Copying (null)"}},
        {"today-copy-error-null-null.log", 99, 89, {"SrcErr:YES Copying (null) to (null)"}, {"Backup failed"}},
        {"today-too-many-problems.log", 151, 143, {"SrcErr:YES Copying /Users/sam/"}, {"Backup failed"}},
        {"today-few-lines.log", 54, 30, {"Backup completed successfully."}, problems},
        {"today-48-lines-after-grep.log", 60, 48, {"Backup completed successfully."}, problems},
        {"today-49-lines-after-grep.log", 61, 49, {"Backup completed successfully."}, problems},
        {"today-snapshots-only.log", 68, 55, {"Created Time Machine local snapshot"},
            {"Starting automatic backup", "Backing up to", "Backup completed", "Not starting"}},
        {"yesterday-error-free.log", 100, 87, {"Backup completed successfully.", "\tAutoBackup = 1;"}, problems},
        {"yesterday-with-problems.log", 90, 82,
            {"Backup completed successfully.", "Backup failed with error: 11", "Backup failed with error: 19",
                "Not starting scheduled Time Machine backup", "/.DS_Store to /Volumes/", "Importer start failed",
                "emlx, error: 2"},
            {}},
        {"yesterday-snapshots-only.log", 54, 45, {"Created Time Machine local snapshot"},
            {"Starting automatic backup", "Backup completed", "Completed backup", "Backup succeeded"}},
        {"yesterday-48-lines.log", 48, 34, {"Backup completed successfully."}, problems},
        {"yesterday-49-lines.log", 49, 35, {"Backup completed successfully."}, problems},
    };
    std::set<std::string> listed;
    for (const Fact& fact : facts) {
        listed.insert(fact.file);
        const QString path = FixturePath(QString::fromLatin1(fact.file));
        const std::string text = ReadFile(path);
        const std::vector<std::string> lines = Lines(text);
        ExpectFullLayout(lines, fact.file);
        EXPECT_EQ(lines.size(), fact.lines) << fact.file;
        std::size_t grepLines = 0;
        for (const std::string& line : lines)
            grepLines += line.find("upd: (") != std::string::npos ? 1 : 0;
        EXPECT_EQ(grepLines, fact.grepLines) << fact.file;
        for (const std::string& s : fact.present)
            EXPECT_NE(text.find(s), std::string::npos) << fact.file << " lacks " << s;
        for (const std::string& s : fact.absent)
            EXPECT_EQ(text.find(s), std::string::npos) << fact.file << " holds " << s;

        // Replayed for the period it was made for, every line comes out.
        const std::string replay = "QUILLABY_LOG_REPLAY='" + path.toStdString() + "' " + kNow;
        if (std::string(fact.file).rfind("today-", 0) == 0) {
            EXPECT_EQ(Lines(Shell(replay, std::string(kToday) + kCut).out).size(), fact.grepLines) << fact.file;
        } else {
            EXPECT_EQ(Shell(replay, kYesterday).out, text) << fact.file;
        }
    }
    // Every fixture is described here (the garbled ones have their own test).
    for (const auto& entry : std::filesystem::directory_iterator(QZ_FIXTURES_DIR)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && entry.path().extension() == ".log" && name.rfind("garbled", 0) != 0) {
            EXPECT_EQ(listed.count(name), 1u) << name << " is not checked";
        }
    }
}
