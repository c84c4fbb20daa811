#pragma once

#include <QString>
#include <QStringList>

// The script runner of systems without AppleScript. It understands exactly
// the scripts Quillaby sends, and answers anything else with an error:
//   do shell script "..."       /bin/sh with LC_ALL=C; the output without
//                               its last line end, other LF turned into CR
//   Finder: name of startup disk, open alias "Disk:a:b", activate
//   the Mail and Outlook send scripts, delivered through sendmail
// Same contract as the script hook: false with *errorMessage on failure.
bool StandInRunScript(const QString& source, QString* result, QString* errorMessage);

// The simulated Mac's startup disk: QUILLABY_STARTUP_DISK, else "Macintosh HD".
QString StandInStartupDisk();

// The POSIX path of a Finder colon path: the startup disk is "/", another
// disk is under /Volumes, and a "/" inside a name is a ":" on disk.
QString PosixPathOfColonPath(const QString& colonPath);

// Matches source against a script made of the fixed pieces with one string
// literal between each two; fills the literals' texts, unescaped.
bool MatchScript(const QString& source, const QStringList& pieces, QStringList* literals);
