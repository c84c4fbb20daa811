#pragma once

// The simulated Mac: a laptop that backs up every hour, to a USB disk in
// the wording of macOS 10.13 to 10.15 or to a NAS in that of macOS 11 and
// later, with the usual harmless chatter of Time Machine and now and then
// a problem.

#include "simmac/log/log_layout.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace tmlog {

struct SimulationOptions {
    int linesPerHour = 130; // rough number of entry lines per hour, backups included
    std::vector<std::int64_t> manualBackups; // starts of backups begun by hand, seconds since the epoch
    bool recentWording = false; // log as macOS 11 and later do, backing up to a NAS
};

// The manual backups recorded by the stand-in `tmutil startbackup` in the
// user's XDG state folder, one start (seconds since the epoch) a line.
std::vector<std::int64_t> ReadManualBackups();

// Writes, in time order, every simulated entry from `from` to `to` (both
// included) and counts them in stats. Each local clock hour is generated
// from a seed made of its date and hour, so the same hour always holds the
// same entries, whatever window asks for it.
void WriteSimulatedEntries(
    std::FILE* out, const Moment& from, const Moment& to, const SimulationOptions& options, Statistics& stats);

} // namespace tmlog
