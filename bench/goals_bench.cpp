// The speed and memory goals, each as a ratio measured side by side in one
// run. The two commands of the today and yesterday goals run in turn, nine
// times each, and the ratio is the median of the nine pairs', so that the
// machine's drift (its speed can change twofold within minutes) falls on
// both sides of each pair alike; every other time is the best of three:
//
//   today      quillaby-report today / the bare log | grep | cut pipeline,
//              on 1,000,000 lines of a busy day and of a day with many
//              success lines                                  goal <= 1.2
//              once with a stub `log` that cats the file, and once with
//              the bundle's stand-in `log` replaying it into the last four
//              hours, as a Mac's `log show` prints its own archive
//   analysis   today's analysis reading the cut lines, up to the report
//              it leaves (not put into the window's view) / grep -F -c
//              with every pattern the rules look for          goal <= 1.0
//   yesterday  quillaby-report yesterday / cat | cat of the same
//              1,000,000 lines                                 goal <= 2.0
//   pipe       pipe line reading throughput / cat | cat's      goal >= 0.8
//   memory     peak memory of quillaby-report yesterday on a flood of
//              3,000,000 error lines / (3 x report + 60 MB)    goal <= 1.0
//
//   build/release/bench/goals_bench [lines [case...]]
//
// lines defaults to 1000000; the cases are busy, many-successes,
// busy-standin, many-successes-standin, analysis, yesterday, pipe and
// memory, all of them by default.
//
// Every command reads the same file through the same `log`, so the
// commands compared do the same reading. The stub that cats it is the
// harder case: all that is left beside the report's work is cat's. The
// settings file lives in memory (/dev/shm) where there is one: what is
// measured is the analysis, not the disk's fsync on each save.

#include "bench_support.h"
#include "monitor/fetch.h"
#include "monitor/report.h"
#include "monitor/state.h"
#include "runtime/channels.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

std::int64_t gLines = 1'000'000;
std::string gFolder;

std::string Whole(const std::string& message)
{
    return "2026-03-10 10:15:03.412345+0000 0x5bcd1    Default     0x2ee8a1             41211  0    backupd: "
           "(TimeMachine) [com.apple.TimeMachine:General] "
        + message;
}

std::string BusyLine(std::int64_t i)
{
    return Whole(BusyDayMessage(i, false));
}

std::string SuccessfulLine(std::int64_t i)
{
    return Whole(BusyDayMessage(i, true));
}

std::string FloodLine(std::int64_t i)
{
    return "2026-03-09 10:15:03 Error: (-36) SrcErr:NO Copying /Users/sam/f" + std::to_string(i) + ".txt";
}

// A home folder in memory where the machine has one.
std::string MemoryHome()
{
    static const QTemporaryDir memory(QDir(QStringLiteral("/dev/shm")).exists()
            ? QStringLiteral("/dev/shm/quillaby-bench-XXXXXX")
            : QString::fromStdString(gFolder) + QStringLiteral("/home-XXXXXX"));
    return memory.path().toStdString();
}

enum class Log { Cat, StandIn };

// An empty process list, and a `log` that prints the file: a stub that
// cats it, or the stand-in replaying it as of now.
std::string World(const QString& file, Log log = Log::Cat)
{
    const std::string bin = gFolder + (log == Log::Cat ? "/bin" : "/bin-standin");
    QDir().mkpath(QString::fromStdString(bin));
    std::ofstream(bin + "/ps") << "#!/bin/sh\n";
    std::string path = "'" + bin + "'";
    std::string replay;
    if (log == Log::Cat) {
        std::ofstream(bin + "/log") << "#!/bin/sh\nexec cat '" << file.toStdString() << "'\n";
    } else {
        path += ":'" QZ_STANDIN_DIR "'";
        replay = " QUILLABY_LOG_REPLAY='" + file.toStdString() + "'";
    }
    std::system(("chmod +x '" + bin + "'/*").c_str());
    const std::string home = MemoryHome();
    return "PATH=" + path + ":\"$PATH\"" + replay + " HOME='" + home + "' XDG_DATA_HOME='" + home + "/data' ";
}

double Best(const std::string& command)
{
    double best = 1e9;
    for (int i = 0; i < 3; ++i)
        best = std::min(best, TimeShell(command));
    return best;
}

// The two commands run one after the other, nine times: the best time of
// each and the median of the nine ratios second / first.
struct Pair {
    double first = 1e9;
    double second = 1e9;
    double ratio = 0;
};

Pair Paired(const std::string& first, const std::string& second)
{
    constexpr int kRuns = 9;
    Pair pair;
    std::vector<double> ratios;
    for (int i = 0; i < kRuns; ++i) {
        const double a = TimeShell(first);
        const double b = TimeShell(second);
        pair.first = std::min(pair.first, a);
        pair.second = std::min(pair.second, b);
        ratios.push_back(b / a);
    }
    std::nth_element(ratios.begin(), ratios.begin() + kRuns / 2, ratios.end());
    pair.ratio = ratios[kRuns / 2];
    return pair;
}

void Row(const char* name, double ratio, const char* goal, bool met)
{
    std::printf("%-40s %8.2f   goal %s   %s\n", name, ratio, goal, met ? "met" : "NOT MET");
    std::fflush(stdout);
}

void Today(const char* name, std::string (*make)(std::int64_t), Log log)
{
    const QString file = BenchFile(QString::fromLatin1(name), gLines, make);
    const std::string env = World(file, log);
    const Pair p = Paired(env
            + "sh -c \"log show --last 4h --predicate 'subsystem == \\\"com.apple.TimeMachine\\\"' --info"
              " | grep 'upd: (' | cut -c 1-19,140-999\" > /dev/null",
        env + "'" QZ_REPORT_EXE "' today > /dev/null");
    const std::string label = std::string(name) + (log == Log::Cat ? ", cat" : ", stand-in log");
    std::printf(
        "  %s: quillaby-report today %.3f s, pipeline %.3f s (best of nine)\n", label.c_str(), p.second, p.first);
    Row(("today, " + label + " (report / pipeline)").c_str(), p.ratio, "<= 1.2", p.ratio <= 1.2);
}

// A file of every pattern the rules look for, one a line.
std::string Patterns()
{
    const std::string path = gFolder + "/patterns";
    std::ofstream patterns(path);
    for (const LinePatternText& p : kLinePatterns)
        patterns << p.text << '\n';
    return path;
}

void Analysis()
{
    const QString whole = BenchFile(QStringLiteral("busy"), gLines, BusyLine);
    const std::string cut = gFolder + "/busy-cut";
    std::system(("LC_ALL=C grep 'upd: (' '" + whole.toStdString() + "' | LC_ALL=C cut -c 1-19,140-999 > '" + cut + "'")
                    .c_str());
    // Into a file: GNU grep stops at the first match when its output is
    // discarded.
    const double grep
        = Best("LC_ALL=C grep -F -c -f '" + Patterns() + "' '" + cut + "' > '" + gFolder + "/grep-count'");
    // The analysis only: the report is not handed to the window's view.
    gReportViewOff = 1;
    double analysis = 1e9;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        QzOpenPipe(1, ShortString::FromView("cat '" + cut + "'"));
        gTodayReadNow = 1;
        FetchTodayLog();
        analysis = std::min(analysis, static_cast<double>(t.nsecsElapsed()) / 1e9);
    }
    gReportViewOff = 0;
    std::printf("  analysis %.3f s, grep -F -c %.3f s\n", analysis, grep);
    Row("analysis (analysis / grep -F -c)", analysis / grep, "<= 1.0", analysis <= grep);
}

void Yesterday()
{
    const QString file = BenchFile(QStringLiteral("busy"), gLines, BusyLine);
    const std::string env = World(file);
    const Pair p = Paired(
        "cat '" + file.toStdString() + "' | cat > /dev/null", env + "'" QZ_REPORT_EXE "' yesterday > /dev/null");
    const double cat = p.first;
    const double report = p.second;
    // For scale: a search for the rules' patterns alone over the same bytes.
    const double grep = Best(
        "LC_ALL=C grep -F -c -f '" + Patterns() + "' '" + file.toStdString() + "' > '" + gFolder + "/grep-count'");
    std::printf(
        "  quillaby-report yesterday %.3f s, cat | cat %.3f s (best of nine), grep -F -c %.3f s (%.2f x cat | cat)\n",
        report, cat, grep, grep / cat);
    Row("yesterday (report / cat | cat)", p.ratio, "<= 2.0", p.ratio <= 2.0);
}

void PipeReading()
{
    const QString file = BenchFile(QStringLiteral("busy"), gLines, BusyLine);
    const double cat = Best("cat '" + file.toStdString() + "' | cat > /dev/null");
    double reading = 1e9;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        QzOpenPipe(1, ShortString::FromView("cat '" + file.toStdString() + "'"));
        ShortString line;
        do
            QzLineInput(1, line);
        while (QzEof(1) == 0);
        QzClose(1);
        reading = std::min(reading, static_cast<double>(t.nsecsElapsed()) / 1e9);
    }
    std::printf("  pipe reading %.3f s, cat | cat %.3f s\n", reading, cat);
    Row("pipe (throughput / cat | cat's)", cat / reading, ">= 0.8", cat / reading >= 0.8);
}

void Memory()
{
    const std::int64_t lines = gLines * 3;
    const QString file = BenchFile(QStringLiteral("flood"), lines, FloodLine);
    std::int64_t report = 0; // each line and CR LF, the heading, the closing CR LF
    for (std::int64_t i = 0; i < lines; ++i)
        report += static_cast<std::int64_t>(FloodLine(i).size()) + 2;
    report += static_cast<std::int64_t>(std::string("Yesterday's Time Machine Log:\r\n\r\n").size()) + 2;
    const std::string env = World(file);
    const pid_t child = fork();
    if (child == 0) {
        const std::string command = env + "exec '" QZ_REPORT_EXE "' yesterday > /dev/null";
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    wait4(child, &status, 0, &usage);
    const double peak = static_cast<double>(usage.ru_maxrss) * 1024.0;
    const double allowed = 3.0 * static_cast<double>(report) + 60e6;
    std::printf("  report %.0f MB, peak %.0f MB, allowed %.0f MB\n", static_cast<double>(report) / 1e6, peak / 1e6,
        allowed / 1e6);
    Row("memory (peak / (3 x report + 60 MB))", peak / allowed, "<= 1.0", peak <= allowed);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        gLines = std::atoll(argv[1]);
    std::vector<std::string> cases(argv + std::min(argc, 2), argv + argc);
    const auto wanted = [&cases](const char* name) {
        return cases.empty() || std::find(cases.begin(), cases.end(), name) != cases.end();
    };
    int qtArgc = 1;
    BenchWorld(qtArgc, argv);
    gFolder = BenchFolder().toStdString();
    setenv("XDG_DATA_HOME", (MemoryHome() + "/data").c_str(), 1);
    LoadSettings();
    std::printf("%lld lines a log\n", static_cast<long long>(gLines));
    if (wanted("busy"))
        Today("busy", BusyLine, Log::Cat);
    if (wanted("many-successes"))
        Today("many-successes", SuccessfulLine, Log::Cat);
    if (wanted("busy-standin"))
        Today("busy", BusyLine, Log::StandIn);
    if (wanted("many-successes-standin"))
        Today("many-successes", SuccessfulLine, Log::StandIn);
    if (wanted("analysis"))
        Analysis();
    if (wanted("yesterday"))
        Yesterday();
    if (wanted("pipe"))
        PipeReading();
    if (wanted("memory"))
        Memory();
    return 0;
}
