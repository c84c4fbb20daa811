#include "monitor/report.h"
#include "monitor/fetch.h"
#include "monitor/state.h"

#include "runtime/channels.h"
#include "runtime/windows.h"

#include <array>
#include <cctype>
#include <cstring>
#include <vector>

namespace {

// The matcher looks at every 4-byte window of a line once: a hash of the
// window picks a bit of a small filter, and only a set bit leads to the
// patterns whose first 4 bytes hash there, which are then compared whole.
// Patterns shorter than 4 bytes would be searched for on their own.
constexpr int kHashBits = 12;
constexpr std::uint32_t kHashSize = 1U << kHashBits;

std::uint32_t WindowHash(std::uint32_t window)
{
    return (window * 0x9E3779B1U) >> (32 - kHashBits);
}

std::uint32_t LoadWindow(const std::uint8_t* p)
{
    std::uint32_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

struct Matcher {
    std::array<std::uint64_t, kHashSize / 64> filter {};
    std::array<std::uint16_t, kHashSize + 1> bucketStart {}; // bucket h is entries[bucketStart[h], bucketStart[h + 1])
    std::vector<std::uint8_t> entries; // pattern numbers, by bucket
    std::vector<std::uint8_t> shortOnes; // patterns of fewer than 4 bytes

    Matcher()
    {
        std::array<std::vector<std::uint8_t>, kHashSize> buckets;
        for (const LinePatternText& p : kLinePatterns) {
            if (p.text.size() < 4) {
                shortOnes.push_back(static_cast<std::uint8_t>(p.pattern));
                continue;
            }
            const std::uint32_t h = WindowHash(LoadWindow(reinterpret_cast<const std::uint8_t*>(p.text.data())));
            filter[h / 64] |= std::uint64_t {1} << (h % 64);
            buckets[h].push_back(static_cast<std::uint8_t>(p.pattern));
        }
        for (std::uint32_t h = 0; h < kHashSize; ++h) {
            bucketStart[h] = static_cast<std::uint16_t>(entries.size());
            entries.insert(entries.end(), buckets[h].begin(), buckets[h].end());
        }
        bucketStart[kHashSize] = static_cast<std::uint16_t>(entries.size());
    }
};

const Matcher& TheMatcher()
{
    static const Matcher matcher;
    return matcher;
}

} // namespace

LineMatches MatchLine(const ShortString& line)
{
    const Matcher& m = TheMatcher();
    const std::uint8_t* bytes = line.bytes.data();
    const std::size_t n = line.len;
    LineMatches found = 0;
    for (std::size_t i = 0; i + 4 <= n; ++i) {
        const std::uint32_t h = WindowHash(LoadWindow(bytes + i));
        if ((m.filter[h / 64] >> (h % 64) & 1) == 0)
            continue;
        for (std::uint16_t e = m.bucketStart[h]; e < m.bucketStart[h + 1]; ++e) {
            const std::uint8_t k = m.entries[e];
            const std::string_view text = kLinePatterns[k].text;
            if ((found >> k & 1) == 0 && text.size() <= n - i && std::memcmp(bytes + i, text.data(), text.size()) == 0)
                found |= LineMatches {1} << k;
        }
    }
    for (const std::uint8_t k : m.shortOnes)
        if (memmem(bytes, n, kLinePatterns[k].text.data(), kLinePatterns[k].text.size()) != nullptr)
            found |= LineMatches {1} << k;
    return found;
}

ShortString LogShowCommand(const ShortString& head, const ShortString& rest)
{
    ShortString command = head;
    QzStrAppend(command, QzStringOf(1, 34));
    QzStrAppend(command, "com.apple.TimeMachine");
    QzStrAppend(command, QzStringOf(1, 34));
    QzStrAppend(command, QzStringOf(1, 39));
    QzStrAppend(command, rest);
    return command;
}

void SetStatusLine(const ShortString& text)
{
    const QString platformText = QzStrToCF(text);
    QzTextField(8, QzParamOmitted, &platformText, 0, {});
}

void AppendReport(std::initializer_list<ShortString> pieces)
{
    for (const ShortString& piece : pieces)
        QzContainerAppendStr(gReport, piece);
}

void AppendReportLine(const ShortString& line, bool gap)
{
    QzContainerAppendStr(gReport, line);
    gReport.bytes.append(gap ? "\r\n\r\n" : "\r\n");
}

void ShowReport()
{
    QzSetCurrentWindow(1);
    QzTextViewSetText(1, QzContainerToCF(gReport));
}

void AppendSpotlightNote()
{
    AppendReport({kCrLf, kCrLf, "     ************ NOTE ************", kCrLf,
        "Your Time Machine Backup drive may be conflicting with Spotlight Search indexing.", kCrLf, kCrLf,
        "Click on the Help Button and find \xE2\x80\x9CImporter Start failed\xE2\x80\x9D, for help on this topic.",
        kCrLf});
}

void KillStaleLogCommand()
{
    QzClose(1);
    QzOpenPipe(1, "ps -ax");
    bool found = false;
    for (;;) {
        QzLineInput(1, gLogLine);
        if (QzInstr(1, gLogLine, "log show --") != 0) {
            found = true;
            break;
        }
        if (QzEof(1) != 0)
            break;
    }
    if (found) {
        QzClose(1);
        // "ps -ax" right-aligns the process number, so a line may begin
        // with blanks; only a number is ever handed to the shell.
        int start = 1;
        while (start <= gLogLine.len && gLogLine.at(start) == ' ')
            ++start;
        const ShortString rest = QzMid(gLogLine, start, ShortString::kMax);
        const int blank = QzInstr(1, rest, " ");
        const ShortString process = blank > 1 ? QzLeft(rest, blank - 1) : ShortString();
        bool numeric = !process.empty();
        for (unsigned char c : process.view())
            numeric = numeric && std::isdigit(c);
        if (numeric)
            QzOpenPipe(1, "kill " + process);
    }
    QzClose(1);
    gLogLine = ShortString();
}
