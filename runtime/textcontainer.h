#pragma once

#include "runtime/shortstring.h"

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

// Growable heap text of any length. Empty means null: there is no
// distinction between an empty and an absent text. Appends happen in place
// (amortised constant per byte), so a report of n bytes is built in O(n).
// Positions are 1-based and 64 bits wide.
struct TextContainer {
    std::string bytes;

    std::string_view view() const { return bytes; }
    bool empty() const { return bytes.empty(); }
};

// Sets aside room for `bytes` bytes without taking memory for them: pages
// are taken as the text fills them.
void QzContainerReserve(TextContainer& v, std::size_t bytes);
void QzContainerSetStr(TextContainer& v, const ShortString& s);
void QzContainerAppendStr(TextContainer& v, const ShortString& s);
void QzContainerAppend(TextContainer& a, const TextContainer& b);
TextContainer& QzContainerAssign(TextContainer& dest, const TextContainer& source);
std::int64_t QzContainerLen(const TextContainer& v);
// The first bytes of the text, at most 255 and at most max.
void QzContainerToStr(const TextContainer& v, ShortString& dest, std::int64_t max);
// 1-based position of pattern at or after start, 0 when absent. A NUL byte
// ends the searchable text and the pattern.
std::int64_t QzContainerInstr(std::int64_t start, const TextContainer& v, const ShortString& pattern);
TextContainer& QzContainerMid(const TextContainer& v, std::int64_t pos, std::int64_t count);
// Non-zero when the texts differ; negative when a sorts first.
int QzContainerDiffers(const TextContainer& a, const TextContainer& b);
QString QzContainerToCF(const TextContainer& v);
