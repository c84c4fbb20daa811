#include "test_support.h"

#include "runtime/channels.h"

#include <gtest/gtest.h>

// A command that never stops printing is stopped at its limit as well: the
// reads end, however much output is still waiting.
TEST(PipeTimeLimit, ACommandThatNeverStopsPrintingEndsAtTheLimit)
{
    QzOpenPipe(1, "exec yes");
    QzSetPipeTimeLimit(1, 300);
    ShortString line;
    std::int64_t lines = 0;
    do {
        QzLineInput(1, line);
        ++lines;
    } while (QzEof(1) == 0);
    EXPECT_TRUE(QzPipeTimedOut(1));
    EXPECT_GT(lines, 1);
    QzClose(1);
}
