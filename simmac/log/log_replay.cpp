#include "simmac/log/log_replay.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sys/stat.h>

namespace tmlog {

namespace {

// Enough of a line to recognise a stamp ("YYYY-MM-DD HH:MM:SS", a fraction
// of up to 9 digits, a zone offset) or a line of the layout around the
// entries; the rest of a line is streamed, never held in memory.
constexpr std::size_t kHeadSize = 64;

struct Stamp {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::size_t zonePos = 0; // position of the zone's sign; 0 = no zone
    std::int64_t epoch = 0;
};

bool Digits(const std::string& s, std::size_t pos, std::size_t count, int& value)
{
    value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (i >= s.size() || s[i] < '0' || s[i] > '9')
            return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, int month, int day)
{
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

bool ParseStamp(const std::string& head, Stamp& s)
{
    if (head.size() < 19 || head[4] != '-' || head[7] != '-' || head[10] != ' ' || head[13] != ':' || head[16] != ':')
        return false;
    if (!Digits(head, 0, 4, s.year) || !Digits(head, 5, 2, s.month) || !Digits(head, 8, 2, s.day)
        || !Digits(head, 11, 2, s.hour) || !Digits(head, 14, 2, s.minute) || !Digits(head, 17, 2, s.second))
        return false;
    if (s.year < 1970 || s.month < 1 || s.month > 12 || s.day < 1 || s.day > 31 || s.hour > 23 || s.minute > 59
        || s.second > 60)
        return false;
    std::size_t pos = 19;
    if (pos < head.size() && head[pos] == '.') {
        ++pos;
        while (pos < head.size() && pos < 30 && head[pos] >= '0' && head[pos] <= '9')
            ++pos;
    }
    int zone = 0;
    s.zonePos = 0;
    if (pos < head.size() && (head[pos] == '+' || head[pos] == '-') && Digits(head, pos + 1, 4, zone)) {
        s.zonePos = pos;
        const int offset = (zone / 100 * 60 + zone % 100) * 60;
        const std::int64_t utc
            = DaysFromCivil(s.year, s.month, s.day) * 86400 + s.hour * 3600 + s.minute * 60 + s.second;
        s.epoch = head[pos] == '+' ? utc - offset : utc + offset;
    } else {
        s.epoch = FromLocal(s.year, s.month, s.day, s.hour, s.minute, s.second);
    }
    return true;
}

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The lines `log show` prints around the entries.
bool IsLayoutLine(const std::string& head)
{
    if (StartsWith(head, "Filtering the log data") || StartsWith(head, "Skipping ") || StartsWith(head, "Timestamp ")
        || StartsWith(head, "Log      - ") || StartsWith(head, "Activity - "))
        return true;
    if (head.size() < 10)
        return false;
    for (const char c : head)
        if (c != '-' && c != '\r')
            return false;
    return true;
}

// Reads a file line by line: the first kHeadSize bytes of each line are
// returned, the rest is then copied or skipped. Only '\n' ends a line.
class LineReader {
public:
    explicit LineReader(std::FILE* f)
        : f_(f)
    {
    }

    // False at the end of the file. `ended` tells whether the head holds the
    // whole line; the '\n' itself is never part of the head.
    bool ReadHead(std::string& head)
    {
        head.clear();
        ended_ = false;
        newline_ = false;
        int c = 0;
        while (head.size() < kHeadSize && (c = std::getc(f_)) != EOF) {
            if (c == '\n') {
                ended_ = true;
                newline_ = true;
                return true;
            }
            head += static_cast<char>(c);
        }
        if (c == EOF) {
            ended_ = true;
            return !head.empty();
        }
        return true;
    }

    // Copies the rest of the line and its '\n' to out, or drops them when
    // out is null.
    void FinishLine(std::FILE* out)
    {
        if (!ended_) {
            char buf[8192];
            while (!ended_) {
                std::size_t n = 0;
                int c = 0;
                while (n < sizeof buf && (c = std::getc(f_)) != EOF && c != '\n')
                    buf[n++] = static_cast<char>(c);
                if (c == EOF || c == '\n') {
                    ended_ = true;
                    newline_ = c == '\n';
                }
                if (out)
                    std::fwrite(buf, 1, n, out);
            }
        }
        if (out && newline_)
            std::fputc('\n', out);
    }

private:
    std::FILE* f_;
    bool ended_ = true;
    bool newline_ = false;
};

std::FILE* OpenReplay(std::FILE* err, const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    // A folder opens for reading here, and only its reads fail.
    struct stat info { };
    if (f && fstat(fileno(f), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(f);
        f = nullptr;
        errno = EISDIR;
    }
    if (!f)
        std::fprintf(err, "log: cannot read the recorded log %s: %s\n", path.c_str(), std::strerror(errno));
    return f;
}

void WriteShifted(
    std::FILE* out, const std::string& head, const Stamp& s, const std::string& dateTime, std::int64_t newEpoch)
{
    std::string line = dateTime;
    if (s.zonePos != 0) {
        line.append(head, 19, s.zonePos - 19);
        line += FormatOffset(ToLocal(newEpoch).offsetSeconds);
        line.append(head, s.zonePos + 5, std::string::npos);
    } else {
        line.append(head, 19, std::string::npos);
    }
    std::fwrite(line.data(), 1, line.size(), out);
}

} // namespace

int WriteReplay(std::FILE* out, std::FILE* err, const ReplayRequest& request)
{
    std::string head;
    Stamp stamp;

    // First pass: the latest entry, which the last-hours window moves to now.
    std::int64_t latest = std::numeric_limits<std::int64_t>::min();
    if (!request.yesterday) {
        std::FILE* f = OpenReplay(err, request.path);
        if (!f)
            return 66;
        LineReader reader(f);
        while (reader.ReadHead(head)) {
            if (ParseStamp(head, stamp) && stamp.epoch > latest)
                latest = stamp.epoch;
            reader.FinishLine(nullptr);
        }
        std::fclose(f);
    }
    const std::int64_t shift = latest == std::numeric_limits<std::int64_t>::min() ? 0 : request.now.seconds - latest;

    const LocalTime today = ToLocal(request.now.seconds);
    const LocalTime yesterday = ToLocal(FromLocal(today.year, today.month, today.day - 1, 12, 0, 0));
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", yesterday.year, yesterday.month, yesterday.day);

    std::FILE* f = OpenReplay(err, request.path);
    if (!f)
        return 66;
    LineReader reader(f);
    bool keepContinuation = true; // lines before the first entry are kept
    while (reader.ReadHead(head)) {
        if (ParseStamp(head, stamp)) {
            std::int64_t newEpoch = 0;
            std::string dateTime;
            if (request.yesterday) {
                newEpoch
                    = FromLocal(yesterday.year, yesterday.month, yesterday.day, stamp.hour, stamp.minute, stamp.second);
                dateTime = std::string(date) + head.substr(10, 9);
            } else {
                newEpoch = stamp.epoch + shift;
                dateTime = FormatDateTime(ToLocal(newEpoch));
            }
            keepContinuation = request.yesterday
                || (newEpoch >= request.now.seconds - request.lastSeconds && newEpoch <= request.now.seconds);
            if (keepContinuation)
                WriteShifted(out, head, stamp, dateTime, newEpoch);
            reader.FinishLine(keepContinuation ? out : nullptr);
        } else if (IsLayoutLine(head)) {
            std::fwrite(head.data(), 1, head.size(), out);
            reader.FinishLine(out);
        } else {
            if (keepContinuation)
                std::fwrite(head.data(), 1, head.size(), out);
            reader.FinishLine(keepContinuation ? out : nullptr);
        }
    }
    std::fclose(f);
    return 0;
}

} // namespace tmlog
