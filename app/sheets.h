#pragma once

#include <cstdint>

// The three sheets on the main window: email notification (window 4), quit
// (5) and about (6). Each is made from its resource on first use and kept,
// with its control states, for the rest of the run; gOpenPanel holds the
// number of the one shown.
void ShowEmailWindow();
void ShowQuitWindow();
void ShowAboutWindow();
// Ends the sheet of window `number` on window 1, closes (hides) it, clears
// gOpenPanel and makes window 1 current again.
void CloseSheet(std::int64_t number);

// Control actions, by tag, of the three windows (from DoDialog).
void EmailWindowAction(std::int64_t tag);
void QuitWindowAction(std::int64_t tag);
void AboutWindowAction(std::int64_t tag);
