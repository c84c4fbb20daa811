#pragma once

#include <QString>

// On systems other than macOS, puts the bundle's stand-ins for the Mac's
// commands (log, tmutil, scutil, ...) at the end of PATH, so that a real
// command of the same name, or a test's stub earlier on PATH, still wins.
// Without a PATH the system's default path comes first. A bundle path that
// holds ":" (which PATH cannot name) is reached through a link of a plain
// name in the user's runtime folder.
void AddStandInsToPath();

// Where the Mac's own version file does not exist (on Linux), makes the
// system version the simulated Mac's: QUILLABY_SIMULATED_MACOS when it
// names a version, over the SystemVersion.plist in the bundle's resources.
// A system version hook installed before (by a test) stays.
void UseSimulatedMacVersion();
// The simulated Mac's SystemVersion.plist in the bundle's resources.
QString SimulatedMacPlistPath();

// Sets gRecentWording from the system version, once: a system later than
// 10.15.9 writes the Time Machine log in the wording of macOS 11 and later;
// a remote Mac's log is read in both.
void ChooseLogWording();
