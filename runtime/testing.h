#pragma once

// Entry points for the tests and benchmarks only; the program never calls
// them.

#include <QString>

// Points the runtime at a bundle, for code that does not run from one.
void QzSetBundlePath(const QString& path);
// Closes and deletes every window, menu bar, timer and alert of the runtime
// and clears its window and event state, so that a test starts afresh.
void QzResetWindowState();
