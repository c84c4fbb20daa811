#pragma once

// On systems other than macOS, puts the bundle's stand-ins for the Mac's
// commands (log, tmutil, scutil, ...) at the end of PATH, so that a real
// command of the same name, or a test's stub earlier on PATH, still wins.
void AddStandInsToPath();
