#pragma once

#include <QString>

// What the window keeps in memory between its analyses, the report command
// keeps in a file of its own beside the settings ("Quillaby/State"), so
// that runs on a schedule warn as the window does across its passes: one
// mail per problem, the no-backup mail once a day, a new mail after the
// problem cleared and came back. Six lines ending in CR, numbers written
// as the settings write them: gEmailSent, gEmailRequested, gDriveOffline,
// gTooManyNoticed, gNoBackupWarnDay, and the moment of the save in seconds
// since 1970. The file is saved as the settings are.

// The state file's path, beside the settings file (LoadSettings ran).
QString ReportStatePath();
// Reads the file into the carried values; a missing or unreadable file
// leaves them as a fresh start has them. The night's reset of the window
// (hour 1) that fell since the last save releases the email latch, once:
// the pass's own reset is marked done. A run
// that will save (`keep`) takes the state file's lock first and holds it
// until SaveReportState, so that two such runs never send the same mail.
void LoadReportState(bool keep);
// Writes the carried values and releases the lock. Only a run that may
// have sent mail saves: a run that sends none must neither swallow a mail
// that the next run would send nor make it send one twice. False, after
// saying so, when the file could not be written.
bool SaveReportState();
