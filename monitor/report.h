#pragma once

#include "runtime/shortstring.h"

#include <initializer_list>

// The CR LF pair that ends every line of the report.
inline const ShortString kCrLf = "\r\n";

// Harmless lines of both days' logs; a line holding any of them is
// ignored before any rule looks at it.
inline const ShortString kIgnoredLines[] = {
    "Recovery",
    "recovery",
    "deleting backup",
    "Couldn't get volume info for unmounted disk",
    "Operation not permitted",
    "snapshot",
    "Error iterating sibling links",
    "Error writing to backup log",
    "Not prioritizing backups with priority errors",
    "Error Domain=NSPOSIXErrorDomain Code=60",
    "Failed to read sticky exclusion",
    "Injecting event for exclusion",
    "connection invalid",
    "Failed to remove attribute",
};

// Whether line holds pattern (a plain, case-sensitive search).
bool Contains(const ShortString& line, const ShortString& pattern);
// Whether line holds one of kIgnoredLines.
bool IsIgnoredLine(const ShortString& line);
// head + '"com.apple.TimeMachine"' + "'" + rest, where head ends in
// "--predicate 'subsystem == ".
ShortString LogShowCommand(const ShortString& head, const ShortString& rest);

// Sets the status line (text label 8 of the current window).
void SetStatusLine(const ShortString& text);
// Appends each piece to gReport in turn. Pieces are appended one by one,
// never joined into one counted string first, so a 255-byte line keeps the
// line ends that follow it.
void AppendReport(std::initializer_list<ShortString> pieces);
