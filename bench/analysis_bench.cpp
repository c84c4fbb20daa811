// Today's analysis of 100,000 and 1,000,000 cut log lines and yesterday's
// analysis of 1,000,000 whole lines, with lines per second, the growth
// from the small log to the large one, and GNU grep counting the same
// patterns over the same file in the same run as a yardstick.

#include "bench_support.h"
#include "monitor/fetch.h"
#include "monitor/state.h"
#include "runtime/channels.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

namespace {

const char* const kPatterns[]
    = {"Recovery", "recovery", "deleting backup", "Couldn't get volume info for unmounted disk",
        "Operation not permitted", "snapshot", "Error iterating sibling links", "Error writing to backup log",
        "Not prioritizing backups with priority errors", "inprogress", "Error Domain=NSPOSIXErrorDomain Code=60",
        "Failed to read sticky exclusion", "Injecting event for exclusion", "emlx, error: 2 No such file or directory",
        "connection invalid", "Failed to remove attribute", "Error", "error",
        "Not starting scheduled Time Machine backup", "Backing up to", "Backup failed with error",
        "Importer start failed", "Backup completed successfully", "Completed backup", "Backup succeeded"};

std::string CutLine(std::int64_t i)
{
    return "2026-03-10 10:15:03al] " + BusyDayMessage(i);
}

std::string WholeLine(std::int64_t i)
{
    return "2026-03-09 10:15:03.412345+0000 0x5bcd1    Default     0x2ee8a1             41211  0    backupd: "
           "(TimeMachine) [com.apple.TimeMachine:General] "
        + BusyDayMessage(i);
}

std::map<std::int64_t, double> gSecondsPerLine;

double GrepSeconds(const QString& file)
{
    std::string command = "LC_ALL=C grep -F -c";
    for (const char* p : kPatterns)
        command += std::string(" -e '")
            + (std::string(p) == "Couldn't get volume info for unmounted disk" ? "get volume info for unmounted disk"
                                                                               : p)
            + "'";
    // Not into /dev/null: GNU grep stops at the first match when it sees
    // its output is discarded.
    return TimeShell(command + " '" + file.toStdString() + "' > '" + BenchFolder().toStdString() + "/grep-count'");
}

void BM_TodayAnalysis(benchmark::State& state)
{
    const std::int64_t lines = state.range(0);
    const QString file = BenchFile(QStringLiteral("today-%1").arg(lines), lines, CutLine);
    double total = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        QzOpenPipe(1, ShortString::FromView("cat '" + file.toStdString() + "'"));
        gTodayReadNow = 1;
        FetchTodayLog();
        const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
        state.SetIterationTime(seconds);
        total += seconds;
    }
    gSecondsPerLine[lines] = total / static_cast<double>(state.iterations()) / static_cast<double>(lines);
    state.counters["lines/s"]
        = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["report_MB"] = static_cast<double>(gReport.bytes.size()) / 1e6;
    state.counters["grep_lines/s"] = static_cast<double>(lines) / GrepSeconds(file);
}

void BM_YesterdayAnalysis(benchmark::State& state)
{
    const std::int64_t lines = state.range(0);
    const QString file = BenchFile(QStringLiteral("yesterday-%1").arg(lines), lines, WholeLine);
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        QzOpenPipe(1, ShortString::FromView("cat '" + file.toStdString() + "'"));
        gYesterdayReadNow = 1;
        FetchYesterdayLog();
        state.SetIterationTime(static_cast<double>(t.nsecsElapsed()) / 1e9);
    }
    state.counters["lines/s"]
        = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["report_MB"] = static_cast<double>(gReport.bytes.size()) / 1e6;
    state.counters["grep_lines/s"] = static_cast<double>(lines) / GrepSeconds(file);
}

} // namespace

BENCHMARK(BM_TodayAnalysis)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_YesterdayAnalysis)->Arg(1'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

int main(int argc, char** argv)
{
    BenchWorld(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (gSecondsPerLine.count(100'000) && gSecondsPerLine.count(1'000'000))
        std::printf("Today's analysis: time per line at 1,000,000 lines / at 100,000 lines = %.2f (1.00 is linear)\n",
            gSecondsPerLine[1'000'000] / gSecondsPerLine[100'000]);
    benchmark::Shutdown();
    return 0;
}
