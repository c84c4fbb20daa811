#include "runtime/channels.h"
#include "runtime/encoding.h"
#include "runtime/platform.h"
#include "runtime/state.h"
#include "runtime/textcontainer.h"
#include "ui_support.h"

#include <cmath>
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

// Each result against what it should be; a failure names the case's place in the list.
template <typename T> void ExpectEach(std::initializer_list<std::pair<T, T>> cases)
{
    int i = 0;
    for (const auto& [got, want] : cases)
        EXPECT_EQ(got, want) << "case " << i++;
}

} // namespace

// Closing waits for a command and ends a chatty one; at its limit a stalled command is killed, every stage of it, a
// silent one on closing. A command that cannot start ends the read loop.
TEST(Channels, PipeLinesEndAtCrOrLfComeIn255BytePiecesAndAStalledCommandIsKilledWhole)
{
    // With every descriptor used up no pipe can be made: the read fails and counts as the end (3: it would spin).
    EXPECT_EXIT(
        {
            QzFileErrorHandler = [](std::int64_t, std::int64_t) { return 0; };
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
    const QzHookGuard<QzFileErrorHandlerFn> ignore(QzFileErrorHandler, [](std::int64_t, std::int64_t) { return 0; });
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
    EXPECT_TRUE(QzURLAppend(QUrl(), QStringLiteral("x")).isEmpty() && QzURLParent(QUrl()).isEmpty()
        && QzURLLastComponent(QUrl()).isEmpty() && !QzFileExists(QUrl()) && !QzOpenURL(QUrl()));
}

TEST(ShortString, EditsSearchesComparesNumbersAndDatesWorkOnBytesAsOnTheMac)
{
    ShortString s = SS(std::string(250, 'x'));
    QzStrAppend(s, "0123456789");
    QzStrAppend(s, "more");
    const ShortString abc = "abcdef", nul = SS(std::string("a\0b", 3));
    ExpectEach<ShortString>({{s, SS(std::string(250, 'x') + "01234")}, {SS("ab") + "cd", SS("abcd")},
        {QzLeft(abc, 0), ""}, {QzLeft(abc, -3), ""}, {QzLeft(abc, 300), abc}, {QzLeft(abc, 2), "ab"},
        {QzMid(abc, 0, 2), "ab"}, {QzMid(abc, -4, 99), abc}, {QzMid(abc, 5, 10), "ef"}, {QzMid(abc, 7, 1), ""},
        {QzMid(abc, 2, 0), ""}, {QzMid(abc, 2, 3), "bcd"}, {QzStringOf(256, 65), ""}, {QzStringOf(0, 65), ""},
        {QzStringOf(-1, 65), ""}, {QzStringOf(1, 65), "A"}, {QzStringOf(255, 13), SS(std::string(255, '\r'))},
        {QzStringOf(3, 0), SS(std::string(3, '\0'))}});
    // A NUL compares like byte 1, and bytes are unsigned.
    ExpectEach<int>(
        {{QzInstr(1, "upd: (x", ": ("), 4}, {QzInstr(5, "abcabc", "abc"), 0}, {QzInstr(4, "abcabc", "abc"), 4},
            {QzInstr(0, "abc", "abcd"), 0}, {QzInstr(-7, "xxabc", "abc"), 3}, {QzInstr(1, "aaab", "aab"), 2},
            {QzInstr(1, "Error", "error"), 0}, {QzInstr(1, nul, SS(std::string("\0b", 2))), 2},
            {QzInstr(1, SS(std::string(255, 'a')), SS(std::string(255, 'a'))), 1}, {QzStrCompare("abc", "abc"), 0},
            {QzStrCompare("abc", "abd") < 0, 1}, {QzStrCompare("ab", "abc") < 0, 1},
            {QzStrCompare(SS("\xE9"), "e") > 0, 1}, {QzStrCompare(SS(std::string("a\0", 2)), SS("a\x01")), 0},
            {QzStrCompare("", ""), 0}, {QzLen(QzStringOf(3, 0)), 3}});

    s = "a/b/c";
    QzMidAssign(s, 2, 1, ":");
    QzMidAssign(s, 4, 1, ":");
    EXPECT_EQ(s, SS("a:b:c"));
    QzMidAssign(s, 4, 10, "XYZW");
    QzMidAssign(s, 0, 1, "Q");
    QzMidAssign(s, 9, 1, "Q");
    EXPECT_EQ(s, SS("Q:bXY")); // from the first byte, never past the end
    ExpectEach<double>(
        {{QzVal(""), 0}, {QzVal("0x1F"), 31}, {QzVal("0X1f"), 31}, {QzVal("&H1F"), 31}, {QzVal("&h1f"), 31},
            {QzVal("&O17"), 15}, {QzVal("&X101"), 5}, {QzVal("&1F"), 31}, {QzVal(" 42"), 42}, {QzVal("-7"), -7},
            {QzVal("07"), 7}, {QzVal("12abc"), 12}, {QzVal("abc"), 0}, {QzVal(" 2.5"), 2.5}, {QzVal(".5"), 0.5}});
    ExpectEach<ShortString>({{QzNumberText(5.0), " 5"}, {QzNumberText(-3.0), "-3"}, {QzNumberText(0.0), " 0"},
        {QzNumberText(2.5), " 2.5"}, {QzNumberText(5.05), " 5.05"}, {QzNumberText(-0.25), "-0.25"},
        {QzNumberText(338.0), " 338"}, {QzNumberText(1e19), " 10000000000000000000"},
        {QzNumberText(-1e19), "-10000000000000000000"}, {QzNumberText(QzVal("1e400")), " inf"},
        {QzNumberText(QzVal("-1e400")), "-inf"}, {QzNumberText(std::nan("")), " nan"}, {QzNumberText(1e-9), " 0"}});
    EXPECT_EQ(QzResultStr, SS(" 0"));
    // Dates in the current locale, from the test clock.
    TestClock clock;
    const std::tuple<const char*, const char*, const char*> cases[] = {{"2026-02-03 07:08:09", "HH:mm:ss", "07:08:09"},
        {"2026-02-03 07:08:09", "D", "34"}, {"2026-02-03 07:08:09", "yyyy-M-d", "2026-2-3"},
        {"2024-12-31 23:59:59", "D", "366"}, {"2026-01-01 01:00:00", "D", "1"}};
    for (const auto& [now, format, text] : cases) {
        TestClock::SetLocal(now);
        EXPECT_EQ(QzDateText(format), SS(text)) << now << " " << format;
    }
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

TEST(MacRoman, HighBytesReadAsOnTheMacAndEveryByteRoundTrips)
{
    // High bytes are the Mac's characters (as `uconv -f macintosh` reads them), those where other tables differ too.
    const std::pair<char, char16_t> high[] = {{'\x80', u'\u00C4'}, {'\xA5', u'\u2022'}, {'\xC6', u'\u2206'},
        {'\xD5', u'\u2019'}, {'\xDB', u'\u20AC'}, {'\xF0', u'\uF8FF'}, {'\xFF', u'\u02C7'}};
    for (const auto& [byte, c] : high)
        EXPECT_EQ(QzDecodeBytes(&byte, 1), QChar(c)) << int(c);
    std::string all;
    QString text;
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        const QString one = QzDecodeBytes(&byte, 1);
        EXPECT_TRUE(b >= 128 || one == QChar(char16_t(b))) << "byte " << b;
        EXPECT_EQ(QzEncodeMacRoman(one), std::string(1, byte)) << "byte " << b;
        if (b > 0) {
            all.push_back(byte);
            text += one; // runs of high bytes can form valid UTF-8: each byte alone
        }
    }
    EXPECT_EQ(QzEncodeMacRoman(text), all);
    EXPECT_EQ(QzStrFromCF(text), ShortString::FromView(all));
    // Straight to UTF-8, as the report command writes: the same text, for each byte and for mixed UTF-8, broken
    // sequences and Mac Roman, after ASCII runs of every length up to two of the eight bytes taken at once.
    std::string runs;
    for (std::size_t k = 0; k <= 17; ++k)
        runs += std::string(k, 'a') + (k % 2 == 0 ? "\xE9" : "\xC3\xA9");
    for (const std::string& bytes :
        {all, runs, std::string("\xC3\xA9t\xE9 \xF0\x9F\x98\x80\xF0\x9F\xED\xA0\x80\xC0\xAF\0z")}) {
        std::string utf8;
        QzAppendBytesAsUtf8(bytes.data(), bytes.size(), utf8);
        EXPECT_EQ(utf8, QzDecodeBytes(bytes.data(), bytes.size()).toUtf8().toStdString());
    }
    // Valid UTF-8 reads as UTF-8; lone high bytes and broken sequences (byte 128: an apostrophe) as Mac Roman.
    const std::pair<ShortString, QString> reads[]
        = {{SS("caf\xC3\xA9"), QStringLiteral("caf\u00E9")}, {SS("caf\x8E"), QStringLiteral("caf\u00E9")},
            {SS("\xE2\x80\x9CImporter Start failed\xE2\x80\x9D"), QStringLiteral("\u201CImporter Start failed\u201D")},
            {SS("a\xE2'\234b"), QStringLiteral("a\u201A'\u00FAb")},
            {SS(std::string("a\0b", 3)), QString::fromUtf16(u"a\u0000b", 3)},
            {SS("\xF0\x9F\x98\x80"), QString::fromUtf16(u"\U0001F600")}};
    for (const auto& [bytes, read] : reads)
        EXPECT_EQ(QzStrToCF(bytes), read) << bytes.view();
    const std::pair<QString, ShortString> writes[]
        = {{QStringLiteral("s\u00FCsan@example.com"), SS("s\x9Fsan@example.com")},
            {QString(300, QLatin1Char('a')), SS("")}, {QString(255, QLatin1Char('a')), SS(std::string(255, 'a'))},
            {QStringLiteral("\u4E2D"), SS("")}, {QStringLiteral("Susan\u2019s Mac"), SS("Susan\xD5s Mac")}};
    for (const auto& [written, bytes] : writes)
        EXPECT_EQ(QzStrFromCF(written), bytes) << written.toStdString();
    // Characters the Mac table lacks, including iconv's reading of 0xC6 and 0xF0, have no byte.
    for (char16_t missing : {u'\u0394', u'\uE01E', u'\u4E2D'})
        EXPECT_EQ(QzEncodeMacRoman(QStringLiteral("a") + QChar(missing)), std::nullopt) << int(missing);
}

TEST(TextContainer, AppendsMeasuresCutsAndSearches)
{
    TextContainer v;
    QzContainerAppendStr(v, "");
    EXPECT_TRUE(v.empty() && QzContainerToCF(v).isEmpty());
    QzContainerAppendStr(v, "ab");
    QzContainerAppendStr(v, SS(std::string(300, 'b')));
    ShortString out;
    QzContainerToStr(v, out, 3);
    EXPECT_EQ(out, SS("abb"));
    QzContainerToStr(v, out, 256);
    EXPECT_EQ(out.len, 255);

    // Searching stops at a NUL in the text or the pattern.
    QzContainerSetStr(v, SS(std::string("xxabc\0cd", 8)));
    for (const auto& [start, pattern, at] : std::initializer_list<std::tuple<int, ShortString, int>> {{1, "abc", 3},
             {3, "abc", 3}, {4, "abc", 0}, {-2, "abc", 3}, {1, "abcdefghi", 0}, {9, "c", 0}, {1, "cd", 0}, {7, "cd", 7},
             {1, SS(std::string("b\0zz", 4)), 4}})
        EXPECT_EQ(QzContainerInstr(start, v, pattern), at) << start << " " << pattern.view();
    EXPECT_EQ(QzContainerInstr(1, TextContainer {}, "a"), 0);
}

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
