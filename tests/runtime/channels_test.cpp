#include "runtime/channels.h"
#include "runtime/state.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace {

std::vector<std::string> ReadAll(int fileId)
{
    std::vector<std::string> lines;
    ShortString line;
    do {
        QzLineInput(fileId, line);
        lines.emplace_back(line.view());
    } while (QzEof(fileId) == 0);
    return lines;
}

struct IgnoreErrors {
    IgnoreErrors()
    {
        QzFileErrorHandler = [](std::int64_t, std::int64_t) { return 0; };
    }
    ~IgnoreErrors() { QzFileErrorHandler = QzFileErrorAlert; }
};

} // namespace

TEST(Channels, PipeLinesEndAtCrOrLfAndTheEndReadIsEmpty)
{
    QzOpenPipe(1, "printf 'a\\nb\\n'");
    EXPECT_EQ(QzEof(1), 0);
    EXPECT_EQ(ReadAll(1), (std::vector<std::string> {"a", "b", ""}));
    EXPECT_EQ(QzEof(1), -1);
    QzClose(1);

    QzOpenPipe(1, "printf 'one\\r\\ntwo\\rthree'");
    EXPECT_EQ(ReadAll(1), (std::vector<std::string> {"one", "", "two", "three"}));
    QzClose(1);

    QzOpenPipe(1, "true");
    EXPECT_EQ(ReadAll(1), (std::vector<std::string> {""}));
    QzClose(1);
}

TEST(Channels, LongPipeLinesArriveIn255BytePiecesAndGarbageIsBytes)
{
    QzOpenPipe(1, "head -c 300 /dev/zero | tr '\\0' x; echo; head -c 400 /dev/zero | tr '\\0' y; echo");
    const auto lines = ReadAll(1);
    QzClose(1);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], std::string(255, 'x'));
    EXPECT_EQ(lines[1], std::string(45, 'x'));
    EXPECT_EQ(lines[2], std::string(255, 'y'));
    EXPECT_EQ(lines[3], std::string(145, 'y'));
    EXPECT_EQ(lines[4], "");

    // NUL bytes, bytes above 127 and a line of megabytes are read as bytes.
    QzOpenPipe(1, "printf 'a\\000b\\377\\200c\\n'; head -c 3000000 /dev/zero | tr '\\0' z; printf '\\nend\\n'");
    const auto garbage = ReadAll(1);
    QzClose(1);
    EXPECT_EQ(garbage.front(),
        std::string("a\0b\xFF\x80"
                    "c",
            6));
    EXPECT_EQ(garbage.size(), 1 + 3000000 / 255 + 1 + 1 + 1);
    EXPECT_EQ(garbage[garbage.size() - 2], "end");
}

TEST(Channels, PipeCommandsSeeTheCLocaleAndClosingWaitsForThem)
{
    Sandbox sandbox;
    const QString marker = sandbox.path() + QStringLiteral("/done");
    QzOpenPipe(1, SS("echo $LC_ALL; sleep 0.2; touch '" + marker.toStdString() + "'"));
    ShortString line;
    QzLineInput(1, line);
    EXPECT_EQ(line, SS("C"));
    QzClose(1);
    EXPECT_TRUE(QFile::exists(marker));
    EXPECT_EQ(QzEof(1), -1);

    // Closing before the output is read ends a chatty command instead of
    // hanging on it.
    QzOpenPipe(1, "yes");
    QzLineInput(1, line);
    QzClose(1);
    EXPECT_EQ(QzEof(1), -1);
}

TEST(Channels, RangeAndInUseAlertsLeaveChannelsAlone)
{
    AlertRecorder recorder({1, 1, 1, 1, 1}); // "Continue"
    QzOpenPipe(0, "true");
    QzOpenPipe(256, "true");
    QzOpenInput(300, 0, QStringLiteral("/nonexistent"), 256);
    QzOpenOutput(-1, 0, QStringLiteral("/nonexistent"));
    ASSERT_EQ(recorder.alerts.size(), 4u);
    EXPECT_EQ(recorder.alerts[0].message, QStringLiteral("FileID not in range 0 for FileID: 0"));
    EXPECT_EQ(recorder.alerts[1].message, QStringLiteral("FileID not in range 0 for FileID: 256"));
    EXPECT_EQ(recorder.alerts[1].informative, QStringLiteral("FileID must be in range 1 to 255"));
    EXPECT_EQ(recorder.alerts[2].message, QStringLiteral("Error in QzOpenInput for file# 300"));
    EXPECT_EQ(recorder.alerts[3].message, QStringLiteral("Error in QzOpenOutput for file# -1"));
    EXPECT_EQ(recorder.alerts[0].buttons,
        (QStringList {QStringLiteral("Stop"), QStringLiteral("Continue"), QStringLiteral("Crash")}));
    EXPECT_EQ(recorder.alerts[0].style, 0);
    EXPECT_EQ(QzEof(0), -1);
    EXPECT_EQ(QzEof(256), -1);

    QzOpenPipe(1, "echo first");
    QzOpenPipe(1, "echo second");
    ASSERT_EQ(recorder.alerts.size(), 5u);
    EXPECT_EQ(recorder.alerts[4].message, QStringLiteral("Error in Open 'UNIX' for file#1"));
    EXPECT_EQ(recorder.alerts[4].informative, QStringLiteral("FileID already in use"));
    ShortString line;
    QzLineInput(1, line);
    EXPECT_EQ(line, SS("first"));
    QzClose(1);

    // Out-of-range line input is silent and empty.
    line = "x";
    QzLineInput(999, line);
    EXPECT_TRUE(line.empty());
}

TEST(Channels, FileErrorsReachTheHandler)
{
    Sandbox sandbox;
    {
        AlertRecorder recorder({1}); // "Continue"
        QzOpenInput(3, 0, sandbox.path() + QStringLiteral("/missing"), 256);
        ASSERT_EQ(recorder.alerts.size(), 1u);
        EXPECT_EQ(recorder.alerts[0].message.section(QLatin1Char('\n'), 0, 1),
            QStringLiteral("The program returned a file error.\nFile ref:3"));
        EXPECT_EQ(QzEof(3), -1);
    }
    IgnoreErrors ignore;
    QzLastFileError = 0;
    QzOpenInput(3, 0, sandbox.path() + QStringLiteral("/missing"), 256);
    EXPECT_EQ(QzLastFileError, 13);
    ShortString line = "x";
    QzLineInput(7, line);
    EXPECT_EQ(QzLastFileError, -38);
    EXPECT_TRUE(line.empty());
    QzSetOutput(7);
    QzPrint("lost");
    EXPECT_EQ(QzLastFileError, -61);
    QzOpenOutput(8, 1, sandbox.path() + QStringLiteral("/f"));
    EXPECT_EQ(QzLastFileError, 2);
    QzOpenOutput(8, 0, sandbox.path() + QStringLiteral("/no/such/folder/f"));
    EXPECT_EQ(QzLastFileError, 2);

    // Writing to an input channel is refused.
    const QString file = sandbox.Write(QStringLiteral("in"), "keep\r");
    QzOpenInput(3, 0, file, 256);
    QzSetOutput(3);
    QzPrint("x");
    EXPECT_EQ(QzLastFileError, -61);
    QzSetOutput(0);
    QzClose(3);
    EXPECT_EQ(ReadFile(file), "keep\r");
}

TEST(Channels, OutputFilesAreEmptiedAndLinesEndWithCr)
{
    Sandbox sandbox;
    const QString file = sandbox.Write(QStringLiteral("out"), std::string(1000, 'z'));
    QzOpenOutput(4, 0, file);
    for (const char* value : {"one", " 2", ""}) {
        QzSetOutput(4);
        QzPrint(value);
        QzPrintNewline();
        QzSetOutput(0);
    }
    QzPrint("nowhere"); // channel 0 writes nothing
    QzClose(4);
    EXPECT_EQ(ReadFile(file), "one\r 2\r\r");

    // Output creates a missing file.
    const QString fresh = sandbox.path() + QStringLiteral("/fresh");
    QzOpenOutput(4, 2, fresh);
    QzSetOutput(4);
    QzPrint("x");
    QzSetOutput(0);
    QzClose(4);
    EXPECT_EQ(ReadFile(fresh), "x");
}

TEST(Channels, FileLinesFollowThe254And255Rule)
{
    Sandbox sandbox;
    const std::string long300(300, 'a');
    const std::string exact254(254, 'b');
    const QString file
        = sandbox.Write(QStringLiteral("lines"), "first\r\nsecond\r" + long300 + "\r" + exact254 + "\rlast");
    QzOpenInput(3, 0, file, 256);
    const auto lines = ReadAll(3);
    QzClose(3);
    EXPECT_EQ(lines,
        (std::vector<std::string> {
            "first", "", "second", std::string(255, 'a'), std::string(45, 'a'), exact254, "last"}));

    // A 255th byte that is a line end leaves a line of 254.
    const QString edge = sandbox.Write(QStringLiteral("edge"), exact254 + "\rnext\r");
    QzOpenInput(3, 0, edge, 256);
    EXPECT_EQ(ReadAll(3), (std::vector<std::string> {exact254, "next"}));
    QzClose(3);

    const QString empty = sandbox.Write(QStringLiteral("empty"), "");
    QzOpenInput(3, 0, empty, 256);
    EXPECT_EQ(QzEof(3), -1);
    QzClose(3);
    EXPECT_EQ(QzEof(3), -1);
}

TEST(Channels, ALockHeldByAnotherProcessRefusesTheOpen)
{
    Sandbox sandbox;
    IgnoreErrors ignore;
    const QString file = sandbox.Write(QStringLiteral("locked"), "data\r");
    for (int how : {LOCK_EX, LOCK_SH}) {
        LockHolder lock(file, how);
        QzLastFileError = 0;
        QzOpenOutput(4, 0, file);
        EXPECT_EQ(QzLastFileError, 35);
        QzClose(4);
        QzLastFileError = 0;
        QzOpenInput(3, 0, file, 256);
        if (how == LOCK_EX) {
            EXPECT_EQ(QzLastFileError, 35); // an exclusive lock keeps readers out
            EXPECT_EQ(QzEof(3), -1);
        } else {
            EXPECT_EQ(QzLastFileError, 0); // a shared lock lets readers in
            ShortString line;
            QzLineInput(3, line);
            EXPECT_EQ(line, SS("data"));
        }
        QzClose(3);
    }
    EXPECT_EQ(ReadFile(file), "data\r");
}

namespace {

// Reads channel 1 as the analyses do; exits 0 when the loop ends, 3 when
// it would spin for ever.
void ReadUntilEndOrGiveUp()
{
    QzFileErrorHandler = [](std::int64_t, std::int64_t) { return 0; };
    // Use up every descriptor, so that no pipe can be made for the command.
    rlimit limit {};
    limit.rlim_cur = 256;
    limit.rlim_max = 256;
    setrlimit(RLIMIT_NOFILE, &limit);
    std::vector<int> spent;
    for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;)
        spent.push_back(fd);
    QzOpenPipe(1, "echo never");
    for (int fd : spent)
        close(fd);
    ShortString line;
    for (int reads = 0; reads < 10; ++reads) {
        QzLineInput(1, line);
        if (QzEof(1) != 0)
            std::exit(QzLastFileError == -38 && line.empty() ? 0 : 4);
    }
    std::exit(3);
}

} // namespace

TEST(Channels, ACommandThatCannotStartEndsTheReadLoop)
{
    EXPECT_EXIT(ReadUntilEndOrGiveUp(), ::testing::ExitedWithCode(0), "");
}

TEST(Channels, ReopeningAFileChannelReleasesItsLock)
{
    Sandbox sandbox;
    IgnoreErrors ignore;
    const QString file = sandbox.Write(QStringLiteral("twice"), "one\r");
    QzOpenInput(3, 0, file, 256);
    QzOpenInput(3, 0, file, 256); // without a close in between
    QzClose(3);
    QzLastFileError = 0;
    QzOpenOutput(4, 0, file);
    EXPECT_EQ(QzLastFileError, 0); // no shared lock was left behind
    QzClose(4);
}
