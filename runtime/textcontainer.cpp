#include "runtime/textcontainer.h"

#include "runtime/encoding.h"
#include "runtime/platform.h"
#include "runtime/state.h"

#include <algorithm>
#include <cstring>

void QzContainerReserve(TextContainer& v, std::size_t bytes)
{
    if (v.bytes.capacity() >= bytes)
        return; // set aside by an earlier call, and advised then
    v.bytes.reserve(bytes);
    QzAdviseLargePages(v.bytes.data(), v.bytes.capacity());
}

void QzContainerSetStr(TextContainer& v, const ShortString& s)
{
    v.bytes.assign(s.view());
}

void QzContainerAppendStr(TextContainer& v, const ShortString& s)
{
    if (&v != &QzWorkContainer)
        QzWorkContainer.bytes.clear();
    v.bytes.append(s.view());
}

void QzContainerAppend(TextContainer& a, const TextContainer& b)
{
    a.bytes.append(b.bytes);
}

TextContainer& QzContainerAssign(TextContainer& dest, const TextContainer& source)
{
    if (&dest != &source)
        dest.bytes = source.bytes;
    return dest;
}

std::int64_t QzContainerLen(const TextContainer& v)
{
    return static_cast<std::int64_t>(v.bytes.size());
}

void QzContainerToStr(const TextContainer& v, ShortString& dest, std::int64_t max)
{
    const std::int64_t k
        = std::max<std::int64_t>(0, std::min({QzContainerLen(v), max, std::int64_t {ShortString::kMax}}));
    dest = ShortString::FromBytes(v.bytes.data(), static_cast<std::size_t>(k));
}

std::int64_t QzContainerInstr(std::int64_t start, const TextContainer& v, const ShortString& pattern)
{
    const std::int64_t length = QzContainerLen(v);
    if (length == 0 || pattern.len == 0 || pattern.len > length)
        return 0;
    if (start < 1)
        start = 1;
    if (start > length)
        return 0;
    std::string_view needle = pattern.view();
    needle = needle.substr(0, needle.find('\0'));
    const std::string_view hay = std::string_view(v.bytes).substr(static_cast<std::size_t>(start - 1));
    if (needle.empty())
        return start;
    // The needle holds no NUL, so a match counts only when no NUL precedes
    // it; searching for the match first keeps each call proportional to
    // the distance it covers.
    const auto found = hay.find(needle);
    if (found == std::string_view::npos || hay.substr(0, found).find('\0') != std::string_view::npos)
        return 0;
    return start + static_cast<std::int64_t>(found);
}

TextContainer& QzContainerMid(const TextContainer& v, std::int64_t pos, std::int64_t count)
{
    QzWorkContainer.bytes.clear();
    const std::int64_t length = QzContainerLen(v);
    const std::int64_t offset = std::min(std::max<std::int64_t>(pos, 1) - 1, length);
    const std::int64_t n = std::min(std::max<std::int64_t>(count, 0), length - offset);
    if (n > 0)
        QzWorkContainer.bytes.assign(v.bytes, static_cast<std::size_t>(offset), static_cast<std::size_t>(n));
    return QzWorkContainer;
}

int QzContainerDiffers(const TextContainer& a, const TextContainer& b)
{
    int result = 0;
    if (&a != &b) {
        const int c = a.bytes.compare(b.bytes); // unsigned bytes: char_traits<char> compares as unsigned char
        result = c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    QzCompareContainer.bytes.clear();
    return result;
}

QString QzContainerToCF(const TextContainer& v)
{
    return QzDecodeBytes(v.bytes.data(), v.bytes.size());
}
