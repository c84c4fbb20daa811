#pragma once

// A Mac watched over SSH (`--host DEST`): its own commands (`log show`,
// `scutil`) run there through the ssh program, their output is read here
// as a local command's is, and its settings and state live in a folder of
// its own under the data folder.

#include "runtime/shortstring.h"

#include <string>
#include <string_view>

// Why ssh must not be given dest as a destination: empty, starting with "-"
// (ssh would read an option), holding a blank or a control character, or
// too long to name its folder. Empty when dest may be given.
std::string DestinationProblem(std::string_view dest);
// The name of dest's folder: its bytes, with each byte other than a letter,
// a digit, "_", "-", "+", "@" or a "." after the first byte written as "%"
// and two capital hex digits. Reversible, so two destinations never share
// a folder.
std::string HostFolderName(std::string_view dest);
// Makes dest the Mac this run watches (gRemoteHost, gHostFolder) and reads
// the ssh program and its options from QUILLABY_SSH (split as a command
// line; "ssh" when unset or empty). False, with the reason in *error, when
// dest is refused or QUILLABY_SSH is no command line; nothing is set then.
bool WatchRemoteMac(std::string_view dest, std::string* error);
// The shell command line that runs command's first stage (up to the first
// " | ") on the Mac being watched, and the stages after it here: command as
// it is for this Mac; for a remote Mac
//   ssh -o BatchMode=yes -o ConnectTimeout=15 [options] -- DEST 'stage'
// with every word quoted for /bin/sh, so that the first stage reaches the
// Mac's shell as its text, and nothing of DEST or the options means
// anything to the shell here.
std::string CommandOnTheMac(const ShortString& command);
// The remote Mac's name for a mail's subject: what `scutil --get
// ComputerName` prints there, or the destination when it prints nothing.
ShortString RemoteComputerName();
