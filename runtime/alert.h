#pragma once

#include <QString>

// The runtime's own modal error alert. Fatal: buttons "Quit" and "Crash",
// and the program never returns to the caller. Not fatal: "Stop" ends the
// program, "Continue" returns, "Crash" aborts.
void QzRuntimeAlert(const QString& message, const QString& informative, bool fatal);

// Looks a text up in the bundle's "Runtime" string table; the key itself
// when there is no entry.
QString QzRuntimeText(const QString& key);
