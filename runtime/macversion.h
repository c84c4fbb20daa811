#pragma once

// The Mac's system version: the system's own version file, its
// "ProductVersion", and the order of version texts. No Qt: the stand-in
// `log` links this too.

#include <string>
#include <string_view>

// The system's own version file.
inline constexpr std::string_view kSystemVersionPlist = "/System/Library/CoreServices/SystemVersion.plist";

// The "ProductVersion" string of a property list (XML or binary); empty
// when the file, its form or the key is wrong.
std::string ProductVersionOfPlist(const std::string& path);
// True unless version orders before threshold as a numeric search orders
// them: runs of digits by their value ("10.12" > "10.9"), other bytes by
// their code, and a text that ends first before a longer one ("10.12.6" >
// "10.12").
bool MacVersionAtLeast(std::string_view version, std::string_view threshold);
