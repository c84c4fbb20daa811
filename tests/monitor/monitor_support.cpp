#include "monitor_support.h"

#include "app/mainloop.h"
#include "app/mainwindow.h"
#include "app/poll.h"
#include "app/state.h"
#include "monitor/fetch.h"
#include "monitor/state.h"
#include "runtime/channels.h"
#include "runtime/testing.h"
#include "runtime/windows.h"
#include "settings/settings.h"
#include "settings/state.h"

namespace {

struct Var {
    const char* name;
    std::function<std::int64_t()> get;
    std::function<void(std::int64_t)> set;
    std::int64_t start = -1; // MonitorWorld's value, -1: left as the last analysis left it
};

template <typename T> Var Flag(const char* name, T& v, std::int64_t start = 0)
{
    return {name, [&v] { return std::int64_t {v}; }, [&v](std::int64_t n) { v = static_cast<T>(n); }, start};
}

// A text reads as its length and is set to that many x's.
Var Length(const char* name, ShortString& s)
{
    return {name, [&s] { return std::int64_t {s.len}; },
        [&s](std::int64_t n) { s = SS(std::string(static_cast<std::size_t>(n), 'x')); }};
}

// Request flags and limits start as a fresh program has them; analysis results and settings are left alone (-1).
const std::vector<Var> kVars = {Flag("today", gTodayRequested), Flag("launch", gTodayLaunchPending),
    Flag("open", gTodayPipeOpen), Flag("readNow", gTodayReadNow), Flag("short", gShortLogMode),
    Flag("yesterday", gYesterdayRequested), Flag("yLaunch", gYesterdayLaunchPending), Flag("yOpen", gYesterdayPipeOpen),
    Flag("yReadNow", gYesterdayReadNow), Flag("stamp", gPipeStartTicks), Flag("todayLimit", gTodayLimitTicks, 7200),
    Flag("yesterdayLimit", gYesterdayLimitTicks, 3600), Flag("psLimit", gPsLimitTicks, 300), Flag("poll", gPollAllowed),
    Flag("panel", gOpenPanel), Flag("intro", gIntroPending), Flag("showPending", gShowReportPending),
    Flag("reset", gDailyResetDone), Flag("requested", gEmailRequested), Flag("sent", gEmailSent),
    Flag("testEmail", gTestEmailPending), Flag("recent", gRecentWording), Flag("offline", gDriveOffline),
    Flag("spotlight", gSpotlightConflict), Flag("tooMany", gTooManyNoticed), Flag("warnDay", gNoBackupWarnDay),
    Flag("error", gErrorFound, -1), Flag("success", gSuccessFound, -1), Flag("few", gTooFewLines, -1),
    Flag("notify", gEmailNotifyOn, -1), Flag("minor", gNotifyMinorErrors, -1), Flag("daily", gDailyEmail, -1),
    Length("problem", gLastProblem), Length("folder", gProblemFolder), Length("line", gLogLine),
    {"eof", [] { return std::int64_t {QzEof(1)}; }, nullptr},
    {"backupDay", nullptr,
        [](std::int64_t day) { // saved in the settings file
            gLastBackupDay = static_cast<std::int16_t>(day);
            SaveSettings();
        }},
    {"wait", nullptr, [](std::int64_t seconds) { TestClock::AdvanceUptime(static_cast<double>(seconds)); }},
    {"clock", nullptr, [](std::int64_t minutes) { // from 2026-03-10 00:00
         const std::string t = "2026-03-" + std::to_string(10 + minutes / 1440) + " "
             + std::to_string(100 + minutes % 1440 / 60).substr(1) + ":" + std::to_string(100 + minutes % 60).substr(1)
             + ":00";
         TestClock::SetLocal(t.c_str());
     }}};

void Restart()
{
    for (const Var& v : kVars)
        if (v.start >= 0)
            v.set(v.start);
}

void RunWord(const MonitorWorld& world, const std::string& w)
{
    if (w == "Tick()")
        return MainLoopTick();
    if (w == "Poll()")
        return PollTimerFired();
    if (w == "Today()")
        return static_cast<void>(FetchTodayLog());
    if (w == "Yesterday()")
        return static_cast<void>(FetchYesterdayLog());
    if (w.rfind("ran:", 0) == 0) {
        const std::string args = world.LogArguments();
        if (w == "ran:-")
            EXPECT_EQ(args, "");
        else
            EXPECT_NE(("\n" + args).find("\n" + w.substr(4) + "\n"), std::string::npos) << args;
        return;
    }
    const std::size_t eq = w.find('=');
    const bool check = w.compare(eq, 2, "==") == 0;
    const auto var = std::find_if(kVars.begin(), kVars.end(), [&](const Var& v) { return w.substr(0, eq) == v.name; });
    ASSERT_NE(var, kVars.end()) << w;
    const std::int64_t value = std::stoll(w.substr(eq + (check ? 2 : 1)));
    if (check)
        EXPECT_EQ(var->get(), value) << w;
    else
        var->set(value);
}

} // namespace

std::string LogEntry(
    const std::string& time, const std::string& message, const std::string& category, const std::string& process)
{
    return time + ".412345+0000 0x5bcd1    Default     0x2ee8a1             41211  0    " + process
        + ": (TimeMachine) [com.apple.TimeMachine:" + category + "] " + message;
}

std::string LogOutput(const std::vector<std::string>& entries)
{
    std::string out = "Filtering the log data using \"subsystem == \"com.apple.TimeMachine\"\"\n"
                      "Timestamp                       Thread     Type        Activity             PID    TTL  \n";
    for (const auto& e : entries)
        out += e + "\n";
    return out + std::string(116, '-')
        + "\nLog      - Default:          0, Info:                0, Debug:             0, Error:          0, Fault:  "
          "        0\n";
}

std::vector<std::string> Filler(int count, const std::string& time)
{
    return std::vector<std::string>(static_cast<std::size_t>(count),
        LogEntry(time, "Mountpoint '/Volumes/Backup' is still valid", "MountPointValidity"));
}

MonitorWorld::MonitorWorld()
{
    Restart();
    sandbox.Stub(
        QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'\necho '    1 ??         0:42.17 /sbin/launchd'");
    SetLogOutput("");
    // The test program has no bundle: window 1 is made in code, hidden, whatever windows an earlier test left.
    QzResetWindowState();
    gMainWindowBuilt = 0;
    ShowMainWindow(false);
    BuildReportArea();
    LoadSettings();
}

MonitorWorld::~MonitorWorld()
{
    QzClose(1);
    Restart();
}

void MonitorWorld::SetLogOutput(const std::string& output, const std::string& then) const
{
    const QString file = sandbox.Write(QStringLiteral("log-output"), output);
    sandbox.Stub(QStringLiteral("log"),
        "printf '%s\\n' \"$@\" > '" + sandbox.path().toStdString() + "/log-args'\ncat '" + file.toStdString() + "'\n"
            + then);
}

std::string MonitorWorld::LogArguments() const
{
    return ReadFile(sandbox.path() + QStringLiteral("/log-args"));
}

void MonitorWorld::Run(std::initializer_list<Step> steps) const
{
    for (const Step& step : steps) {
        SCOPED_TRACE(step.words);
        std::istringstream words(step.words);
        for (std::string w; words >> w;)
            RunWord(*this, w);
        const QString shown = ReportShown();
        const QString want = QString::fromUtf8(step.shown);
        if (want.startsWith(QLatin1Char('!')))
            EXPECT_FALSE(shown.contains(want.mid(1))) << shown.toStdString();
        else
            EXPECT_TRUE(shown.startsWith(want)) << shown.toStdString();
    }
}

QString MonitorWorld::ReportShown()
{
    QzSetCurrentWindow(1);
    return QzTextViewString(1);
}
