#include "runtime/channels.h"
#include "runtime/state.h"
#include "test_support.h"
#include "ui_support.h"

#include <chrono>
#include <thread>

TEST(Prestart, TheSameCommandIsTakenOverWithItsOutputStartAndProcessGroup)
{
    Sandbox sandbox;
    const std::string pidFile = sandbox.path().toStdString() + "/inner";
    const auto pidFrom = [file = QString::fromStdString(pidFile)] {
        return WaitFor([&file] { return !ReadFile(file).empty(); }) ? std::stoll(ReadFile(file)) : 0;
    };
    // More than the pipe holds, so that the gathering thread has to drain it.
    const std::string command = "sh -c 'echo $$ > " + pidFile
        + "; exec sleep 0.5'; head -c 3000000 /dev/zero | tr '\\0' z; printf '\\nend\\n'";
    QzPrestartPipe(SS(command));
    const long long inner = pidFrom();
    EXPECT_TRUE(QzOwnCommand(inner));
    EXPECT_FALSE(QzOwnCommand(getpid()));
    QzOpenPipe(1, SS(command));
    EXPECT_TRUE(QzOwnCommand(gQzChannels[1].pid));
    std::size_t bytes = 0;
    ShortString line;
    do {
        QzLineInput(1, line);
        bytes += line.len;
    } while (QzEof(1) == 0 && line.view() != "end");
    EXPECT_EQ(line.view(), "end");
    EXPECT_EQ(bytes, 3000003u);
    QzClose(1);

    // The time limit counts from the prestart, not from the takeover.
    QzPrestartPipe(SS("sleep 0.4; echo done"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QzOpenPipe(1, SS("sleep 0.4; echo done"));
    QzSetPipeTimeLimit(1, 200);
    QzLineInput(1, line);
    EXPECT_TRUE(QzPipeTimedOut(1));
    EXPECT_EQ(line.view(), "");
    QzClose(1);

    // Another command starts afresh; the prestarted one is killed when discarded.
    const std::string waiting = "echo $$ > " + pidFile + "; exec sleep 30";
    QFile::remove(QString::fromStdString(pidFile));
    QzPrestartPipe(SS(waiting));
    const long long shell = pidFrom();
    QzOpenPipe(1, SS("echo late"));
    QzLineInput(1, line);
    EXPECT_EQ(line.view(), "late");
    QzClose(1);
    EXPECT_EQ(kill(static_cast<pid_t>(shell), 0), 0);
    QzDiscardPrestartedPipe();
    EXPECT_NE(kill(static_cast<pid_t>(shell), 0), 0) << "the prestarted command outlived its discarding";
    EXPECT_FALSE(QzOwnCommand(shell));
}
