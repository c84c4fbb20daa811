#pragma once

#include "runtime/shortstring.h"

#include <cstdint>

// How long ago the last backup succeeded, in words: from the time of the
// last success line of today's analysis ("just now", "5 minutes ago",
// "2 hours ago"), else from the day the settings hold ("today",
// "yesterday", "3 days ago"); "unknown" when the settings hold no day.
ShortString LastBackupAge();
// The same words for a success at successMs, or (when successMs is 0) on
// the day of the year `day`, seen at nowMs on the day of the year `today`.
ShortString BackupAgeWords(std::int64_t successMs, std::int16_t day, std::int64_t nowMs, std::int16_t today);
