#pragma once

// The window program's `--host DEST`: the Mac it watches over ssh.

// Takes "--host DEST" (or "--host=DEST") out of the arguments and makes
// DEST the watched Mac (WatchRemoteMac). 0 when there is none or it was
// taken; 64, said on standard error, when DEST is refused, missing, given
// twice, or QUILLABY_SSH cannot be used.
int TakeHostOption(int& argc, char** argv);
// Names the watched Mac in the main window's title, "DEST — Quillaby", and
// switches off the buttons that act on the Mac the program runs on; this
// Mac's window stays as it is.
void ShowWatchedMacInTitle();
