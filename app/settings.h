#pragma once

#include <cstdint>

// The settings file "Quillaby/Settings" under the user's Application
// Support folder: twelve lines, each ended by one CR, numbers written with
// QzNumberText. Every file error is silent after LoadSettings.

// Creates the folder, installs the silent file-error handler, and reads the
// file, or writes its eight-line default form when there is none. Removes
// the main window's donation button (control 10 of the current window)
// when the file says it is hidden.
void LoadSettings();
// Writes all twelve lines. The bytes go to a temporary file in the same
// folder that then replaces the old file, so an interrupted or failed save
// leaves the previous settings intact.
void SaveSettings();
// Reads line 7 afresh into gLastBackupDay and returns it (0 when unreadable).
std::int16_t ReadLastBackupDay();
// Today's day of the year, 1 to 366, in the local time zone.
std::int16_t TodayDayOfYear();
