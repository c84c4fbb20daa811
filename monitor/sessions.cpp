#include "monitor/sessions.h"

#include "monitor/state.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// The line's first 19 bytes when they have the form of a time "YYYY-MM-DD
// HH:MM:SS" (its separators; the history reads the digits).
LogStamp StampOf(const ShortString& line)
{
    LogStamp stamp;
    const std::uint8_t* b = line.bytes.data();
    if (line.len < 19 || b[4] != '-' || b[7] != '-' || b[10] != ' ' || b[13] != ':' || b[16] != ':')
        return stamp;
    std::memcpy(stamp.text.data(), b, stamp.text.size());
    stamp.known = true;
    return stamp;
}

// Where `text` ends in the line, or npos.
std::size_t After(std::string_view line, std::string_view text)
{
    const std::size_t at = line.find(text);
    return at == std::string_view::npos ? at : at + text.size();
}

// The digits at the start of text, -1 when there are none.
std::int32_t LeadingNumber(std::string_view text)
{
    std::int32_t n = -1;
    for (std::size_t i = 0; i < text.size() && i < 9 && text[i] >= '0' && text[i] <= '9'; ++i)
        n = (n < 0 ? 0 : n * 10) + (text[i] - '0');
    return n;
}

// "BACKUP_FAILED_..." from `from` on, up to the first byte of no such name.
ShortString FailureName(std::string_view line, std::size_t from)
{
    const std::size_t at = line.find("BACKUP_FAILED_", from);
    if (at == std::string_view::npos)
        return {};
    std::size_t end = at;
    while (end < line.size()
        && (std::isupper(static_cast<unsigned char>(line[end])) != 0 || line[end] == '_'
            || (line[end] >= '0' && line[end] <= '9')))
        ++end;
    return ShortString::FromView(line.substr(at, end - at));
}

// The failure's number: "with error: 19", "failed (304: ...", "..._NETWORK (26)".
std::int32_t FailureCode(std::string_view line, std::size_t from)
{
    if (const std::size_t e = After(line.substr(from), "error"); e != std::string_view::npos) {
        std::string_view rest = line.substr(from + e);
        while (!rest.empty() && (rest.front() == ':' || rest.front() == ' '))
            rest.remove_prefix(1);
        return LeadingNumber(rest);
    }
    const std::size_t paren = line.find('(', from);
    return paren == std::string_view::npos ? -1 : LeadingNumber(line.substr(paren + 1));
}

// A line cut at 255 bytes may end inside a character: the bytes of one
// begun and not finished are left out.
std::string_view WholeCharacters(std::string_view text)
{
    std::size_t i = text.size();
    std::size_t continuing = 0;
    while (i > 0 && continuing < 3 && (static_cast<unsigned char>(text[i - 1]) & 0xC0) == 0x80) {
        --i;
        ++continuing;
    }
    if (i == 0)
        return text;
    const auto lead = static_cast<unsigned char>(text[i - 1]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return length > continuing + 1 ? text.substr(0, i - 1) : text;
}

BackupSession& Latest()
{
    return gSessions.ring[(gSessions.count - 1) % SessionList::kMaxSessions];
}

BackupSession& NewSession(const LogStamp& start)
{
    BackupSession& s = gSessions.ring[gSessions.count % SessionList::kMaxSessions];
    ++gSessions.count;
    s.start = start;
    s.end = LogStamp();
    s.kind = SessionKind::Unknown;
    s.result = SessionResult::Unknown;
    s.errorCode = -1;
    s.destination.len = 0;
    s.errorName.len = 0;
    return s;
}

// The session an end belongs to: the latest one of this read, or, when the
// read began after its start, one without a start (the history joins it to
// the session it began before).
BackupSession& Current()
{
    return gSessions.count > 0 ? Latest() : NewSession(LogStamp());
}

void End(const LogStamp& at, SessionResult result, std::int32_t code, const ShortString& name)
{
    BackupSession& s = Current();
    s.end = at;
    s.result = result;
    s.errorCode = code;
    s.errorName = name;
}

} // namespace

void StartSessions()
{
    gSessions.count = 0;
    gLastSuccessStamp = LogStamp();
}

void NoteSessionLine(LineMatches m, const ShortString& line)
{
    const LogStamp at = StampOf(line);
    if (!at.known)
        return;
    const std::string_view text = line.view();
    if ((m & (Bit(kPatStartingAutomatic) | Bit(kPatStartingManual) | Bit(kPatStartingWithMode))) != 0) {
        BackupSession& s = NewSession(at);
        if (Has(m, kPatStartingWithMode)) {
            const std::string_view mode = text.substr(After(text, "Starting backup with mode"));
            s.kind = mode.find("manual") != std::string_view::npos ? SessionKind::Manual
                : mode.find("automatic") != std::string_view::npos ? SessionKind::Automatic
                                                                   : SessionKind::Unknown;
        } else {
            s.kind = Has(m, kPatStartingManual) ? SessionKind::Manual : SessionKind::Automatic;
        }
        return;
    }
    if (Has(m, kPatBackingUp) || (Has(m, kPatBackingUpSpace) && Has(m, kPatVolumesTo))) {
        if (gSessions.count == 0 || Latest().result != SessionResult::Unknown || !Latest().destination.empty())
            return;
        std::size_t from = After(text, "Backing up to ");
        const bool volumes = from == std::string_view::npos;
        if (volumes)
            from = After(text, " volumes to ");
        if (from == std::string_view::npos)
            return;
        std::string_view destination = text.substr(from);
        // "Backing up 1 volumes to NAME (DEVICE,OPTIONS): MOUNT POINT" names
        // the destination before its details, which a line cut at 255
        // bytes may not hold whole.
        if (volumes)
            destination = destination.substr(0, destination.find(" ("));
        if (line.len == ShortString::kMax)
            destination = WholeCharacters(destination);
        while (!destination.empty() && (destination.back() == '\r' || destination.back() == ' '))
            destination.remove_suffix(1);
        Latest().destination = ShortString::FromView(destination);
        return;
    }
    if ((m & kSessionSuccesses) != 0) {
        End(at, SessionResult::Succeeded, -1, ShortString());
        gLastSuccessStamp = at;
        return;
    }
    if ((m & kSessionFailures) != 0) {
        const std::size_t from = std::min({text.find("Backup failed"), text.find("Failing backup"), text.size()});
        const ShortString name = FailureName(text, from);
        const std::int32_t code = FailureCode(text, from);
        const bool offline = (Has(m, kPatFailedWithError) && (code == 19 || code == 27))
            || name.view().find("_DISCONNECTED") != std::string_view::npos;
        End(at, offline ? SessionResult::Offline : SessionResult::Failed, code, name);
        return;
    }
    if (Has(m, kPatStoppingForEject)) {
        End(at, SessionResult::Offline, -1, ShortString());
        return;
    }
    if (Has(m, kPatNotStarting) && !Has(m, kPatAlreadyRunning) && !Has(m, kPatTooSoon)) {
        BackupSession& s = NewSession(at);
        s.kind = SessionKind::NotStarted;
        s.end = at;
        s.result = SessionResult::Offline;
    }
}
