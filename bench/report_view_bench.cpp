// Putting a large report into the main window's text view: the report of a
// busy day's log runs to megabytes, and the window must take it at once.
//
//   build/bench/report_view_bench --benchmark_filter=SetText

#include "runtime/testing.h"
#include "runtime/windows.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QString>

#include <cstdlib>

namespace {

// About `bytes` of report: log-like lines ending in CR LF.
QString MakeReport(qsizetype bytes)
{
    const QString line = QStringLiteral(
        "2026-03-10 12:00:00  Backup failed with error 19: The backup disk could not be found. (Volume Backup)\r\n");
    QString report;
    report.reserve(bytes + line.size());
    while (report.size() < bytes)
        report += line;
    return report;
}

void BuildReportWindow(bool shown)
{
    QzWindowSet(shown ? 1 : -1, QStringLiteral("Quillaby"), QzParamOmitted, QzRect {0, 0, 605, 540});
    QzScrollView(2, QzParamOmitted, 0, 1, QzRect {10, 155, 585, 325});
    QzTextView(1, 2, 1, QzRect {10, 160, 570, 325});
    QzSetCurrentWindow(1);
}

// Setting the text and letting the window handle what that queued (layout,
// painting), as the next pass of the event loop would.
void SetText(benchmark::State& state, bool shown)
{
    QzResetWindowState();
    BuildReportWindow(shown);
    const QString reports[2] = {MakeReport(state.range(0)), MakeReport(state.range(0) - 200)};
    int which = 0;
    for (auto _ : state) {
        QzTextViewSetText(1, reports[which]);
        QCoreApplication::processEvents();
        which ^= 1;
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    QzResetWindowState();
}

void BM_SetTextShown(benchmark::State& state)
{
    SetText(state, true);
}

void BM_SetTextHidden(benchmark::State& state)
{
    SetText(state, false);
}

BENCHMARK(BM_SetTextShown)->Arg(5 << 20)->Arg(512 << 10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetTextHidden)->Arg(5 << 20)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
