// quillaby-report: today's or yesterday's Time Machine report for scripts
// and monitoring systems. It runs what the Current Log and Previous Log
// buttons start, through the same main-loop passes, with the main window
// built but not shown, and prints the report and the status line, or the
// same findings as JSON, Prometheus text or a monitoring-plugins line.
//
// Exit status: 0 nothing to report, 1 a problem, 2 the log could not be
// had (with --format nagios the plugin codes 0 to 3 instead), 64 a bad
// command line, 74 the output could not be written.

#include "app/environment.h"
#include "app/mainloop.h"
#include "app/mainwindow.h"
#include "app/report_history.h"
#include "app/report_output.h"
#include "app/report_state.h"
#include "monitor/fetch.h"
#include "monitor/report.h"
#include "monitor/state.h"
#include "notify/runner.h"
#include "notify/state.h"
#include "platform/services.h"
#include "runtime/application.h"
#include "runtime/channels.h"
#include "runtime/events.h"
#include "runtime/hooks.h"
#include "runtime/windows.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <QCoreApplication>
#include <QLibraryInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace {

// Nobody can answer an alert here: its texts go to standard error and the
// first button is taken.
int AlertToStandardError(const QzAlertRequest& request)
{
    std::fprintf(stderr, "quillaby-report: %s\n", request.message.toUtf8().constData());
    if (!request.informative.isEmpty())
        std::fprintf(stderr, "quillaby-report: %s\n", request.informative.toUtf8().constData());
    return 0;
}

bool FetchUnderWay()
{
    return gTodayRequested || gTodayLaunchPending || gTodayPipeOpen || gTodayReadNow || gShortLogMode
        || gYesterdayRequested || gYesterdayLaunchPending || gYesterdayPipeOpen || gYesterdayReadNow;
}

int Usage()
{
    std::fprintf(stderr,
        "usage: quillaby-report today|yesterday [--json | --format text|json|prometheus|nagios] [--output PATH] "
        "[--notify]\n");
    return kReportUsageError;
}

// A standard descriptor that came closed is held by /dev/null, so that no
// file or pipe opened later takes its number and receives the report.
// Returns whether standard output came closed.
bool ReserveStandardDescriptors()
{
    bool stdoutClosed = false;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            stdoutClosed = stdoutClosed || fd == 1;
            const int held = open("/dev/null", O_RDWR);
            if (held != fd && held >= 0)
                close(held);
        }
    }
    return stdoutClosed;
}

// Like the standard tools, a report that could not be written all the way
// is an error with a message, not a success.
int WriteStandardOutput(const ReportWriter& produce, bool stdoutClosed)
{
    int error = EBADF;
    if (!stdoutClosed) {
        errno = 0;
        const ReportSink sink
            = [](std::string_view bytes) { return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size(); };
        if (produce(sink) && std::fflush(stdout) == 0)
            return 0;
        error = errno != 0 ? errno : EIO;
    }
    std::fprintf(stderr, "quillaby-report: write error: %s\n", std::strerror(error));
    return kReportOutputError;
}

} // namespace

int main(int argc, char** argv)
{
    const bool stdoutClosed = ReserveStandardDescriptors();
    if (IsHistoryCommand(argc, argv))
        return RunHistoryCommand(argc, argv);
    std::string_view which;
    std::string_view format;
    std::string_view output;
    bool notify = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view* option = nullptr;
        std::string_view value;
        if (arg == "--notify" && !notify) {
            notify = true;
            continue;
        } else if (arg == "--json") {
            option = &format;
            value = "json";
        } else if (arg == "--format" || arg == "--output") {
            if (i + 1 == argc)
                return Usage();
            option = arg == "--format" ? &format : &output;
            value = argv[++i];
        } else if (arg.starts_with("--format=") || arg.starts_with("--output=")) {
            option = arg.starts_with("--format=") ? &format : &output;
            value = arg.substr(9);
        } else if (which.empty() && (arg == "today" || arg == "yesterday")) {
            which = arg;
            continue;
        } else {
            return Usage();
        }
        // An option given twice is as much a mistake as one without a value.
        if (value.empty() || !option->empty())
            return Usage();
        *option = value;
    }
    if (format.empty())
        format = "text";
    if (which.empty() || (format != "text" && format != "json" && format != "prometheus" && format != "nagios"))
        return Usage();
    const bool today = which == "today";

    // Nothing is drawn: the minimal platform needs no display and, unlike
    // the offscreen one, loads no fonts, which would take longer than a
    // small day's analysis.
    setenv("QT_QPA_PLATFORM", "minimal", 1);
    // Nor does it need Qt's image, icon or style plugins, which the menu
    // bar's style icons would load (every image format plugin, to tell
    // their PNG's format): only the platform plugin is looked for, in its
    // own folder.
    setenv("QT_QPA_PLATFORM_PLUGIN_PATH",
        (QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms")).toLocal8Bit().constData(), 1);
    QCoreApplication::setLibraryPaths({});
    QzEnsureRuntimeFolder();
    AddStandInsToPath();
    // The log is asked for before the rest starts up: the command (the
    // longer part of a report) runs meanwhile, and the fetch below takes
    // it over.
    QzPrestartPipe(today ? TodayCommand(false) : YesterdayCommand());
    static int qtArgc = 1;
    QzApplicationInit(qtArgc, argv);
    gQzAlertHook = AlertToStandardError;
    InstallPlatformServices();
    UseSimulatedMacVersion();
    ChooseLogWording();
    QzInstallAppDelegate();
    ShowMainWindow(false);
    BuildReportArea();
    LoadSettings();
    // The values the window carries from one analysis to the next come from
    // the last run that could send mail.
    LoadReportState(notify);
    // Mail goes out only when asked for, as the window's email step would
    // send it, with the computer's name read as start-up reads it.
    gEmailStepHeld = notify ? 0 : 1;
    if (notify) {
        RunAppleScript("do shell script \"scutil --get ComputerName\"");
        gComputerName = gScriptResult;
    }
    // The report is taken from the analysis's bytes once at the end: the
    // hidden view would hold a flood of lines several times over.
    gReportViewOff = 1;

    gPollAllowed = 1;
    if (today) {
        gPipeStartTicks = TicksNow() + 60;
        gTodayRequested = 1;
    } else {
        gYesterdayRequested = 1;
    }
    for (int pass = 0; pass < 100 && FetchUnderWay(); ++pass)
        MainLoopTick();
    if (notify)
        SaveReportState();

    QzSetCurrentWindow(1);
    // The report is written from the analysis's bytes, a piece at a time.
    const std::string_view report = gReport.bytes;
    const QString statusLine = QzTextFieldString(8);
    const QString status = ReportFinalStatus(statusLine, report);
    int code = ReportCode(status);
    if (format == "nagios")
        code = NagiosState(report, status);
    const auto produce = [&](const ReportSink& sink) {
        if (format == "json")
            return WriteReportJson(report, statusLine, sink);
        if (format == "text")
            return WriteReportPlainText(report, statusLine, sink);
        const QByteArray out = format == "nagios"
            ? ReportNagios(report, status)
            : ReportPrometheus(QString::fromLatin1(which.data(), static_cast<qsizetype>(which.size())), report, status);
        return sink(std::string_view(out.constData(), static_cast<std::size_t>(out.size())));
    };

    if (!output.empty()) {
        // output came from argv whole, so it ends with a NUL.
        QString error;
        if (!WriteOutputFile(QString::fromLocal8Bit(output.data()), produce, &error)) {
            std::fprintf(
                stderr, "quillaby-report: cannot write %s: %s\n", output.data(), error.toLocal8Bit().constData());
            return kReportOutputError;
        }
        return code;
    }
    const int written = WriteStandardOutput(produce, stdoutClosed);
    return written != 0 ? written : code;
}
