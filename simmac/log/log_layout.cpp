#include "simmac/log/log_layout.h"

#include <ctime>

namespace tmlog {

const char* const kHeaderLine
    = "Timestamp                       Thread     Type        Activity             PID    TTL  ";

namespace {

const char* TypeName(EntryType type)
{
    switch (type) {
    case EntryType::Default:
        return "Default";
    case EntryType::Info:
        return "Info";
    case EntryType::Debug:
        return "Debug";
    case EntryType::Error:
        return "Error";
    case EntryType::Fault:
        return "Fault";
    }
    return "Default";
}

void AppendPadded(std::string& line, const std::string& field, std::size_t width)
{
    line += field;
    if (field.size() < width)
        line.append(width - field.size(), ' ');
    line += ' ';
}

std::string Hex(std::uint32_t value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", value);
    return buf;
}

} // namespace

LocalTime ToLocal(std::int64_t seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm {};
    localtime_r(&t, &tm);
    LocalTime lt;
    lt.year = tm.tm_year + 1900;
    lt.month = tm.tm_mon + 1;
    lt.day = tm.tm_mday;
    lt.hour = tm.tm_hour;
    lt.minute = tm.tm_min;
    lt.second = tm.tm_sec;
    lt.offsetSeconds = tm.tm_gmtoff;
    return lt;
}

std::int64_t FromLocal(int year, int month, int day, int hour, int minute, int second)
{
    std::tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
}

std::string FormatDateTime(const LocalTime& t)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return buf;
}

std::string FormatOffset(long offsetSeconds)
{
    const char sign = offsetSeconds < 0 ? '-' : '+';
    const long minutes = (offsetSeconds < 0 ? -offsetSeconds : offsetSeconds) / 60;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%02ld%02ld", sign, (minutes / 60) % 100, minutes % 60);
    return buf;
}

std::string FormatStamp(const Moment& m)
{
    // The local time is looked up once per local hour: clocks change on the
    // hour, so within one the minutes and seconds follow by arithmetic.
    static std::int64_t hourStart = -1;
    static LocalTime hour;
    std::int64_t into = m.seconds - hourStart;
    if (hourStart < 0 || into < 0 || into >= 3600) {
        hour = ToLocal(m.seconds);
        hourStart = m.seconds - hour.minute * 60 - hour.second;
        into = m.seconds - hourStart;
    }
    LocalTime t = hour;
    t.minute = static_cast<int>(into / 60);
    t.second = static_cast<int>(into % 60);
    std::string s = FormatDateTime(t);
    s += '.';
    for (int div = 100000, v = m.micros; div > 0; div /= 10)
        s += static_cast<char>('0' + (v / div) % 10);
    s += FormatOffset(t.offsetSeconds);
    return s;
}

std::string FormatEntry(const Entry& e)
{
    std::string line = FormatStamp(e.when);
    line.reserve(160 + e.message.size());
    line += ' ';
    AppendPadded(line, Hex(e.thread), 10);
    AppendPadded(line, TypeName(e.type), 11);
    AppendPadded(line, Hex(e.activity), 20);
    AppendPadded(line, std::to_string(e.pid), 6);
    AppendPadded(line, "0", 4);
    line += e.process;
    line += ": (TimeMachine) [com.apple.TimeMachine:";
    line += e.category;
    line += "] ";
    line += e.message;
    line += '\n';
    return line;
}

void WritePreamble(std::FILE* out)
{
    std::fputs("Filtering the log data using \"subsystem == \"com.apple.TimeMachine\"\"\n", out);
    std::fputs("Skipping debug messages, pass --debug to include.\n", out);
    std::fputs(kHeaderLine, out);
    std::fputc('\n', out);
}

void WriteClosing(std::FILE* out, const Statistics& stats)
{
    std::fputs(std::string(116, '-').c_str(), out);
    std::fputc('\n', out);
    std::fprintf(out, "Log      - Default: %10ld, Info: %16ld, Debug: %13ld, Error: %10ld, Fault: %10ld\n",
        stats.counts[0], stats.counts[1], stats.counts[2], stats.counts[3], stats.counts[4]);
    std::fprintf(out, "Activity - Create: %11d, Transition: %10d, Actions: %11d\n", 0, 0, 0);
}

} // namespace tmlog
