#pragma once

#include "runtime/shortstring.h"

#include <cstdint>

// Ticks: 1/60 second of system uptime, truncated toward zero.
std::int64_t TicksNow();
// gPipeStartTicks = TicksNow() + 60.
void StampPipeStart();
// gEmailSent = 0, gPollAllowed = 1, both pipe-open flags 0.
void ResetFetchState();

// Today's log in two phases: a call launches the four-hour command, a
// later call with gTodayReadNow = 1 reads and evaluates its output; with
// gShortLogMode = 1 one call launches the two-hour command and reads it.
// Does nothing while gOpenPanel is not 0.
ShortString FetchTodayLog();
// Yesterday's log: a call with gYesterdayReadNow clear launches the
// command, one with it set reads and reports.
ShortString FetchYesterdayLog();

// Shows gReport in text view 1 of window 1.
void ShowReport();
// Appends the Spotlight importer note to gReport.
void AppendSpotlightNote();

// The command line of today's fetch: the last four hours, or two in short
// mode, cut to the backup daemon's lines.
ShortString TodayCommand(bool shortMode);
// The command line of yesterday's fetch: the whole previous day.
ShortString YesterdayCommand();

// Kills a stale log command of this user, found in the process list read on
// FileChannel 1: the first whose command is `log` or a path ending in
// "/log", followed by " show --", that was orphaned (it or the shell running
// its pipeline belongs to process 1) or has run longer than any live fetch
// may. The live command of another running copy is left alone. The list
// may take gPsLimitTicks. Nothing is listed or killed for a remote Mac.
void KillStaleLogCommand();
// Ticks as milliseconds, for the time limits of pipe channels.
constexpr std::int64_t TicksToMilliseconds(std::int64_t ticks)
{
    return ticks * 1000 / 60;
}
