#include "runtime/channels.h"
#include "runtime/state.h"
#include "ui_support.h"

// A prestarted command is taken over with its output (more than a pipe holds) and its process group; another command
// starts afresh, and the prestarted one is killed when discarded.
TEST(Prestart, TheSameCommandIsTakenOverWithItsOutputAndProcessGroup)
{
    Sandbox sandbox;
    const QString pidFile = sandbox.path() + QStringLiteral("/inner");
    const auto pidFrom = [&pidFile] {
        return WaitFor([&pidFile] { return !ReadFile(pidFile).empty(); }) ? std::stoll(ReadFile(pidFile)) : 0;
    };
    const std::string command = "sh -c 'echo $$ > " + pidFile.toStdString()
        + "; exec sleep 0.5'; head -c 3000000 /dev/zero | tr '\\0' z; printf '\\nend\\n'";
    QzPrestartPipe(SS(command));
    const long long inner = pidFrom();
    EXPECT_TRUE(QzOwnCommand(inner) && !QzOwnCommand(getpid()));
    QzOpenPipe(1, SS(command));
    EXPECT_TRUE(QzOwnCommand(gQzChannels[1].pid));
    std::size_t bytes = 0;
    ShortString line;
    do {
        QzLineInput(1, line);
        bytes += line.len;
    } while (QzEof(1) == 0 && line.view() != "end");
    EXPECT_EQ(std::string(line.view()) + " " + std::to_string(bytes), "end 3000003");
    QzClose(1);

    QFile::remove(pidFile);
    const std::string waiting = "echo $$ > " + pidFile.toStdString() + "; exec sleep 30";
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
