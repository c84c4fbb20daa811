#include "test_support.h"

#include "platform/script_standin.h"

namespace {

std::pair<bool, QString> RunScript(const QString& script)
{
    QString result, error;
    const bool ok = StandInRunScript(script, &result, &error);
    return {ok, ok ? result : error};
}

} // namespace

TEST(StandInScripts, DoShellScriptAndFinderAnswerAsTheMacDoes)
{
    Sandbox sandbox;
    const char* const unknown = "This system's script runner does not understand the script.";
    const std::tuple<const char*, bool, const char*> cases[]
        = {{"do shell script \"printf 'one\\\\ntwo\\\\n\\\\n'\"", true, "one\rtwo\r"},
            {"do shell script \"echo \\\"$LC_ALL\\\"\"", true, "C"}, {"do shell script \"true\"", true, ""},
            {"do shell script \"echo out; echo bad >&2; exit 3\"", false, "bad"},
            {"do shell script \"exit 1\"", false, "The command exited with a non-zero status."},
            {"do shell script \"no-such-command-here\"", false, "/bin/sh: 1: no-such-command-here: not found"},
            {"do shell script \"echo unterminated", false, unknown},
            {"do shell script \"true\" & \"x\"", false, unknown}, {"display dialog \"hi\"", false, unknown},
            {"tell application \"Finder\"\nset startup_Disk to (name of startup disk)\nend tell", true, "Macintosh HD"},
            {"tell application \"Finder\"\nactivate\nend tell", true, ""}};
    for (const auto& [script, ok, text] : cases)
        EXPECT_EQ(RunScript(QString::fromUtf8(script)), std::make_pair(ok, QString::fromUtf8(text))) << script;
    setenv("QUILLABY_STARTUP_DISK", "Data", 1);
    EXPECT_EQ(RunScript(QString::fromUtf8(std::get<0>(cases[9]))).second, QStringLiteral("Data"));
    unsetenv("QUILLABY_STARTUP_DISK");
    // Large output is read to the end without blocking; the caller keeps 255 bytes.
    EXPECT_EQ(
        RunScript(QStringLiteral("do shell script \"head -c 3000000 /dev/zero | tr -c x x\"")).second.size(), 1 << 20);

    for (const auto& [colon, posix] : std::initializer_list<std::pair<const char*, const char*>> {
             {"Macintosh HD:a:b", "/a/b"}, {"Macintosh HD:a:b:", "/a/b"}, {"Macintosh HD:", "/"},
             {"Backup:x/y:z", "/Volumes/Backup/x:y/z"}, {"Macintosh HD", ""}, {":a", ""}})
        EXPECT_EQ(PosixPathOfColonPath(QString::fromUtf8(colon)).toStdString(), posix) << colon;
}
