// Reading a large command output line by line through a pipe channel,
// beside two yardsticks measured in the same run: `cat` of the same bytes
// into /dev/null, and `cat` reading them from a pipe.

#include "bench_support.h"
#include "runtime/channels.h"

#include <benchmark/benchmark.h>

#include <QFileInfo>

namespace {

constexpr std::int64_t kLines = 2'000'000; // about 200 MB

std::string Line(std::int64_t i)
{
    std::string s = "2026-03-10 10:15:03al] Copied " + std::to_string(i)
        + " items (1.2 MB) from volume Macintosh HD - Data. Linked 10698. Warning: none, status ok";
    s.resize(100, '.');
    return s;
}

QString Input()
{
    return BenchFile(QStringLiteral("pipe-input"), kLines, Line);
}

void BM_CatToDevNull(benchmark::State& state)
{
    const std::string file = Input().toStdString();
    for (auto _ : state)
        state.SetIterationTime(TimeShell("cat '" + file + "' > /dev/null"));
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(QFileInfo(Input()).size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_CatThroughPipe(benchmark::State& state)
{
    const std::string file = Input().toStdString();
    for (auto _ : state) {
        const double seconds = TimeShell("cat '" + file + "' | cat > /dev/null");
        state.SetIterationTime(seconds);
    }
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(QFileInfo(Input()).size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PipeLineInput(benchmark::State& state)
{
    const std::string file = Input().toStdString();
    std::int64_t lines = 0;
    for (auto _ : state) {
        QzOpenPipe(1, ShortString::FromView("cat '" + file + "'"));
        ShortString line;
        do {
            QzLineInput(1, line);
            benchmark::DoNotOptimize(line.len);
            ++lines;
        } while (QzEof(1) == 0);
        QzClose(1);
    }
    state.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(QFileInfo(Input()).size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

BENCHMARK(BM_CatToDevNull)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CatThroughPipe)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PipeLineInput)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
