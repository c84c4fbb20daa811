#pragma once

#include <QUrl>

// The Mac's openURL: on systems without it: the simulated Mac's `open`
// command (found on PATH), given the file's path or the web address. True
// when it opened it; otherwise false, with what `open` said (or why it
// could not run) in gQzOpenUrlError.
bool StandInOpenURL(const QUrl& url);
