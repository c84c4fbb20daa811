#pragma once

// The default `log show` layout: preamble, header, entry lines, closing
// statistics, and the local-time stamps they carry.

#include <cstdint>
#include <cstdio>
#include <string>

namespace tmlog {

// A point in time: seconds since the epoch and microseconds (0-999999).
struct Moment {
    std::int64_t seconds = 0;
    int micros = 0;
};

// Local calendar fields of a moment, as the stamps print them.
struct LocalTime {
    int year = 0, month = 0, day = 0; // month 1-12, day 1-31
    int hour = 0, minute = 0, second = 0;
    long offsetSeconds = 0; // east of UTC
};

LocalTime ToLocal(std::int64_t seconds);
// Seconds since the epoch of a local wall-clock time; an hour skipped by a
// clock change is moved forward the way mktime does.
std::int64_t FromLocal(int year, int month, int day, int hour, int minute, int second);
// "YYYY-MM-DD HH:MM:SS" (19 bytes).
std::string FormatDateTime(const LocalTime& t);
// "+hhmm" or "-hhmm" (5 bytes).
std::string FormatOffset(long offsetSeconds);
// "YYYY-MM-DD HH:MM:SS.ffffff+hhmm" (31 bytes) in local time.
std::string FormatStamp(const Moment& m);

enum class EntryType { Default, Info, Debug, Error, Fault };

// One log entry. The message may hold '\n': each further line is printed
// as it stands, as `log show` prints a multi-line message.
struct Entry {
    Moment when;
    std::uint32_t thread = 0; // printed as 0x..., kept below 2^28 so it fits 10 columns
    EntryType type = EntryType::Default;
    std::uint32_t activity = 0; // 0 prints as 0x0
    int pid = 0; // at most 6 digits
    std::string process; // "backupd", "SystemUIServer", ...
    std::string category; // "TMLogInfo", "General", ...
    std::string message;
};

// Counts of the printed entries by type, for the closing statistics.
struct Statistics {
    long counts[5] = {0, 0, 0, 0, 0};
};

// The entry in the default layout, ending in '\n'. Its message starts at
// column 137 + the category's length.
std::string FormatEntry(const Entry& e);

void WritePreamble(std::FILE* out);
void WriteClosing(std::FILE* out, const Statistics& stats);

extern const char* const kHeaderLine; // 88 columns, without the line end

} // namespace tmlog
