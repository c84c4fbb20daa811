// The stand-in commands run as the application runs them: /bin/sh, the
// stand-in folder first on PATH, the C locale, the real grep and cut, and
// for `log` a fixed now.

#include "test_support.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QProcess>
#include <QThread>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

const std::string kInfo = "--predicate 'subsystem == \"com.apple.TimeMachine\"' --info";
const std::string kToday = "log show --last 4h " + kInfo;
const std::string kYesterday = "log show " + kInfo + " --yesterday";
const std::string kCut = " | grep 'upd: (' | cut -c 1-19,140-999";
const std::string kNow = "QUILLABY_LOG_NOW='2026-03-10 12:00:00' ";

struct Result {
    std::string out, err;
    int status = -1;
};

// `env` is put before `command` (assignments for its first stage).
Result Shell(const std::string& env, const std::string& command)
{
    QProcess sh;
    sh.start(QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
            QString::fromStdString(
                "PATH='" QZ_STANDIN_DIR "':\"$PATH\" LC_ALL=C; export PATH LC_ALL; " + env + " " + command)});
    sh.waitForFinished(120000);
    return {sh.readAllStandardOutput().toStdString(), sh.readAllStandardError().toStdString(),
        sh.exitStatus() == QProcess::NormalExit ? sh.exitCode() : -1};
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool IsEntry(const std::string& line)
{
    static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
    return line.size() >= 19 && std::regex_match(line.substr(0, 19), stamp);
}

std::string Stamp(const std::string& line)
{
    return line.substr(0, 19);
}

struct Fields {
    std::string process, category, message, type; // empty process: not the default layout
};

// An entry line of the default layout: stamp, thread, type, activity and PID
// from columns 1, 33, 44, 56 and 77, TTL, then "process: (TimeMachine)
// [com.apple.TimeMachine:category] message", a backupd message at column
// 137 + the category's length.
Fields Split(const std::string& line)
{
    static const std::regex head(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}[+-]\d{4} (0x[0-9a-f]+) +(\w+) +(0x[0-9a-f]+) +(\d+) +0    )");
    static const std::string sender = ": (TimeMachine) [com.apple.TimeMachine:";
    std::smatch m;
    const std::string start = line.substr(0, 88);
    const std::size_t at = line.find(sender, 89), close = line.find("] ", at);
    if (line.size() < 140 || !std::regex_match(start, m, head) || m.position(1) != 32 || m.position(2) != 43
        || m.position(3) != 55 || m.position(4) != 76 || close == std::string::npos)
        return {};
    Fields f {line.substr(88, at - 88), line.substr(at + sender.size(), close - at - sender.size()),
        line.substr(close + 2), m.str(2)};
    if (f.process == "backupd" && close + 2 != 136 + f.category.size())
        return {};
    return f;
}

// The preamble, header and closing lines around entries in the default
// layout; the statistics must count the entries unless `whole` is false.
void ExpectLayout(const std::vector<std::string>& lines, const std::string& what, bool whole = true)
{
    SCOPED_TRACE(what);
    ASSERT_GE(lines.size(), 6u);
    const std::size_t n = lines.size();
    EXPECT_EQ(lines[0], "Filtering the log data using \"subsystem == \"com.apple.TimeMachine\"\"");
    EXPECT_EQ(lines[1], "Skipping debug messages, pass --debug to include.");
    EXPECT_EQ(lines[2], "Timestamp                       Thread     Type        Activity             PID    TTL  ");
    EXPECT_EQ(lines[n - 3], std::string(116, '-'));
    EXPECT_EQ(lines[n - 1], "Activity - Create:           0, Transition:          0, Actions:           0");
    std::map<std::string, long> counts;
    for (std::size_t i = 3; i + 3 < n; ++i) {
        const Fields f = Split(lines[i]);
        counts[f.type] += 1;
        EXPECT_TRUE(IsEntry(lines[i]) ? !f.process.empty() : i > 3 && lines[i][0] == '\t') << lines[i];
    }
    char closing[200];
    std::snprintf(closing, sizeof closing,
        "Log      - Default: %10ld, Info: %16ld, Debug: %13ld, Error: %10ld, Fault: %10ld", counts["Default"],
        counts["Info"], counts["Debug"], counts["Error"], counts["Fault"]);
    if (whole) {
        EXPECT_EQ(lines[n - 2], closing);
    }
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The lines of `text` stamped from `from` up to before `to`.
std::string Between(const std::string& text, const std::string& from, const std::string& to)
{
    std::string kept;
    for (const std::string& line : Lines(text))
        if (Stamp(line) >= from && Stamp(line) < to)
            kept += line + "\n";
    return kept;
}

} // namespace

TEST(LogStandin, SimulatedTodayCutsLikeAMacAndEveryFetchAgrees)
{
    const Result full = Shell(kNow, kToday);
    ASSERT_EQ(full.status, 0);
    ExpectLayout(Lines(full.out), "simulated today");
    EXPECT_NE(full.out.find("backupd-helper: (TimeMachine)"), std::string::npos);

    const std::vector<std::string> raw = Lines(Shell(kNow, kToday + " | grep 'upd: ('").out);
    const Result cut = Shell(kNow, kToday + kCut);
    const std::vector<std::string> cutLines = Lines(cut.out);
    ASSERT_EQ(raw.size(), cutLines.size());
    ASSERT_GE(cutLines.size(), 49u);
    std::string previous = "2026-03-10 08:00:00";
    for (std::size_t i = 0; i < cutLines.size(); ++i) {
        // The date and time, the category from its sixth letter on, "] " and the message.
        const Fields f = Split(raw[i]);
        ASSERT_EQ(f.process, "backupd") << raw[i];
        EXPECT_EQ(cutLines[i], (raw[i].substr(0, 19) + f.category.substr(5) + "] " + f.message).substr(0, 879));
        EXPECT_GE(Stamp(cutLines[i]), previous);
        EXPECT_LE(Stamp(cutLines[i]), "2026-03-10 12:00:00");
        previous = Stamp(cutLines[i]);
    }
    for (const char* text :
        {"Info] Starting automatic backup", "Info] Backing up to /dev/disk3s2: /Volumes/Backup Plus/Backups.backupdb",
            "Info] Backup completed successfully."})
        EXPECT_NE(cut.out.find(text), std::string::npos) << text;
    EXPECT_EQ(Shell(kNow, kToday + kCut).out, cut.out);

    // Half an hour later the overlapping hours are unchanged.
    const Result later = Shell("QUILLABY_LOG_NOW='2026-03-10 12:30:00'", kToday + kCut);
    const std::string overlap = Between(cut.out, "2026-03-10 08:30:00", "2026-03-10 12:00:00");
    EXPECT_GT(overlap.size(), 1000u);
    EXPECT_EQ(overlap, Between(later.out, "2026-03-10 08:30:00", "2026-03-10 12:00:00"));
    // Across midnight, the four-hour fetch agrees with yesterday's log.
    const Result night = Shell("QUILLABY_LOG_NOW='2026-03-10 01:00:00'", kToday + kCut);
    const std::string evening = Between(Shell(kNow, kYesterday + kCut).out, "2026-03-09 21", "2026-03-10 00");
    EXPECT_GT(evening.size(), 1000u);
    EXPECT_EQ(evening, Between(night.out, "2026-03-09 21", "2026-03-10 00"));
    // The two-hour fetch is the tail of the four-hour one.
    EXPECT_EQ(Shell(kNow, "log show --last 2h " + kInfo + kCut).out,
        Between(cut.out, "2026-03-10 10:00:00", "2026-03-10 12:00:01"));
}

TEST(LogStandin, SimulatedYesterdayIsThePreviousCalendarDay)
{
    const Result day = Shell(kNow, kYesterday);
    ASSERT_EQ(day.status, 0);
    const std::vector<std::string> lines = Lines(day.out);
    ExpectLayout(lines, "simulated yesterday");
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
    EXPECT_GT(Lines(Shell(kNow + "QUILLABY_LOG_LINES_PER_HOUR=1000", kYesterday).out).size(), 20000u);
    const Result quiet = Shell(kNow + "QUILLABY_LOG_LINES_PER_HOUR=0", kYesterday);
    EXPECT_LT(Lines(quiet.out).size(), 800u);
    const char* const success = "Backup completed successfully.";
    EXPECT_EQ(Count(quiet.out, success), Count(day.out, success));

    // Over two weeks the machine mostly backs up and now and then has a problem.
    std::size_t problemDays = 0;
    for (int d = 1; d <= 14; ++d) {
        const std::string out
            = Shell("QUILLABY_LOG_NOW='2026-04-" + std::to_string(100 + d).substr(1) + " 09:00:00'", kYesterday).out;
        EXPECT_GE(Count(out, success), 12u) << d;
        std::size_t problems = 0;
        for (const char* problem : {"Backup failed with error",
                 "SrcErr:", "Not starting scheduled Time Machine backup - time", "Importer start failed"})
            problems += Count(out, problem);
        problemDays += problems > 0;
    }
    EXPECT_GE(problemDays, 2u);
    EXPECT_LE(problemDays, 13u);

    // 2026-03-08 is the day New York moves its clocks from 02:00 to 03:00.
    if (!std::filesystem::exists("/usr/share/zoneinfo/America/New_York"))
        GTEST_SKIP() << "no time zone data";
    const Result shortDay = Shell("TZ=America/New_York QUILLABY_LOG_NOW='2026-03-09 12:00:00'", kYesterday);
    hours.clear();
    for (const std::string& line : Lines(shortDay.out))
        if (IsEntry(line)) {
            ASSERT_EQ(line.substr(0, 11), "2026-03-08 ");
            hours.insert(line.substr(11, 2));
            EXPECT_EQ(line.substr(26, 5), line.substr(11, 2) < "03" ? "-0500" : "-0400") << line.substr(0, 40);
        }
    EXPECT_EQ(hours.size(), 23u);
    EXPECT_EQ(hours.count("02"), 0u);
}

TEST(LogStandin, ReplayMovesARecordingIntoTheAskedPeriod)
{
    const QString fixture = FixturePath(QStringLiteral("today-error-free-morning.log"));
    const std::vector<std::string> recorded = Lines(ReadFile(fixture));
    const std::string replay = "QUILLABY_LOG_REPLAY='" + fixture.toStdString() + "' ";
    const auto seconds = [](const std::string& s) {
        return std::stoi(s.substr(11, 2)) * 3600 + std::stoi(s.substr(14, 2)) * 60 + std::stoi(s.substr(17, 2));
    };
    // Four hours (the recording spans less): every line, each entry moved by
    // the same amount so that the last is now. Yesterday: the same time of
    // day the day before. In Kolkata the stamps carry its offset.
    struct Case {
        std::string env, command, date;
        std::size_t keep; // bytes after which an entry is unchanged
    };
    for (const Case& c : {Case {"", kToday, "2026-05-20 ", 19}, Case {"", kYesterday, "2026-05-19 ", 11},
             Case {"TZ=Asia/Kolkata ", kToday, "2026-05-20 ", 31}}) {
        SCOPED_TRACE(c.env + c.command);
        const std::vector<std::string> lines
            = Lines(Shell(c.env + replay + "QUILLABY_LOG_NOW='2026-05-20 15:30:00'", c.command).out);
        ASSERT_EQ(lines.size(), recorded.size());
        int shift = -1;
        std::string last;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (!IsEntry(recorded[i])) {
                EXPECT_EQ(lines[i], recorded[i]);
                continue;
            }
            EXPECT_EQ(lines[i].substr(c.keep), recorded[i].substr(c.keep)) << "line " << i + 1;
            EXPECT_EQ(lines[i].substr(0, 11), c.date);
            EXPECT_EQ(lines[i].substr(26, 5), c.keep == 31 ? "+0530" : "+0000");
            if (shift < 0)
                shift = seconds(lines[i]) - seconds(recorded[i]);
            EXPECT_EQ(seconds(lines[i]) - seconds(recorded[i]), shift) << "line " << i + 1;
            last = Stamp(lines[i]);
        }
        if (c.keep == 19) {
            EXPECT_EQ(last, "2026-05-20 15:30:00");
        }
    }

    // One hour: the entries of the last hour with their continuation lines.
    const std::vector<std::string> hour
        = Lines(Shell(replay + "QUILLABY_LOG_NOW='2026-05-20 15:30:00'", "log show --last 1h " + kInfo).out);
    ExpectLayout(hour, "one hour of replay", false);
    EXPECT_LT(hour.size(), recorded.size());
    for (std::size_t i = 3; i + 3 < hour.size(); ++i)
        EXPECT_TRUE(IsEntry(hour[i]) ? Stamp(hour[i]) >= "2026-05-20 14:30:00" : hour[i][0] == '\t') << hour[i];
}

TEST(LogStandin, BadCommandLinesAndEnvironmentsExitWith64)
{
    const std::string predicate = "--predicate 'subsystem == \"com.apple.TimeMachine\"'";
    const std::vector<std::pair<std::string, std::string>> bad = {{"", "log"}, {"", "log show"},
        {"", "log stream " + kInfo}, {"", "log help"}, {"", "log show --last 4h --info"},
        {"", "log show --last 4h --predicate 'subsystem == \"com.apple.Finder\"' --info"},
        {"", "log show --last 4h " + predicate}, {"", "log show --last 4x " + kInfo},
        {"", "log show --last 0h " + kInfo}, {"", "log show --last h " + kInfo}, {"", "log show --last " + kInfo},
        {"", "log show --last 4h --last 2h " + kInfo}, {"", "log show --last 4h " + kInfo + " --yesterday"},
        {"", "log show " + kInfo + " --info --yesterday"}, {"", "log show " + kInfo + " --yesterday --style compact"},
        {"QUILLABY_LOG_NOW='noon'", kToday}, {"QUILLABY_LOG_LINES_PER_HOUR=lots", kToday}};
    for (const auto& [env, command] : bad) {
        const Result r = Shell(kNow + env, command);
        EXPECT_EQ(r.status, 64) << command;
        EXPECT_EQ(r.out, "") << command;
        EXPECT_NE(r.err.find("usage: log show"), std::string::npos) << command;
    }
    // The options in another order, and minutes, are understood.
    EXPECT_EQ(Shell(kNow, "log show --info " + predicate + " --last 90m").status, 0);
    EXPECT_EQ(Shell(kNow, "log show --yesterday --info " + predicate).status, 0);
}

TEST(LogStandin, GarbledOrMissingRecordingsDoNotCrashIt)
{
    const Sandbox files;
    // The garbled fixture: every byte after the stamps comes back unchanged.
    const QString garbled = FixturePath(QStringLiteral("garbled.log"));
    const std::vector<std::string> recorded = Lines(ReadFile(garbled));
    // One huge line without a line end, and nothing, come back whole.
    const std::string huge = "2026-03-10 11:00:00.000000+0000 " + std::string(5 * 1024 * 1024, 'x');
    const std::vector<std::pair<QString, std::size_t>> sizes
        = {{files.Write(QStringLiteral("huge"), huge), huge.size()}, {files.Write(QStringLiteral("empty"), ""), 0}};
    for (const std::string& command : {kToday, kYesterday}) {
        const Result r = Shell(kNow + "QUILLABY_LOG_REPLAY='" + garbled.toStdString() + "'", command);
        EXPECT_EQ(r.status, 0) << command;
        const std::vector<std::string> lines = Lines(r.out);
        ASSERT_EQ(lines.size(), recorded.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::size_t keep = IsEntry(recorded[i]) ? 31 : 0;
            EXPECT_EQ(lines[i].substr(std::min(lines[i].size(), keep)),
                recorded[i].substr(std::min(recorded[i].size(), keep)))
                << command << " line " << i + 1;
        }
        for (const auto& [path, size] : sizes)
            EXPECT_EQ(Shell(kNow + "QUILLABY_LOG_REPLAY='" + path.toStdString() + "'", command).out.size(), size);
        // A recording that is missing or a folder: status 66 and why.
        for (const QString& path : {QStringLiteral("/nonexistent/recording.log"), files.path()}) {
            const Result bad = Shell(kNow + "QUILLABY_LOG_REPLAY='" + path.toStdString() + "'", command);
            EXPECT_EQ(bad.status, 66);
            EXPECT_EQ(bad.out, "");
            EXPECT_NE(bad.err.find(path.toStdString()), std::string::npos) << bad.err;
        }
    }
    // Without the NUL bytes, grep passes the 1 MB line and cut keeps 879 bytes of it.
    const QString withoutNul = FixturePath(QStringLiteral("garbled-without-nul.log"));
    std::size_t longest = 0;
    for (const std::string& line :
        Lines(Shell(kNow + "QUILLABY_LOG_REPLAY='" + withoutNul.toStdString() + "'", kToday + kCut).out))
        longest = std::max(longest, line.size());
    EXPECT_EQ(longest, 879u);
}

TEST(LogStandin, FixturesHaveTheDefaultLayoutAndTheirStatedCounts)
{
    // The README's first tables: lines of the file (which a replay for its period
    // prints whole) and, for today's, the lines that grep 'upd: (' keeps.
    std::map<std::string, std::pair<std::size_t, std::size_t>> counts;
    static const std::regex row(R"(\| ((?:today|yesterday)-[^ ]+\.log) \| (\d+) \| (\d+) \|.*)");
    std::smatch m;
    for (const std::string& line : Lines(ReadFile(FixturePath(QStringLiteral("README.md")))))
        if (line.starts_with("## Garbled"))
            break;
        else if (std::regex_match(line, m, row))
            counts[m.str(1)] = {std::stoul(m.str(2)), std::stoul(m.str(3))};
    EXPECT_EQ(counts.size(), 22u);
    for (const auto& entry : std::filesystem::directory_iterator(QZ_FIXTURES_DIR)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".log" || name.rfind("garbled", 0) == 0)
            continue;
        ASSERT_EQ(counts.count(name), 1u) << name << " is not listed";
        const std::string text = ReadFile(QString::fromStdString(entry.path().string()));
        ExpectLayout(Lines(text), name);
        EXPECT_EQ(Lines(text).size(), counts.at(name).first) << name;
        const std::string replay = kNow + "QUILLABY_LOG_REPLAY='" + entry.path().string() + "'";
        if (name.rfind("today-", 0) == 0) {
            EXPECT_EQ(Count(text, "upd: ("), counts.at(name).second) << name;
            EXPECT_EQ(Lines(Shell(replay, kToday + kCut).out).size(), counts.at(name).second) << name;
        } else {
            EXPECT_EQ(Shell(replay, kYesterday).out, text) << name;
        }
        counts.erase(name);
    }
    EXPECT_TRUE(counts.empty());
}

TEST(StandIns, AnswerAsTheMacToolsDoAndRefuseBadArguments)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("xdg-open"), "echo \"$1\" >> \"$HOME/opened\"");
    sandbox.Write(QStringLiteral("doc.rtf"), "{\\rtf1}");
    struct Case {
        const char* command;
        int status;
        std::string out; // "*": anything non-empty
        bool usage;
    };
    const Case cases[] = {{"tmutil startbackup", 0, "", false}, {"tmutil startbackup --auto --block", 0, "", false},
        {"tmutil", 1, "", true}, {"tmutil startbackup --nonsense", 1, "", true}, {"tmutil restore x", 1, "", true},
        {"scutil --get ComputerName", 0, "*", false}, {"scutil --get", 64, "", true},
        {"scutil --set ComputerName x", 64, "", true},
        {"dseditgroup -o checkmember -m root admin", 0, "yes root is a member of admin\n", false},
        {"dseditgroup -o checkmember -m root nogroup-qz", 6, "no root is NOT a member of nogroup-qz\n", false},
        {"dseditgroup -o checkmember -m nosuchuser-qz admin", 67, "", false},
        {"dseditgroup -o checkmember admin", 64, "", true}, {"dseditgroup", 64, "", true}, {"open", 1, "", true},
        {"open -a Mail", 1, "", true}, {"open \"$HOME/missing.rtf\"", 1, "", false},
        {"open /System/Library/PreferencePanes/TimeMachine.prefPane", 1, "", false},
        {"open 'https://example.com/x?a=1&b=2'", 0, "", false}, {"open \"$HOME/doc.rtf\"", 0, "", false}};
    for (const Case& c : cases) {
        const Result r = Shell("", c.command);
        EXPECT_EQ(r.status, c.status) << c.command;
        EXPECT_TRUE(c.out == "*" ? !r.out.empty() : r.out == c.out) << c.command << ": " << r.out;
        EXPECT_EQ(r.err.find("sage: ") != std::string::npos, c.usage) << c.command << ": " << r.err;
    }
    // xdg-open runs detached from open; wait for both of its calls, in either order.
    const QString opened = sandbox.path() + QStringLiteral("/opened");
    const std::string doc = sandbox.path().toStdString() + "/doc.rtf\n", url = "https://example.com/x?a=1&b=2\n";
    for (int i = 0; i < 200 && ReadFile(opened).size() < doc.size() + url.size(); ++i)
        QThread::msleep(20);
    EXPECT_TRUE(ReadFile(opened) == url + doc || ReadFile(opened) == doc + url) << ReadFile(opened);

    // The backups started by hand show in the simulated log.
    EXPECT_FALSE(ReadFile(sandbox.path() + QStringLiteral("/.local/state/quillaby/manual-backups")).empty());
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    sandbox.Write(QStringLiteral(".local/state/quillaby/manual-backups"), std::to_string(now - 120) + "\n");
    const std::string out = Shell("", "log show --last 1h " + kInfo).out;
    const std::size_t start = out.find(
        QDateTime::fromSecsSinceEpoch(now - 120).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString());
    const std::size_t started = out.find("Starting manual backup", start);
    ASSERT_NE(start, std::string::npos);
    EXPECT_LT(started - start, 200u);
    EXPECT_NE(
        out.find("Backup completed successfully.", out.find("Backing up to /dev/disk3s2", started)), std::string::npos);
}
