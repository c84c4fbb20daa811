#pragma once

// Module-level state of the application shell, main thread only. Flags are
// single bytes holding 0 or 1. The settings variables are in
// settings/state.h.

#include "runtime/shortstring.h"

#include <QString>
#include <QUrl>

#include <cstdint>

// --- Facts filled at start-up ---------------------------------------------------
inline QUrl gBundleURL; // start-up, OpenResourceFile: the application bundle
inline QUrl gResourcesURL; // gBundleURL + "Contents/Resources"
inline ShortString gVersionText; // start-up: "Version " + the version, shown by the about window

// --- Windows -----------------------------------------------------------------
inline std::uint8_t gMainWindowBuilt = 0; // ShowMainWindow ran: window 1 and the menu exist
inline std::uint8_t gEmailWindowBuilt = 0; // ShowEmailWindow made window 4 from its resource
inline std::uint8_t gQuitWindowBuilt = 0; // ShowQuitWindow made window 5
inline std::uint8_t gAboutWindowBuilt = 0; // ShowAboutWindow made window 6 and put in its image

// --- The desktop ----------------------------------------------------------------
inline std::uint8_t gBackgroundStart = 0; // start-up: started with --background
inline std::int8_t gCheckAtStartupChosen = -1; // Options line 2: 1 or 0 as chosen, -1 for the start's default

// --- History -------------------------------------------------------------------
inline std::uint8_t gHistoryFailureTold
    = 0; // RecordAnalysisStep told that the history could not be kept; a record that works clears it
