// The stand-in commands run as the application runs them: /bin/sh, the stand-in folder first on PATH, the C locale, the
// real grep and cut, and for `log` a fixed now.

#include "simmac/simulated_mac.h"
#include "test_support.h"

#include <filesystem>
#include <regex>
#include <set>

namespace {

const std::string kInfo = "--predicate 'subsystem == \"com.apple.TimeMachine\"' --info";
const std::string kToday = "log show --last 4h " + kInfo;
const std::string kYesterday = "log show " + kInfo + " --yesterday";
const std::string kCut = " | grep 'upd: (' | cut -c 1-19,140-999";

// The environment of a fetch at `now`, replaying `path` if given.
std::string At(const std::string& now, const std::string& path = {})
{
    return "QUILLABY_LOG_NOW='" + now + "' " + (path.empty() ? "" : "QUILLABY_LOG_REPLAY='" + path + "' ");
}
const std::string kNow = At("2026-03-10 12:00:00");

// Leading assignments go to the first stage of the command line.
ShResult Shell(const std::string& command)
{
    return Sh("PATH='" QZ_STANDIN_DIR "':\"$PATH\" LC_ALL=C; export PATH LC_ALL; " + command);
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

// An entry line of the default layout: stamp, thread, type, activity and PID from columns 1, 33, 44, 56 and 77, TTL,
// then "process: (TimeMachine) [com.apple.TimeMachine:category] message", a backupd message at column 137 + the
// category's length. Its type and process, or nothing.
std::pair<std::string, std::string> Split(const std::string& line)
{
    static const std::regex head(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}[+-]\d{4} 0x[0-9a-f]+ +(\w+) +(0x[0-9a-f]+) +(\d+) +0    (.+?): \(TimeMachine\) \[com\.apple\.TimeMachine:([^\]]+)\] )");
    std::smatch m;
    const std::string start = line.substr(0, 400);
    if (!std::regex_search(start, m, head, std::regex_constants::match_continuous) || m.position(1) != 43
        || m.position(2) != 55 || m.position(3) != 76 || m.position(4) != 88
        || (m.str(4) == "backupd" && m.length(0) != 136 + m.length(5)))
        return {};
    return {m.str(1), m.str(4)};
}

// The lines around the entries in the default layout; the statistics count the entries.
void ExpectLayout(const std::vector<std::string>& lines, const std::string& what)
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
        const auto [type, process] = Split(lines[i]);
        counts[type] += 1;
        EXPECT_TRUE(IsEntry(lines[i]) ? !process.empty() : i > 3 && lines[i][0] == '\t') << lines[i];
    }
    char closing[200];
    std::snprintf(closing, sizeof closing,
        "Log      - Default: %10ld, Info: %16ld, Debug: %13ld, Error: %10ld, Fault: %10ld", counts["Default"],
        counts["Info"], counts["Debug"], counts["Error"], counts["Fault"]);
    EXPECT_EQ(lines[n - 2], closing);
}

std::size_t Count(const std::string& text, const char* what)
{
    return static_cast<std::size_t>(QByteArray::fromStdString(text).count(what));
}

// The lines of `text` stamped from `from` up to before `to`.
std::string Between(const std::string& text, const std::string& from, const std::string& to)
{
    std::string kept;
    for (const std::string& line : Lines(text))
        if (line.substr(0, 19) >= from && line.substr(0, 19) < to)
            kept += line + "\n";
    return kept;
}

} // namespace

TEST(LogStandin, SimulatesTodayAndYesterdayAsAMacAndReplaysRecordingsByteForByte)
{
    const ShResult full = Shell(kNow + kToday);
    ASSERT_EQ(full.code, 0);
    ExpectLayout(Lines(full.out), "simulated today");
    EXPECT_NE(full.out.find("backupd-helper: (TimeMachine)"), std::string::npos);
    // Every line grep keeps is backupd's in the default layout: cut keeps the stamp, the category's end and the
    // message.
    const std::vector<std::string> raw = Lines(Shell(kNow + kToday + " | grep 'upd: ('").out);
    ASSERT_GE(raw.size(), 49u);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        EXPECT_EQ(Split(raw[i]).second, "backupd") << raw[i];
        EXPECT_TRUE(raw[i].substr(0, 19) >= (i ? raw[i - 1].substr(0, 19) : "2026-03-10 08:00:00")
            && raw[i].substr(0, 19) <= "2026-03-10 12:00:00")
            << raw[i];
    }
    const std::string cut = Shell(kNow + kToday + kCut).out;
    EXPECT_EQ(Lines(cut).size(), raw.size());
    for (const char* text :
        {"Info] Starting automatic backup", "Info] Backing up to /dev/disk3s2: /Volumes/Backup Plus/Backups.backupdb",
            "Info] Backup completed successfully."})
        EXPECT_NE(cut.find(text), std::string::npos) << text;
    // Overlapping fetches agree: half an hour later, across midnight with yesterday's, two hours whole with four.
    const std::tuple<std::string, std::string, std::string, std::string, bool> overlaps[]
        = {{At("2026-03-10 12:30:00") + kToday, kNow + kToday, "2026-03-10 08:30:00", "2026-03-10 12:00:00", false},
            {At("2026-03-10 01:00:00") + kToday, kNow + kYesterday, "2026-03-09 21", "2026-03-10 00", false},
            {kNow + "log show --last 2h " + kInfo, kNow + kToday, "2026-03-10 10:00:00", "2026-03-10 12:00:01", true}};
    for (const auto& [one, other, from, to, whole] : overlaps) {
        SCOPED_TRACE(one);
        const std::string a = Shell(one + kCut).out;
        EXPECT_GT(Between(a, from, to).size(), 1000u);
        EXPECT_EQ(whole ? a : Between(a, from, to), Between(Shell(other + kCut).out, from, to));
    }
    // Yesterday: every hour of the day, each entry stamped with its date and offset.
    const ShResult yesterday = Shell(kNow + kYesterday);
    ASSERT_EQ(yesterday.code, 0);
    ExpectLayout(Lines(yesterday.out), "yesterday");
    std::set<std::string> hours;
    for (const std::string& line : Lines(yesterday.out))
        if (IsEntry(line)) {
            hours.insert(line.substr(11, 2));
            EXPECT_EQ(line.substr(0, 11) + line.substr(26, 5), "2026-03-09 +0000");
        }
    EXPECT_EQ(hours.size(), 24u);
    const std::string& day = yesterday.out;
    EXPECT_TRUE(Lines(day).size() > 1500u && Lines(day).size() < 8000u) << Lines(day).size();
    EXPECT_NE(day.find("\tAutoBackup = 1;\n"), std::string::npos) << "multi-line entries";
    // The rate follows QUILLABY_LOG_LINES_PER_HOUR; the backups stay.
    EXPECT_GT(Lines(Shell(kNow + "QUILLABY_LOG_LINES_PER_HOUR=1000 " + kYesterday).out).size(), 20000u);
    const std::string quiet = Shell(kNow + "QUILLABY_LOG_LINES_PER_HOUR=0 " + kYesterday).out;
    EXPECT_LT(Lines(quiet).size(), 800u);
    const char* const success = "Backup completed successfully.";
    EXPECT_EQ(Count(quiet, success), Count(day, success));
    // Over two weeks the machine mostly backs up and now and then has a problem.
    std::size_t problemDays = 0;
    for (int d = 1; d <= 14; ++d) {
        const std::string out
            = Shell(At("2026-04-" + std::to_string(100 + d).substr(1) + " 09:00:00") + kYesterday).out;
        EXPECT_GE(Count(out, success), 12u) << d;
        problemDays += Count(out, "Backup failed with error") + Count(out, "SrcErr:")
                + Count(out, "Importer start failed") + Count(out, "Not starting scheduled Time Machine backup - time")
            > 0;
    }
    EXPECT_TRUE(problemDays >= 2u && problemDays <= 13u) << problemDays;
    const auto seconds = [](const std::string& s) {
        return std::stoi(s.substr(11, 2)) * 3600 + std::stoi(s.substr(14, 2)) * 60 + std::stoi(s.substr(17, 2));
    };
    // Replays: every line, each entry moved by one amount (today's last to now, yesterday's to its time of day the day
    // before, Kolkata's stamps with its offset). Per case: the date and offset of every entry, the bytes kept from.
    const char* const morning = "today-error-free-morning.log";
    const std::tuple<const char*, std::string, std::string, std::size_t> cases[]
        = {{morning, kToday, "2026-05-20 +0000", 19}, {morning, kYesterday, "2026-05-19 +0000", 11},
            {morning, "TZ=Asia/Kolkata " + kToday, "2026-05-20 +0530", 31}, {"garbled.log", kToday, "", 31},
            {"garbled.log", kYesterday, "", 31}};
    for (const auto& [name, command, date, unchanged] : cases) {
        SCOPED_TRACE(name + (" " + command));
        const QString fixture = FixturePath(QString::fromUtf8(name));
        const std::vector<std::string> recorded = Lines(ReadFile(fixture));
        const ShResult r = Shell(At("2026-05-20 15:30:00", fixture.toStdString()) + command);
        const std::vector<std::string> lines = Lines(r.out);
        ASSERT_EQ(r.code, 0);
        ASSERT_EQ(lines.size(), recorded.size());
        std::set<int> shifts;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::size_t keep = IsEntry(recorded[i]) ? unchanged : 0;
            EXPECT_EQ(lines[i].substr(std::min(lines[i].size(), keep)),
                recorded[i].substr(std::min(recorded[i].size(), keep)))
                << "line " << i + 1;
            if (keep && !date.empty()) {
                EXPECT_EQ(lines[i].substr(0, 11) + lines[i].substr(26, 5), date);
                shifts.insert(seconds(lines[i]) - seconds(recorded[i]));
            }
        }
        EXPECT_EQ(shifts.size(), date.empty() ? 0u : 1u);
        const auto last = std::find_if(lines.rbegin(), lines.rend(), IsEntry);
        EXPECT_TRUE(unchanged != 19 || last->substr(0, 19) == "2026-05-20 15:30:00") << *last;
    }
    // Each fixture comes back whole: today's through grep and cut, yesterday's byte for byte.
    for (const auto& entry : std::filesystem::directory_iterator(QZ_FIXTURES_DIR)) {
        const std::string name = entry.path().filename().string(),
                          recorded = ReadFile(QString::fromStdString(entry.path().string()));
        const std::string replay = At("2026-03-10 12:00:00", entry.path().string());
        if (entry.path().extension() != ".log" || name.starts_with("garbled"))
            continue;
        EXPECT_TRUE(name.starts_with("today-")
                ? Lines(Shell(replay + kToday + kCut).out).size() == Count(recorded, "upd: (")
                : Shell(replay + kYesterday).out == recorded)
            << name;
    }
}

// Exit statuses, outputs ("*": anything) and what stderr says (nothing: no usage) of the stand-ins at a fixed now.
TEST(StandIns, AnswerAsTheMacToolsDoAndRefuseBadArguments)
{
    Sandbox sandbox;
    // The problem files lie in real folders of the home (the home itself without them): Show Problem's folder exists.
    for (const std::string& folder : {sandbox.path().toStdString(), sandbox.path().toStdString() + "/Pictures"}) {
        QDir().mkpath(QString::fromStdString(folder));
        const ShResult r = Shell(At("2026-03-06 14:00:00") + kToday + kCut);
        EXPECT_NE(r.out.find("SrcErr:YES Copying " + folder + "/History to "), std::string::npos) << r.out;
    }
    sandbox.Stub(QStringLiteral("xdg-open"), "echo \"$1\" >> \"$HOME/opened\"");
    sandbox.Write(QStringLiteral("doc.rtf"), "{\\rtf1}");
    const std::string huge = "2026-03-10 11:00:00.000000+0000 " + std::string(5 * 1024 * 1024, 'x');
    const std::string pred = "--predicate 'subsystem == \"com.apple.TimeMachine\"'", u = "usage: log show",
                      s = "sage: ";
    const std::string missing = "/nonexistent/recording.log", folder = sandbox.path().toStdString();
    sandbox.Write(QStringLiteral("huge"), huge);
    sandbox.Write(QStringLiteral("empty"), "");
    struct Case {
        std::string command;
        int status;
        std::string err = {}, out = {}; // err: in stderr, or none for no usage; out "*": anything
    };
    std::vector<Case> cases = {{"log", 64, u}, {"log show", 64, u}, {"log stream " + kInfo, 64, u}, {"log help", 64, u},
        {"log show --last 4h --info", 64, u},
        {"log show --last 4h --predicate 'subsystem == \"com.apple.Finder\"' --info", 64, u},
        {"log show --last 4h " + pred, 64, u}, {"log show --last 4x " + kInfo, 64, u},
        {"log show --last 0h " + kInfo, 64, u}, {"log show --last h " + kInfo, 64, u},
        {"log show --last " + kInfo, 64, u}, {"log show --last 4h --last 2h " + kInfo, 64, u},
        {"log show --last 4h " + kInfo + " --yesterday", 64, u}, {"log show " + kInfo + " --info --yesterday", 64, u},
        {"log show " + kInfo + " --yesterday --style compact", 64, u}, {"QUILLABY_LOG_NOW='noon' " + kToday, 64, u},
        {"QUILLABY_LOG_LINES_PER_HOUR=lots " + kToday, 64, u}, {"log show --info " + pred + " --last 90m", 0, "", "*"},
        {"log show --yesterday --info " + pred, 0, "", "*"}, {"tmutil startbackup", 0},
        {"tmutil startbackup --auto --block", 0}, {"tmutil", 1, s}, {"tmutil startbackup --nonsense", 1, s},
        {"tmutil restore x", 1, s}, {"scutil --get ComputerName", 0, "", "*"}, {"scutil --get", 64, s},
        {"scutil --set ComputerName x", 64, s},
        {"dseditgroup -o checkmember -m root admin", 0, "", "yes root is a member of admin\n"},
        {"dseditgroup -o checkmember -m root nogroup-qz", 6, "", "no root is NOT a member of nogroup-qz\n"},
        {"dseditgroup -o checkmember -m nosuchuser-qz admin", 67}, {"dseditgroup -o checkmember admin", 64, s},
        {"dseditgroup", 64, s}, {"open", 1, s}, {"open -a Mail", 1, s}, {"open \"$HOME/missing.rtf\"", 1},
        {"open /System/Library/PreferencePanes/TimeMachine.prefPane", 1}, {"open 'https://example.com/x?a=1&b=2'", 0},
        {"open \"$HOME/doc.rtf\"", 0}};
    // Recordings: a huge line without a line end (moved to now, or to its time of day yesterday) and nothing come back
    // whole; one that is missing or a folder gives status 66 and why.
    for (const auto& [command, moved] :
        {std::pair {kToday, "2026-03-10 12:00:00"}, {kYesterday, "2026-03-09 11:00:00"}})
        for (const Case& c : {Case {folder + "/huge", 0, "", moved + huge.substr(19)}, Case {folder + "/empty", 0},
                 Case {missing, 66, missing}, Case {folder, 66, folder}})
            cases.push_back({"QUILLABY_LOG_REPLAY='" + c.command + "' " + command, c.status, c.err, c.out});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const ShResult r = Shell(kNow + c.command);
        EXPECT_EQ(r.code, c.status);
        EXPECT_TRUE(c.out == "*" ? !r.out.empty() : r.out == c.out) << r.out.substr(0, 200);
        EXPECT_EQ(r.err.find(c.err.empty() ? s : c.err) != std::string::npos, !c.err.empty()) << r.err;
    }
    // xdg-open runs detached from open; wait for both of its calls, in either order.
    const QString opened = sandbox.path() + QStringLiteral("/opened");
    const std::string doc = sandbox.path().toStdString() + "/doc.rtf\n", url = "https://example.com/x?a=1&b=2\n";
    for (int i = 0; i < 200 && ReadFile(opened).size() < doc.size() + url.size(); ++i)
        QThread::msleep(20);
    EXPECT_TRUE(ReadFile(opened) == url + doc || ReadFile(opened) == doc + url) << ReadFile(opened);
    // The backups started by hand show in the simulated log.
    EXPECT_FALSE(ReadFile(sandbox.path() + QStringLiteral("/.local/state/quillaby/manual-backups")).empty());
    sandbox.Write(QStringLiteral(".local/state/quillaby/manual-backups"), "1773143880\n"); // 11:58:00
    const std::string out = Shell(kNow + "log show --last 2h " + kInfo).out;
    const std::size_t start = out.find("2026-03-10 11:58:00");
    const std::size_t started = out.find("Starting manual backup", start);
    ASSERT_NE(start, std::string::npos);
    EXPECT_LT(started - start, 200u);
    EXPECT_NE(
        out.find("Backup completed successfully.", out.find("Backing up to /dev/disk3s2", started)), std::string::npos);
}

TEST(SimulatedMac, VersionsCompareByNumberAndTheEnvironmentOverridesTheBundlesFile)
{
    const std::tuple<const char*, const char*, bool> comparisons[] = {{"10.15.7", "10.15.9", false},
        {"10.15.9", "10.15.9", true}, {"10.15.10", "10.15.9", true}, {"26.1", "10.15.9", true},
        {"10.12.6", "10.12", true}, {"10.12", "10.12.6", false}, {"010.015", "10.15", true}, {"9.9", "10.0", false}};
    for (const auto& [version, threshold, atLeast] : comparisons)
        EXPECT_EQ(MacVersionAtLeast(version, threshold), atLeast) << version << " / " << threshold;
    EXPECT_FALSE(MacVersionWritesRecentWording("10.15.7") || MacVersionWritesRecentWording("")
        || !MacVersionWritesRecentWording("11"));

    // The bundle's file says 10.15.7.
    const std::string plist = QZ_BUNDLE_DIR "/Contents/Resources" + std::string(kSimulatedMacPlist);
    for (const auto& [value, version] : std::initializer_list<std::pair<const char*, const char*>> {{"26.1", "26.1"},
             {"11.7.10", "11.7.10"}, {"26", "26"}, {"", "10.15.7"}, {"26.", "10.15.7"}, {".26", "10.15.7"},
             {"26..1", "10.15.7"}, {"macOS 26", "10.15.7"}, {"26.1 ", "10.15.7"}}) {
        setenv("QUILLABY_SIMULATED_MACOS", value, 1);
        EXPECT_EQ(SimulatedMacVersion(plist), version) << '"' << value << '"';
    }
    EXPECT_EQ(SimulatedMacVersion(plist + ".missing"), "");
    unsetenv("QUILLABY_SIMULATED_MACOS");
    EXPECT_EQ(SimulatedMacVersion(plist), "10.15.7");
    EXPECT_EQ(SimulatedMacVersionFromEnvironment(), "");
}
