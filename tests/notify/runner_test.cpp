#include "notify_support.h"

#include "app/environment.h"
#include "notify/runner.h"
#include "notify/state.h"
#include "platform/script_standin.h"
#include "runtime/testing.h"

#include <QUrl>

#include <plist/plist.h>

TEST(Runner, ScriptsShellCommandsTheFinderAndTheSystemVersionGiveTheirAnswers)
{
    ResetNotifyState();
    EXPECT_EQ(StartupDiskName(), SS("ERROR:  No script runner is available on this system.:")); // no runner
    ScriptRecorder recorder;
    // Characters Mac Roman lacks stay as UTF-8 and read back the same; a
    // character that would not fit whole is left out.
    const std::tuple<bool, QString, std::string> cases[] = {{true, QStringLiteral("Sam\u2019s Mac"), "Sam\xD5s Mac"},
        {true, QString(), ""}, {false, QStringLiteral("Finder got an error"), "ERROR:  Finder got an error"},
        {false, QString(), "ERROR:  "}, {true, QString(300, QLatin1Char('x')), std::string(255, 'x')},
        {false, QString(300, QLatin1Char('y')), "ERROR:  " + std::string(247, 'y')},
        {true, QString(253, QLatin1Char('a')) + QStringLiteral("\u20AC\U0001F600"), std::string(253, 'a') + "\xDB"},
        {true, QString(253, QLatin1Char('a')) + QStringLiteral("\U0001F600"), std::string(253, 'a')},
        {true, QStringLiteral("\u0416"), "\xD0\x96"}};
    for (const auto& [ok, answer, want] : cases) {
        recorder.ok = ok;
        (ok ? recorder.result : recorder.error) = answer;
        RunAppleScript("do shell script \"true\"");
        EXPECT_EQ(gScriptResult, SS(want)) << answer.toStdString();
    }
    EXPECT_EQ(recorder.scripts.back(), QStringLiteral("do shell script \"true\""));
    // A shell command's lines joined, cut at 255 bytes; the user is the home folder's name.
    Sandbox sandbox;
    setenv("HOME", (sandbox.path() + QStringLiteral("/Users/s\u00E9verine")).toUtf8().constData(), 1);
    EXPECT_EQ(UserShortName(), SS("s\x8Everine"));
    sandbox.Stub(QStringLiteral("twolines"), "printf 'first\\nsecond\\n'");
    sandbox.Stub(QStringLiteral("silent"), "exit 3");
    sandbox.Stub(QStringLiteral("chatty"), "i=0; while [ $i -lt 100 ]; do echo 0123456789; i=$((i+1)); done");
    EXPECT_EQ(RunShellCollect("twolines"), SS("firstsecond"));
    EXPECT_EQ(RunShellCollect("silent"), SS(""));
    EXPECT_EQ(RunShellCollect("chatty"), SS(QByteArray("0123456789").repeated(26).left(255).toStdString()));
    // The Finder's scripts as the stand-in runner answers them: the startup disk, activation, and the folder button's
    // path end to end, with a quote in a folder's name that stays inside the literal. An open that fails, or a path
    // too long for the script's 255 bytes, is told.
    static std::vector<QUrl> opened;
    const QzHookGuard<QzOpenUrlFn> opener(gQzOpenUrlHook, [](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    const QzHookGuard<QzScriptFn> runner(gQzScriptHook, StandInRunScript);
    EXPECT_EQ(StartupDiskName(), SS("Macintosh HD:"));
    EXPECT_EQ(gStartupDiskPath, SS("Macintosh HD:"));
    gScriptResult = "x";
    FinderActivate();
    EXPECT_TRUE(gScriptResult.empty());
    sandbox.Write(QStringLiteral("Quillaby \"Q\\\"/file"), "x");
    const std::string folder = "Macintosh HD"
        + QString(sandbox.path()).replace(QLatin1Char('/'), QLatin1Char(':')).toStdString() + ":Quillaby \"Q\\\"";
    const std::string fits = "Macintosh HD:" + std::string(194, 'p'), cut = fits + "p";
    const std::pair<std::string, std::string> paths[]
        = {{folder, ""}, {"Macintosh HD:no:such:thing", "ERROR:  File Macintosh HD:no:such:thing wasn\xD5t found."},
            {fits, "ERROR:  File " + fits + " wasn\xD5t found."},
            {cut, "ERROR:  This system's script runner does not understand the script."}};
    for (const auto& [path, result] : paths) {
        AlertRecorder alerts;
        FinderOpenFile(SS(path));
        EXPECT_EQ(gOpenFileResult, SS(result));
        ASSERT_EQ(alerts.alerts.size(), result.empty() ? 0u : 1u);
        for (const QzAlertRequest& a : alerts.alerts)
            EXPECT_EQ(a.message + a.informative, QStringLiteral("Unable to open the file at\r") + QzStrToCF(SS(path)));
    }
    EXPECT_EQ(opened, std::vector<QUrl> {QUrl::fromLocalFile(sandbox.path() + QStringLiteral("/Quillaby \"Q\\\""))});
    // The system version from either form of the plist; without a version nothing is too old.
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "ProductVersion", plist_new_string("10.12.1"));
    char* bin = nullptr;
    std::uint32_t size = 0;
    plist_to_bin(dict, &bin, &size);
    plist_free(dict);
    const std::tuple<std::string, bool, bool> versions[] = {{"10.13.6", false, false}, {"10.14", false, true},
        {std::string(bin, size), true, false}, {PlistXml({{"ProductName", "Mac OS X"}}), true, true},
        {"<plist><dict><key>ProductVersion", true, true}, {"", true, true}};
    std::free(bin);
    for (const auto& [version, raw, atLeast] : versions) {
        SystemVersion plist(sandbox, version, raw);
        EXPECT_EQ(SystemVersionAtLeast("10.13.9"), atLeast) << version;
    }
    // Without a real Mac's file, the simulated Mac of the bundle is 10.15.
    if (QFileInfo::exists(QStringLiteral("/System/Library/CoreServices/SystemVersion.plist")))
        return;
    QzSetBundlePath(QStringLiteral(QZ_BUNDLE_DIR));
    EXPECT_EQ(SimulatedMacPlistPath(),
        QStringLiteral(
            QZ_BUNDLE_DIR "/Contents/Resources/SimulatedMac/System/Library/CoreServices/SystemVersion.plist"));
    QzHookGuard<QzSystemVersionFn> system(gQzSystemVersionHook, QzSystemVersionReal);
    UseSimulatedMacVersion();
    EXPECT_TRUE(SystemVersionAtLeast("10.15.7"));
    EXPECT_FALSE(SystemVersionAtLeast("10.16"));
    QzSetBundlePath(QString());
}
