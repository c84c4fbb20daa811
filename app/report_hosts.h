#pragma once

// quillaby-report for Macs watched over ssh: `--host DEST`, once or more.

#include "app/report_output.h"

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

// Writes an output where the command line says and gives the exit status:
// code when the output was written.
using ReportDelivery = std::function<int(const ReportWriter& produce, int code)>;

// Takes the run's --host destinations, before anything runs.
// - QUILLABY_FETCH_LIMIT (seconds, 1 to 3600), when set, is both fetches'
//   time limit instead of 2 and 1 minutes, for any Mac.
// - No destination: this Mac is watched; nullopt.
// - One: that Mac becomes the watched one (WatchRemoteMac); nullopt, and
//   this process makes its report, which names it.
// - Several: a report command of their own (these options and one --host)
//   checks each Mac, a few at a time, and their outputs are delivered as
//   one: the texts one after another; JSON, an array of the Macs' objects;
//   Prometheus, each family once with every Mac's samples; monitoring
//   plugins, the worst state with the number of Macs in each state, every
//   Mac's line in the long output and its performance data named after it.
//   Their standard error is passed on, each line after the Mac's name.
//   Returns the worst exit status (a problem over a log not had over
//   nothing to report; CRITICAL, WARNING, UNKNOWN, OK).
// A refused destination, or a QUILLABY_SSH or QUILLABY_FETCH_LIMIT that
// cannot be used, is said on standard error and gives 64.
std::optional<int> ReportOnHosts(char* program, std::string_view which, std::string_view format, bool notify,
    const std::vector<std::string_view>& hosts, const ReportDelivery& deliver);
