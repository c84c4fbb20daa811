#pragma once

// Module-level state of the log monitor, and the request flags that the
// main-loop pass shares with app/ and notify/. Main thread only. Flags are
// single bytes holding 0 or 1; report positions are 1-based byte positions
// in gReport, 0 meaning none.

#include "monitor/backup_session.h"
#include "runtime/shortstring.h"
#include "runtime/textcontainer.h"

#include <cstdint>
#include <string>
#include <vector>

// --- Request flags of the main-loop pass -----------------------------------
inline std::uint8_t gTodayRequested = 0; // poll timer, Current Log button: fetch today's log
inline std::uint8_t gTodayLaunchPending = 0; // pass step 9: wait text shown, launch next pass
inline std::uint8_t gTodayPipeOpen = 0; // FetchTodayLog: today's command runs, output unread
inline std::uint8_t gTodayReadNow = 0; // pass step 4: FetchTodayLog reads instead of launching
inline std::uint8_t gShortLogMode = 0; // pass step 4 (overdue): two-hour command, read at once
inline std::uint8_t gYesterdayRequested = 0; // Previous Log button: fetch yesterday's log
inline std::uint8_t gYesterdayLaunchPending = 0; // pass step 11: launch yesterday's command next pass
inline std::uint8_t gYesterdayPipeOpen = 0; // FetchYesterdayLog: its command runs, output unread
inline std::uint8_t gYesterdayReadNow = 0; // pass step 5: FetchYesterdayLog reads and analyses
inline std::int64_t gPipeStartTicks = 0; // TicksNow + 60 at the last launch; 0 = never stamped
inline std::int64_t gTodayLimitTicks = 7200; // today's command is overdue this long after the stamp (2 min)
inline std::int64_t gYesterdayLimitTicks = 3600; // yesterday's command is overdue this long after the stamp (1 min)
inline std::int64_t gPsLimitTicks = 300; // the process listing of the stale-command clean-up may take 5 s
inline std::uint8_t gPollAllowed = 0; // PollTimerFired may request today's fetch
inline std::uint16_t gOpenPanel = 0; // number of the open sheet window (4, 5, 6), 0 = none
inline std::uint8_t gIntroPending = 0; // start-up: put gIntroText into the report
inline std::uint8_t gShowReportPending = 0; // pass step 7: show the report next pass
inline std::uint8_t gMenuPending = 0; // MenuCallback: a menu choice waits for DoMenu
inline std::int16_t gMenuNumber = 0; // MenuCallback: menu id of the pending choice
inline std::int16_t gMenuItem = 0; // MenuCallback: item index of the pending choice
inline std::uint8_t gAccessCheckPending = 0; // start-up on old systems: check accessibility once
inline std::uint8_t gDailyResetDone = 0; // pass step 2: the hour-1 reset of this night is done
inline std::uint8_t gEmailRequested = 0; // evaluation, Test button: send the notification email
inline std::uint8_t gEmailSent = 0; // email dispatch latch; requests dropped while set
inline std::uint8_t gTestEmailPending = 0; // Test button: the next email is the test email

// --- Results of the analyses, read by the status line, email and folder button
inline TextContainer gReport; // the report shown in text view 1 of window 1; lines end CR LF
inline std::uint8_t gReportViewOff
    = 0; // quillaby-report: ShowReport leaves the view alone; the report is printed from gReport
inline TextContainer gIntroText; // start-up: the introduction shown on the first pass
inline ShortString gLastProblem; // the last problem: status line and email body
inline ShortString gLastSuccessText; // CR LF CR LF "Last Successful Backup Message:" block, or the no-success text
inline ShortString gProblemFolder; // problem file's folder in Finder colon form, or a message
inline std::uint8_t gErrorFound = 0; // a problem line was copied into the report
inline std::uint8_t gDriveOffline = 0; // backup drive offline; carried to the next analysis
inline std::uint8_t gSpotlightConflict = 0; // an "Importer start failed" line was seen
inline std::uint8_t gSuccessFound = 0; // a successful backup was seen
inline std::uint8_t gTooFewLines = 0; // the last analysis read 48 output lines or fewer
inline std::uint8_t gTodayChecked = 0; // Evaluate: a new result of today's check for the status icon and notices
inline std::uint32_t gAnalysesDone = 0; // each analysis of today's or yesterday's log adds 1 when it has evaluated
inline std::uint8_t gLastAnalysisToday
    = 0; // the last analysis counted in gAnalysesDone was of today's log (else yesterday's)
inline SessionList gSessions; // NoteSessionLine: the backup sessions of the last analysis's lines, for the history
inline LogStamp gLastSuccessStamp; // NoteSessionLine: the log's time of the last analysis's last success line

// --- Per analysis of today's log ------------------------------------------
inline ShortString gLogLine; // the line just read from FileChannel 1
inline std::int32_t gLineNo = 0; // lines handled, not counting ignored ones (32 bits: logs can be long)
inline std::int64_t gLineStartPos = 0; // length of gReport before the current line
inline std::int64_t gErrorLineStart = 0; // gLineStartPos of the last problem line
inline std::int64_t gVolumesPos = 0; // "to /Volumes/" in the last problem line holding it
inline std::int64_t gCopyingPos = 0; // "YES Copying " in the last problem line holding it
inline std::int64_t gCopyErrorPos = 0; // first "Error" from that line's start, 0 = none
inline std::int64_t gErrorScanPos = 1; // where the scan for the last "Error" starts
inline std::int64_t gFolderEnd = 0; // the "/" before the problem file's name
inline ShortString gFailureText; // last failure line, or "Backup Drive Offline"
inline ShortString gInvisibleSuffix; // " (Invisible)" for a name beginning with "."
inline std::uint8_t gBackupFailed = 0; // a failure other than the drive being offline
inline std::int32_t gLastSuccessLineNo = 0; // gLineNo of the last success line, 0 = none
inline std::int32_t gLastFailureLineNo = 0; // gLineNo of the last failure line, 0 = none

// --- Carried between analyses ---------------------------------------------
inline std::uint8_t gRecentWording = 0; // start-up: system later than 10.15.9, so macOS 11+ wording counts too
inline std::int16_t gTooManyNoticed = 0; // the too-many condition was already noticed (0 or 1)
inline std::int16_t gNoBackupWarnDay = 0; // day of the year the no-backup warning last tested email

// --- The Mac being watched ---------------------------------------------------
inline std::string gRemoteHost; // WatchRemoteMac (--host): ssh destination of the Mac watched; empty = this Mac
inline std::vector<std::string> gSshWords; // WatchRemoteMac: the ssh program and its options (QUILLABY_SSH)
