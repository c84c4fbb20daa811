#pragma once

#include "runtime/shortstring.h"

#include <cstdint>

// The dialog handler of every window: control actions (event kind 1) of the
// main window (1), the email window (4), the quit window (5) and the about
// window (6). Closing the main window hides it while the status icon is
// shown, else quits as the Quit menu item does.
void DoDialog(std::int64_t kind, std::int64_t id, std::int64_t windowTag, void* object);
// Opens a file of the bundle's resources with its default application;
// returns 1 (after a critical alert naming the file) when it is not there,
// else 0. On Linux the RTF(D) documents are HTML ("Help.rtfd" is
// "Help.html"), shown in the program's help window, and a .url file opens
// its page.
int OpenResourceFile(const ShortString& name);
