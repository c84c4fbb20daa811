#pragma once

#include <QString>

// Installs the platform's answers for the services a Mac provides in
// process (the script runner, the mailto application, the accessibility
// permission, opening files and web addresses). On macOS those are
// osascript, Launch Services and the accessibility API; elsewhere the
// stand-ins answer as a Mac would. Called once at start-up, after the stand-in
// commands are on PATH.
void InstallPlatformServices();

// Launch Services' answer for "mailto:" on systems without it: Mail, whose
// stand-in delivers through the system's sendmail interface.
QString StandInMailtoApp();
