#include "app_world.h"

#include "monitor/fetch.h"
#include "runtime/windows.h"

#include <QDir>

#include <cstdio>
#include <cstdlib>

namespace {

using MainWindowTest = AppTest;

const std::string kToday = "Busy getting today's log. / Please wait until done.";
const std::string kYesterday = "Busy getting yesterday's log. / Please wait until done.";

// The settings file, printed when the process ends, so that a death test can
// see what was saved on the way out.
QString gFileToShowAtExit;
void ShowFileAtExit()
{
    std::fprintf(stderr, "[%s]", ReadFile(gFileToShowAtExit).c_str());
}

} // namespace

TEST_F(MainWindowTest, LogButtonsRequestOnlyWhenNoFetchRuns)
{
    struct Case {
        std::uint8_t today, yesterday;
        std::int64_t tag;
        std::vector<std::string> alerts;
    };
    const Case cases[] = {
        {0, 1, 6, {kYesterday}},
        {1, 0, 7, {kToday}},
        {1, 1, 6, {kYesterday, kToday}},
        {1, 1, 7, {kToday, kYesterday}},
        {1, 1, 16, {kToday}}, // the email window is not shown
        {0, 1, 16, {kYesterday}},
    };
    for (const Case& c : cases) {
        AlertRecorder recorder;
        gTodayPipeOpen = c.today;
        gYesterdayPipeOpen = c.yesterday;
        gTodayRequested = gYesterdayRequested = 0;
        Click(1, c.tag);
        EXPECT_EQ(AlertTexts(recorder), c.alerts) << "tag " << c.tag;
        EXPECT_EQ(gTodayRequested + gYesterdayRequested, 0);
        EXPECT_EQ(gOpenPanel, 0);
    }
    gTodayPipeOpen = gYesterdayPipeOpen = 0;
    gPollAllowed = 0;
    Click(1, 6);
    EXPECT_EQ(gTodayRequested, 1);
    EXPECT_EQ(gPollAllowed, 1);
    EXPECT_EQ(gPipeStartTicks, TicksNow() + 60);
    Click(1, 7);
    EXPECT_EQ(gYesterdayRequested, 1);
}

TEST_F(MainWindowTest, ButtonsOpenTheirDocumentsPanesAndPages)
{
    sandbox.Stub(QStringLiteral("tmutil"), "echo \"$@\" >> \"$HOME/tmutil.args\"");
    QDir().mkpath(Resources() + QStringLiteral("/Help.rtfd"));
    sandbox.Write(QStringLiteral("unused"), "");
    QFile(Resources() + QStringLiteral("/Help.rtfd/TXT.rtf")).open(QIODevice::WriteOnly);
    QFile(Resources() + QStringLiteral("/ErrorNumbers.rtf")).open(QIODevice::WriteOnly);
    const QString res = QUrl::fromLocalFile(Resources()).toString();
    const QString timeMachine = QStringLiteral("file:///System/Library/PreferencePanes/TimeMachine.prefPane");
    struct Case {
        std::int64_t tag;
        QStringList opened;
    };
    const Case cases[] = {
        {3, {QStringLiteral("https://fernhollow.software/quillaby/app-store")}},
        {10, {QStringLiteral("https://fernhollow.software/quillaby/donate")}},
        {11, {res + QStringLiteral("/Help.rtfd/TXT.rtf")}},
        {14, {res + QStringLiteral("/ErrorNumbers.rtf")}},
        {13, {timeMachine}},
        {12, {QStringLiteral("file:///Applications/Utilities/Disk Utility.app")}},
        {5, {timeMachine}},
        {1, {}},
        {2, {}},
        {4, {}},
        {8, {}},
        {15, {}},
    };
    for (const Case& c : cases) {
        gOpenedUrls.clear();
        DoDialog(1, c.tag, 1, nullptr);
        QStringList opened;
        for (const QUrl& url : gOpenedUrls)
            opened << url.toString();
        EXPECT_EQ(opened, c.opened) << "tag " << c.tag;
    }
    EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/tmutil.args")), "startbackup\n");
    // Other event kinds do nothing.
    gOpenedUrls.clear();
    DoDialog(2, 13, 1, nullptr);
    DoDialog(1, 13, 7, nullptr);
    EXPECT_TRUE(gOpenedUrls.empty());

    // A resource missing from the bundle: the critical alert, nothing opened.
    QDir(Resources() + QStringLiteral("/Help.rtfd")).removeRecursively();
    AlertRecorder recorder;
    Click(1, 11);
    ASSERT_EQ(recorder.alerts.size(), 1u);
    EXPECT_EQ(recorder.alerts[0].message, QStringLiteral("Help.rtfd"));
    EXPECT_EQ(recorder.alerts[0].informative, QStringLiteral(" was not found."));
    EXPECT_EQ(recorder.alerts[0].style, 2);
    EXPECT_TRUE(gOpenedUrls.empty());
    EXPECT_EQ(OpenResourceFile("ErrorNumbers.rtf"), 0);
}

TEST_F(MainWindowTest, ShowProblemExplainsOrOpensTheFolder)
{
    const std::string kDsStore
        = "Invisible .DS_Store files are a minor problem that can be ignored. Click the 'Help' "
          "button more information. / We will now open the folder containing the invisible file.";
    const std::string kNoSuccess = "No successful backups reported in the current log and no problems reported.";
    struct Case {
        std::string problem, folder;
        std::uint8_t offline, spotlight, error;
        std::vector<std::string> alerts;
        bool opensFolder;
    };
    const Case cases[] = {
        {".DS_Store", "Users:sam:Documents", 0, 0, 1, {kDsStore}, true},
        {".DS_Store", "", 0, 0, 1, {kDsStore, "Problem found but no folder to open / "}, false},
        {"x", "", 1, 1, 1, {"Too many errors. Spotlight indexing conflict. See help for Importer Start Failed. / "},
            false},
        {"x", "", 1, 0, 1, {"Too many errors to list all of them. / "}, false},
        {"", "", 0, 0, 0, {"No Problems Found / "}, false},
        {"", kNoSuccess, 0, 0, 0, {kNoSuccess + " / "}, false},
        {"Backup failed with error: 19", "Users:sam:Music", 0, 0, 1, {}, true},
    };
    for (const Case& c : cases) {
        AlertRecorder recorder;
        gScripts.clear();
        gLastProblem = SS(c.problem);
        gProblemFolder = SS(c.folder);
        gDriveOffline = c.offline;
        gSpotlightConflict = c.spotlight;
        gErrorFound = c.error;
        Click(1, 9);
        EXPECT_EQ(AlertTexts(recorder), c.alerts) << c.problem << " in " << c.folder;
        const bool opened = gScripts.size() >= 2
            && gScripts[gScripts.size() - 2].contains(
                QStringLiteral("Macintosh HD:") + QString::fromStdString(c.folder))
            && gScripts.back().contains(QStringLiteral("activate"));
        EXPECT_EQ(opened, c.opensFolder) << c.problem << " in " << c.folder;
    }
}

TEST_F(MainWindowTest, MenuChoicesWaitForThePassAndTheLastOneWins)
{
    sandbox.Stub(QStringLiteral("open"), "echo \"$@\" >> \"$HOME/open.args\"");
    MenuCallback(kAppMenu, kMenuPurchasePage);
    MenuCallback(kAppMenu, kMenuUpgradePage); // replaces the first
    EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/open.args")), "");
    PendingMenuStep();
    PendingMenuStep(); // served once
    MenuCallback(kAppMenu, kMenuPurchasePage);
    PendingMenuStep();
    MenuCallback(1, kMenuPurchasePage); // another menu: ignored
    PendingMenuStep();
    EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/open.args")),
        "https://fernhollow.software/quillaby/upgrade\nhttps://fernhollow.software/quillaby/purchase\n");

    // Hiding the donation button twice: gone once, the flag stays 1, and the
    // file learns it at the next save only.
    for (int i = 0; i < 2; ++i) {
        MenuCallback(kAppMenu, kMenuHideDonate);
        PendingMenuStep();
        EXPECT_FALSE(QzViewVisible(10, 1));
        EXPECT_EQ(gDonateHidden, 1);
    }
    EXPECT_EQ(ReadFile(SettingsFile()).find(" 1\r 1\r"), std::string::npos);
    SaveSettings();
    EXPECT_NE(ReadFile(SettingsFile()).find("\r 1\r 1\r 1\r 1\r"), std::string::npos);
}

TEST_F(MainWindowTest, QuitSavesAndEndsOrAsksWhenNotificationIsOn)
{
    gFileToShowAtExit = SettingsFile();
    gEmailAddress1 = "sam@example.com";
    // Notification OFF: saved and ended at once, by the menu or by closing
    // the window.
    EXPECT_EXIT(
        {
            std::atexit(ShowFileAtExit);
            MenuCallback(kAppMenu, kMenuQuit);
            PendingMenuStep();
        },
        ::testing::ExitedWithCode(0), "sam@example.com");
    EXPECT_EXIT(
        {
            std::atexit(ShowFileAtExit);
            QzWindowByTag(1)->close();
            PendingMenuStep();
        },
        ::testing::ExitedWithCode(0), "\\[ 0\rsam@example.com\r\r 0\r");

    // ON: the quit window, nothing saved yet; the main window stays open.
    const std::string before = ReadFile(SettingsFile());
    gEmailNotifyOn = 1;
    QzWindowByTag(1)->close();
    EXPECT_TRUE(Shown(1));
    PendingMenuStep();
    EXPECT_EQ(gOpenPanel, 5);
    EXPECT_TRUE(Shown(5));
    EXPECT_EQ(ReadFile(SettingsFile()), before);
    // With a sheet up, the close button does nothing.
    QzWindowByTag(1)->close();
    EXPECT_EQ(gMenuPending, 0);
    Click(5, 2);
    EXPECT_FALSE(Shown(5));
    EXPECT_EQ(gOpenPanel, 0);
    EXPECT_EQ(QzCurrentWindowTag(), 1);

    // Button 1 with box 3 on: the warning is off from now on, saved.
    MenuCallback(kAppMenu, kMenuQuit);
    PendingMenuStep();
    Click(5, 3);
    EXPECT_EXIT(
        {
            std::atexit(ShowFileAtExit);
            Click(5, 1);
        },
        ::testing::ExitedWithCode(0), "\\[ 1\rsam@example.com\r\r 1\r");
    // A later run quits at once even with notification ON.
    gNoQuitWarning = 1;
    EXPECT_EXIT(
        {
            MenuCallback(kAppMenu, kMenuQuit);
            PendingMenuStep();
        },
        ::testing::ExitedWithCode(0), "");
}
