#pragma once

#include <string>

// The services a Mac answers through its own C interfaces, defined only in
// the Apple build (platform/macos_services.cpp; cmake/apple_sources.cmake
// leaves that file out of every other build).

// Launch Services' application for "mailto:" links as a POSIX path in
// UTF-8 ("/System/Applications/Mail.app"); empty when there is none.
std::string MacMailtoAppPath();

// Whether the accessibility permission is granted. The program asks the
// user for it after each "no" on systems older than 10.14 (and never on
// later ones), so there a "no" also comes with the system's own prompt,
// which puts Quillaby into the Accessibility list for the user to tick.
bool MacAccessibilityTrusted();
