#pragma once

#include <cstdint>

// Menu numbers as the runtime reports them: the application menu is menu 0;
// an item's number is its position in its menu, separators included.
inline constexpr std::int16_t kAppMenu = 0;
inline constexpr std::int16_t kMenuAbout = 0;
inline constexpr std::int16_t kMenuPurchasePage = 2;
inline constexpr std::int16_t kMenuHideDonate = 3;
inline constexpr std::int16_t kMenuUpgradePage = 4;
inline constexpr std::int16_t kMenuStartAtLogin = 6; // check mark: the autostart entry exists
inline constexpr std::int16_t kMenuCheckAtStartup = 7; // check mark: today's log is checked at start-up
inline constexpr std::int16_t kMenuDesktopNotices = 8; // check mark: desktop notices are shown
inline constexpr std::int16_t kMenuQuit = 13;
// The status icon's menu reports its choices as this menu (app/desktop.cpp).
inline constexpr std::int16_t kTrayMenu = 100;

// The runtime's menu handler: records the choice for the main loop's next
// pass; a later choice before that pass replaces it.
void MenuCallback(std::int64_t menuNumber, std::int64_t itemNumber);
// Acts on the recorded choice (gMenuNumber, gMenuItem).
void DoMenu();
// The main-loop step that serves a menu choice recorded by MenuCallback.
void PendingMenuStep();
// Quit: saves and ends the program at once when email notification is off
// or the quit warning is turned off; otherwise shows the quit window.
void QuitRequested();
