#pragma once

// Replays a recorded `log show` output, moved in time to the asked period.

#include "simmac/log/log_layout.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace tmlog {

struct ReplayRequest {
    std::string path; // the recorded output
    Moment now;
    bool yesterday = false; // else the last `lastSeconds` seconds up to now
    std::int64_t lastSeconds = 0;
};

// Writes the recorded lines to out. An entry line is one that starts with
// "YYYY-MM-DD HH:MM:SS": only that date and time and the zone offset right
// after the fraction of a second (if any) change; every other byte stays.
// For the last N seconds the entries move by whole seconds so that the
// latest one falls on `now`, and only those inside the window are written;
// for yesterday each entry keeps its time of day on yesterday's date.
// Other lines (preamble, header, closing statistics) stay in place, except
// that lines following an entry left out are its continuation lines and
// are left out with it. Any bytes are accepted, lines of any length.
// Returns the exit status: 0, or 66 when the file cannot be read.
int WriteReplay(std::FILE* out, std::FILE* err, const ReplayRequest& request);

} // namespace tmlog
