#include "monitor/fetch.h"
#include "monitor/report.h"
#include "monitor/state.h"

#include "runtime/channels.h"
#include "runtime/windows.h"

namespace {

const ShortString kStatisticsLine = "Log      - Default:";
const ShortString kYesterdayProblemPrefix = "The last problem yesterday was '";

void Launch()
{
    gErrorFound = 0;
    gLastSuccessText = ShortString();
    gVolumesPos = 0;
    SetStatusLine("");
    gPollAllowed = 0;
    gLastProblem = ShortString();
    KillStaleLogCommand();
    QzOpenPipe(1, YesterdayCommand());
    QzSetPipeTimeLimit(1, TicksToMilliseconds(60 + gYesterdayLimitTicks));
    gYesterdayPipeOpen = 1;
    StampPipeStart();
}

void Analyse()
{
    gYesterdayReadNow = 0;
    gProblemFolder = ShortString();
    StartReport("Yesterday's Time Machine Log:" + kCrLf + kCrLf);
    gDriveOffline = 0;
    gSpotlightConflict = 0;
    bool backupSeen = false;
    gVolumesPos = 0;
    gErrorScanPos = 1;
    std::int64_t linesRead = -1;
    // The status line names each problem line in turn; nothing can repaint
    // while the output is read, so only the last text is handed to the view.
    bool statusChanged = false;
    // Failures in the wording of macOS 11 and later hold no "error".
    const LineMatches problems = Bit(kPatErrorLower) | Bit(kPatErrorUpper)
        | (gRecentWording == 1 ? Bit(kPatBackupFailed) | Bit(kPatFailingBackupWith) : 0);
    do {
        QzLineInput(1, gLogLine);
        // The statistics line that closes the output of `log show` counts
        // "Error:" entries; it is not a log entry and never a problem.
        const bool statistics = gLogLine.view().substr(0, kStatisticsLine.len) == kStatisticsLine.view();
        const LineMatches m = MatchLine(gLogLine);
        if (!statistics && (m & kIgnoredBothDays) == 0) {
            if ((m & problems) != 0) {
                AppendReportLine(gLogLine, false);
                gErrorFound = 1;
                gLastProblem = gLogLine;
                statusChanged = true;
            }
            if (Has(m, kPatCompletedBackup) || Has(m, kPatCompletedSuccessfully) || Has(m, kPatSucceeded)) {
                AppendReportLine(gLogLine, false);
                backupSeen = true;
            }
        }
        ++linesRead;
    } while (QzEof(1) == 0);
    if (QzPipeTimedOut(1)) {
        // The command stalled past its limit and was killed: it is
        // reported as any overdue command of yesterday's is.
        gYesterdayRequested = 0;
        gYesterdayLaunchPending = 0;
        gErrorFound = 0;
        gLastProblem = ShortString();
        QzClose(1);
        QzContainerSetStr(gReport, kCrLf + "Yesterday's log is not available" + kCrLf);
        ShowReport();
        ResetFetchState();
        return;
    }
    if (statusChanged)
        SetStatusLine(kYesterdayProblemPrefix + gLastProblem);
    QzClose(1);

    gTooFewLines = linesRead < 49 ? 1 : 0;
    if (linesRead < 49) {
        gLastProblem = " Unable to get yesterday's error log.";
        SetStatusLine("Unable to get yesterday's error log");
    } else {
        if (gErrorFound == 0)
            AppendReport({kCrLf, "No Time Machine errors to report in yesterday's log.", kCrLf});
        if (QzContainerLen(gReport) >= 25001) {
            gLastProblem = "Too Many problems to list all of them";
            SetStatusLine(kYesterdayProblemPrefix + gLastProblem);
        }
        if (!backupSeen) {
            gLastProblem = "Local snapshots were created.";
            SetStatusLine("No backup drive available. " + gLastProblem);
        }
    }
    AppendReport({kCrLf});
    gPollAllowed = 1;
    ShowReport();
}

} // namespace

ShortString YesterdayCommand()
{
    return LogShowCommand("log show --predicate 'subsystem == ", " --info --yesterday");
}

ShortString FetchYesterdayLog()
{
    QzSetCurrentWindow(1);
    if (gTodayPipeOpen == 1)
        return {};
    if (gYesterdayReadNow != 1)
        Launch();
    else
        Analyse();
    return {};
}
