#include "runtime/shortstring.h"
#include "runtime/state.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(ShortString, EditingClipsAt255AndNeverGrowsPastTheEnd)
{
    ShortString s = SS(std::string(250, 'x'));
    QzStrAppend(s, "0123456789");
    QzStrAppend(s, "more");
    EXPECT_EQ(s.view().substr(248), "xx01234");
    EXPECT_EQ(SS("ab") + "cd", SS("abcd"));
    const std::pair<int, const char*> lefts[] = {{0, ""}, {-3, ""}, {300, "abcdef"}, {2, "ab"}};
    for (const auto& [n, left] : lefts)
        EXPECT_EQ(QzLeft("abcdef", n), SS(left)) << n;
    const std::tuple<int, int, const char*> mids[]
        = {{0, 2, "ab"}, {-4, 99, "abcdef"}, {5, 10, "ef"}, {7, 1, ""}, {2, 0, ""}, {2, 3, "bcd"}};
    for (const auto& [start, n, mid] : mids)
        EXPECT_EQ(QzMid("abcdef", start, n), SS(mid)) << start << "," << n;
    for (const auto& [n, expected] :
        std::initializer_list<std::pair<int, const char*>> {{256, ""}, {0, ""}, {-1, ""}, {1, "A"}})
        EXPECT_EQ(QzStringOf(n, 65), SS(expected)) << n;
    EXPECT_EQ(QzStringOf(255, 13).len, 255);
    EXPECT_EQ(QzLen(QzStringOf(3, 0)), 3);

    s = "a/b/c";
    QzMidAssign(s, 2, 1, ":");
    QzMidAssign(s, 4, 1, ":");
    EXPECT_EQ(s, SS("a:b:c"));
    QzMidAssign(s, 4, 10, "XYZW");
    QzMidAssign(s, 0, 1, "Q");
    QzMidAssign(s, 9, 1, "Q");
    EXPECT_EQ(s, SS("Q:bXY")); // from the first byte, never past the end
}

TEST(ShortString, InstrAndCompareAreExactOnBytes)
{
    const std::tuple<int, ShortString, ShortString, int> instr[] = {{1, "upd: (x", ": (", 4}, {5, "abcabc", "abc", 0},
        {4, "abcabc", "abc", 4}, {0, "abc", "abcd", 0}, {-7, "xxabc", "abc", 3}, {1, "aaab", "aab", 2},
        {1, "Error", "error", 0}, {1, SS(std::string("a\0b", 3)), SS(std::string("\0b", 2)), 2},
        {1, SS(std::string(255, 'a')), SS(std::string(255, 'a')), 1}};
    for (const auto& [start, text, pattern, at] : instr)
        EXPECT_EQ(QzInstr(start, text, pattern), at) << text.view() << " / " << pattern.view();

    // NUL compares like byte 1, and bytes are unsigned.
    EXPECT_EQ(QzStrCompare("abc", "abc"), 0);
    EXPECT_LT(QzStrCompare("abc", "abd"), 0);
    EXPECT_LT(QzStrCompare("ab", "abc"), 0);
    EXPECT_GT(QzStrCompare(SS("\xE9"), "e"), 0);
    EXPECT_EQ(QzStrCompare(SS(std::string("a\0", 2)), SS("a\x01")), 0);
    EXPECT_EQ(QzStrCompare("", ""), 0);
    ShortString s = SS(std::string("a\0b", 3));
    EXPECT_EQ(std::string(QzCString(s)),
        "a\x01"
        "b");
    ShortString empty;
    EXPECT_EQ(*QzCString(empty), '\0');
}

TEST(ShortString, ValReadsEveryRadixAndNumberTextPutsABlankBeforeNonNegatives)
{
    const std::pair<const char*, double> values[] = {{"", 0.0}, {"0x1F", 31.0}, {"0X1f", 31.0}, {"&H1F", 31.0},
        {"&h1f", 31.0}, {"&O17", 15.0}, {"&X101", 5.0}, {"&1F", 31.0}, {" 42", 42.0}, {"-7", -7.0}, {"07", 7.0},
        {"12abc", 12.0}, {"abc", 0.0}, {" 2.5", 2.5}, {".5", 0.5}};
    for (const auto& [text, value] : values)
        EXPECT_EQ(QzVal(text), value) << text;
    const std::pair<double, const char*> texts[]
        = {{5.0, " 5"}, {-3.0, "-3"}, {0.0, " 0"}, {2.5, " 2.5"}, {5.05, " 5.05"}, {-0.25, "-0.25"}, {338.0, " 338"},
            {1e19, " 10000000000000000000"}, {-1e19, "-10000000000000000000"}, {QzVal("1e400"), " inf"},
            {QzVal("-1e400"), "-inf"}, {std::nan(""), " nan"}, {1e-9, " 0"}};
    for (const auto& [value, text] : texts)
        EXPECT_EQ(QzNumberText(value), SS(text)) << text;
    EXPECT_EQ(QzResultStr, SS(" 0"));
}

TEST(ShortString, DateTextFormatsTheClockInTheCurrentLocale)
{
    TestClock clock;
    const std::tuple<const char*, const char*, const char*> cases[] = {{"2026-02-03 07:08:09", "HH:mm:ss", "07:08:09"},
        {"2026-02-03 07:08:09", "D", "34"}, {"2026-02-03 07:08:09", "yyyy-M-d", "2026-2-3"},
        {"2024-12-31 23:59:59", "D", "366"}, {"2026-01-01 01:00:00", "D", "1"}};
    for (const auto& [now, format, text] : cases) {
        TestClock::SetLocal(now);
        EXPECT_EQ(QzDateText(format), SS(text)) << now << " " << format;
    }
}

TEST(ShortString, PlatformTextReadsUtf8AndMacRomanAndWritesMacRoman)
{
    // Valid UTF-8 reads as UTF-8; lone high bytes, and a broken sequence
    // (the analysis turns byte 128 into an apostrophe), as Mac Roman.
    const std::pair<ShortString, QString> reads[]
        = {{SS("caf\xC3\xA9"), QStringLiteral("caf\u00E9")}, {SS("caf\x8E"), QStringLiteral("caf\u00E9")},
            {SS("\xE2\x80\x9CImporter Start failed\xE2\x80\x9D"), QStringLiteral("\u201CImporter Start failed\u201D")},
            {SS("a\xE2'\x9C"
                "b"),
                QStringLiteral("a\u201A'\u00FAb")},
            {SS(std::string("a\0b", 3)), QString::fromUtf16(u"a\u0000b", 3)},
            {SS("\xF0\x9F\x98\x80"), QString::fromUtf16(u"\U0001F600")}};
    for (const auto& [bytes, text] : reads)
        EXPECT_EQ(QzStrToCF(bytes), text) << bytes.view();
    const std::pair<QString, ShortString> writes[]
        = {{QStringLiteral("s\u00FCsan@example.com"), SS("s\x9Fsan@example.com")},
            {QString(300, QLatin1Char('a')), SS("")}, {QString(255, QLatin1Char('a')), SS(std::string(255, 'a'))},
            {QStringLiteral("\u4E2D"), SS("")}, {QStringLiteral("Susan\u2019s Mac"), SS("Susan\xD5s Mac")}};
    for (const auto& [text, bytes] : writes)
        EXPECT_EQ(QzStrFromCF(text), bytes) << text.toStdString();
}

TEST(ShortString, SixtyFourTemporariesFitAndTheNextEndsTheProgram)
{
    const std::int16_t before = gQzStk;
    for (int i = 0; i < kQzStackSlots; ++i)
        QzStrCopy(QzStrTemp(), "x");
    EXPECT_EQ(gQzStk, kQzStackSlots);
    QzStrRelease(kQzStackSlots);
    EXPECT_EQ(gQzStk, before);

    // "Quit" ends with status 1; the child prints the alert it was shown.
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
    EXPECT_DEATH( // "Crash" aborts
        {
            AlertRecorder recorder({1});
            for (int i = 0; i <= kQzStackSlots; ++i)
                QzStrTemp();
        },
        "");
}
