#include "runtime/shortstring.h"

#include "runtime/alert.h"
#include "runtime/encoding.h"
#include "runtime/hooks.h"
#include "runtime/state.h"

#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

ShortString::ShortString(const char* text)
{
    *this = FromBytes(text, text ? std::strlen(text) : 0);
}

ShortString ShortString::FromBytes(const void* data, std::size_t size)
{
    ShortString s;
    s.len = static_cast<std::uint8_t>(std::min<std::size_t>(size, kMax));
    if (s.len > 0)
        std::memcpy(s.bytes.data(), data, s.len);
    return s;
}

ShortString operator+(ShortString a, const ShortString& b)
{
    QzStrAppend(a, b);
    return a;
}

std::ostream& operator<<(std::ostream& out, const ShortString& s)
{
    out << '\'';
    for (unsigned char c : s.view()) {
        if (c >= 32 && c < 127 && c != '\\')
            out << static_cast<char>(c);
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out << hex;
        }
    }
    return out << '\'';
}

static ShortString& SetResult(const ShortString& s)
{
    QzResultStr = s;
    return QzResultStr;
}

ShortString& QzStrTemp()
{
    if (gQzStk >= kQzStackSlots) {
        QzRuntimeAlert(
            QString::asprintf("Pascal String stack index ( gQzStk ) exceeds string stack size of %d.", kQzStackSlots),
            QStringLiteral(
                "If 'Source File Combining'( in Build Settings ) is turned OFF, try setting to Medium or Maximum"),
            true);
        std::abort(); // not reached: a fatal alert never returns
    }
    ++gQzStk;
    return gQzStackSlots[static_cast<std::size_t>(gQzStk - 1)];
}

void QzStrRelease(int count)
{
    gQzStk = static_cast<std::int16_t>(std::max(0, gQzStk - count));
}

ShortString& QzStrCopy(ShortString& dest, const ShortString& source)
{
    if (&dest != &source) {
        dest.len = source.len;
        std::memmove(dest.bytes.data(), source.bytes.data(), source.len);
    }
    return dest;
}

ShortString& QzStrAppend(ShortString& dest, const ShortString& source)
{
    const int n = dest.len;
    const int m = std::min<int>(source.len, ShortString::kMax - n);
    if (m > 0) {
        // memmove: appending a string to itself reads the bytes being extended.
        std::memmove(dest.bytes.data() + n, source.bytes.data(), static_cast<std::size_t>(m));
        dest.len = static_cast<std::uint8_t>(n + m);
    }
    return dest;
}

ShortString QzLeft(const ShortString& s, std::int64_t count)
{
    if (count < 1)
        return SetResult(ShortString());
    return SetResult(
        ShortString::FromBytes(s.bytes.data(), static_cast<std::size_t>(std::min<std::int64_t>(count, s.len))));
}

ShortString QzMid(const ShortString& s, std::int64_t pos, std::int64_t count)
{
    const std::int64_t length = s.len;
    const std::int64_t c = count < 1 ? 0 : std::min(count, length);
    if (pos < 1)
        return SetResult(ShortString::FromBytes(s.bytes.data(), static_cast<std::size_t>(c)));
    if (pos > length || c == 0)
        return SetResult(ShortString());
    const std::int64_t n = std::min(c, length - pos + 1);
    return SetResult(ShortString::FromBytes(s.bytes.data() + pos - 1, static_cast<std::size_t>(n)));
}

ShortString QzStringOf(std::int64_t count, int byteValue)
{
    ShortString s;
    if (count >= 1 && count <= ShortString::kMax) {
        s.len = static_cast<std::uint8_t>(count);
        std::memset(s.bytes.data(), byteValue & 0xFF, static_cast<std::size_t>(count));
    }
    return SetResult(s);
}

int QzLen(const ShortString& s)
{
    return s.len;
}

int QzInstr(std::int64_t start, const ShortString& text, const ShortString& pattern)
{
    if (start < 1)
        start = 1;
    const std::int64_t t = text.len;
    const std::int64_t p = pattern.len;
    if (start - 1 > t - p)
        return 0;
    if (p == 0)
        return static_cast<int>(start);
    // The first match in candidate order is what memmem finds.
    const std::uint8_t* tb = text.bytes.data();
    const void* hit = memmem(
        tb + start - 1, static_cast<std::size_t>(t - start + 1), pattern.bytes.data(), static_cast<std::size_t>(p));
    return hit ? static_cast<int>(static_cast<const std::uint8_t*>(hit) - tb + 1) : 0;
}

char* QzCString(ShortString& s)
{
    auto* raw = reinterpret_cast<unsigned char*>(&s);
    const int length = raw[0];
    for (int i = 0; i < length; ++i) {
        const unsigned char c = raw[i + 1];
        raw[i] = c == 0 ? 1 : c;
    }
    raw[length] = 0;
    return reinterpret_cast<char*>(raw);
}

int QzStrCompare(ShortString a, ShortString b)
{
    const int r = std::strcmp(QzCString(a), QzCString(b));
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

double QzVal(const ShortString& s)
{
    if (s.len == 0)
        return 0.0;
    ShortString kept;
    int radix = 0;
    int i = 1;
    const int length = s.len;
    while (i <= length && radix == 0) {
        const std::uint8_t c = s.at(i);
        const std::uint8_t next = i < length ? s.at(i + 1) : 0;
        if (c == '0') {
            if (next == 'x' || next == 'X') {
                radix = 16;
                i += 2;
            } else {
                radix = 10;
            }
        } else if (c == '&') {
            if (next == 'H' || next == 'h') {
                radix = 16;
                i += 2;
            } else if (next == 'O' || next == 'o') {
                radix = 8;
                i += 2;
            } else if (next == 'X' || next == 'x') {
                radix = 2;
                i += 2;
            } else {
                radix = 16;
                i += 1;
            }
        } else if (c == '.' || (c >= '1' && c <= '9')) {
            radix = 10;
        } else {
            QzStrAppend(kept, ShortString::FromBytes(&c, 1));
            ++i;
        }
    }
    if (i <= length)
        QzStrAppend(kept, ShortString::FromBytes(s.bytes.data() + i - 1, static_cast<std::size_t>(length - i + 1)));
    const char* text = QzCString(kept);
    if (radix == 10)
        return std::strtod(text, nullptr);
    return static_cast<double>(std::strtoull(text, nullptr, radix));
}

namespace {

// The integer part as "%ld" writes it. Beyond the range of a long, and for
// the infinities and NaN that QzVal reads from text such as "1e400", the
// double's own digits as "%.0f" writes them ("inf", "nan").
void WriteWhole(char* buffer, std::size_t size, double whole)
{
    if (std::isfinite(whole) && std::fabs(whole) < 9.0e18)
        std::snprintf(buffer, size, "%ld", static_cast<long>(whole));
    else
        std::snprintf(buffer, size, "%.0f", whole);
}

} // namespace

ShortString QzNumberText(double x)
{
    constexpr int kPrecision = 10;
    const double whole = std::trunc(x);
    const double fraction = x - whole;
    char buffer[512];
    if (!std::isfinite(x) || std::fabs(fraction) < static_cast<double>(1e-6f)) {
        WriteWhole(buffer, sizeof buffer, whole);
    } else {
        char digits[64];
        std::snprintf(digits, sizeof digits, "%.*lf", kPrecision, std::fabs(fraction));
        // digits is "0.dddddddddd" (or "1.000..." when it rounds up).
        std::string tail = digits;
        const auto point = tail.find('.');
        tail = point == std::string::npos ? std::string() : tail.substr(point + 1);
        while (!tail.empty() && tail.back() == '0')
            tail.pop_back();
        if (whole == 0.0 && x < 0) {
            std::snprintf(buffer, sizeof buffer, "-0.%s", tail.c_str());
        } else {
            WriteWhole(buffer, sizeof buffer, whole);
            const std::size_t used = std::strlen(buffer);
            std::snprintf(buffer + used, sizeof buffer - used, ".%s", tail.c_str());
        }
    }
    std::string text = buffer;
    if (text.empty() || text.front() != '-')
        text.insert(text.begin(), ' ');
    return SetResult(ShortString::FromView(text));
}

namespace {

// Date formatters are costly to make: one is kept per pattern and made
// again only when the default locale or the local time zone changes.
icu::SimpleDateFormat* DateFormatter(const icu::UnicodeString& pattern)
{
    struct Entry {
        icu::UnicodeString pattern;
        std::string locale;
        std::uint32_t zone = 0;
        std::unique_ptr<icu::SimpleDateFormat> format;
    };
    static std::vector<Entry> cache;
    const icu::Locale& locale = icu::Locale::getDefault();
    for (Entry& e : cache)
        if (e.pattern == pattern && e.locale == locale.getName() && e.zone == gQzTimeZoneGeneration)
            return e.format.get();
    UErrorCode status = U_ZERO_ERROR;
    auto format = std::make_unique<icu::SimpleDateFormat>(pattern, locale, status);
    if (U_FAILURE(status))
        return nullptr;
    if (cache.size() >= 8)
        cache.clear();
    cache.push_back({pattern, locale.getName(), gQzTimeZoneGeneration, std::move(format)});
    return cache.back().format.get();
}

} // namespace

ShortString QzDateText(const ShortString& pattern)
{
    const QString patternText = QzStrToCF(pattern);
    const icu::UnicodeString icuPattern(
        reinterpret_cast<const UChar*>(patternText.utf16()), static_cast<int32_t>(patternText.size()));
    icu::SimpleDateFormat* format = DateFormatter(icuPattern);
    if (!format)
        return SetResult(ShortString());
    icu::UnicodeString formatted;
    format->format(static_cast<UDate>(gQzNowHook()), formatted);
    const QString text(reinterpret_cast<const QChar*>(formatted.getBuffer()), formatted.length());
    return SetResult(QzStrFromCF(text));
}

int QzMidAssign(ShortString& target, std::int64_t pos, std::int64_t count, const ShortString& source)
{
    const ShortString copy = source;
    if (pos < 1)
        pos = 1;
    const std::int64_t room = static_cast<std::int64_t>(target.len) - pos + 1;
    const std::int64_t n = std::min({count, static_cast<std::int64_t>(copy.len), room});
    if (n > 0)
        std::memcpy(target.bytes.data() + pos - 1, copy.bytes.data(), static_cast<std::size_t>(n));
    return 0;
}

QString QzStrToCF(const ShortString& s)
{
    return QzDecodeBytes(reinterpret_cast<const char*>(s.bytes.data()), s.len);
}

ShortString QzStrFromCF(const QString& text)
{
    const auto bytes = QzEncodeMacRoman(text);
    if (!bytes || bytes->size() > static_cast<std::size_t>(ShortString::kMax))
        return SetResult(ShortString());
    return SetResult(ShortString::FromView(*bytes));
}
