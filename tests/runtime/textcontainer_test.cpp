#include "runtime/state.h"
#include "runtime/textcontainer.h"
#include "test_support.h"

#include <gtest/gtest.h>

TEST(TextContainer, AppendsMeasuresCutsAndCompares)
{
    TextContainer v;
    QzContainerAppendStr(v, "");
    EXPECT_TRUE(v.empty());
    QzContainerAppendStr(v, "ab");
    QzContainerAppendStr(v, "cd");
    ShortString out;
    QzContainerToStr(v, out, 3);
    EXPECT_EQ(out, SS("abc"));
    QzContainerAppendStr(v, SS(std::string(300, 'b')));
    QzContainerToStr(v, out, 256);
    EXPECT_EQ(out.len, 255);
    QzContainerSetStr(v, "");
    EXPECT_EQ(QzContainerLen(v), 0);

    TextContainer abcdef;
    QzContainerSetStr(abcdef, "abcdef");
    for (const auto& [start, n, mid] : std::initializer_list<std::tuple<int, int, const char*>> {
             {3, 10, "cdef"}, {7, 1, ""}, {2, 0, ""}, {-5, 2, "ab"}})
        EXPECT_EQ(QzContainerMid(abcdef, start, n).view(), mid) << start << "," << n;
    EXPECT_EQ(&QzContainerMid(abcdef, 1, 1), &QzWorkContainer);
    QzContainerAssign(v, abcdef);
    QzContainerAppend(v, abcdef);
    EXPECT_EQ(v.view(), "abcdefabcdef");
    QzContainerAssign(v, TextContainer {});
    EXPECT_TRUE(v.empty());

    // Searching stops at a NUL in the text or the pattern.
    QzContainerSetStr(v, SS(std::string("xxabc\0cd", 8)));
    for (const auto& [start, pattern, at] : std::initializer_list<std::tuple<int, ShortString, int>> {{1, "abc", 3},
             {3, "abc", 3}, {4, "abc", 0}, {-2, "abc", 3}, {1, "abcdefghi", 0}, {9, "c", 0}, {1, "cd", 0}, {7, "cd", 7},
             {1, SS(std::string("b\0zz", 4)), 4}})
        EXPECT_EQ(QzContainerInstr(start, v, pattern), at) << start << " " << pattern.view();
    EXPECT_EQ(QzContainerInstr(1, TextContainer {}, "a"), 0);

    // Differs compares unsigned bytes and frees the compare container.
    QzContainerSetStr(v, "abc");
    for (const auto& [other, sign] :
        std::initializer_list<std::pair<const char*, int>> {{"abc", 0}, {"abd", -1}, {"ab", 1}, {"\xE9", -1}}) {
        QzContainerSetStr(QzCompareContainer, other);
        const int d = QzContainerDiffers(v, QzCompareContainer);
        EXPECT_EQ((d > 0) - (d < 0), sign) << other;
        EXPECT_TRUE(QzCompareContainer.empty());
    }
    EXPECT_EQ(QzContainerDiffers(v, v), 0);
    EXPECT_GT(QzContainerDiffers(v, TextContainer {}), 0);
}

TEST(TextContainer, PlatformTextOfNullIsEmptyAndLongReportsAreLinear)
{
    EXPECT_TRUE(QzContainerToCF(TextContainer {}).isEmpty());
    TextContainer report;
    const ShortString line = SS(std::string(60, 'x') + "\r\n");
    for (int i = 0; i < 200000; ++i) // 12.4 MB: quadratic appends would not finish
        QzContainerAppendStr(report, line);
    EXPECT_EQ(QzContainerLen(report), 200000 * 62);
    EXPECT_EQ(QzContainerToCF(report).size(), 200000 * 62);
}
