#include "monitor/report.h"
#include "monitor/fetch.h"
#include "monitor/state.h"

#include "runtime/channels.h"
#include "runtime/encoding.h"
#include "runtime/windows.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The matcher finds patterns of kLong bytes or more through 4-byte windows
// of the line taken every kStride bytes, which is as far apart as they can
// be and still have one window fall inside any such pattern, at one of its
// first kStride offsets. A hash of the window picks a bit of a small
// filter; only a set bit leads to the patterns that have that window at
// that offset, whose first 8 bytes are compared at once, then the rest.
//
// A shorter pattern of 4 bytes or more ("Error") is found through its last
// 4 bytes, its key: each key is looked for at every position, sixteen at a
// time, and each hit checked against the patterns with that key. Patterns
// of fewer than 4 bytes are searched for on their own.
constexpr std::size_t kStride = 5;
constexpr std::size_t kLong = kStride + 3;
static_assert(kLong >= 8, "a long pattern holds the 8 bytes of its head");
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

// The first 8 bytes at p, all of which are there to read.
std::uint64_t Head(const std::uint8_t* p)
{
    std::uint64_t h;
    std::memcpy(&h, p, sizeof h);
    return h;
}

struct MatcherEntry {
    std::uint8_t pattern; // LinePattern
    std::uint8_t offset; // where the window lies in the pattern: 0 to kStride - 1
    std::uint64_t headBytes; // the pattern's first 8 bytes
};

using Bytes16 = std::uint8_t __attribute__((vector_size(16)));

Bytes16 Load16(const std::uint8_t* p)
{
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

struct ShortKey {
    std::array<std::uint8_t, 4> key;
    std::array<Bytes16, 4> spread; // each byte of the key in every lane
    std::vector<std::uint8_t> patterns; // each ends with the key
};

struct Matcher {
    std::array<std::uint64_t, kHashSize / 64> filter {};
    std::array<std::uint16_t, kHashSize + 1> bucketStart {}; // bucket h is entries[bucketStart[h], bucketStart[h + 1])
    std::vector<MatcherEntry> entries; // by bucket
    std::vector<ShortKey> keys;
    std::vector<std::uint8_t> tinyOnes; // patterns of fewer than 4 bytes

    Matcher()
    {
        std::array<std::vector<MatcherEntry>, kHashSize> buckets;
        for (const LinePatternText& p : kLinePatterns) {
            const auto* text = reinterpret_cast<const std::uint8_t*>(p.text.data());
            const auto pattern = static_cast<std::uint8_t>(p.pattern);
            if (p.text.size() < 4) {
                tinyOnes.push_back(pattern);
            } else if (p.text.size() < kLong) {
                std::array<std::uint8_t, 4> key {};
                std::memcpy(key.data(), text + p.text.size() - 4, 4);
                auto k = std::find_if(keys.begin(), keys.end(), [&key](const ShortKey& sk) { return sk.key == key; });
                if (k == keys.end()) {
                    k = keys.insert(keys.end(), ShortKey {key, {}, {}});
                    for (std::size_t b = 0; b < 4; ++b)
                        k->spread[b] = Bytes16 {} + key[b];
                }
                k->patterns.push_back(pattern);
            } else {
                for (std::uint8_t offset = 0; offset < kStride; ++offset) {
                    const std::uint32_t h = WindowHash(LoadWindow(text + offset));
                    filter[h / 64] |= std::uint64_t {1} << (h % 64);
                    buckets[h].push_back({pattern, offset, Head(text)});
                }
            }
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

using Bytes32 = std::uint8_t __attribute__((vector_size(32)));
using Words16 = std::uint64_t __attribute__((vector_size(16)));
using Words32 = std::uint64_t __attribute__((vector_size(32)));

// FindFirstKey for a fixed number of keys, so that the loop over them is
// unrolled and their bytes stay in registers, over vectors of type Vec
// (bytes), seen as Words (64-bit lanes) to test them.
// Always inlined, so that it is compiled for the instructions its caller
// may use.
template <typename Vec, typename Words, std::size_t kKeys>
[[gnu::always_inline]] inline std::size_t FindFirstOf(
    const std::uint8_t* bytes, std::size_t n, const std::array<std::uint32_t, kKeys>& keys)
{
    constexpr std::size_t kWidth = sizeof(Vec);
    // kWidth places at a time are tested on each key's first and last
    // byte; only a place that passes is compared whole.
    std::array<Vec, kKeys> first {};
    std::array<Vec, kKeys> last {};
    for (std::size_t k = 0; k < kKeys; ++k) {
        first[k] = Vec {} + static_cast<std::uint8_t>(keys[k]);
        last[k] = Vec {} + static_cast<std::uint8_t>(keys[k] >> 24);
    }
    const auto whole = [&](std::size_t at) {
        std::uint32_t word;
        std::memcpy(&word, bytes + at, 4);
        bool found = false;
#pragma GCC unroll 8
        for (const std::uint32_t key : keys)
            found = found || word == key;
        return found;
    };
    // The first place from i to i + kWidth - 1 that holds a key, or n.
    const auto places = [&](std::size_t i) {
        Vec b0;
        Vec b3;
        std::memcpy(&b0, bytes + i, kWidth);
        std::memcpy(&b3, bytes + i + 3, kWidth);
        Vec hit {};
#pragma GCC unroll 8
        for (std::size_t k = 0; k < kKeys; ++k)
            hit |= (b0 == first[k]) & (b3 == last[k]);
        const auto lanes = reinterpret_cast<Words>(hit);
        std::uint64_t any = 0;
        for (std::size_t l = 0; l < kWidth / 8; ++l)
            any |= lanes[l];
        if (any == 0)
            return n;
        for (std::size_t l = 0; l < kWidth / 8; ++l) {
            // Each passing place is a byte of ones; its lowest bit marks it.
            for (std::uint64_t m = lanes[l] & 0x0101010101010101ULL; m != 0; m &= m - 1) {
                const std::size_t at = i + 8 * l + static_cast<std::size_t>(__builtin_ctzll(m) / 8);
                if (whole(at))
                    return at;
            }
        }
        return n;
    };
    if (n < kWidth + 3) {
        for (std::size_t i = 0; i + 4 <= n; ++i)
            if (whole(i))
                return i;
        return n;
    }
    std::size_t i = 0;
    for (; i + kWidth + 3 <= n; i += kWidth)
        if (const std::size_t at = places(i); at != n)
            return at;
    // The last places are tested with the vector that ends at the end; the
    // ones it shares with the vector before hold no key.
    return i + 3 < n ? places(n - kWidth - 3) : n;
}

#if defined(__x86_64__)
// Twice as many places at a time on processors that have AVX2.
template <std::size_t kKeys>
[[gnu::target("avx2")]] std::size_t FindFirstOfWide(
    const std::uint8_t* bytes, std::size_t n, const std::array<std::uint32_t, kKeys>& keys)
{
    if (n < 32 + 3)
        return FindFirstOf<Bytes16, Words16, kKeys>(bytes, n, keys);
    return FindFirstOf<Bytes32, Words32, kKeys>(bytes, n, keys);
}
#endif

// FindFirstKey for texts that hold kKeys keys or fewer: the keys as words,
// on the widest vectors the processor has.
template <std::size_t kKeys>
std::size_t SearchKeys(const std::uint8_t* bytes, std::size_t n, std::span<const std::string_view> texts)
{
    std::array<std::uint32_t, kKeys> keys {};
    std::size_t k = 0;
    for (const std::string_view text : texts)
        if (text.size() == 4 && k < kKeys)
            std::memcpy(&keys[k++], text.data(), 4);
    // Room left over repeats the first key rather than look for zeros.
    for (std::size_t more = k; more < kKeys; ++more)
        keys[more] = keys[0];
#if defined(__x86_64__)
    static const bool wide = __builtin_cpu_supports("avx2") != 0;
    if (wide)
        return FindFirstOfWide<kKeys>(bytes, n, keys);
#endif
    return FindFirstOf<Bytes16, Words16, kKeys>(bytes, n, keys);
}

// Adds the short patterns that end with key's 4 bytes. padded holds the
// line's n bytes followed by at least 18 more, of any value.
LineMatches FindShortKey(const ShortKey& k, const std::uint8_t* padded, std::size_t n)
{
    LineMatches found = 0;
    for (std::size_t i = 0; i + 4 <= n; i += 16) {
        const Bytes16 hit = (Load16(padded + i) == k.spread[0]) & (Load16(padded + i + 1) == k.spread[1])
            & (Load16(padded + i + 2) == k.spread[2]) & (Load16(padded + i + 3) == k.spread[3]);
        std::uint64_t lanes[2];
        std::memcpy(lanes, &hit, sizeof lanes);
        if ((lanes[0] | lanes[1]) == 0)
            continue;
        // A hit at j means the key occupies j to j + 3.
        for (std::size_t j = i; j < i + 16 && j + 4 <= n; ++j) {
            if (std::memcmp(padded + j, k.key.data(), 4) != 0)
                continue;
            for (const std::uint8_t pattern : k.patterns) {
                const std::string_view text = kLinePatterns[pattern].text;
                const std::size_t before = text.size() - 4;
                if (j >= before && std::memcmp(padded + j - before, text.data(), before) == 0)
                    found |= LineMatches {1} << pattern;
            }
        }
    }
    return found;
}

} // namespace

LineMatches MatchLine(const ShortString& line)
{
    const Matcher& m = TheMatcher();
    const std::uint8_t* bytes = line.bytes.data();
    const std::size_t n = line.len;
    LineMatches found = 0;
    for (std::size_t i = 0; i + 4 <= n; i += kStride) {
        const std::uint32_t h = WindowHash(LoadWindow(bytes + i));
        if ((m.filter[h / 64] >> (h % 64) & 1) == 0)
            continue;
        for (std::uint16_t e = m.bucketStart[h]; e < m.bucketStart[h + 1]; ++e) {
            const MatcherEntry& entry = m.entries[e];
            if ((found >> entry.pattern & 1) != 0 || i < entry.offset)
                continue;
            const std::size_t start = i - entry.offset;
            const std::string_view text = kLinePatterns[entry.pattern].text;
            if (text.size() <= n - start && Head(bytes + start) == entry.headBytes
                && std::memcmp(bytes + start + 8, text.data() + 8, text.size() - 8) == 0)
                found |= LineMatches {1} << entry.pattern;
        }
    }
    if (!m.keys.empty()) {
        // The key search reads up to 18 bytes past the line: within the
        // string's own array for most lines, else from a copy with room.
        constexpr std::size_t kPast = 18;
        const std::uint8_t* padded = bytes;
        std::uint8_t copy[ShortString::kMax + kPast];
        if (n + kPast > line.bytes.size()) {
            std::memcpy(copy, bytes, n);
            std::memset(copy + n, 0, kPast);
            padded = copy;
        }
        for (const ShortKey& k : m.keys)
            found |= FindShortKey(k, padded, n);
    }
    for (const std::uint8_t k : m.tinyOnes)
        if (memmem(bytes, n, kLinePatterns[k].text.data(), kLinePatterns[k].text.size()) != nullptr)
            found |= LineMatches {1} << k;
    return found;
}

std::size_t FindFirstKey(const std::uint8_t* bytes, std::size_t n, std::span<const std::string_view> keys)
{
    switch (std::count_if(keys.begin(), keys.end(), [](std::string_view k) { return k.size() == 4; })) {
    case 0:
        return n;
    case 1:
        return SearchKeys<1>(bytes, n, keys);
    case 2:
        return SearchKeys<2>(bytes, n, keys);
    case 3:
        return SearchKeys<3>(bytes, n, keys);
    case 4:
        return SearchKeys<4>(bytes, n, keys);
    default:
        return SearchKeys<8>(bytes, n, keys);
    }
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

void StartReport(const ShortString& heading)
{
    // Room for a long report from the start: the address space is set
    // aside, and pages are taken only as lines fill them, so the lines of a
    // busy log are not copied over and over as the report grows.
    constexpr std::size_t kRoom = std::size_t {64} << 20;
    QzContainerReserve(gReport, kRoom);
    QzContainerSetStr(gReport, heading);
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
    if (gReportViewOff == 0)
        QzTextViewSetText(1, QzContainerToCF(gReport));
}

void AppendSpotlightNote()
{
    AppendReport({kCrLf, kCrLf, "     ************ NOTE ************", kCrLf,
        "Your Time Machine Backup drive may be conflicting with Spotlight Search indexing.", kCrLf, kCrLf,
        "Click on the Help Button and find \xE2\x80\x9CImporter Start failed\xE2\x80\x9D, for help on this topic.",
        kCrLf});
}

namespace {

// The first blank-separated field of text from pos (1-based) on: its
// position and length; pos past the end gives length 0.
std::pair<int, int> Field(const ShortString& text, int pos)
{
    while (pos <= text.len && text.at(pos) == ' ')
        ++pos;
    int end = pos;
    while (end <= text.len && text.at(end) != ' ')
        ++end;
    return {pos, end - pos};
}

bool AllDigits(const ShortString& text, std::pair<int, int> field)
{
    if (field.second == 0)
        return false;
    for (int i = field.first; i < field.first + field.second; ++i)
        if (!std::isdigit(text.at(i)))
            return false;
    return true;
}

// The process number of a listing line "uid pid command" when the process
// is this user's and its command is `log` (or a path ending in "/log")
// followed by " show --"; empty otherwise.
ShortString StaleLogProcess(const ShortString& line)
{
    const auto uid = Field(line, 1);
    const auto pid = Field(line, uid.first + uid.second);
    const auto command = Field(line, pid.first + pid.second);
    if (!AllDigits(line, uid) || !AllDigits(line, pid) || command.second == 0)
        return {};
    if (QzMid(line, uid.first, uid.second) != ShortString::FromView(std::to_string(getuid())))
        return {};
    const std::string_view name
        = line.view().substr(static_cast<std::size_t>(command.first - 1), static_cast<std::size_t>(command.second));
    if (name != "log" && !(name.size() > 4 && name.substr(name.size() - 4) == "/log"))
        return {};
    const std::string_view after = line.view().substr(static_cast<std::size_t>(command.first - 1 + command.second));
    if (after.substr(0, 8) != " show --")
        return {};
    return QzMid(line, pid.first, pid.second);
}

} // namespace

void KillStaleLogCommand()
{
    QzClose(1);
    // Owner, number and whole command line of every process, without
    // headings; the same options on macOS and Linux.
    QzOpenPipe(1, "ps -ax -o uid=,pid=,command=");
    QzSetPipeTimeLimit(1, TicksToMilliseconds(gPsLimitTicks));
    ShortString process;
    bool continuation = false; // the read continues a line longer than 255 bytes
    for (;;) {
        QzLineInput(1, gLogLine);
        // A command of this program's own, started ahead, is not stale.
        if (!continuation)
            process = StaleLogProcess(gLogLine);
        if (!process.empty() && QzOwnCommand(static_cast<long long>(QzVal(process))))
            process = ShortString();
        continuation = gLogLine.len == ShortString::kMax;
        if (!process.empty() || QzEof(1) != 0)
            break;
    }
    QzClose(1);
    if (!process.empty()) {
        QzOpenPipe(1, "kill " + process);
        QzClose(1);
    }
    gLogLine = ShortString();
}
