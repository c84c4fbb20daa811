#include "monitor/fetch.h"
#include "monitor/remote.h"
#include "monitor/report.h"
#include "monitor/sessions.h"
#include "monitor/state.h"

#include "runtime/channels.h"
#include "runtime/windows.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <algorithm>
#include <cstring>

namespace {

const ShortString kProblemPrefix = "The last problem was '";
const ShortString kFailedWithError = "Backup failed with error";
// How macOS 11 and later name a failure: "Backup failed: BACKUP_FAILED_...
// (N)", "Backup failed (N: BACKUP_FAILED_...)" and "Failing backup with
// BACKUP_FAILED_... (N) because ...". A name with "_DISCONNECTED" in it
// (the network, the disk image, the destination) means the drive is gone.
const ShortString kRecentFailed = "Backup failed";
const ShortString kNoSuccessText = "No successful backups reported in the current log";
const ShortString kNoBackupForADay = "NO SUCESSFUL BACKUPS FOR MORE THAN A DAY";

// Per-analysis locals shared by the reading and the evaluation.
struct Analysis {
    bool recent = false; // gRecentWording, read once when the analysis starts
    bool snapshotSeen = false;
    std::int64_t linesRead = -1; // reads less one
    std::int16_t daySaved = 0; // the day a success line of this read saved, 0 before one did
    ShortString raw; // the line as read, when cleaning changed it
};

void EntryResets()
{
    gLastSuccessText = ShortString();
    gPollAllowed = 1;
    gProblemFolder = ShortString();
    gVolumesPos = 0;
    gSpotlightConflict = 0;
    gErrorFound = 0;
    gLastProblem = ShortString();
}

void Launch(bool shortMode)
{
    gSuccessFound = 0;
    gLastSuccessLineNo = 0;
    gLastFailureLineNo = 0;
    KillStaleLogCommand();
    QzOpenCommandPipe(1, CommandOnTheMac(TodayCommand(shortMode)));
    // The normal command is overdue the limit after its stamp (launch + 60
    // ticks); the two-hour command is read at once and gets the limit.
    QzSetPipeTimeLimit(1, TicksToMilliseconds((shortMode ? 0 : 60) + gTodayLimitTicks));
    if (!shortMode) {
        gTodayPipeOpen = 1;
        StampPipeStart();
    }
}

void DriveOfflineLine()
{
    gLastProblem = kProblemPrefix + "Time Machine Backup Offline" + "'";
    SetStatusLine(gLastProblem);
    gProblemFolder = ShortString();
    gDriveOffline = 1;
    gFailureText = "Backup Drive Offline";
    AppendReportLine(gLogLine, true);
}

void SuccessLine(Analysis& a)
{
    gLastSuccessLineNo = gLineNo;
    static const ShortString kSuccessHead = kCrLf + kCrLf + "Last Successful Backup Message:" + kCrLf;
    static const ShortString kTwoLineEnds = kCrLf + kCrLf;
    // Built in place: a log of many backups has many success lines.
    gLastSuccessText = kSuccessHead;
    QzStrAppend(QzStrAppend(gLastSuccessText, gLogLine), kTwoLineEnds);
    gSuccessFound = 1;
    AppendReportLine(gLogLine, false);
    gLastBackupDay = TodayDayOfYear();
    // Nothing else runs while the log is read, so once a success line of
    // this read has saved today, the file holds what another save would
    // write; a log of many backups would otherwise write it thousands of
    // times. A failed save is tried again on the next line.
    if (a.daySaved == gLastBackupDay)
        return;
    SaveSettings();
    a.daySaved = gSettingsSaveFailed == 0 ? gLastBackupDay : std::int16_t {0};
}

const ShortString kToVolumes = "to /Volumes/";
const ShortString kYesCopying = "YES Copying ";
const ShortString kError = "Error";
const ShortString kNullCopy = "SrcErr:YES Copying (null) to (null)";

// Cleaning: byte 128 and the double quote become apostrophes. Few lines
// hold either, so they are looked for sixteen bytes at a time first (the
// last sixteen end with the line). A line that changes is kept as read in
// `raw` first; returns whether it changed.
bool CleanLine(ShortString& line, ShortString& raw)
{
    using Bytes16 = std::uint8_t __attribute__((vector_size(16)));
    std::uint8_t* const bytes = line.bytes.data();
    const auto n = static_cast<std::size_t>(line.len);
    if (n >= sizeof(Bytes16)) {
        Bytes16 odd {};
        const auto look = [&](std::size_t at) {
            Bytes16 v;
            std::memcpy(&v, bytes + at, sizeof v);
            odd |= (v == 128) | (v == 34);
        };
        for (std::size_t i = 0; i + sizeof(Bytes16) < n; i += sizeof(Bytes16))
            look(i);
        look(n - sizeof(Bytes16));
        std::uint64_t lanes[2];
        std::memcpy(lanes, &odd, sizeof lanes);
        if ((lanes[0] | lanes[1]) == 0)
            return false;
    }
    bool changed = false;
    for (std::size_t i = 0; i < n; ++i)
        if (bytes[i] == 128 || bytes[i] == 34) {
            if (!changed)
                raw = line;
            changed = true;
            bytes[i] = 39;
        }
    return changed;
}

// Handles one line read from the command; returns false when it is ignored.
bool HandleLine(Analysis& a)
{
    const bool cleaned = CleanLine(gLogLine, a.raw);
    const LineMatches m = MatchLine(gLogLine);
    // The history's sessions, from the line as the log wrote it.
    if ((m & kSessionLines) != 0)
        NoteSessionLine(m, cleaned ? a.raw : gLogLine);
    if (Has(m, kPatLocalSnapshot))
        a.snapshotSeen = true;
    if ((m & kIgnoredToday) != 0)
        return false;
    const bool recentFailure
        = a.recent && (Has(m, kPatBackupFailedColon) || Has(m, kPatBackupFailedParen) || Has(m, kPatFailingWithName));
    const bool recentOffline = recentFailure && Has(m, kPatDisconnected);

    // Rule 1: a problem line. The report is searched (from the text just
    // added, where a NUL ends the search) only when the line holds the text.
    // A disconnection counts as a problem line, as the error 19 line of
    // older systems does through its "error".
    if (Has(m, kPatErrorUpper) || Has(m, kPatErrorLower) || recentOffline) {
        gErrorFound = 1;
        gErrorLineStart = gLineStartPos;
        AppendReportLine(gLogLine, true);
        if (Has(m, kPatToVolumes))
            if (const auto pos = QzContainerInstr(gLineStartPos, gReport, kToVolumes); pos != 0)
                gVolumesPos = pos;
        if (Has(m, kPatYesCopying))
            if (const auto pos = QzContainerInstr(gLineStartPos, gReport, kYesCopying); pos != 0) {
                gCopyingPos = pos;
                gCopyErrorPos = QzContainerInstr(gLineStartPos, gReport, kError);
            }
    }
    // Rules 2 and 3: the drive is offline.
    if (Has(m, kPatNotStarting) && !Has(m, kPatAlreadyRunning) && !Has(m, kPatTooSoon))
        DriveOfflineLine();
    if (Has(m, kPatStoppingForEject))
        DriveOfflineLine();
    // Rule 4: a backup has started ("Backing up 1 volumes to" since macOS 11).
    if (Has(m, kPatBackingUp) || (a.recent && Has(m, kPatBackingUpSpace) && Has(m, kPatVolumesTo))) {
        gLastProblem = ShortString();
        gFailureText = ShortString();
        gDriveOffline = 0;
    }
    // Rule 5: failures; 19 and 27, or a disconnection, mean the drive is missing.
    if (Has(m, kPatFailedWithError19) || Has(m, kPatFailedWithError27) || recentOffline) {
        gDriveOffline = 1;
        gFailureText = "Backup Drive Offline";
    } else if (Has(m, kPatFailedWithError) || recentFailure) {
        gFailureText = gLogLine;
        AppendReportLine(gLogLine, true);
        gErrorFound = 1;
        gBackupFailed = 1;
    }
    // Rule 6: Spotlight's importer got in the way.
    if (Has(m, kPatImporterFailed)) {
        AppendReportLine(gLogLine, true);
        gErrorFound = 1;
        gSpotlightConflict = 1;
    }
    // Rule 7: a copy of nothing to nowhere, in the text added for this line.
    if (Has(m, kPatNullCopy) && QzContainerInstr(gLineStartPos, gReport, kNullCopy) != 0) {
        gLastProblem = kProblemPrefix + kNullCopy + "'";
        SetStatusLine(gLastProblem);
        gProblemFolder = ShortString();
    }
    // Rule 8: a successful backup.
    if (Has(m, kPatCompletedSuccessfully) || Has(m, kPatCompletedBackup) || Has(m, kPatSucceeded))
        SuccessLine(a);
    // Rule 9: the order of failures and successes decides the email.
    if (Has(m, kPatFailedWithError) || recentFailure)
        gLastFailureLineNo = gLineNo;
    return true;
}

// The bytes of gReport from position `from` (1-based) for `count` bytes,
// cut at 255; only those bytes are copied, however long the report.
ShortString ReportPiece(std::int64_t from, std::int64_t count)
{
    ShortString piece;
    QzContainerToStr(QzContainerMid(gReport, from, std::min<std::int64_t>(count, ShortString::kMax)), piece, 256);
    return piece;
}

// Position of the last `byte` at or before `pos` (1-based), 0 when none.
std::int64_t LastByteAtOrBefore(std::int64_t pos, char byte)
{
    const std::string& text = gReport.bytes;
    for (std::int64_t p = std::min<std::int64_t>(pos, static_cast<std::int64_t>(text.size())); p >= 1; --p)
        if (text[static_cast<std::size_t>(p - 1)] == byte)
            return p;
    return 0;
}

ShortString SlashesToColons(ShortString path)
{
    for (int i = 1; i <= path.len; ++i)
        if (path.at(i) == '/')
            QzMidAssign(path, i, 1, ":");
    return path;
}

// The folder of the problem file: from the first "/" after the "Error:"
// that begins the problem line up to gFolderEnd.
ShortString ProblemFileFolder(std::int64_t volumesPos)
{
    if (gFolderEnd == 0)
        return {};
    const std::int64_t lineStart = LastByteAtOrBefore(volumesPos, '\n') + 1;
    const std::int64_t error = QzContainerInstr(lineStart, gReport, "Error:");
    if (error == 0 || error >= gFolderEnd)
        return {};
    const std::int64_t slash = QzContainerInstr(error, gReport, "/");
    if (slash == 0 || slash >= gFolderEnd)
        return {};
    return SlashesToColons(ReportPiece(slash + 1, gFolderEnd - slash - 1));
}

void Evaluate(const Analysis& a)
{
    // 1. The last "Error" of the report names the problem.
    if (gVolumesPos == 0) {
        std::int64_t last = 0;
        for (std::int64_t q = QzContainerInstr(gErrorScanPos, gReport, "Error"); q != 0;
             q = QzContainerInstr(q + 1, gReport, "Error"))
            last = q;
        if (last != 0) {
            gLastProblem = ReportPiece(last, QzContainerLen(gReport) - last + 1);
            SetStatusLine(gLastProblem);
            gProblemFolder = ShortString();
            gErrorFound = 1;
        }
    }
    // 2. Too many problems to list.
    if (QzContainerLen(gReport) >= 25001) {
        gVolumesPos = 0;
        gErrorFound = 1;
        gTooManyNoticed = 1;
        gLastProblem = "Too Many problems to list all of them";
        SetStatusLine(gLastProblem);
    }
    // 3. Email by the order of the last failure and the last success.
    const auto failure = gLastFailureLineNo;
    const auto success = gLastSuccessLineNo;
    if (failure > success) {
        if (gEmailNotifyOn == 1)
            gEmailRequested = 1;
    } else if (gErrorFound == 1 && gNotifyMinorErrors == 1 && gEmailNotifyOn == 1) {
        gEmailRequested = 1;
    } else {
        gEmailRequested = 0;
        if (gDriveOffline == 0)
            gEmailSent = 0;
    }
    if (0 < failure && failure < success)
        SetStatusLine("");
    // A Mac watched over ssh whose log did not come (unreachable, a key
    // refused) says nothing of its backups: it stays "Unable to get today's
    // error log", and no verdict on its backups is drawn.
    const bool logNotHad = !gRemoteHost.empty() && a.linesRead < 49;
    // 4. No success in the log.
    if (gSuccessFound == 0) {
        gLastSuccessText = logNotHad ? ShortString() : kCrLf + kCrLf + kNoSuccessText + kCrLf;
        if (gBackupFailed == 1) {
            gErrorFound = 1;
            int at = QzInstr(1, gFailureText, kFailedWithError);
            if (at == 0 && a.recent)
                at = QzInstr(1, gFailureText, kRecentFailed);
            gLastProblem = at != 0 ? QzMid(gFailureText, at, ShortString::kMax) : gFailureText;
            SetStatusLine(gLastProblem);
            gProblemFolder = ShortString();
            gVolumesPos = 0;
        }
    }
    // 5.
    if (gErrorFound == 0)
        gDriveOffline = 0;
    // 6. The outcome.
    gTooFewLines = a.linesRead < 49 ? 1 : 0;
    if (a.linesRead < 49) {
        gLastProblem = " Unable to get today's error log.";
        SetStatusLine("Unable to get today's error log");
    } else if (gDriveOffline == 1 && gSpotlightConflict == 1) {
        gLastProblem = "Too Many errors to list all of them. Spotlight indexing conflict";
        if (gEmailNotifyOn == 1) {
            if (gTooManyNoticed == 0)
                gEmailRequested = 1;
            gTooManyNoticed = 1;
            SetStatusLine("");
        }
    } else if (gDriveOffline == 1) {
        // Step 7 reports it.
    } else if (gErrorFound == 0) {
        AppendReport({kCrLf, "No Time Machine Errors to report in the current log."});
    }
    // 7. The drive is offline: the report says only that.
    if (gDriveOffline == 1) {
        QzContainerSetStr(gReport, "Backup drive offline");
        // Positions found in the replaced report point nowhere now.
        gCopyingPos = 0;
        gVolumesPos = 0;
        gTooManyNoticed = 0;
        if (gEmailNotifyOn == 1 && gEmailSent == 0)
            gEmailRequested = 1;
        gLastProblem = "Backup drive offline";
        SetStatusLine(gLastProblem);
    }
    // 8, 9.
    if (gSpotlightConflict == 1)
        AppendSpotlightNote();
    AppendReport({gLastSuccessText, kCrLf});
    // 10. A copy error: its text and the folder of the file being copied.
    if (gCopyingPos != 0) {
        const std::int64_t end = QzContainerInstr(gCopyingPos, gReport, "\r");
        const std::int64_t from = gCopyErrorPos != 0 ? gCopyErrorPos : LastByteAtOrBefore(gCopyingPos, '\n') + 1;
        gLastProblem = ReportPiece(from, end - from);
        SetStatusLine(gLastProblem);
        const std::int64_t pathStart = gCopyingPos + 13;
        const std::int64_t lastSlash = LastByteAtOrBefore(end - 1, '/');
        gProblemFolder
            = lastSlash > pathStart ? SlashesToColons(ReportPiece(pathStart, lastSlash - pathStart)) : ShortString();
        gCopyingPos = 0;
    }
    // 11. A problem file: the name before "to /Volumes/" and its folder.
    if (gVolumesPos != 0) {
        const std::int64_t v = gVolumesPos;
        const std::int64_t slash = LastByteAtOrBefore(v - 1, '/');
        const ShortString name = slash != 0 && slash < v - 2 ? ReportPiece(slash + 1, v - 2 - slash) : ShortString();
        gLastProblem = name;
        gInvisibleSuffix = QzInstr(1, name, ".") == 1 ? ShortString(" (Invisible)") : ShortString();
        SetStatusLine(kProblemPrefix + name + "'" + gInvisibleSuffix);
        gFolderEnd = LastByteAtOrBefore(v - 3, '/');
        gProblemFolder = ShortString();
        gProblemFolder = ProblemFileFolder(v);
    }
    // 12, 13.
    if (gLastProblem.empty())
        SetStatusLine("");
    if (gErrorFound == 0 && gSuccessFound == 0 && !logNotHad) {
        gLastProblem = kNoSuccessText;
        SetStatusLine(gLastProblem);
        gProblemFolder = "No successful backups reported in the current log and no problems reported.";
    }
    // 14. No successful backup for more than a day.
    const std::int16_t today = TodayDayOfYear();
    const int days = today - ReadLastBackupDay();
    if (days <= 363 && !logNotHad) {
        if (days >= 2)
            gEmailSent = 0;
        if (gSuccessFound == 0 && days >= 2) {
            AppendReport({kNoBackupForADay, kCrLf});
            gLastProblem = kNoBackupForADay;
            SetStatusLine(gLastProblem);
            if (gNoBackupWarnDay != today) {
                if (gEmailNotifyOn == 1 && gDailyEmail == 1) {
                    gEmailRequested = 1;
                    gEmailSent = 0;
                }
                gNoBackupWarnDay = today;
            }
        }
    }
    // 15.
    AppendReport({kCrLf});
    ShowReport();
    // 16. Snapshots were taken, but nothing reached a backup drive.
    if (gSuccessFound == 0 && a.snapshotSeen && !logNotHad) {
        gLastProblem = "Local snapshots were created.";
        SetStatusLine("No backup drive available. " + gLastProblem);
    }
    // 17. A success after the last failure needs no email unless minor
    // errors are wanted.
    if (gLastSuccessLineNo > gLastFailureLineNo && gNotifyMinorErrors == 0)
        gEmailRequested = 0;
    gTodayChecked = 1;
}

void Analyse(bool shortMode)
{
    QzSetCurrentWindow(1);
    EntryResets();
    StartReport("Current Time Machine Log for last 4 hours:" + kCrLf + kCrLf);
    if (shortMode) {
        AppendReport({"-- LOG IS TOO LARGE TO SHOW THE WHOLE DAY --", kCrLf});
        AppendReport({"             This report is for the last two hours         ", kCrLf, kCrLf});
    }
    gShortLogMode = 0;
    gErrorFound = 0;
    gErrorScanPos = 1;
    gBackupFailed = 0;
    gFailureText = ShortString();
    gLineNo = 0;
    gCopyingPos = 0;
    Analysis a;
    a.recent = gRecentWording == 1;
    StartSessions();
    do {
        ++gLineNo;
        gLineStartPos = QzContainerLen(gReport);
        QzLineInput(1, gLogLine);
        ++a.linesRead;
        if (!HandleLine(a))
            --gLineNo;
    } while (QzEof(1) == 0);
    const bool overdue = QzPipeTimedOut(1);
    QzClose(1);
    if (overdue && !shortMode) {
        // The four-hour command stalled past its limit and was killed: as
        // for any overdue command, the last two hours are fetched at once.
        // Their read has a limit of its own, after which the analysis ends
        // with what it has.
        gTodayRequested = 0;
        gTodayLaunchPending = 0;
        gShortLogMode = 1;
        EntryResets();
        Launch(true);
        Analyse(true);
        return;
    }
    Evaluate(a);
    gLastAnalysisToday = 1;
    ++gAnalysesDone;
}

} // namespace

ShortString TodayCommand(bool shortMode)
{
    // Two blanks before grep's pattern in the four-hour command, one in the
    // two-hour command, as the program has always run them.
    return shortMode ? LogShowCommand(
               "log show --last 2h --predicate 'subsystem == ", " --info | grep 'upd: (' | cut -c 1-19,140-999")
                     : LogShowCommand("log show --last 4h --predicate 'subsystem == ",
                         " --info | grep  'upd: (' | cut -c 1-19,140-999");
}

ShortString FetchTodayLog()
{
    if (gOpenPanel != 0)
        return {};
    EntryResets();
    if (gShortLogMode == 1) {
        Launch(true);
        Analyse(true);
        return {};
    }
    if (QzEof(1) == 0 && gTodayReadNow == 0)
        return {};
    if (gTodayReadNow == 1) {
        gTodayReadNow = 0;
        Analyse(false);
        return {};
    }
    Launch(false);
    return {};
}
