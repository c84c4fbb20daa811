#pragma once

#include "runtime/shortstring.h"

// Start-up, after the shared application object exists: the environment
// checks, the main window, the settings and the two timers, in their fixed
// order. Ends the program (status 0) when the system is too old, or when an
// English-speaking user is not an administrator. The caller then runs the
// event loop.
void StartUp();

// The language of the user's first preferred UI language: "English" for
// "en-..." and so on through the known prefixes, else the identifier as it
// is ("en" alone stays "en").
ShortString PreferredLanguageName();
ShortString LanguageNameOf(const ShortString& identifier);
// The administrator check's command for a user's short name, the name
// passed as one shell word; empty when it would not fit in 255 bytes.
ShortString AdminCheckCommand(const ShortString& shortName);
