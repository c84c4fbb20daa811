#pragma once

#include <QString>

#include <cstdint>
#include <string>

// The program on the desktop: the status icon and its menu, desktop
// notices, start at login and the Options file beside the settings (line
// 1: show desktop notifications, " 1" by default; line 2: check today's log
// at start-up, " 1" or " 0", empty for the default of the way the program
// was started).

// Start-up's part, once the main window exists (hidden when background)
// and the settings are loaded: reads the Options file, puts the menu's
// check marks, installs the desktop's notification service and shows the
// status icon where the desktop has a tray. The window is shown unless it
// started in the background and the icon is there. Returns whether today's
// log is to be checked at once (by default in the background only).
bool StartDesktop(bool background);
// The pass's step after a check of today's log: the notices, then the
// icon, its tooltip and the window's last-backup line.
void DesktopStep();
// The icon's look and tooltip and the window's last-backup line, from the
// last check (or none yet).
void ShowBackupState();
// The pass's menu step for the status icon's menu and the application
// menu's desktop items: acts on the choice, or returns false for a choice
// that is not one of them.
bool DesktopMenuChoice(std::int16_t menu, std::int16_t item);

// The autostart entry: ~/.config/autostart/quillaby.desktop (XDG_CONFIG_HOME
// honoured); on macOS a launch agent in ~/Library/LaunchAgents.
QString AutostartPath();
// Its text, starting `program` with --background.
std::string AutostartEntry(const QString& program);
// The Options file beside the settings file.
QString OptionsPath();
