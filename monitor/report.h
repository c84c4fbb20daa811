#pragma once

#include "runtime/shortstring.h"

#include <QString>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

// The CR LF pair that ends every line of the report.
inline const ShortString kCrLf = "\r\n";

// Every text the rules and the ignore lists look for in a line. One pass
// over a line (MatchLine) finds all of them at once; the rules then test
// the answers in their own order. To teach the analyses a new wording, add
// an enumerator below and its text, of 4 bytes or more, at the same place
// in kLinePatterns, then test Has(m, ...) in the rule that wants it;
// nothing else changes.
enum LinePattern : int {
    // Harmless lines of both days' logs, ignored before any rule looks.
    kPatRecovery,
    kPatRecoveryLower,
    kPatDeletingBackup,
    kPatUnmountedDiskInfo,
    kPatNotPermitted,
    kPatSnapshot,
    kPatSiblingLinks,
    kPatBackupLogWrite,
    kPatPriorityErrors,
    kPatPosixCode60,
    kPatStickyExclusion,
    kPatExclusionEvent,
    kPatConnectionInvalid,
    kPatRemoveAttribute,
    // Harmless in today's log only.
    kPatInProgress,
    kPatEmlxMissing,
    // What the rules look for.
    kPatLocalSnapshot,
    kPatErrorUpper,
    kPatErrorLower,
    kPatNotStarting,
    kPatAlreadyRunning,
    kPatTooSoon,
    kPatStoppingForEject,
    kPatBackingUp,
    kPatFailedWithError19,
    kPatFailedWithError27,
    kPatFailedWithError,
    kPatImporterFailed,
    kPatNullCopy,
    kPatToVolumes,
    kPatYesCopying,
    kPatCompletedSuccessfully,
    kPatCompletedBackup,
    kPatSucceeded,
    // The wording of macOS 11 and later, looked for only on those systems.
    kPatBackingUpSpace,
    kPatVolumesTo,
    kPatBackupFailed,
    kPatBackupFailedColon,
    kPatBackupFailedParen,
    kPatFailingBackupWith,
    kPatFailingWithName,
    kPatDisconnected,
    // Where a backup session begins, for the history of sessions.
    kPatStartingAutomatic,
    kPatStartingManual,
    kPatStartingWithMode,
    kPatCount
};

struct LinePatternText {
    LinePattern pattern;
    std::string_view text;
};

inline constexpr LinePatternText kLinePatterns[] = {
    {kPatRecovery, "Recovery"},
    {kPatRecoveryLower, "recovery"},
    {kPatDeletingBackup, "deleting backup"},
    {kPatUnmountedDiskInfo, "Couldn't get volume info for unmounted disk"},
    {kPatNotPermitted, "Operation not permitted"},
    {kPatSnapshot, "snapshot"},
    {kPatSiblingLinks, "Error iterating sibling links"},
    {kPatBackupLogWrite, "Error writing to backup log"},
    {kPatPriorityErrors, "Not prioritizing backups with priority errors"},
    {kPatPosixCode60, "Error Domain=NSPOSIXErrorDomain Code=60"},
    {kPatStickyExclusion, "Failed to read sticky exclusion"},
    {kPatExclusionEvent, "Injecting event for exclusion"},
    {kPatConnectionInvalid, "connection invalid"},
    {kPatRemoveAttribute, "Failed to remove attribute"},
    {kPatInProgress, "inprogress"},
    {kPatEmlxMissing, "emlx, error: 2 No such file or directory"},
    {kPatLocalSnapshot, "Created Time Machine local snapshot"},
    {kPatErrorUpper, "Error"},
    {kPatErrorLower, "error"},
    {kPatNotStarting, "Not starting scheduled Time Machine backup"},
    {kPatAlreadyRunning, "Backup already running"},
    {kPatTooSoon, "Less than 10 minutes since last backup"},
    {kPatStoppingForEject, "Stopping backup to allow disk to be unmounted or ejected"},
    {kPatBackingUp, "Backing up to"},
    {kPatFailedWithError19, "Backup failed with error: 19"},
    {kPatFailedWithError27, "Backup failed with error: 27"},
    {kPatFailedWithError, "Backup failed with error"},
    {kPatImporterFailed, "Importer start failed"},
    {kPatNullCopy, "SrcErr:YES Copying (null) to (null)"},
    {kPatToVolumes, "to /Volumes/"},
    {kPatYesCopying, "YES Copying "},
    {kPatCompletedSuccessfully, "Backup completed successfully"},
    {kPatCompletedBackup, "Completed backup"},
    {kPatSucceeded, "Backup succeeded"},
    {kPatBackingUpSpace, "Backing up "},
    {kPatVolumesTo, " volumes to"},
    {kPatBackupFailed, "Backup failed"},
    {kPatBackupFailedColon, "Backup failed: "},
    {kPatBackupFailedParen, "Backup failed ("},
    {kPatFailingBackupWith, "Failing backup with"},
    {kPatFailingWithName, "Failing backup with BACKUP_FAILED_"},
    {kPatDisconnected, "_DISCONNECTED"},
    {kPatStartingAutomatic, "Starting automatic backup"},
    {kPatStartingManual, "Starting manual backup"},
    {kPatStartingWithMode, "Starting backup with mode"},
};

constexpr bool LinePatternsInOrder()
{
    int i = 0;
    for (const LinePatternText& p : kLinePatterns)
        if (p.pattern != i++ || p.text.empty() || p.text.size() > 255)
            return false;
    return i == kPatCount;
}
static_assert(LinePatternsInOrder(), "kLinePatterns lists every LinePattern once, in enum order");
static_assert(kPatCount <= 64, "LineMatches holds one bit per pattern");

// One bit per LinePattern found in a line.
using LineMatches = std::uint64_t;

constexpr LineMatches Bit(LinePattern p)
{
    return LineMatches {1} << p;
}
constexpr bool Has(LineMatches m, LinePattern p)
{
    return (m & Bit(p)) != 0;
}

// The ignore list of both days, and today's with its two additions.
inline constexpr LineMatches kIgnoredBothDays = Bit(kPatInProgress) - 1;
inline constexpr LineMatches kIgnoredToday = kIgnoredBothDays | Bit(kPatInProgress) | Bit(kPatEmlxMissing);

// Which patterns the line holds anywhere (plain, case-sensitive, the
// same answers as QzInstr), found in one pass over its bytes.
LineMatches MatchLine(const ShortString& line);

// Where the first of the 4-byte keys begins in bytes[0, n), or n when none
// does. keys holds at most 8 texts of 4 bytes each.
std::size_t FindFirstKey(const std::uint8_t* bytes, std::size_t n, std::span<const std::string_view> keys);
// The same keys as words, laid out once for searches made again and again.
struct KeyWords {
    std::array<std::uint32_t, 8> words {}; // the room past count repeats the first
    std::size_t count = 0;
};
KeyWords PrepareKeys(std::span<const std::string_view> keys);
std::size_t FindFirstKey(const std::uint8_t* bytes, std::size_t n, const KeyWords& keys);

// Whether every pattern in wanted holds one of the keys, so that a text in
// which FindFirstKey finds none holds none of those patterns either.
constexpr bool KeysCover(LineMatches wanted, std::span<const std::string_view> keys)
{
    for (const LinePatternText& p : kLinePatterns) {
        if (!Has(wanted, p.pattern))
            continue;
        bool covered = false;
        for (const std::string_view key : keys)
            covered = covered || (key.size() == 4 && p.text.find(key) != std::string_view::npos);
        if (!covered)
            return false;
    }
    return true;
}

// head + '"com.apple.TimeMachine"' + "'" + rest, where head ends in
// "--predicate 'subsystem == ".
ShortString LogShowCommand(const ShortString& head, const ShortString& rest);

// Sets the status line (text label 8 of the current window).
void SetStatusLine(const ShortString& text);
// Empties gReport for a new analysis and puts the heading in.
void StartReport(const ShortString& heading);
// Appends each piece to gReport in turn. Pieces are appended one by one,
// never joined into one counted string first, so a 255-byte line keeps the
// line ends that follow it.
void AppendReport(std::initializer_list<ShortString> pieces);
// Appends line and one CR LF (two with gap) to gReport, copying nothing else.
void AppendReportLine(const ShortString& line, bool gap);
