#include "monitor_support.h"

#include "app/mainwindow.h"
#include "app/settings.h"
#include "monitor/fetch.h"
#include "monitor/state.h"
#include "runtime/windows.h"

#include <algorithm>

namespace {

std::string Pad(std::string s, std::size_t width)
{
    s.resize(std::max(s.size(), width), ' ');
    return s;
}

} // namespace

std::string LogEntry(
    const std::string& time, const std::string& message, const std::string& category, const std::string& process)
{
    return time + ".412345+0000 " + Pad("0x5bcd1", 10) + " " + Pad("Default", 11) + " " + Pad("0x2ee8a1", 20) + " "
        + Pad("41211", 6) + " " + Pad("0", 4) + " " + process + ": (TimeMachine) [com.apple.TimeMachine:" + category
        + "] " + message;
}

std::string LogOutput(const std::vector<std::string>& entries)
{
    std::string out = "Filtering the log data using \"subsystem == \"com.apple.TimeMachine\"\"\n";
    out += "Timestamp                       Thread     Type        Activity             PID    TTL  \n";
    for (const auto& e : entries)
        out += e + "\n";
    out += std::string(116, '-') + "\n";
    out += "Log      - Default:          0, Info:                0, Debug:             0, Error:          0, Fault:  "
           "        0\n";
    return out;
}

std::vector<std::string> Filler(int count, const std::string& time)
{
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i)
        lines.push_back(LogEntry(time, "Mountpoint '/Volumes/Backup' is still valid", "MountPointValidity"));
    return lines;
}

MonitorWorld::MonitorWorld()
{
    sandbox.Stub(
        QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'\necho '    1 ??         0:42.17 /sbin/launchd'");
    SetLogOutput("");
    // The test program has no bundle: window 1 is made in code, hidden.
    ShowMainWindow(false);
    BuildReportArea();
    LoadSettings();
}

void MonitorWorld::SetLogOutput(const std::string& output) const
{
    const QString file = sandbox.Write(QStringLiteral("log-output"), output);
    sandbox.Stub(QStringLiteral("log"),
        "printf '%s\\n' \"$@\" > '" + sandbox.path().toStdString() + "/log-args'\ncat '" + file.toStdString() + "'");
}

std::string MonitorWorld::LogArguments() const
{
    return ReadFile(sandbox.path() + QStringLiteral("/log-args"));
}

void MonitorWorld::FetchToday() const
{
    FetchTodayLog();
    gTodayPipeOpen = 0;
    gTodayReadNow = 1;
    FetchTodayLog();
}

void MonitorWorld::FetchYesterday() const
{
    FetchYesterdayLog();
    gYesterdayPipeOpen = 0;
    gYesterdayReadNow = 1;
    FetchYesterdayLog();
}

std::string MonitorWorld::Report()
{
    return gReport.bytes;
}

QString MonitorWorld::ReportShown()
{
    QzSetCurrentWindow(1);
    return QzTextViewString(1);
}

QString MonitorWorld::Status()
{
    QzSetCurrentWindow(1);
    return QzTextFieldString(8);
}
