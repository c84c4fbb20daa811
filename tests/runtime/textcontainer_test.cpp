#include "runtime/state.h"
#include "runtime/textcontainer.h"
#include "test_support.h"

#include <gtest/gtest.h>

TEST(TextContainer, AppendsMeasuresAndCutsPieces)
{
    TextContainer v;
    QzContainerAppendStr(v, "");
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(QzContainerLen(v), 0);
    QzContainerAppendStr(v, "ab");
    QzContainerAppendStr(v, "cd");
    EXPECT_EQ(v.view(), "abcd");
    ShortString out;
    QzContainerToStr(v, out, 256);
    EXPECT_EQ(out, SS("abcd"));
    QzContainerToStr(v, out, 3);
    EXPECT_EQ(out, SS("abc"));

    TextContainer big;
    QzContainerSetStr(big, SS(std::string(200, 'a')));
    QzContainerAppendStr(big, SS(std::string(100, 'b')));
    QzContainerToStr(big, out, 256);
    EXPECT_EQ(out.len, 255);

    QzContainerSetStr(v, "");
    EXPECT_TRUE(v.empty());

    TextContainer abcdef;
    QzContainerSetStr(abcdef, "abcdef");
    EXPECT_EQ(QzContainerMid(abcdef, 3, 10).view(), "cdef");
    EXPECT_TRUE(QzContainerMid(abcdef, 7, 1).empty());
    EXPECT_TRUE(QzContainerMid(abcdef, 2, 0).empty());
    EXPECT_EQ(QzContainerMid(abcdef, -5, 2).view(), "ab");
    EXPECT_EQ(&QzContainerMid(abcdef, 1, 1), &QzWorkContainer);

    TextContainer copy;
    QzContainerAssign(copy, abcdef);
    QzContainerAppend(copy, abcdef);
    EXPECT_EQ(copy.view(), "abcdefabcdef");
    EXPECT_EQ(abcdef.view(), "abcdef");
    QzContainerAssign(copy, TextContainer {});
    EXPECT_TRUE(copy.empty());
}

TEST(TextContainer, InstrStopsAtNulAndHonoursStart)
{
    TextContainer v;
    QzContainerSetStr(v, "xxabc");
    EXPECT_EQ(QzContainerInstr(1, v, "abc"), 3);
    EXPECT_EQ(QzContainerInstr(3, v, "abc"), 3);
    EXPECT_EQ(QzContainerInstr(4, v, "abc"), 0);
    EXPECT_EQ(QzContainerInstr(-2, v, "abc"), 3);
    EXPECT_EQ(QzContainerInstr(1, v, "abcdefg"), 0);
    EXPECT_EQ(QzContainerInstr(1, TextContainer {}, "a"), 0);
    EXPECT_EQ(QzContainerInstr(6, v, "c"), 0);

    QzContainerSetStr(v, SS(std::string("ab\0cd", 5)));
    EXPECT_EQ(QzContainerInstr(1, v, "cd"), 0); // NUL ends the searchable text
    EXPECT_EQ(QzContainerInstr(4, v, "cd"), 4); // unless the search starts past it
    EXPECT_EQ(QzContainerInstr(1, v, SS(std::string("b\0zz", 4))), 2); // NUL ends the pattern
}

TEST(TextContainer, DiffersComparesBytesAndFreesTheCompareContainer)
{
    TextContainer piece;
    QzContainerSetStr(piece, "abc");
    QzContainerSetStr(QzCompareContainer, "abc");
    EXPECT_EQ(QzContainerDiffers(piece, QzCompareContainer), 0);
    EXPECT_TRUE(QzCompareContainer.empty());
    QzContainerSetStr(QzCompareContainer, "abd");
    EXPECT_LT(QzContainerDiffers(piece, QzCompareContainer), 0);
    QzContainerSetStr(QzCompareContainer, "ab");
    EXPECT_GT(QzContainerDiffers(piece, QzCompareContainer), 0);
    QzContainerSetStr(QzCompareContainer, "\xE9");
    EXPECT_LT(QzContainerDiffers(piece, QzCompareContainer), 0); // unsigned bytes
    EXPECT_EQ(QzContainerDiffers(piece, piece), 0);
    EXPECT_GT(QzContainerDiffers(piece, TextContainer {}), 0);
}

TEST(TextContainer, PlatformTextOfNullIsEmptyAndLongReportsAreLinear)
{
    EXPECT_TRUE(QzContainerToCF(TextContainer {}).isEmpty());
    TextContainer report;
    ShortString line = SS(std::string(60, 'x'));
    const ShortString crlf = SS("\r\n");
    for (int i = 0; i < 200000; ++i) { // 12.4 MB: quadratic appends would not finish
        QzContainerAppendStr(report, line);
        QzContainerAppendStr(report, crlf);
    }
    EXPECT_EQ(QzContainerLen(report), 200000 * 62);
    EXPECT_EQ(QzContainerToCF(report).size(), 200000 * 62);
}
