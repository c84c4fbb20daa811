#include "notify_support.h"

#include "app/environment.h"
#include "notify/runner.h"
#include "notify/state.h"
#include "platform/script_standin.h"
#include "runtime/testing.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

#include <plist/plist.h>

#include <cstdlib>

TEST(Runner, AppleScriptLeavesTheResultTheErrorOrNothing)
{
    ResetNotifyState();
    ScriptRecorder recorder;
    struct Case {
        bool ok;
        QString answer;
        std::string want;
    };
    // Characters Mac Roman lacks stay as UTF-8 and read back the same; a
    // character that would not fit whole is left out.
    const Case cases[] = {{true, QStringLiteral("Sam\u2019s Mac"), "Sam\xD5s Mac"}, {true, QString(), ""},
        {false, QStringLiteral("Finder got an error"), "ERROR:  Finder got an error"}, {false, QString(), "ERROR:  "},
        {true, QString(300, QLatin1Char('x')), std::string(255, 'x')},
        {false, QString(300, QLatin1Char('y')), "ERROR:  " + std::string(247, 'y')},
        {true, QString(253, QLatin1Char('a')) + QStringLiteral("\u20AC\U0001F600"), std::string(253, 'a') + "\xDB"},
        {true, QString(253, QLatin1Char('a')) + QStringLiteral("\U0001F600"), std::string(253, 'a')},
        {true, QStringLiteral("\u0416"), "\xD0\x96"}};
    for (const Case& c : cases) {
        recorder.ok = c.ok;
        (c.ok ? recorder.result : recorder.error) = c.answer;
        RunAppleScript("do shell script \"true\"");
        EXPECT_EQ(gScriptResult, SS(c.want)) << c.answer.toStdString();
    }
    EXPECT_EQ(recorder.scripts.back(), QStringLiteral("do shell script \"true\""));
}

TEST(Runner, FinderScriptsAndTheirAnswers)
{
    ResetNotifyState();
    ScriptRecorder recorder;
    recorder.result = QStringLiteral("Macintosh HD");
    EXPECT_EQ(StartupDiskName(), SS("Macintosh HD:"));
    EXPECT_EQ(gStartupDiskPath, SS("Macintosh HD:"));
    recorder.ok = false;
    recorder.error = QStringLiteral("no Finder");
    EXPECT_EQ(StartupDiskName(), SS("ERROR:  no Finder:"));
    recorder.ok = true;
    recorder.result = QStringLiteral("anything");
    FinderActivate();
    EXPECT_TRUE(gScriptResult.empty());
    recorder.result.clear();
    FinderOpenFile("Macintosh HD:Users:sam");
    EXPECT_TRUE(gOpenFileResult.empty());
    const QString finder = QStringLiteral("tell application \"Finder\"\n");
    EXPECT_EQ(recorder.scripts,
        (std::vector<QString> {finder + QStringLiteral("set startup_Disk to (name of startup disk)\nend tell"),
            finder + QStringLiteral("set startup_Disk to (name of startup disk)\nend tell"),
            finder + QStringLiteral("activate\nend tell"),
            finder + QStringLiteral("open alias \"Macintosh HD:Users:sam\"\nend tell")}));

    // Any answer of the open script is a failure worth an alert; a quote or
    // backslash in the path stays inside the literal.
    AlertRecorder alerts;
    recorder.result = QStringLiteral("File wasn\u2019t found.");
    const ShortString hostile = SS("Macintosh HD:a\" & (do shell script \"touch X\") & \"\\b");
    FinderOpenFile(hostile);
    EXPECT_EQ(gOpenFileResult, SS("File wasn\xD5t found."));
    QStringList literal;
    ASSERT_TRUE(MatchScript(
        recorder.scripts.back(), {finder + QStringLiteral("open alias "), QStringLiteral("\nend tell")}, &literal));
    EXPECT_EQ(literal.at(0), QzStrToCF(hostile));

    // Run for real, a path of 207 bytes still fits the script's 255, one of
    // 208 cuts it, and the cut script fails with an alert.
    QzHookGuard<QzScriptFn> runner(gQzScriptHook, StandInRunScript);
    const ShortString fits = SS("Macintosh HD:" + std::string(194, 'p'));
    FinderOpenFile(fits);
    FinderOpenFile(SS("Macintosh HD:" + std::string(195, 'p')));
    EXPECT_TRUE(QzStrToCF(gOpenFileResult).contains(QStringLiteral("understand"))) << gOpenFileResult;
    ASSERT_EQ(alerts.alerts.size(), 3u);
    EXPECT_EQ(alerts.alerts[0].message, QStringLiteral("Unable to open the file at\r"));
    EXPECT_EQ(alerts.alerts[0].informative, QzStrToCF(hostile));
    EXPECT_EQ(QzStrFromCF(alerts.alerts[1].informative), fits);
}

TEST(Runner, ShellCollectJoinsLinesAndTheUserIsTheHomeFolder)
{
    Sandbox sandbox;
    setenv("HOME", (sandbox.path() + QStringLiteral("/Users/s\u00E9verine")).toUtf8().constData(), 1);
    EXPECT_EQ(UserShortName(), SS("s\x8Everine"));
    sandbox.Stub(QStringLiteral("twolines"), "printf 'first\\nsecond\\n'");
    sandbox.Stub(QStringLiteral("silent"), "exit 3");
    sandbox.Stub(QStringLiteral("chatty"), "i=0; while [ $i -lt 100 ]; do echo 0123456789; i=$((i+1)); done");
    EXPECT_EQ(RunShellCollect("twolines"), SS("firstsecond"));
    EXPECT_EQ(RunShellCollect("silent"), SS(""));
    std::string digits;
    while (digits.size() < 255)
        digits += "0123456789";
    EXPECT_EQ(RunShellCollect("chatty"), SS(digits.substr(0, 255)));
}

// Either form of the plist; without a version, or without a readable file, nothing is too old.
TEST(Runner, SystemVersionIsReadFromThePlist)
{
    Sandbox sandbox;
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "ProductVersion", plist_new_string("10.12.1"));
    char* bin = nullptr;
    std::uint32_t size = 0;
    plist_to_bin(dict, &bin, &size);
    plist_free(dict);
    const std::tuple<std::string, bool, bool> cases[] = {{"10.13.6", false, false}, {"10.14", false, true},
        {std::string(bin, size), true, false}, {PlistXml({{"ProductName", "Mac OS X"}}), true, true},
        {"<plist><dict><key>ProductVersion", true, true}, {"", true, true}};
    std::free(bin);
    for (const auto& [version, raw, atLeast] : cases) {
        SystemVersion plist(sandbox, version, raw);
        EXPECT_EQ(SystemVersionAtLeast("10.13.9"), atLeast) << version;
    }
    {
        SystemVersion missing(sandbox, "", true);
        QFile::remove(missing.path);
        EXPECT_TRUE(SystemVersionAtLeast("99"));
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
