#pragma once

// Module-level state of the settings file, main thread only. The settings
// variables are filled once by LoadSettings and written back by
// SaveSettings; flags are single bytes holding 0 or 1.

#include "runtime/shortstring.h"

#include <QString>

#include <cstdint>

// --- Settings (the twelve lines of the settings file) -----------------------
inline std::uint8_t gEmailNotifyOn = 0; // line 1: email notification is ON
inline ShortString gEmailAddress1; // line 2: first recipient (Mac Roman bytes)
inline ShortString gEmailAddress2; // line 3: second recipient
inline std::uint8_t gNoQuitWarning = 0; // line 4: Quit ends at once even with email ON
inline std::uint8_t gNotifyMinorErrors = 0; // line 5: email on minor problems too
inline std::uint8_t gDailyEmail = 0; // line 6: email when no backup for more than a day
inline std::int16_t gLastBackupDay = 0; // line 7: day of the year of the last successful backup
inline ShortString gSpareSetting; // line 8: kept and written back, otherwise unused
inline std::uint8_t gDonateHidden = 0; // lines 9-12: the donation button is removed
inline QString gSettingsPath; // the settings file, set by LoadSettings for the whole run
inline QString gHostFolder; // --host: "hosts/<name>", the watched Mac's folder in the data folder; empty = this Mac
inline std::uint8_t gSettingsUnreadable = 0; // LoadSettings could not read the file: no save replaces it
inline std::uint8_t gSettingsSaveFailed = 0; // the last save did not reach the file; memory holds the newer values
inline std::uint8_t gSettingsFailureTold = 0; // the user was told of a failed save; cleared by a save that works
