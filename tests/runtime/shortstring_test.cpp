#include "runtime/shortstring.h"
#include "runtime/state.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <QString>

#include <cmath>
#include <string>

TEST(ShortString, AppendLeftMidAndStringOfClipAt255)
{
    ShortString s = SS(std::string(250, 'x'));
    QzStrAppend(s, "0123456789");
    EXPECT_EQ(s.len, 255);
    EXPECT_EQ(s.view().substr(250), "01234");
    const ShortString full = s;
    QzStrAppend(s, "more");
    EXPECT_EQ(s, full);
    EXPECT_EQ(SS("ab") + "cd", SS("abcd"));

    EXPECT_EQ(QzLeft("abcdef", 0), SS(""));
    EXPECT_EQ(QzLeft("abcdef", -3), SS(""));
    EXPECT_EQ(QzLeft("abcdef", 300), SS("abcdef"));
    EXPECT_EQ(QzLeft("abcdef", 2), SS("ab"));

    EXPECT_EQ(QzMid("abcdef", 0, 2), SS("ab"));
    EXPECT_EQ(QzMid("abcdef", -4, 99), SS("abcdef"));
    EXPECT_EQ(QzMid("abcdef", 5, 10), SS("ef"));
    EXPECT_EQ(QzMid("abcdef", 7, 1), SS(""));
    EXPECT_EQ(QzMid("abcdef", 2, 0), SS(""));
    EXPECT_EQ(QzMid("abcdef", 2, 3), SS("bcd"));

    EXPECT_EQ(QzStringOf(256, 65), SS(""));
    EXPECT_EQ(QzStringOf(0, 65), SS(""));
    EXPECT_EQ(QzStringOf(-1, 65), SS(""));
    EXPECT_EQ(QzStringOf(1, 65), SS("A"));
    EXPECT_EQ(QzStringOf(255, 13).len, 255);
    EXPECT_EQ(QzLen(QzStringOf(3, 0)), 3);
}

TEST(ShortString, InstrTriesCandidatesInOrderAndIsExact)
{
    EXPECT_EQ(QzInstr(1, "upd: (x", ": ("), 4);
    EXPECT_EQ(QzInstr(5, "abcabc", "abc"), 0);
    EXPECT_EQ(QzInstr(4, "abcabc", "abc"), 4);
    EXPECT_EQ(QzInstr(0, "abc", "abcd"), 0);
    EXPECT_EQ(QzInstr(-7, "xxabc", "abc"), 3);
    EXPECT_EQ(QzInstr(1, "aaab", "aab"), 2); // a failed partial match does not skip a candidate
    EXPECT_EQ(QzInstr(1, "Error", "error"), 0);
    EXPECT_EQ(QzInstr(1, SS(std::string("a\0b", 3)), SS(std::string("\0b", 2))), 2);
    EXPECT_EQ(QzInstr(1, SS(std::string(255, 'a')), SS(std::string(255, 'a'))), 1);
}

TEST(ShortString, CompareTreatsNulLikeByteOne)
{
    EXPECT_EQ(QzStrCompare("abc", "abc"), 0);
    EXPECT_NE(QzStrCompare("abc", "abd"), 0);
    EXPECT_LT(QzStrCompare("abc", "abd"), 0);
    EXPECT_LT(QzStrCompare("ab", "abc"), 0);
    EXPECT_GT(QzStrCompare(SS("\xE9"), "e"), 0); // unsigned bytes
    EXPECT_EQ(QzStrCompare(SS(std::string("a\0", 2)), SS("a\x01")), 0);
    EXPECT_EQ(QzStrCompare("", ""), 0);

    ShortString s = SS(std::string("a\0b", 3));
    const char* c = QzCString(s);
    EXPECT_EQ(std::string(c),
        std::string("a\x01"
                    "b"));
    ShortString empty;
    EXPECT_EQ(*QzCString(empty), '\0');
}

TEST(ShortString, ValReadsEveryRadixPrefix)
{
    EXPECT_EQ(QzVal(""), 0.0);
    EXPECT_EQ(QzVal("0x1F"), 31.0);
    EXPECT_EQ(QzVal("0X1f"), 31.0);
    EXPECT_EQ(QzVal("&H1F"), 31.0);
    EXPECT_EQ(QzVal("&h1f"), 31.0);
    EXPECT_EQ(QzVal("&O17"), 15.0);
    EXPECT_EQ(QzVal("&X101"), 5.0);
    EXPECT_EQ(QzVal("&X11"), 3.0);
    EXPECT_EQ(QzVal("&1F"), 31.0); // '&' alone means hexadecimal
    EXPECT_EQ(QzVal(" 42"), 42.0);
    EXPECT_EQ(QzVal("-7"), -7.0);
    EXPECT_EQ(QzVal("0"), 0.0);
    EXPECT_EQ(QzVal("07"), 7.0); // decimal, not octal
    EXPECT_EQ(QzVal("12abc"), 12.0);
    EXPECT_EQ(QzVal("abc"), 0.0);
    EXPECT_EQ(QzVal(" 338"), 338.0);
    EXPECT_EQ(QzVal(" 2.5"), 2.5);
    EXPECT_EQ(QzVal(".5"), 0.5);
}

TEST(ShortString, NumberTextPutsABlankBeforeNonNegatives)
{
    EXPECT_EQ(QzNumberText(5), SS(" 5"));
    EXPECT_EQ(QzNumberText(-3), SS("-3"));
    EXPECT_EQ(QzNumberText(-1), SS("-1"));
    EXPECT_EQ(QzNumberText(0), SS(" 0"));
    EXPECT_EQ(QzNumberText(2.5), SS(" 2.5"));
    EXPECT_EQ(QzNumberText(5.05), SS(" 5.05"));
    EXPECT_EQ(QzNumberText(-0.25), SS("-0.25"));
    EXPECT_EQ(QzNumberText(338), SS(" 338"));
    // Past the range of a long, and what QzVal makes of "1e400", "-1e400".
    EXPECT_EQ(QzNumberText(1e19), SS(" 10000000000000000000"));
    EXPECT_EQ(QzNumberText(-1e19), SS("-10000000000000000000"));
    EXPECT_EQ(QzNumberText(QzVal("1e400")), SS(" inf"));
    EXPECT_EQ(QzNumberText(QzVal("-1e400")), SS("-inf"));
    EXPECT_EQ(QzNumberText(std::nan("")), SS(" nan"));
    EXPECT_EQ(QzNumberText(1e-9), SS(" 0"));
    EXPECT_EQ(QzResultStr, SS(" 0"));
}

TEST(ShortString, MidAssignOverwritesInsideTheString)
{
    ShortString s = "a/b/c";
    QzMidAssign(s, 2, 1, ":");
    QzMidAssign(s, 4, 1, ":");
    EXPECT_EQ(s, SS("a:b:c"));
    QzMidAssign(s, 4, 10, "XYZW");
    EXPECT_EQ(s, SS("a:bXY")); // never past the end: the length stays
    QzMidAssign(s, 0, 1, "Q");
    EXPECT_EQ(s, SS("Q:bXY"));
    QzMidAssign(s, 9, 1, "Q");
    EXPECT_EQ(s, SS("Q:bXY"));
}

TEST(ShortString, DateTextFormatsTheClockInTheCurrentLocale)
{
    TestClock clock;
    TestClock::SetLocal("2026-02-03 07:08:09");
    EXPECT_EQ(QzDateText("HH:mm:ss"), SS("07:08:09"));
    EXPECT_EQ(QzDateText("D"), SS("34"));
    EXPECT_EQ(QzDateText("yyyy-M-d"), SS("2026-2-3"));
    TestClock::SetLocal("2024-12-31 23:59:59");
    EXPECT_EQ(QzDateText("D"), SS("366"));
    TestClock::SetLocal("2026-01-01 01:00:00");
    EXPECT_EQ(QzDateText("D"), SS("1"));
}

TEST(ShortString, PlatformTextReadsUtf8AndMacRomanAndWritesMacRoman)
{
    // Valid UTF-8 reads as UTF-8; lone high bytes as Mac Roman.
    EXPECT_EQ(QzStrToCF(SS("caf\xC3\xA9")), QStringLiteral("caf\u00E9"));
    EXPECT_EQ(QzStrToCF(SS("caf\x8E")), QStringLiteral("caf\u00E9"));
    EXPECT_EQ(QzStrToCF(SS("\xE2\x80\x9CImporter Start failed\xE2\x80\x9D")),
        QStringLiteral("\u201CImporter Start failed\u201D"));
    // The analysis turns byte 128 into an apostrophe: the broken sequence
    // falls back to Mac Roman byte by byte and nothing is lost.
    EXPECT_EQ(QzStrToCF(SS("a\xE2'\x9C"
                           "b")),
        QStringLiteral("a\u201A'\u00FAb"));
    EXPECT_EQ(QzStrToCF(SS(std::string("a\0b", 3))), QString::fromUtf16(u"a\u0000b", 3));
    EXPECT_EQ(QzStrToCF(SS("\xF0\x9F\x98\x80")).size(), 2); // a character outside the BMP

    // Typed text goes back as Mac Roman bytes and round-trips.
    const ShortString typed = QzStrFromCF(QStringLiteral("s\u00FCsan@example.com"));
    EXPECT_EQ(typed, SS("s\x9Fsan@example.com"));
    EXPECT_EQ(QzStrToCF(typed), QStringLiteral("s\u00FCsan@example.com"));
    EXPECT_EQ(QzStrFromCF(QString(300, QLatin1Char('a'))), SS(""));
    EXPECT_EQ(QzStrFromCF(QString(255, QLatin1Char('a'))).len, 255);
    EXPECT_EQ(QzStrFromCF(QStringLiteral("\u4E2D")), SS("")); // no Mac Roman byte
    EXPECT_EQ(QzStrFromCF(QStringLiteral("Susan\u2019s Mac")), SS("Susan\xD5s Mac"));
}

TEST(ShortString, SixtyFourTemporariesFitAndTheNextEndsTheProgram)
{
    const std::int16_t before = gQzStk;
    for (int i = 0; i < kQzStackSlots; ++i)
        QzStrCopy(QzStrTemp(), "x");
    EXPECT_EQ(gQzStk, kQzStackSlots);
    QzStrRelease(kQzStackSlots);
    EXPECT_EQ(gQzStk, before);

    EXPECT_EXIT(
        {
            AlertRecorder recorder({0}); // "Quit"
            for (int i = 0; i <= kQzStackSlots; ++i)
                QzStrTemp();
            std::exit(0); // not reached
        },
        ::testing::ExitedWithCode(1), "");
    // "Crash" aborts.
    EXPECT_DEATH(
        {
            AlertRecorder recorder({1}); // "Crash"
            for (int i = 0; i <= kQzStackSlots; ++i)
                QzStrTemp();
        },
        "");
}

TEST(ShortString, OverflowAlertTexts)
{
    // Run the overflow in a child that reports the recorded alert on stderr.
    EXPECT_EXIT(
        {
            gQzAlertHook = [](const QzAlertRequest& request) {
                std::fprintf(stderr, "[%d|%s|%s|%s]", request.style, request.message.toUtf8().constData(),
                    request.informative.toUtf8().constData(),
                    request.buttons.join(QLatin1Char(';')).toUtf8().constData());
                return 0;
            };
            for (int i = 0; i <= kQzStackSlots; ++i)
                QzStrTemp();
        },
        ::testing::ExitedWithCode(1),
        "\\[2\\|Pascal String stack index \\( gQzStk \\) exceeds string stack size of 64\\.\\|If 'Source File "
        "Combining'\\( in Build Settings \\) is turned OFF, try setting to Medium or Maximum\\|Quit;Crash\\]");
}
