// Stand-in for the macOS `log` command. It answers the two command lines
// Quillaby runs,
//   log show --last 4h --predicate 'subsystem == "com.apple.TimeMachine"' --info
//   log show --predicate 'subsystem == "com.apple.TimeMachine"' --info --yesterday
// in the default `log show` layout, from a simulated Mac or from a recorded
// log (see docs/standin-log.md). Environment:
//   QUILLABY_LOG_REPLAY          a recorded `log show` output to replay
//   QUILLABY_LOG_NOW             "YYYY-MM-DD HH:MM:SS", local: the time taken as now
//   QUILLABY_LOG_LINES_PER_HOUR  rough entry lines per simulated hour (default 130)
// The simulated Mac also shows the backups that the stand-in `tmutil
// startbackup` recorded in the user's XDG state folder.
//   QUILLABY_SIMULATED_MACOS     the simulated Mac's version, over the bundle's
//                                SystemVersion.plist (10.15.7); from 11 on the
//                                entries have the wording of recent systems

#include "simmac/log/log_layout.h"
#include "simmac/log/log_replay.h"
#include "simmac/log/log_simulate.h"
#include "simmac/simulated_mac.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr int kUsageStatus = 64; // EX_USAGE
constexpr std::string_view kPredicate = "subsystem == \"com.apple.TimeMachine\"";

struct Request {
    bool yesterday = false;
    std::int64_t lastSeconds = 0;
};

int Usage(const char* problem)
{
    std::fprintf(stderr,
        "log: %s\n"
        "usage: log show --last <num>[m|h|d] --predicate 'subsystem == \"com.apple.TimeMachine\"' --info\n"
        "       log show --predicate 'subsystem == \"com.apple.TimeMachine\"' --info --yesterday\n"
        "(Quillaby's stand-in for the macOS log command answers only these.)\n",
        problem);
    return kUsageStatus;
}

// "4h", "30m", "1d": a count of 1 to 99999 and a unit.
std::optional<std::int64_t> ParseDuration(std::string_view text)
{
    if (text.size() < 2 || text.size() > 6)
        return std::nullopt;
    std::int64_t count = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        count = count * 10 + (text[i] - '0');
    }
    if (count == 0)
        return std::nullopt;
    switch (text.back()) {
    case 'm':
        return count * 60;
    case 'h':
        return count * 3600;
    case 'd':
        return count * 86400;
    default:
        return std::nullopt;
    }
}

// The options may come in any order, each once; nothing else is accepted.
std::optional<Request> ParseCommandLine(int argc, char** argv)
{
    if (argc < 2 || std::string_view(argv[1]) != "show")
        return std::nullopt;
    Request request;
    bool predicate = false, info = false, last = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--info" && !info) {
            info = true;
        } else if (arg == "--yesterday" && !request.yesterday) {
            request.yesterday = true;
        } else if (arg == "--predicate" && !predicate && i + 1 < argc && argv[i + 1] == kPredicate) {
            predicate = true;
            ++i;
        } else if (arg == "--last" && !last && i + 1 < argc) {
            const auto seconds = ParseDuration(argv[i + 1]);
            if (!seconds)
                return std::nullopt;
            request.lastSeconds = *seconds;
            last = true;
            ++i;
        } else {
            return std::nullopt;
        }
    }
    if (!predicate || !info || last == request.yesterday)
        return std::nullopt;
    return request;
}

std::optional<tmlog::Moment> Now()
{
    const char* fixed = std::getenv("QUILLABY_LOG_NOW");
    tmlog::Moment now;
    if (fixed && *fixed) {
        int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
        char tail = 0;
        if (std::sscanf(fixed, "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6 || y < 1970 || mo < 1
            || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
            return std::nullopt;
        now.seconds = tmlog::FromLocal(y, mo, d, h, mi, s);
        return now;
    }
    std::timespec ts {};
    std::timespec_get(&ts, TIME_UTC);
    now.seconds = static_cast<std::int64_t>(ts.tv_sec);
    now.micros = static_cast<int>(ts.tv_nsec / 1000);
    return now;
}

// The simulated Mac's SystemVersion.plist in the bundle this program
// belongs to (it lives in Contents/StandIns); empty when unknown.
std::string BundleVersionPlist()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return (self.parent_path().parent_path() / "Resources").string() + std::string(kSimulatedMacPlist);
}

std::optional<int> LinesPerHour()
{
    const char* text = std::getenv("QUILLABY_LOG_LINES_PER_HOUR");
    if (!text || !*text)
        return 130;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0 || value > 1000000)
        return std::nullopt;
    return static_cast<int>(value);
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Request> request = ParseCommandLine(argc, argv);
    if (!request)
        return Usage("unsupported command line");
    const std::optional<tmlog::Moment> now = Now();
    if (!now)
        return Usage("QUILLABY_LOG_NOW must read YYYY-MM-DD HH:MM:SS");
    const std::optional<int> linesPerHour = LinesPerHour();
    if (!linesPerHour)
        return Usage("QUILLABY_LOG_LINES_PER_HOUR must be a number from 0 to 1000000");

    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);

    const char* replay = std::getenv("QUILLABY_LOG_REPLAY");
    if (replay && *replay) {
        tmlog::ReplayRequest r;
        r.path = replay;
        r.now = *now;
        r.yesterday = request->yesterday;
        r.lastSeconds = request->lastSeconds;
        const int status = tmlog::WriteReplay(stdout, stderr, r);
        return std::fflush(stdout) == 0 ? status : 74;
    }

    tmlog::Moment from, to;
    if (request->yesterday) {
        const tmlog::LocalTime today = tmlog::ToLocal(now->seconds);
        from.seconds = tmlog::FromLocal(today.year, today.month, today.day - 1, 0, 0, 0);
        to.seconds = tmlog::FromLocal(today.year, today.month, today.day, 0, 0, 0) - 1;
        to.micros = 999999;
    } else {
        from.seconds = now->seconds - request->lastSeconds;
        from.micros = now->micros;
        to = *now;
    }
    tmlog::SimulationOptions options;
    options.linesPerHour = *linesPerHour;
    options.manualBackups = tmlog::ReadManualBackups();
    options.recentWording = MacVersionWritesRecentWording(SimulatedMacVersion(BundleVersionPlist()));
    tmlog::Statistics stats;
    tmlog::WritePreamble(stdout);
    tmlog::WriteSimulatedEntries(stdout, from, to, options, stats);
    tmlog::WriteClosing(stdout, stats);
    return std::fflush(stdout) == 0 ? 0 : 74;
}
