#include "monitor/fetch.h"
#include "monitor/remote.h"
#include "monitor/report.h"
#include "monitor/sessions.h"
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
    QzOpenCommandPipe(1, CommandOnTheMac(YesterdayCommand()));
    QzSetPipeTimeLimit(1, TicksToMilliseconds(60 + gYesterdayLimitTicks));
    gYesterdayPipeOpen = 1;
    StampPipeStart();
}

// What yesterday's analysis looks for: problems, in either wording, and
// successes. A line that holds none of them only counts; the ignore list
// and the statistics line matter only to a line that holds one.
constexpr LineMatches kYesterdayProblems
    = Bit(kPatErrorLower) | Bit(kPatErrorUpper) | Bit(kPatBackupFailed) | Bit(kPatFailingBackupWith);
constexpr LineMatches kYesterdaySuccesses
    = Bit(kPatCompletedBackup) | Bit(kPatCompletedSuccessfully) | Bit(kPatSucceeded);
// "tart" and "g up" are for the history's sessions: their starts and the
// scheduled backups not started ("Starting automatic backup", "Not
// starting scheduled ..."), and their destinations ("Backing up to").
constexpr std::string_view kYesterdayKeys[] = {"rror", "kup ", "plet", "tart", "g up"};
static_assert(KeysCover(kYesterdayProblems | kYesterdaySuccesses | kSessionLines, kYesterdayKeys),
    "every text yesterday's analysis looks for holds one of its keys");

std::size_t FirstOfInterest(const std::uint8_t* bytes, std::size_t n)
{
    static const KeyWords keys = PrepareKeys(kYesterdayKeys);
    return FindFirstKey(bytes, n, keys);
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
    StartSessions();
    // The status line names each problem line in turn; nothing can repaint
    // while the output is read, so only the last text is handed to the view.
    bool statusChanged = false;
    // Failures in the wording of macOS 11 and later hold no "error".
    const LineMatches problems
        = gRecentWording == 1 ? kYesterdayProblems : kYesterdayProblems & (Bit(kPatErrorLower) | Bit(kPatErrorUpper));
    do {
        // Most lines hold nothing the analysis looks for: they are only
        // counted, without being copied or matched.
        linesRead += QzSkipPipeLines(1, FirstOfInterest);
        QzLineInput(1, gLogLine);
        // The statistics line that closes the output of `log show` counts
        // "Error:" entries; it is not a log entry and never a problem.
        const bool statistics = gLogLine.view().substr(0, kStatisticsLine.len) == kStatisticsLine.view();
        const LineMatches m = MatchLine(gLogLine);
        if ((m & kSessionLines) != 0)
            NoteSessionLine(m, gLogLine);
        if (!statistics && (m & kIgnoredBothDays) == 0) {
            if ((m & problems) != 0) {
                AppendReportLine(gLogLine, false);
                gErrorFound = 1;
                gLastProblem = gLogLine;
                statusChanged = true;
            }
            if ((m & kYesterdaySuccesses) != 0) {
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
    gLastAnalysisToday = 0;
    ++gAnalysesDone;
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
