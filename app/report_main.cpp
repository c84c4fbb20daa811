// quillaby-report: today's or yesterday's Time Machine report for scripts
// and monitoring systems. It runs what the Current Log and Previous Log
// buttons start, through the same main-loop passes, with the main window
// built but not shown, and prints the report and the status line.
//
// Exit status: 0 nothing to report, 1 a problem, 2 the log could not be
// had, 64 a bad command line.

#include "app/environment.h"
#include "app/mainwindow.h"
#include "app/settings.h"
#include "monitor/fetch.h"
#include "monitor/mainloop.h"
#include "monitor/state.h"
#include "notify/runner.h"
#include "notify/state.h"
#include "platform/services.h"
#include "runtime/application.h"
#include "runtime/events.h"
#include "runtime/hooks.h"
#include "runtime/windows.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    std::fprintf(stderr, "usage: quillaby-report today|yesterday [--json] [--notify]\n");
    return 64;
}

} // namespace

int main(int argc, char** argv)
{
    bool json = false;
    bool notify = false;
    const char* which = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (std::strcmp(argv[i], "--notify") == 0)
            notify = true;
        else if (!which && (std::strcmp(argv[i], "today") == 0 || std::strcmp(argv[i], "yesterday") == 0))
            which = argv[i];
        else
            return Usage();
    }
    if (!which)
        return Usage();
    const bool today = std::strcmp(which, "today") == 0;

    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int qtArgc = 1;
    QzApplicationInit(qtArgc, argv);
    gQzAlertHook = AlertToStandardError;
    AddStandInsToPath();
    InstallPlatformServices();
    QzInstallAppDelegate();
    ShowMainWindow(false);
    BuildReportArea();
    LoadSettings();
    // Mail goes out only when asked for, as the window's email step would
    // send it, with the computer's name read as start-up reads it.
    gEmailStepHeld = notify ? 0 : 1;
    if (notify) {
        RunAppleScript("do shell script \"scutil --get ComputerName\"");
        gComputerName = gScriptResult;
    }

    gPollAllowed = 1;
    if (today) {
        gPipeStartTicks = TicksNow() + 60;
        gTodayRequested = 1;
    } else {
        gYesterdayRequested = 1;
    }
    for (int pass = 0; pass < 100 && FetchUnderWay(); ++pass)
        MainLoopTick();

    QzSetCurrentWindow(1);
    const QString report = QzTextViewString(1);
    const QString status = QzTextFieldString(8);
    int code = status.isEmpty() ? 0 : 1;
    // Too little output means the log could not be had, even when a later
    // step of the evaluation put another text into the status line.
    if (gTooFewLines != 0 || status.startsWith(QStringLiteral("Unable to get"))
        || report == QStringLiteral("\r\nYesterday's log is not available\r\n"))
        code = 2;

    if (json) {
        QJsonObject o;
        o.insert(QStringLiteral("report"), report);
        o.insert(QStringLiteral("status"), status);
        o.insert(QStringLiteral("lastProblem"), QzStrToCF(gLastProblem));
        o.insert(QStringLiteral("problemFolder"), QzStrToCF(gProblemFolder));
        o.insert(QStringLiteral("lastSuccessText"), QzStrToCF(gLastSuccessText));
        o.insert(QStringLiteral("emailRequested"), gEmailRequested != 0);
        o.insert(QStringLiteral("emailSent"), gEmailSent != 0);
        o.insert(QStringLiteral("errorFound"), gErrorFound != 0);
        o.insert(QStringLiteral("driveOffline"), gDriveOffline != 0);
        o.insert(QStringLiteral("spotlightConflict"), gSpotlightConflict != 0);
        o.insert(QStringLiteral("successFound"), gSuccessFound != 0);
        const QByteArray out = QJsonDocument(o).toJson(QJsonDocument::Indented);
        std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
    } else {
        QString text = report;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (!text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        text += status + QLatin1Char('\n');
        const QByteArray out = text.toUtf8();
        std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
    }
    std::fflush(stdout);
    return code;
}
