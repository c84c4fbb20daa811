#pragma once

// A backup session as the log tells it, with the log's own times; the
// analyses collect them (monitor/sessions.h) for the history.

#include "runtime/shortstring.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// A time as the log writes it, local "YYYY-MM-DD HH:MM:SS"; empty when unknown.
struct LogStamp {
    std::array<char, 19> text {};
    bool known = false;

    std::string_view view() const { return known ? std::string_view(text.data(), text.size()) : std::string_view(); }
};

enum class SessionResult : std::uint8_t {
    Unknown, // running, or its end is not in the lines read
    Succeeded,
    Failed,
    Offline, // the destination went away: error 19 or 27, a "_DISCONNECTED" name, the disk ejected
};

enum class SessionKind : std::uint8_t {
    Unknown,
    Automatic,
    Manual,
    // A scheduled backup that did not start because the destination could
    // not be found ("Not starting scheduled Time Machine backup" for any
    // other reason than a backup running or one just done): start and end
    // are the line's time, the result Offline.
    NotStarted,
};

struct BackupSession {
    LogStamp start; // unknown: the session began before the lines read, which hold only its end
    LogStamp end;
    SessionKind kind = SessionKind::Unknown;
    SessionResult result = SessionResult::Unknown;
    std::int32_t errorCode = -1; // the failure's number, -1 none
    ShortString destination; // as the log names it, cut where the line read was cut; empty when not named
    ShortString errorName; // "BACKUP_FAILED_..." of macOS 11 and later, empty otherwise
};

// The latest sessions of one analysis, oldest first; a log of more
// sessions than kMaxSessions keeps the last ones (a day of hourly backups
// has 24, and each session kept is a row's work for the history).
struct SessionList {
    static constexpr std::size_t kMaxSessions = 96;
    std::array<BackupSession, kMaxSessions> ring;
    std::size_t count = 0; // sessions seen, also those that fell out of the ring

    std::size_t size() const { return count < kMaxSessions ? count : kMaxSessions; }
    // Session i of size(), oldest first.
    const BackupSession& operator[](std::size_t i) const { return ring[(count - size() + i) % kMaxSessions]; }
};
