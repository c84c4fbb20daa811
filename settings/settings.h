#pragma once

#include "runtime/shortstring.h"

#include <QString>

#include <cstdint>
#include <string>

// The settings file "Quillaby/Settings" under the user's Application
// Support folder: twelve lines, each ended by one CR, numbers written with
// QzNumberText. Reading takes CR, LF and CR LF each as one line end and
// cuts a line at 255 bytes, dropping the rest of it. Channel file errors
// are silent after LoadSettings; a settings file that cannot be read or
// written is told to the user once, with QzAlertNote.

// Creates the folder, installs the silent file-error handler, and reads the
// file, or writes its eight-line default form when there is none. Removes
// the main window's donation button (control 10 of the current window)
// when the file says it is hidden. A file that exists but cannot be read,
// or is plainly not a settings file, is left alone for the whole run
// (gSettingsUnreadable). After a first start gLastBackupDay holds the day
// the default form wrote. With gHostFolder set the file is the watched
// Mac's, in that folder, and its default form takes the mail addresses and
// switches (lines 1 to 6) from this Mac's file.
void LoadSettings();
// Writes all twelve lines, unless the file already holds exactly them. The
// bytes go to a new temporary file in the same folder that then replaces
// the old file, so an interrupted save or one killed at any moment leaves
// the previous settings intact; concurrent saves of several processes take
// turns. Where no temporary file can be made (a read-only folder) the file
// is written in place.
void SaveSettings();
// Reads line 7 afresh into gLastBackupDay and returns it (0 when the file
// cannot be read). When the last save did not reach the file, returns the
// day held in gLastBackupDay instead.
std::int16_t ReadLastBackupDay();
// Today's day of the year, 1 to 366, in the local time zone.
std::int16_t TodayDayOfYear();

// Small files of the program's own kept beside the settings file, read and
// saved as it is: the first `count` lines (CR, LF and CR LF each end a
// line, a line is cut at 255 bytes, missing lines are empty, a leading
// UTF-8 byte-order mark is skipped). A file that is plainly not such a file
// (larger than 64 KB, or holding a NUL byte) is Unreadable.
enum class SmallFileRead { Read, Missing, Unreadable };
SmallFileRead ReadSmallFile(const QString& path, ShortString* lines, int count);
// Saves the bytes as the file at path the way the settings are saved; false
// when they did not reach it (a read-only file included). With lockHeld the
// caller holds the lock file that saves of path take (LockSmallFile).
bool WriteSmallFile(const QString& path, const std::string& bytes, bool lockHeld = false);
// Takes the exclusive lock that saves of path take, waiting up to ms
// milliseconds: the descriptor whose closing releases it, or -1.
int LockSmallFile(const QString& path, int ms);
