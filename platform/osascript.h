#pragma once

#include <QByteArray>
#include <QString>

// The Mac's script runner: the script text goes as UTF-8 to osascript
// (gOsascriptPath) on its standard input, never on its command line. Exit
// status 0: the result is what it printed, without its last line end.
// Otherwise false with *errorMessage as the script's own error message.
// The script runs in a process group of its own, for gOsascriptLimitMs at
// most; after that the whole group (a `do shell script` command with it)
// is killed and the script fails. Same contract as the script hook; plain
// POSIX and Qt Core, so it runs here against a stub osascript as well.
bool OsascriptRunScript(const QString& source, QString* result, QString* errorMessage);

// The message of osascript's error text: "12:30: execution error: Mail got
// an error: Can't get account 1. (-1728)" gives "Mail got an error: Can't
// get account 1.", a syntax error likewise; any other text stays whole,
// without its last line end.
QString OsascriptErrorMessage(const QByteArray& stderrBytes);
