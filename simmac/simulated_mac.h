#pragma once

// The simulated Mac's version, in one place for the program's version
// check on Linux and the stand-in `log` (which words its entries as that
// system would): QUILLABY_SIMULATED_MACOS when it names a version, over
// the SystemVersion.plist in the bundle (a 10.15 system). No Qt: the
// stand-in links this too.

#include "runtime/macversion.h"

#include <string>
#include <string_view>

// The simulated Mac's SystemVersion.plist, below the bundle's
// Contents/Resources folder.
inline constexpr std::string_view kSimulatedMacPlist = "/SimulatedMac/System/Library/CoreServices/SystemVersion.plist";

// The version QUILLABY_SIMULATED_MACOS names ("26.1", "11.7.10"): digits
// and dots, beginning and ending with a digit, at most 31 bytes. Empty when
// the variable is unset or holds anything else.
std::string SimulatedMacVersionFromEnvironment();
// The simulated Mac's version: the environment's, else the one of the
// bundle's plist at bundlePlist; empty when neither gives one.
std::string SimulatedMacVersion(const std::string& bundlePlist);
// Whether a system of that version writes the Time Machine log in the
// wording of macOS 11 and later: it is at least 10.15.9.
bool MacVersionWritesRecentWording(std::string_view version);
