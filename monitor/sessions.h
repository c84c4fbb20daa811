#pragma once

// The backup sessions an analysis sees in the lines it reads, for the
// history: each session's start, destination, end and result, with the
// log's own times. Both analyses hand the collector the answers MatchLine
// already gave for a line; only the few lines that hold a session's text
// are looked at further. The sessions go to gSessions (monitor/state.h).

#include "monitor/backup_session.h"
#include "monitor/report.h"
#include "runtime/shortstring.h"

constexpr LineMatches kSessionSuccesses
    = Bit(kPatCompletedSuccessfully) | Bit(kPatCompletedBackup) | Bit(kPatSucceeded);
constexpr LineMatches kSessionFailures
    = Bit(kPatFailedWithError) | Bit(kPatBackupFailedColon) | Bit(kPatBackupFailedParen) | Bit(kPatFailingWithName);
// Every line that tells the collector something holds one of these.
constexpr LineMatches kSessionLines = Bit(kPatStartingAutomatic) | Bit(kPatStartingManual) | Bit(kPatStartingWithMode)
    | Bit(kPatBackingUp) | Bit(kPatBackingUpSpace) | Bit(kPatNotStarting) | Bit(kPatStoppingForEject)
    | kSessionSuccesses | kSessionFailures;

// Empties gSessions and gLastSuccessStamp for a new analysis.
void StartSessions();
// Takes what a line with (m & kSessionLines) != 0 says about the sessions;
// `line` is the line as read (before today's cleaning), its first 19 bytes
// the log's time. A line without a time there says nothing.
void NoteSessionLine(LineMatches m, const ShortString& line);
