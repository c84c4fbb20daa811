// quillaby-report: today's or yesterday's Time Machine report for scripts
// and monitoring systems. It runs what the Current Log and Previous Log
// buttons start, through the same main-loop passes, with the main window
// built but not shown, and prints the report and the status line, or the
// same findings as JSON, Prometheus text or a monitoring-plugins line.
// With --host DEST, once or more, it watches Macs over ssh instead
// (app/report_hosts.h).
//
// Exit status: 0 nothing to report, 1 a problem, 2 the log could not be
// had (with --format nagios the plugin codes 0 to 3 instead), 64 a bad
// command line, 74 the output could not be written. --help prints the whole
// usage (kUsage), which the manual page quillaby-report(1) follows.

#include "app/environment.h"
#include "app/mainloop.h"
#include "app/mainwindow.h"
#include "app/report_history.h"
#include "app/report_hosts.h"
#include "app/report_output.h"
#include "app/report_state.h"
#include "app/version.h"
#include "monitor/fetch.h"
#include "monitor/remote.h"
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
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

bool FetchUnderWay()
{
    return gTodayRequested || gTodayLaunchPending || gTodayPipeOpen || gTodayReadNow || gShortLogMode
        || gYesterdayRequested || gYesterdayLaunchPending || gYesterdayPipeOpen || gYesterdayReadNow;
}

// The whole usage, printed by --help: one line a command, option, format,
// exit status or variable, so that more are added a line at a time.
constexpr char kUsage[] = R"(usage: quillaby-report COMMAND [OPTION]...
       quillaby-report --help | --version

Reads the Time Machine log and prints its report and status line, as the
window's Current Log and Previous Log buttons show them, for scripts and
monitoring systems.

Commands:
  today                  the last four hours of today's log (two when it is overdue)
  yesterday              the whole of yesterday's log

Options:
  --format FORMAT        text (the default), json, prometheus or nagios
  --json                 the same as --format json
  --output PATH          write to PATH instead of standard output; a regular file
                         is replaced whole, a FIFO or device is written into
  --notify               send the notification email as the window would, and keep
                         the state file (Quillaby/State) for the next run
  --host DEST            check the Mac DEST over ssh instead of this one (again for
                         several Macs: one result each, the worst exit status)
  --help                 print this help and exit
  --version              print the version and exit

Formats:
  text                   the report, then the status line
  json                   one object: report, status, lastProblem, problemFolder,
                         lastSuccessText, lastSuccessBlock, emailRequested,
                         emailSent, emailError, errorFound, driveOffline,
                         spotlightConflict, successFound, settingsUnreadable,
                         settingsSaveFailed
  prometheus             the Prometheus text format, labelled log="today" or "yesterday"
  nagios                 one monitoring-plugins line, with the plugin exit codes:
                         0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN

Exit status:
  0                      nothing to report
  1                      a problem, or the settings file could not be saved
  2                      the log gave nothing to go on, or the settings file could not be read
  64                     a bad command line
  74                     the output could not be written

Environment:
  HOME, XDG_DATA_HOME    the settings and state files are Quillaby/Settings and
                         Quillaby/State in the data folder (~/.local/share on Linux,
                         ~/Library/Application Support on a Mac)
  PATH                   where sendmail (Linux) and the log commands are found
  QUILLABY_SIMULATED_MACOS  the simulated Mac's version (Linux), e.g. 26.1
  QUILLABY_LOG_REPLAY    a recorded log show output for the simulated Mac to replay
  QUILLABY_LOG_NOW       the simulated Mac's now, YYYY-MM-DD HH:MM:SS
  QUILLABY_STARTUP_DISK  the simulated Mac's startup disk name (Macintosh HD)
  QUILLABY_SSH           the ssh command for --host, split as a command line (ssh)
  QUILLABY_FETCH_LIMIT   seconds a log command may take, 1 to 3600 (120 today, 60 yesterday)

See quillaby-report(1).
)";

// A bad command line: what was wrong, and where to read more.
int BadCommandLine(const std::string& what)
{
    std::fprintf(stderr, "quillaby-report: %s\nTry 'quillaby-report --help' for more information.\n", what.c_str());
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
    std::vector<std::string_view> hosts;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const std::string quoted = "'" + std::string(arg) + "'";
        std::string_view* option = nullptr;
        std::string_view value;
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : kReportOutputError;
        } else if (arg == "--version") {
            std::printf("quillaby-report %s\n", kQuillabyVersion);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : kReportOutputError;
        } else if (arg == "--notify") {
            if (notify)
                return BadCommandLine("option '--notify' given twice");
            notify = true;
            continue;
        } else if (arg == "--host" || arg.starts_with("--host=")) {
            if (arg == "--host" && i + 1 == argc)
                return BadCommandLine("option '--host' needs a value");
            hosts.push_back(arg == "--host" ? std::string_view(argv[++i]) : arg.substr(7));
            continue;
        } else if (arg == "--json") {
            option = &format;
            value = "json";
        } else if (arg == "--format" || arg == "--output") {
            if (i + 1 == argc)
                return BadCommandLine("option " + quoted + " needs a value");
            option = arg == "--format" ? &format : &output;
            value = argv[++i];
        } else if (arg.starts_with("--format=") || arg.starts_with("--output=")) {
            option = arg.starts_with("--format=") ? &format : &output;
            value = arg.substr(9);
        } else if (arg.starts_with("-")) {
            return BadCommandLine("unknown option " + quoted);
        } else if (arg != "today" && arg != "yesterday") {
            return BadCommandLine("unknown command " + quoted);
        } else if (!which.empty()) {
            return BadCommandLine("one command only: " + std::string(which) + " or " + std::string(arg));
        } else {
            which = arg;
            continue;
        }
        const std::string name = option == &format ? "--format" : "--output";
        if (value.empty())
            return BadCommandLine("option '" + name + "' needs a value");
        // An option given twice is as much a mistake as one without a value.
        if (!option->empty())
            return BadCommandLine("option '" + name + "' given twice");
        *option = value;
    }
    if (format.empty())
        format = "text";
    if (format != "text" && format != "json" && format != "prometheus" && format != "nagios")
        return BadCommandLine("unknown format '" + std::string(format) + "' (text, json, prometheus or nagios)");
    if (which.empty())
        return BadCommandLine("no command: today or yesterday");
    const bool today = which == "today";
    // Writes an output where the command line says; the exit status.
    const ReportDelivery deliver = [&](const ReportWriter& produce, int code) {
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
    };
    // Macs watched over ssh: one is this run's, several get a run each.
    if (const std::optional<int> done = ReportOnHosts(argv[0], which, format, notify, hosts, deliver))
        return *done;

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
    QzPrestartCommandPipe(CommandOnTheMac(today ? TodayCommand(false) : YesterdayCommand()));
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
    return deliver(produce, code);
}
