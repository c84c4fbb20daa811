#pragma once

#include <cstdint>

// The settings file "Quillaby/Settings" under the user's Application
// Support folder: twelve lines, each ended by one CR, numbers written with
// QzNumberText. Reading takes CR, LF and CR LF each as one line end and
// cuts a line at 255 bytes, dropping the rest of it. Channel file errors
// are silent after LoadSettings; a settings file that cannot be read or
// written is told to the user once, with QzAlertNote.

// Creates the folder, installs the silent file-error handler, and reads the
// file, or writes its eight-line default form when there is none. Removes
// the main window's donation button (control 10 of the current window)
// when the file says it is hidden. A file that exists but cannot be read is
// left alone for the whole run (gSettingsUnreadable).
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
