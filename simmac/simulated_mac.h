#pragma once

// Which macOS this is, in one place for the program's version check and
// the stand-in `log` (which words its entries as that system would). On a
// Mac the system's own SystemVersion.plist says; elsewhere the simulated
// Mac's: QUILLABY_SIMULATED_MACOS when it names a version, over the
// SystemVersion.plist in the bundle (a 10.15 system). No Qt: the stand-in
// links this too.

#include <string>
#include <string_view>

// The system's own version file.
inline constexpr std::string_view kSystemVersionPlist = "/System/Library/CoreServices/SystemVersion.plist";
// The simulated Mac's, below the bundle's Contents/Resources folder.
inline constexpr std::string_view kSimulatedMacPlist = "/SimulatedMac/System/Library/CoreServices/SystemVersion.plist";

// The "ProductVersion" string of a property list (XML or binary); empty
// when the file, its form or the key is wrong.
std::string ProductVersionOfPlist(const std::string& path);
// The version QUILLABY_SIMULATED_MACOS names ("26.1", "11.7.10"): digits
// and dots, beginning and ending with a digit, at most 31 bytes. Empty when
// the variable is unset or holds anything else.
std::string SimulatedMacVersionFromEnvironment();
// The simulated Mac's version: the environment's, else the one of the
// bundle's plist at bundlePlist; empty when neither gives one.
std::string SimulatedMacVersion(const std::string& bundlePlist);
// True unless version orders before threshold as a numeric search orders
// them: runs of digits by their value ("10.12" > "10.9"), other bytes by
// their code, and a text that ends first before a longer one ("10.12.6" >
// "10.12").
bool MacVersionAtLeast(std::string_view version, std::string_view threshold);
// Whether a system of that version writes the Time Machine log in the
// wording of macOS 11 and later: it is at least 10.15.9.
bool MacVersionWritesRecentWording(std::string_view version);
