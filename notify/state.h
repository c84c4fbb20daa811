#pragma once

// Module-level state of the email subsystem, main thread only.

#include "runtime/shortstring.h"

#include <QString>

#include <cstdint>

// --- Script and command runners ------------------------------------------------
inline ShortString gScriptResult; // RunAppleScript: the result text, "ERROR:  " + message, or empty
inline ShortString gOpenFileResult; // FinderOpenFile: copy of gScriptResult after the open script
inline ShortString gStartupDiskPath; // StartupDiskName: the startup disk's name followed by ":"

// --- Facts about the machine, filled at start-up ---------------------------------
inline ShortString gComputerName; // start-up: `scutil --get ComputerName` through a do shell script

// --- Email dispatch ------------------------------------------------------------------
inline std::uint8_t gEmailStepHeld = 0; // report command without --notify: step 12 leaves requests alone
inline std::uint8_t gEmailDelivered = 0; // EmailDispatchStep: the last dispatch's mail reached every address it had
inline QString gEmailError; // SendNotificationEmail: why a mail of the last dispatch was not sent; empty = none failed
inline std::uint8_t gEmailErrorTold = 0; // SendNotificationEmail: its own alert told the failure already
inline ShortString gTestAddress1; // Test button: the first address as typed in the email window, not stored
inline ShortString gTestAddress2; // Test button: the second address as typed

// --- Desktop notices and the status icon -----------------------------------------------
inline std::uint8_t gDesktopNoticesOn = 1; // the Options file, menu: show desktop notifications
inline std::uint8_t gBackupStatus = 0; // DesktopNoticeStep: a kQzTray... state, kQzTrayUnknown before a check
inline QString gStatusText; // DesktopNoticeStep: the status line after the last check of today's log
inline std::uint8_t gNoticeSent = 0; // latch: a problem notice went out; a check with a working backup clears it
inline std::int16_t gNoBackupNoticeDay = 0; // day of the year the no-backup notice last went out
