#pragma once

#include <QString>

// Installs the platform's answers for the services a Mac provides in
// process (the script runner, the mailto application, the accessibility
// permission). On macOS those are osascript, Launch Services and the
// accessibility API; elsewhere the stand-ins answer as a Mac would. Called once at start-up, after the stand-in
// commands are on PATH.
void InstallPlatformServices();

// Launch Services' answer for "mailto:" on systems without it: Mail when a
// sendmail interface exists (the stand-in Mail delivers through it), else
// the desktop's mailto handler as "/Applications/<Name>.app", else an
// application whose name makes the "is not supported" alert read sensibly.
QString StandInMailtoApp();
// "thunderbird.desktop" and "org.mozilla.Thunderbird.desktop" give
// "Thunderbird"; empty for an empty id.
QString AppNameOfDesktopId(const QString& desktopId);
