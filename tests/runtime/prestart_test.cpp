#include "runtime/channels.h"
#include "runtime/state.h"
#include "ui_support.h"

// A prestarted command and the channel that takes it over are the program's own; another command starts afresh, and
// the prestarted one is killed when discarded.
TEST(Prestart, AnotherCommandStartsAfreshAndTheDiscardedOneIsKilled)
{
    Sandbox sandbox;
    const QString pidFile = sandbox.path() + QStringLiteral("/shell");
    QzPrestartPipe(SS("echo $$ > " + pidFile.toStdString() + "; exec sleep 30"));
    ASSERT_TRUE(WaitFor([&pidFile] { return !ReadFile(pidFile).empty(); }));
    const auto shell = static_cast<pid_t>(std::stoll(ReadFile(pidFile)));
    EXPECT_TRUE(QzOwnCommand(shell) && !QzOwnCommand(getpid()));
    QzOpenPipe(1, SS("echo late; sleep 0.3"));
    ShortString line;
    QzLineInput(1, line);
    EXPECT_TRUE(line.view() == "late" && QzOwnCommand(gQzChannels[1].pid));
    QzClose(1);
    EXPECT_EQ(kill(shell, 0), 0);
    QzDiscardPrestartedPipe();
    EXPECT_NE(kill(shell, 0), 0) << "the prestarted command outlived its discarding";
    EXPECT_FALSE(QzOwnCommand(shell));
}
