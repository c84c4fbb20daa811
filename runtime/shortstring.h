#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <ostream>
#include <string_view>

// A counted byte string of at most 255 bytes. Positions are 1-based; every
// operation clips at 255 bytes without reporting it. The bytes are whatever
// the program put there (log text is UTF-8, typed text Mac Roman); they
// become platform text only through QzStrToCF.
struct ShortString {
    static constexpr int kMax = 255;

    std::uint8_t len = 0;
    std::array<std::uint8_t, kMax> bytes {};

    constexpr ShortString() = default;
    // From a NUL-terminated literal; longer text is cut at 255 bytes.
    ShortString(const char* text); // NOLINT(google-explicit-constructor)
    static ShortString FromBytes(const void* data, std::size_t size);
    static ShortString FromView(std::string_view text) { return FromBytes(text.data(), text.size()); }

    std::string_view view() const { return {reinterpret_cast<const char*>(bytes.data()), len}; }
    bool empty() const { return len == 0; }
    // Byte at 1-based position pos; the caller keeps pos within 1..len.
    std::uint8_t at(int pos) const { return bytes[static_cast<std::size_t>(pos - 1)]; }

    friend bool operator==(const ShortString& a, const ShortString& b) { return a.view() == b.view(); }
};

// Concatenation, clipped at 255 bytes like QzStrAppend.
ShortString operator+(ShortString a, const ShortString& b);
std::ostream& operator<<(std::ostream& out, const ShortString& s);

// The temporary-string stack (its state is in runtime/state.h): slots are
// handed out in stack order; taking a 65th nested temporary is a fatal
// runtime alert and the program ends there.
inline constexpr int kQzStackSlots = 64;
ShortString& QzStrTemp();
void QzStrRelease(int count);

ShortString& QzStrCopy(ShortString& dest, const ShortString& source);
ShortString& QzStrAppend(ShortString& dest, const ShortString& source);
ShortString QzLeft(const ShortString& s, std::int64_t count);
ShortString QzMid(const ShortString& s, std::int64_t pos, std::int64_t count);
ShortString QzStringOf(std::int64_t count, int byteValue);
int QzLen(const ShortString& s);
int QzInstr(std::int64_t start, const ShortString& text, const ShortString& pattern);
int QzStrCompare(ShortString a, ShortString b);
double QzVal(const ShortString& s);
ShortString QzNumberText(double x);
ShortString QzDateText(const ShortString& pattern);
int QzMidAssign(ShortString& target, std::int64_t pos, std::int64_t count, const ShortString& source);
// Turns s into a NUL-terminated C string in place (NUL bytes become byte 1)
// and returns it; s no longer holds a counted string afterwards.
char* QzCString(ShortString& s);

// Platform strings. Bytes become text as UTF-8 where they form valid UTF-8
// sequences and as Mac Roman otherwise; text becomes bytes as Mac Roman.
QString QzStrToCF(const ShortString& s);
// Empty when the text needs more than 255 bytes or holds a character that
// Mac Roman lacks.
ShortString QzStrFromCF(const QString& text);
