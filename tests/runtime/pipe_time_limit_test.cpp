#include "test_support.h"

#include "runtime/channels.h"

#include <gtest/gtest.h>

#include <QFile>

#include <csignal>
#include <fstream>

namespace {

// Whether the process is gone (or only waits to be reaped).
bool Gone(const std::string& pidText)
{
    std::ifstream stat("/proc/" + pidText + "/stat");
    std::string pid, name, state;
    return !(stat >> pid >> name >> state) || state == "Z";
}

} // namespace

TEST(PipeTimeLimit, AStalledCommandIsKilledWholeAndItsOutputEnds)
{
    Sandbox sandbox;
    const std::string pids = sandbox.path().toStdString() + "/pids";
    // A pipeline whose first stage prints a line and stalls: the read gets
    // the line, then the end of the output at the limit, and every stage of
    // the pipeline is killed.
    QzOpenPipe(1,
        ShortString::FromView(
            "(echo a; echo $$ >> '" + pids + "'; exec sleep 100) | (echo $$ >> '" + pids + "'; exec cat)"));
    QzSetPipeTimeLimit(1, 300);
    ShortString line;
    QzLineInput(1, line);
    EXPECT_EQ(line, SS("a"));
    EXPECT_EQ(QzEof(1), 0);
    QzLineInput(1, line);
    EXPECT_EQ(line, SS(""));
    EXPECT_EQ(QzEof(1), -1);
    EXPECT_TRUE(QzPipeTimedOut(1));
    QzClose(1);
    EXPECT_FALSE(QzPipeTimedOut(1));
    std::ifstream in(pids);
    std::string pid;
    int stages = 0;
    while (in >> pid) {
        ++stages;
        EXPECT_TRUE(Gone(pid)) << pid;
    }
    EXPECT_EQ(stages, 2);

    // Closing a pipe whose command neither writes nor ends waits only until
    // the limit; a command that ends in time is not killed.
    QzOpenPipe(1, "exec sleep 100");
    QzSetPipeTimeLimit(1, 200);
    QzClose(1);
    QzOpenPipe(1, "echo b");
    QzSetPipeTimeLimit(1, 60'000);
    QzLineInput(1, line);
    QzLineInput(1, line);
    EXPECT_EQ(QzEof(1), -1);
    EXPECT_FALSE(QzPipeTimedOut(1));
    QzClose(1);
}
