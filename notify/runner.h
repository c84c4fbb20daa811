#pragma once

#include "runtime/shortstring.h"

#include <QString>

// Scripts and shell commands. Scripts go through the script hook, so the
// platform that answers them stays out of sight here.

// Runs a script text; its result, "ERROR:  " + the error message, or empty
// is left in gScriptResult (cut at 255 bytes).
void RunAppleScript(const ShortString& script);
// The startup disk's name followed by ":", also kept in gStartupDiskPath.
ShortString StartupDiskName();
// Has the Finder open the item at a colon path ("Macintosh HD:Users:x");
// alerts "Unable to open the file at" when the Finder answers anything.
void FinderOpenFile(const ShortString& path);
// Brings the Finder to the front and empties gScriptResult.
void FinderActivate();
// Runs a shell command on FileChannel 101 and returns its output lines
// joined without separators, cut at 255 bytes.
ShortString RunShellCollect(const ShortString& command);
// The user's short name: the last component of the home folder (Mac Roman,
// cut at 255 bytes).
ShortString UserShortName();
// True unless the system's product version (gQzSystemVersionHook) orders
// before threshold, with runs of digits compared as numbers ("10.12" >
// "10.9"). An unreadable version counts as equal: true.
bool SystemVersionAtLeast(const ShortString& threshold);

// Text for the inside of a script's string literal: backslash and double
// quote escaped, everything else (line breaks included) as it is.
QString ScriptLiteralText(const QString& text);
ShortString ScriptLiteralText(const ShortString& text);
// Platform text to bytes, cut at 255 bytes on a character boundary: Mac
// Roman where it has the character, UTF-8 otherwise (which QzStrToCF reads
// back as the same text).
ShortString ShortFromText(const QString& text);
