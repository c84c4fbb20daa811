#include "../notify/notify_support.h"

#include "notify/runner.h"
#include "notify/state.h"
#include "platform/osascript.h"
#include "platform/script_standin.h"
#include "platform/state.h"

#include <fstream>

namespace {

// An osascript in the sandbox that records its arguments ("<count>:<them>" and a line end) and then its standard input,
// and runs the answer given; the program's script runner is the osascript runner meanwhile.
struct StubOsascript {
    void Answer(const std::string& shell) const
    {
        sandbox.Stub(QStringLiteral("osascript"), "{ echo \"$#:$*\"; cat; } > '" + Record() + "'\n" + shell);
    }
    std::string Record() const { return sandbox.path().toStdString() + "/record"; }
    const Sandbox& sandbox;
    QzHookGuard<QzScriptFn> runner {gQzScriptHook, OsascriptRunScript};
    QzHookGuard<QString> path {gOsascriptPath, sandbox.bin() + QStringLiteral("/osascript")};
    QzHookGuard<std::int64_t> limit {gOsascriptLimitMs, gOsascriptLimitMs};
};

// A process that has ended: gone, or a zombie its parent has not reaped yet.
bool Ended(const std::string& pid)
{
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string number, name, state;
    return !(stat >> number >> name >> state) || state == "Z";
}

std::pair<bool, QString> RunScript(const QString& script)
{
    QString result, error;
    const bool ok = StandInRunScript(script, &result, &error);
    return {ok, ok ? result : error};
}

} // namespace

// A script reaches osascript's standard input as UTF-8 with no arguments; its output becomes gScriptResult (without
// the last line end, or "ERROR:  " and the error's message); a hung script is killed whole at the limit.
TEST(Scripts, OsascriptAndTheStandInRunnerAnswerAsOnTheMac)
{
    ResetNotifyState();
    Sandbox sandbox;
    const StubOsascript osascript {sandbox};
    osascript.Answer(":");
    FinderOpenFile(SS("Macintosh HD:Users:s\237e:\"q\"")); // u with diaeresis in Mac Roman
    EXPECT_EQ(ReadFile(QString::fromStdString(osascript.Record())),
        "0:\ntell application \"Finder\"\nopen alias \"Macintosh HD:Users:s\303\274e:\\\"q\\\"\"\nend tell");
    const std::pair<const char*, const char*> cases[] = {
        {"printf 'Macintosh HD\\n'", "Macintosh HD"},
        {":", ""},
        {"printf 'one\\rtwo\\n\\n'", "one\rtwo\n"},
        {"echo 'Sam\xE2\x80\x99s Mac'; echo 'a warning' >&2", "Sam\xD5s Mac"}, // Mac Roman right quote
        {"echo '123:130: execution error: Mail got an error: Can\xE2\x80\x99t get account 1. (-1728)' >&2; exit 1",
            "ERROR:  Mail got an error: Can\xD5t get account 1."},
        {"echo '0:5: syntax error: Expected end of line but found identifier. (-2741)' >&2; exit 1",
            "ERROR:  Expected end of line but found identifier."},
        {"echo partial; echo '0:44: execution error: sh: foo: command not found (127)' >&2; exit 1",
            "ERROR:  sh: foo: command not found"},
        {"echo 'osascript[42:43] logged first' >&2;"
         "echo '12:30: execution error: Finder got an error: AppleEvent timed out. (-1712)' >&2; exit 1",
            "ERROR:  Finder got an error: AppleEvent timed out."},
        {"echo 'osascript: no such component' >&2; exit 2", "ERROR:  osascript: no such component"},
        {"exit 1", "ERROR:  The script failed without an error message."},
        {"kill -9 $$", "ERROR:  The script failed without an error message."},
    };
    for (const auto& [answer, want] : cases) {
        SCOPED_TRACE(answer);
        osascript.Answer(answer);
        RunAppleScript("do shell script \"scutil --get ComputerName\"");
        EXPECT_EQ(gScriptResult, SS(want));
    }
    const QString pids = sandbox.path() + QStringLiteral("/pids");
    osascript.Answer(
        "echo $$ > '" + pids.toStdString() + "'; sleep 60 & echo $! >> '" + pids.toStdString() + "'; wait");
    gOsascriptLimitMs = 500;
    RunAppleScript("do shell script \"sleep 60\"");
    EXPECT_EQ(gScriptResult, SS("ERROR:  The script did not finish within 0.5 seconds."));
    const QList<QByteArray> started = QByteArray::fromStdString(ReadFile(pids)).trimmed().split('\n');
    ASSERT_EQ(started.size(), 2);
    const QDeadlineTimer deadline(10000);
    for (const QByteArray& pid : started) {
        while (!Ended(pid.toStdString()) && !deadline.hasExpired())
            QThread::msleep(20);
        EXPECT_TRUE(Ended(pid.toStdString())) << pid.toStdString();
    }
    gOsascriptPath = sandbox.path() + QStringLiteral("/missing/osascript");
    RunAppleScript("return 1");
    EXPECT_EQ(
        gScriptResult, SS("ERROR:  The script runner " + gOsascriptPath.toStdString() + " could not be started."));
    // The stand-in runner answers a shell script's and the Finder's scripts as the Mac does, and no other.
    const char* const unknown = "This system's script runner does not understand the script.";
    const std::tuple<const char*, bool, const char*> scripts[]
        = {{"do shell script \"printf 'one\\\\ntwo\\\\n\\\\n'\"", true, "one\rtwo\r"},
            {"do shell script \"echo \\\"$LC_ALL\\\"\"", true, "C"}, {"do shell script \"true\"", true, ""},
            {"do shell script \"echo out; echo bad >&2; exit 3\"", false, "bad"},
            {"do shell script \"exit 1\"", false, "The command exited with a non-zero status."},
            {"do shell script \"no-such-command-here\"", false, "/bin/sh: 1: no-such-command-here: not found"},
            {"do shell script \"echo unterminated", false, unknown},
            {"do shell script \"true\" & \"x\"", false, unknown}, {"display dialog \"hi\"", false, unknown},
            {"tell application \"Finder\"\nset startup_Disk to (name of startup disk)\nend tell", true, "Macintosh HD"},
            {"tell application \"Finder\"\nactivate\nend tell", true, ""}};
    for (const auto& [source, ok, text] : scripts)
        EXPECT_EQ(RunScript(QString::fromUtf8(source)), std::make_pair(ok, QString::fromUtf8(text))) << source;
    setenv("QUILLABY_STARTUP_DISK", "Data", 1);
    EXPECT_EQ(RunScript(QString::fromUtf8(std::get<0>(scripts[9]))).second, QStringLiteral("Data"));
    unsetenv("QUILLABY_STARTUP_DISK");
    // Large output is read to the end without blocking; the caller keeps 255 bytes.
    EXPECT_EQ(
        RunScript(QStringLiteral("do shell script \"head -c 3000000 /dev/zero | tr -c x x\"")).second.size(), 1 << 20);

    for (const auto& [colon, posix] : std::initializer_list<std::pair<const char*, const char*>> {
             {"Macintosh HD:a:b", "/a/b"}, {"Macintosh HD:a:b:", "/a/b"}, {"Macintosh HD:", "/"},
             {"Backup:x/y:z", "/Volumes/Backup/x:y/z"}, {"Macintosh HD", ""}, {":a", ""}})
        EXPECT_EQ(PosixPathOfColonPath(QString::fromUtf8(colon)).toStdString(), posix) << colon;
}
