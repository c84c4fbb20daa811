#include "../notify/notify_support.h"

#include "notify/runner.h"
#include "notify/state.h"
#include "platform/script_standin.h"

#include <gtest/gtest.h>

#include <QUrl>

namespace {

std::vector<QUrl> gOpened;

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

    // The folder button's path end to end: the runner's script, the
    // stand-in's answer and the opener.
    ResetNotifyState();
    const QzHookGuard<QzOpenUrlFn> opener(gQzOpenUrlHook, [](const QUrl& url) {
        gOpened.push_back(url);
        return true;
    });
    const QzHookGuard<QzScriptFn> runner(gQzScriptHook, StandInRunScript);
    gOpened.clear();
    sandbox.Write(QStringLiteral("Quillaby \"Q\"/file"), "x");
    FinderOpenFile(QzStrFromCF(QStringLiteral("Macintosh HD:")
        + sandbox.path().mid(1).replace(QLatin1Char('/'), QLatin1Char(':')) + QStringLiteral(":Quillaby \"Q\"")));
    EXPECT_TRUE(gOpenFileResult.empty()) << gOpenFileResult;
    ASSERT_EQ(gOpened.size(), 1u);
    EXPECT_EQ(gOpened[0].toLocalFile(), sandbox.path() + QStringLiteral("/Quillaby \"Q\""));
    AlertRecorder alerts;
    FinderOpenFile("Macintosh HD:no:such:thing");
    EXPECT_EQ(gOpenFileResult, SS("ERROR:  File Macintosh HD:no:such:thing wasn\xD5t found."));
    EXPECT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(gOpened.size(), 1u);
}
