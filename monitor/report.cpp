#include "monitor/report.h"
#include "monitor/fetch.h"
#include "monitor/state.h"

#include "runtime/channels.h"
#include "runtime/encoding.h"
#include "runtime/windows.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstring>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// The matcher looks at every place of a line at once, thirty-two at a time
// where the processor can, for the places where some pattern's window could
// begin: 4 bytes of the pattern that few other patterns hold, which makes
// them rare in log lines too. The patterns are shared out among 16 buckets,
// a bit each. For each of a window's 4 bytes, one table says which buckets
// allow each low half-byte and another which allow each high one: a place
// where all eight looks allow a bucket is a candidate, and the bucket's
// patterns whose window is the place's 4 bytes are compared whole. The
// tables let through some places that hold no window (a bucket's halves
// mix), never miss one. Short lines and processors without the vectors use
// tables of whole bytes, one place at a time.
constexpr std::size_t kWindow = 4;
constexpr std::size_t kBuckets = 16;
constexpr std::size_t kSets = kBuckets / 8; // of 8 buckets, a byte's bits each
constexpr std::size_t kLanes = 32;
using BucketBits = std::uint16_t;

constexpr bool PatternsHoldAWindow()
{
    for (const LinePatternText& p : kLinePatterns)
        if (p.text.size() < kWindow)
            return false;
    return true;
}
static_assert(PatternsHoldAWindow(), "every pattern holds the 4 bytes the matcher looks for first");

std::uint32_t LoadWindow(const void* p)
{
    std::uint32_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

struct Candidate {
    std::uint32_t window;
    std::uint8_t offset; // where the window lies in the pattern
    std::uint8_t pattern; // LinePattern
};

// The half-bytes a bucket's windows hold at each of the 4 places, a bit each.
struct Halves {
    std::array<std::uint16_t, kWindow> low {};
    std::array<std::uint16_t, kWindow> high {};

    void Add(std::string_view window)
    {
        for (std::size_t k = 0; k < kWindow; ++k) {
            low[k] |= static_cast<std::uint16_t>(1U << (static_cast<std::uint8_t>(window[k]) & 15U));
            high[k] |= static_cast<std::uint16_t>(1U << (static_cast<std::uint8_t>(window[k]) >> 4));
        }
    }
    // How many 4-byte texts the bucket lets through.
    long Through() const
    {
        long through = 1;
        for (std::size_t k = 0; k < kWindow; ++k)
            through *= std::popcount(low[k]) * std::popcount(high[k]);
        return through;
    }
};

struct Matcher {
    // For buckets 8 * set to 8 * set + 7 and the window's byte k: the
    // buckets that allow each low (high) half, the 16 entries twice over,
    // once for each half of a 32-byte vector.
    std::array<std::array<std::array<std::uint8_t, 2 * 16>, kWindow>, kSets> lowHalf {};
    std::array<std::array<std::array<std::uint8_t, 2 * 16>, kWindow>, kSets> highHalf {};
    std::array<std::array<BucketBits, 256>, kWindow> wholeByte {}; // the buckets that allow each byte
    std::array<std::vector<Candidate>, kBuckets> buckets;

    Matcher()
    {
        // Each pattern's window is the one the fewest patterns hold, the
        // first such: every window of every pattern, once for each pattern
        // that holds it, in order.
        std::vector<std::pair<std::uint32_t, std::uint8_t>> held;
        for (const LinePatternText& p : kLinePatterns)
            for (std::size_t o = 0; o + kWindow <= p.text.size(); ++o)
                held.emplace_back(LoadWindow(p.text.data() + o), p.pattern);
        std::sort(held.begin(), held.end());
        held.erase(std::unique(held.begin(), held.end()), held.end());
        const auto holders = [&held](std::string_view window) {
            const std::uint32_t w = LoadWindow(window.data());
            const auto [first, last]
                = std::equal_range(held.begin(), held.end(), std::pair<std::uint32_t, std::uint8_t> {w, 0},
                    [](const auto& a, const auto& b) { return a.first < b.first; });
            return last - first;
        };
        std::vector<std::pair<std::string_view, Candidate>> byWindow;
        for (const LinePatternText& p : kLinePatterns) {
            std::size_t best = 0;
            auto fewest = holders(p.text.substr(0, kWindow));
            for (std::size_t o = 1; o + kWindow <= p.text.size() && fewest > 1; ++o)
                if (const auto h = holders(p.text.substr(o, kWindow)); h < fewest) {
                    fewest = h;
                    best = o;
                }
            const std::string_view window = p.text.substr(best, kWindow);
            byWindow.push_back({window,
                {LoadWindow(window.data()), static_cast<std::uint8_t>(best), static_cast<std::uint8_t>(p.pattern)}});
        }
        std::sort(byWindow.begin(), byWindow.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        // Each window goes to the bucket that lets through the fewest more
        // texts with it, an empty one while there is one.
        std::array<Halves, kBuckets> halves;
        std::size_t bucket = 0;
        for (std::size_t i = 0; i < byWindow.size(); ++i) {
            const std::string_view window = byWindow[i].first;
            if (i == 0 || window != byWindow[i - 1].first) {
                long fewest = 0;
                for (std::size_t b = 0; b < kBuckets; ++b) {
                    Halves with = halves[b];
                    with.Add(window);
                    const long more = buckets[b].empty() ? 0 : with.Through() - halves[b].Through();
                    if (b == 0 || more < fewest) {
                        fewest = more;
                        bucket = b;
                    }
                    if (buckets[b].empty())
                        break;
                }
                halves[bucket].Add(window);
            }
            buckets[bucket].push_back(byWindow[i].second);
            const auto bit = static_cast<BucketBits>(1U << bucket);
            const auto setBit = static_cast<std::uint8_t>(1U << (bucket % 8));
            for (std::size_t k = 0; k < kWindow; ++k) {
                const auto byte = static_cast<std::uint8_t>(window[k]);
                wholeByte[k][byte] |= bit;
                for (std::size_t half = 0; half < 2; ++half) {
                    lowHalf[bucket / 8][k][16 * half + (byte & 15U)] |= setBit;
                    highHalf[bucket / 8][k][16 * half + (byte >> 4)] |= setBit;
                }
            }
        }
    }
};

const Matcher& TheMatcher()
{
    static const Matcher matcher;
    return matcher;
}

// Adds the patterns of the given buckets whose window lies at p, which the
// line's n bytes hold.
void CompareCandidates(
    const Matcher& m, const std::uint8_t* bytes, std::size_t n, std::size_t p, unsigned bits, LineMatches& found)
{
    const std::uint32_t window = LoadWindow(bytes + p);
    for (; bits != 0; bits &= bits - 1)
        for (const Candidate& c : m.buckets[static_cast<std::size_t>(__builtin_ctz(bits))]) {
            if (c.window != window || p < c.offset || (found >> c.pattern & 1) != 0)
                continue;
            const std::size_t start = p - c.offset;
            const std::string_view text = kLinePatterns[c.pattern].text;
            if (text.size() <= n - start && std::memcmp(bytes + start, text.data(), text.size()) == 0)
                found |= LineMatches {1} << c.pattern;
        }
}

// One place at a time, from `from` on.
LineMatches MatchPlaces(
    const Matcher& m, const std::uint8_t* bytes, std::size_t n, std::size_t from = 0, LineMatches found = 0)
{
    for (std::size_t p = from; p + kWindow <= n; ++p) {
        const unsigned bits = m.wholeByte[0][bytes[p]] & m.wholeByte[1][bytes[p + 1]] & m.wholeByte[2][bytes[p + 2]]
            & m.wholeByte[3][bytes[p + 3]];
        if (bits != 0)
            CompareCandidates(m, bytes, n, p, bits, found);
    }
    return found;
}

#if defined(__x86_64__)
// Thirty-two places at a time. The last vector ends with the line, and the
// places it shares with the one before are not looked at twice; a last few
// places are looked at one at a time instead.
[[gnu::target("avx2")]] LineMatches MatchWide(const Matcher& m, const std::uint8_t* bytes, std::size_t n)
{
    constexpr std::size_t kSpan = kLanes + kWindow - 1; // the bytes a vector's windows cover
    if (n < kSpan)
        return MatchPlaces(m, bytes, n);
    LineMatches found = 0;
    const __m256i halfMask = _mm256_set1_epi8(15);
    constexpr std::size_t kFew = 8;
    for (std::size_t i = 0;; i += kLanes) {
        if (i > n - kSpan && n - (kWindow - 1) - i <= kFew)
            return MatchPlaces(m, bytes, n, i, found);
        const std::size_t at = std::min(i, n - kSpan);
        __m256i allowed[kSets];
        for (__m256i& a : allowed)
            a = _mm256_set1_epi8(-1);
#pragma GCC unroll 4
        for (std::size_t k = 0; k < kWindow; ++k) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + at + k));
            const __m256i lowHalves = v & halfMask;
            const __m256i highHalves = _mm256_srli_epi16(v, 4) & halfMask;
            for (std::size_t set = 0; set < kSets; ++set)
                allowed[set]
                    &= _mm256_shuffle_epi8(
                           _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m.lowHalf[set][k].data())), lowHalves)
                    & _mm256_shuffle_epi8(
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m.highHalf[set][k].data())), highHalves);
        }
        __m256i any = allowed[0];
        for (std::size_t set = 1; set < kSets; ++set)
            any |= allowed[set];
        auto places = ~static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(any, __m256i {})));
        places &= ~std::uint32_t {0} << (i - at);
        if (places != 0) {
            alignas(32) std::array<std::array<std::uint8_t, kLanes>, kSets> bits;
            for (std::size_t set = 0; set < kSets; ++set)
                _mm256_store_si256(reinterpret_cast<__m256i*>(bits[set].data()), allowed[set]);
            for (; places != 0; places &= places - 1) {
                const auto j = static_cast<std::size_t>(__builtin_ctz(places));
                unsigned candidates = 0;
                for (std::size_t set = 0; set < kSets; ++set)
                    candidates |= static_cast<unsigned>(bits[set][j]) << (8 * set);
                CompareCandidates(m, bytes, n, at + j, candidates, found);
            }
        }
        if (at == n - kSpan)
            return found;
    }
}
#endif

using Bytes16 = std::uint8_t __attribute__((vector_size(16)));
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

// FindFirstKey for kKeys keys, the first of the words, on the widest
// vectors the processor has.
template <std::size_t kKeys>
std::size_t SearchKeys(const std::uint8_t* bytes, std::size_t n, const std::array<std::uint32_t, 8>& words)
{
    std::array<std::uint32_t, kKeys> keys {};
    std::copy_n(words.begin(), kKeys, keys.begin());
#if defined(__x86_64__)
    static const bool wide = __builtin_cpu_supports("avx2") != 0;
    if (wide)
        return FindFirstOfWide<kKeys>(bytes, n, keys);
#endif
    return FindFirstOf<Bytes16, Words16, kKeys>(bytes, n, keys);
}

} // namespace

LineMatches MatchLine(const ShortString& line)
{
    const Matcher& m = TheMatcher();
#if defined(__x86_64__)
    static const bool wide = __builtin_cpu_supports("avx2") != 0;
    if (wide)
        return MatchWide(m, line.bytes.data(), line.len);
#endif
    return MatchPlaces(m, line.bytes.data(), line.len);
}

KeyWords PrepareKeys(std::span<const std::string_view> keys)
{
    KeyWords prepared;
    for (const std::string_view key : keys)
        if (key.size() == 4 && prepared.count < prepared.words.size())
            std::memcpy(&prepared.words[prepared.count++], key.data(), 4);
    // Room left over repeats the first key rather than look for zeros.
    for (std::size_t more = prepared.count; more < prepared.words.size(); ++more)
        prepared.words[more] = prepared.words[0];
    return prepared;
}

std::size_t FindFirstKey(const std::uint8_t* bytes, std::size_t n, const KeyWords& keys)
{
    switch (keys.count) {
    case 0:
        return n;
    case 1:
        return SearchKeys<1>(bytes, n, keys.words);
    case 2:
        return SearchKeys<2>(bytes, n, keys.words);
    case 3:
        return SearchKeys<3>(bytes, n, keys.words);
    case 4:
        return SearchKeys<4>(bytes, n, keys.words);
    case 5:
        return SearchKeys<5>(bytes, n, keys.words);
    default:
        return SearchKeys<8>(bytes, n, keys.words);
    }
}

std::size_t FindFirstKey(const std::uint8_t* bytes, std::size_t n, std::span<const std::string_view> keys)
{
    return FindFirstKey(bytes, n, PrepareKeys(keys));
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

std::string_view FieldText(const ShortString& text, std::pair<int, int> field)
{
    return text.view().substr(static_cast<std::size_t>(field.first - 1), static_cast<std::size_t>(field.second));
}

bool AllDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(c) != 0; });
}

long long Number(std::string_view digits)
{
    long long n = 0;
    for (const char c : digits.substr(0, 12))
        n = n * 10 + (c - '0');
    return n;
}

// Seconds of an elapsed time as ps writes it, [[dd-]hh:]mm:ss; -1 when the
// text is not one.
long long ElapsedSeconds(std::string_view text)
{
    long long days = 0;
    if (const auto dash = text.find('-'); dash != std::string_view::npos) {
        if (!AllDigits(text.substr(0, dash)))
            return -1;
        days = Number(text.substr(0, dash));
        text.remove_prefix(dash + 1);
    }
    long long seconds = 0;
    int parts = 0;
    for (std::size_t from = 0; from <= text.size(); ++parts) {
        const std::size_t colon = std::min(text.find(':', from), text.size());
        const std::string_view part = text.substr(from, colon - from);
        if (!AllDigits(part) || parts == 3)
            return -1;
        seconds = seconds * 60 + Number(part);
        from = colon + 1;
    }
    return parts < 2 ? -1 : days * 86400 + seconds;
}

// One line of the process listing "uid pid ppid elapsed command".
struct ListedProcess {
    long long pid = 0;
    long long ppid = 0;
    long long seconds = -1; // how long it has run; -1 unknown
    bool mine = false; // it runs as this user
    bool logShow = false; // its command is `log` (or a path ending in "/log") followed by " show --"
    bool shell = false; // its command is sh (or a path ending in "/sh") running a command string
};

bool ParseListing(const ShortString& line, ListedProcess* p)
{
    const auto uid = Field(line, 1);
    const auto pid = Field(line, uid.first + uid.second);
    const auto ppid = Field(line, pid.first + pid.second);
    const auto elapsed = Field(line, ppid.first + ppid.second);
    const auto command = Field(line, elapsed.first + elapsed.second);
    if (!AllDigits(FieldText(line, uid)) || !AllDigits(FieldText(line, pid)) || !AllDigits(FieldText(line, ppid))
        || command.second == 0)
        return false;
    p->pid = Number(FieldText(line, pid));
    p->ppid = Number(FieldText(line, ppid));
    p->seconds = ElapsedSeconds(FieldText(line, elapsed));
    p->mine = FieldText(line, uid) == std::to_string(getuid());
    const std::string_view name = FieldText(line, command);
    const std::string_view after = line.view().substr(static_cast<std::size_t>(command.first - 1 + command.second));
    const auto named = [name](std::string_view program) {
        return name == program
            || (name.size() > program.size() && name.ends_with(program)
                && name[name.size() - program.size() - 1] == '/');
    };
    p->logShow = named("log") && after.starts_with(" show --");
    p->shell = named("sh") && after.starts_with(" -c ");
    return true;
}

// The longest a live log command of any running copy of the program takes:
// the longer of the two fetch limits after its stamp, and a few seconds
// for the listing's own rounding.
long long LiveCommandSeconds()
{
    return (std::max(gTodayLimitTicks, gYesterdayLimitTicks) + 60) / 60 + 5;
}

} // namespace

void KillStaleLogCommand()
{
    QzClose(1);
    // A remote Mac's log command is not listed here, and the ssh commands
    // that are may watch other Macs. There a command whose ssh has gone
    // ends by itself: the connection's end closes its output, and its next
    // write ends it.
    if (!gRemoteHost.empty())
        return;
    // Owner, number, parent, running time and whole command line of every
    // process, without headings; the same options on macOS and Linux.
    QzOpenPipe(1, "ps -ax -o uid=,pid=,ppid=,etime=,command=");
    QzSetPipeTimeLimit(1, TicksToMilliseconds(gPsLimitTicks));
    std::vector<ListedProcess> processes;
    bool continuation = false; // the read continues a line longer than 255 bytes
    do {
        QzLineInput(1, gLogLine);
        ListedProcess p;
        if (!continuation && ParseListing(gLogLine, &p))
            processes.push_back(p);
        continuation = gLogLine.len == ShortString::kMax;
    } while (QzEof(1) == 0);
    QzClose(1);
    // A log command is stale when nothing waits for its output any more:
    // it, or the shell that runs its pipeline, was left to the system when
    // the program that started it ended; or it has run longer than any live
    // fetch may. Another running copy's command is neither, and a command
    // of this program's own is never stale.
    const auto parentOf = [&processes](long long pid) -> const ListedProcess* {
        for (const ListedProcess& p : processes)
            if (p.pid == pid)
                return &p;
        return nullptr;
    };
    ShortString process;
    for (const ListedProcess& p : processes) {
        if (!p.mine || !p.logShow || QzOwnCommand(p.pid))
            continue;
        const ListedProcess* parent = parentOf(p.ppid);
        const bool orphaned = p.ppid == 1 || (parent && parent->shell && parent->ppid == 1);
        if (orphaned || p.seconds > LiveCommandSeconds()) {
            process = ShortString::FromView(std::to_string(p.pid));
            break;
        }
    }
    if (!process.empty()) {
        QzOpenPipe(1, "kill " + process);
        QzClose(1);
    }
    gLogLine = ShortString();
}
