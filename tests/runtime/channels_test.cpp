#include "runtime/channels.h"
#include "runtime/platform.h"
#include "runtime/state.h"
#include "test_support.h"

#include <fstream>
#include <sys/file.h>
#include <sys/resource.h>

namespace {

using Lines = std::vector<std::string>;

// Every line of a channel, the end read's included; the channel is closed after.
Lines ReadAll(int fileId)
{
    Lines lines;
    ShortString line;
    do {
        QzLineInput(fileId, line);
        lines.emplace_back(line.view());
    } while (QzEof(fileId) == 0);
    QzClose(fileId);
    return lines;
}

int Ignore(std::int64_t, std::int64_t)
{
    return 0;
}

} // namespace

// Lines end at CR, LF or both and come in pieces of 255 bytes, the command under the C locale. Closing waits for a
// command and ends a chatty one; at its limit a stalled command is killed, every stage of it, a silent one on closing.
// A command that cannot start ends the read loop.
TEST(Channels, PipeLinesEndAtCrOrLfComeIn255BytePiecesAndAStalledCommandIsKilledWhole)
{
    // With every descriptor used up no pipe can be made: the read fails and counts as the end (3: it would spin).
    EXPECT_EXIT(
        {
            QzFileErrorHandler = Ignore;
            rlimit limit {};
            limit.rlim_cur = limit.rlim_max = 256;
            setrlimit(RLIMIT_NOFILE, &limit);
            std::vector<int> spent;
            for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;)
                spent.push_back(fd);
            QzOpenPipe(1, "echo never");
            for (int fd : spent)
                close(fd);
            ShortString line = "x";
            QzLineInput(1, line);
            std::exit(QzEof(1) != 0 && QzLastFileError == -38 && line.empty() ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
    QzOpenPipe(1, "printf 'one\\r\\ntwo\\rthree\\n'; echo $LC_ALL; head -c 300 /dev/zero | tr '\\0' x");
    EXPECT_EQ(ReadAll(1), (Lines {"one", "", "two", "three", "C", std::string(255, 'x'), std::string(45, 'x')}));
    Sandbox sandbox;
    const QString marker = sandbox.path() + QStringLiteral("/done");
    QzOpenPipe(1, SS("sleep 0.2; touch '" + marker.toStdString() + "'"));
    QzClose(1);
    EXPECT_TRUE(QFile::exists(marker));
    QzOpenPipe(1, "yes");
    ShortString line, first;
    QzLineInput(1, line);
    QzClose(1);
    const std::string pids = sandbox.path().toStdString() + "/pids";
    // Per command: its limit, the reads it gives (-1: to its end; 0: closed unread, which kills it unmarked).
    const std::tuple<std::string, int, int> stalls[]
        = {{"(echo a; echo $$ >> '" + pids + "'; exec sleep 100) | (echo $$ >> '" + pids + "'; exec cat)", 300, 2},
            {"exec sleep 100", 200, 0}, {"exec yes", 300, -1}};
    for (const auto& [command, limit, reads] : stalls) {
        QzOpenPipe(1, SS(command));
        QzSetPipeTimeLimit(1, limit);
        int n = 0;
        for (; reads != 0 && QzEof(1) == 0; ++n)
            QzLineInput(1, n == 0 ? first : line);
        EXPECT_TRUE(reads != 2 || (n == 2 && first == SS("a"))) << n;
        EXPECT_EQ(QzPipeTimedOut(1), reads != 0) << command;
        QzClose(1);
        EXPECT_FALSE(QzPipeTimedOut(1));
    }
    std::ifstream in(pids);
    int stages = 0;
    for (std::string pid, name, state; in >> pid; ++stages) {
        std::ifstream stat("/proc/" + pid + "/stat");
        EXPECT_TRUE(!(stat >> pid >> name >> state) || state == "Z") << pid << " lives on";
    }
    EXPECT_EQ(stages, 2);
}

TEST(Channels, RangeInUseFileErrorsFileLinesAndLocks)
{
    Sandbox sandbox;
    {
        AlertRecorder recorder({1, 1, 1, 1, 1, 1}); // "Continue"
        QzOpenPipe(0, "true");
        QzOpenPipe(256, "true");
        QzOpenInput(300, 0, QStringLiteral("/nonexistent"), 256);
        QzOpenOutput(-1, 0, QStringLiteral("/nonexistent"));
        QzOpenPipe(1, "echo first");
        QzOpenPipe(1, "echo second");
        QzOpenInput(3, 0, sandbox.path() + QStringLiteral("/missing"), 256);
        const char* const expected[] = {"FileID not in range 0 for FileID: 0 / FileID must be in range 1 to 255",
            "FileID not in range 0 for FileID: 256 / FileID must be in range 1 to 255",
            "Error in QzOpenInput for file# 300 / FileID must be in range 1 to 255",
            "Error in QzOpenOutput for file# -1 / FileID must be in range 1 to 255",
            "Error in Open 'UNIX' for file#1 / FileID already in use",
            "The program returned a file error.\nFile ref:3 / "};
        ASSERT_EQ(recorder.alerts.size(), 6u);
        for (std::size_t i = 0; i < 6; ++i)
            EXPECT_EQ((recorder.alerts[i].message.section(QLatin1Char('\n'), 0, 1) + QStringLiteral(" / ")
                          + recorder.alerts[i].informative)
                          .toStdString(),
                expected[i]);
        EXPECT_EQ(recorder.alerts[0].buttons.join(QLatin1Char(';')), QStringLiteral("Stop;Continue;Crash"));
        EXPECT_EQ(recorder.alerts[0].style, 0);
        for (int id : {0, 256, 3})
            EXPECT_EQ(QzEof(id), -1) << id;
        EXPECT_EQ(ReadAll(1), (Lines {"first", ""}));
    }
    const QzHookGuard<QzFileErrorHandlerFn> ignore(QzFileErrorHandler, Ignore);
    ShortString line = "x";
    QzLineInput(999, line); // out of range: silent and empty
    EXPECT_TRUE(line.empty());
    const QString file = sandbox.Write(QStringLiteral("in"), "keep\r");
    QzOpenInput(3, 0, file, 256);
    const QString missing = sandbox.path() + QStringLiteral("/missing");
    const auto code = [](const std::function<void()>& call) {
        QzLastFileError = 0;
        call();
        return QzLastFileError;
    };
    EXPECT_EQ(code([&] { QzOpenInput(4, 0, missing, 256); }), 13);
    EXPECT_EQ(code([&] { QzLineInput(7, line); }), -38);
    EXPECT_EQ(code([&] { QzOpenOutput(8, 1, missing); }), 2);
    EXPECT_EQ(code([&] { QzOpenOutput(8, 0, missing + QStringLiteral("/no/f")); }), 2);
    for (int channel : {7, 3}) { // not open, and open for input
        QzSetOutput(channel);
        EXPECT_EQ(code([] { QzPrint("lost"); }), -61) << channel;
    }
    EXPECT_TRUE(line.empty());
    QzSetOutput(0);
    QzClose(3);
    EXPECT_EQ(ReadFile(file), "keep\r");

    // Output files are emptied or created and their lines end with CR; a file's lines follow the 254/255 rule (a
    // 255th byte that is a line end leaves a line of 254). Another process's lock keeps a writer out, and an
    // exclusive one readers too; reopening without a close in between leaves no shared lock behind.
    const QString out = sandbox.Write(QStringLiteral("out"), std::string(1000, 'z'));
    QzOpenOutput(4, 0, out);
    QzOpenOutput(5, 2, sandbox.path() + QStringLiteral("/fresh"));
    for (const char* value : {"one", " 2", ""}) {
        QzSetOutput(4);
        QzPrint(value);
        QzPrintNewline();
        QzSetOutput(0);
    }
    QzPrint("nowhere"); // channel 0 writes nothing
    QzSetOutput(5);
    QzPrint("x");
    QzSetOutput(0);
    QzClose(0);
    EXPECT_EQ(ReadFile(out) + "|" + ReadFile(sandbox.path() + QStringLiteral("/fresh")), "one\r 2\r\r|x");
    const std::string b254(254, 'b');
    const std::pair<std::string, Lines> cases[]
        = {{"first\r\nsecond\r" + std::string(300, 'a') + "\r" + b254 + "\rlast",
               {"first", "", "second", std::string(255, 'a'), std::string(45, 'a'), b254, "last"}},
            {b254 + "\rnext\r", {b254, "next"}}, {"", {""}}};
    for (const auto& [bytes, lines] : cases) {
        QzOpenInput(3, 0, sandbox.Write(QStringLiteral("lines"), bytes), 256);
        EXPECT_EQ(QzEof(3) == -1, bytes.empty());
        EXPECT_EQ(ReadAll(3), lines);
    }
    const QString locked = sandbox.Write(QStringLiteral("locked"), "data\r");
    for (int how : {LOCK_EX, LOCK_SH}) {
        LockHolder lock(locked, how);
        EXPECT_EQ(code([&] { QzOpenOutput(4, 0, locked); }), 35);
        EXPECT_EQ(code([&] { QzOpenInput(3, 0, locked, 256); }), how == LOCK_EX ? 35 : 0);
        EXPECT_EQ(ReadAll(3), (Lines {how == LOCK_EX ? "" : "data"}));
        QzClose(4);
    }
    EXPECT_EQ(ReadFile(locked), "data\r");
    QzOpenInput(3, 0, locked, 256);
    QzOpenInput(3, 0, locked, 256);
    QzClose(3);
    EXPECT_EQ(code([&] { QzOpenOutput(4, 0, locked); }), 0);
    QzClose(4);
}

TEST(PlatformWrappers, FoldersAndUrlsMapToThisSystem)
{
    Sandbox sandbox;
    const QUrl support = QzDirectoryURL(kQzApplicationSupportDirectory, kQzUserDomain);
    EXPECT_EQ(support.toLocalFile(), sandbox.path() + QStringLiteral("/.local/share/"));
    EXPECT_EQ(QzDirectoryURL(kQzLibraryDirectory, kQzSystemDomain).toLocalFile(), QStringLiteral("/System/Library/"));
    EXPECT_TRUE(QzDirectoryURL(99, kQzUserDomain).isEmpty());

    const QUrl folder = QzURLAppend(support, QStringLiteral("Quillaby/"));
    EXPECT_FALSE(QzFileExists(folder));
    EXPECT_FALSE(QzCreateDirectory(folder)); // its parent does not exist yet
    EXPECT_TRUE(QzCreateDirectory(folder, true));
    EXPECT_TRUE(QzFileExists(folder));
    EXPECT_EQ(QzURLAppend(folder, QStringLiteral("Settings")).toLocalFile(),
        sandbox.path() + QStringLiteral("/.local/share/Quillaby/Settings"));

    // Null in, null out.
    EXPECT_TRUE(QzURLAppend(QUrl(), QStringLiteral("x")).isEmpty());
    EXPECT_TRUE(QzURLParent(QUrl()).isEmpty());
    EXPECT_TRUE(QzURLLastComponent(QUrl()).isEmpty());
    EXPECT_FALSE(QzFileExists(QUrl()));
    EXPECT_FALSE(QzOpenURL(QUrl()));
}
