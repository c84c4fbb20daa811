// The application's windows on the offscreen platform: the bundle's own
// resources, the application's handlers, a temporary HOME with its settings
// loaded, and recorders for alerts, opened addresses and scripts.

#include "../notify/notify_support.h"
#include "runtime/ui_support.h"
#include "runtime/widgets_p.h"

#include "app/dialog.h"
#include "app/mainwindow.h"
#include "app/menu.h"
#include "app/settings.h"
#include "app/sheets.h"
#include "app/startup.h"
#include "app/state.h"
#include "monitor/fetch.h"
#include "monitor/state.h"
#include "notify/state.h"
#include "runtime/channels.h"

#include <QAbstractButton>
#include <QDirIterator>
#include <QLineEdit>
#include <QPalette>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
// The death tests end the program through exit(0), as the application does,
// with the caches alive that the system's fontconfig and D-Bus never free.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
#endif

namespace {

std::vector<QString> gOpened, gScripts;

// The application ends through exit(0), which outside a death test's child
// must not pass for a test's success.
bool gRunning = false;
void ExitDuringTest()
{
    if (gRunning && !::testing::internal::InDeathTestChild()) {
        std::fprintf(stderr, "the program ended in the middle of a test\n");
        std::_Exit(1);
    }
}

// The alerts as "message / informative" lines.
std::string Alerts(const std::vector<QzAlertRequest>& alerts)
{
    std::string texts;
    for (const QzAlertRequest& a : alerts)
        texts += a.message.toStdString() + " / " + a.informative.toStdString() + "\n";
    return texts;
}

// What a death test's child shows as it ends.
QString gFileAtExit;
AlertRecorder* gAlertsAtExit = nullptr;
void ShowAtExit()
{
    std::fprintf(stderr, "[%s]", ReadFile(gFileAtExit).c_str());
    for (const QzAlertRequest& a : gAlertsAtExit ? gAlertsAtExit->alerts : std::vector<QzAlertRequest> {})
        std::fprintf(stderr, "<%s|%s|%d>", a.message.toUtf8().constData(), a.informative.toUtf8().constData(), a.style);
}

class App : public UiTest {
protected:
    void SetUp() override
    {
        static const bool registered = std::atexit(ExitDuringTest) == 0;
        gRunning = registered;
        UiTest::SetUp();
        for (QDirIterator files(QStringLiteral(QZ_BUNDLE_DIR "/Contents/Resources"), QDir::Files); files.hasNext();)
            UseAppResource(QFileInfo(files.next()).fileName());
        QzInstallAppDelegate();
        QzOnDialog(DoDialog);
        QzOnMenu(MenuCallback);
        gMainWindowBuilt = 0;
        ShowMainWindow();
        BuildReportArea();
        LoadSettings();
        gFileAtExit = SettingsFile();
    }
    void TearDown() override
    {
        gRunning = false;
        UiTest::TearDown();
    }
    QString SettingsFile() const { return sandbox.path() + QStringLiteral("/.local/share/Quillaby/Settings"); }
    static void Restart()
    {
        QzResetWindowState();
        gMainWindowBuilt = 0;
    }
    static QAbstractButton* Button(std::int64_t window, std::int64_t tag)
    {
        return qobject_cast<QAbstractButton*>(QzFindView(QzWindowByTag(window), tag));
    }
    // A real click: a checkable control changes its state first.
    static void Click(std::int64_t window, std::int64_t tag)
    {
        ASSERT_NE(Button(window, tag), nullptr) << "no button " << tag << " in window " << window;
        Button(window, tag)->click();
    }
    static bool Shown(std::int64_t window) { return QzWindowByTag(window) && QzWindowByTag(window)->isVisible(); }
    static QString Field(std::int64_t window, std::int64_t tag)
    {
        QzSetCurrentWindow(window);
        const QString text = QzTextFieldString(tag);
        QzSetCurrentWindow(gOpenPanel != 0 ? gOpenPanel : 1);
        return text;
    }
    static void Type(std::int64_t tag, const QString& text)
    {
        qobject_cast<QLineEdit*>(QzFindView(QzWindowByTag(4), tag))->setText(text);
    }
    // The email window as the user sees it: the ON/OFF button's title,
    // state and colour, boxes 3, 8 and 9, and the sent note.
    static std::string Email()
    {
        QAbstractButton* b = Button(4, 10);
        const QzColor colour = b->palette().color(QPalette::ButtonText).rgb() & 0xFFFFFFu;
        std::string seen = b->text().toStdString() + (b->isChecked() ? " checked" : " unchecked")
            + (colour == QzColorGreen()      ? " green "
                    : colour == QzColorRed() ? " red "
                                             : " other ");
        for (const std::int64_t box : {3, 8, 9})
            seen += Button(4, box)->isChecked() ? "1" : "0";
        return seen + " '" + Field(4, 7).toStdString() + "'";
    }

    Sandbox sandbox;
    TestClock clock;
    QzHookGuard<QzOpenUrlFn> urls {gQzOpenUrlHook, [](const QUrl& url) {
                                       gOpened.push_back(url.toString());
                                       return true;
                                   }};
    // Finder's startup disk answers "Macintosh HD"; other scripts succeed
    // with no result.
    QzHookGuard<QzScriptFn> scripts {
        gQzScriptHook, [](const QString& source, QString* result, QString*) {
            gScripts.push_back(source);
            if (result)
                *result = source.contains(QLatin1String("startup disk")) ? QStringLiteral("Macintosh HD") : QString();
            return true;
        }};
};

} // namespace

TEST_F(App, MainWindowButtons)
{
    sandbox.Stub(QStringLiteral("tmutil"), "echo \"$@\" >> \"$HOME/tmutil.args\"");
    QDir().mkpath(Resources() + QStringLiteral("/Help.rtfd"));
    QFile(Resources() + QStringLiteral("/Help.rtfd/TXT.rtf")).open(QIODevice::WriteOnly);
    QFile(Resources() + QStringLiteral("/ErrorNumbers.rtf")).open(QIODevice::WriteOnly);
    const std::string res = QUrl::fromLocalFile(Resources()).toString().toStdString();
    const std::string timeMachine = "file:///System/Library/PreferencePanes/TimeMachine.prefPane\n";
    const std::string today = "Busy getting today's log. / Please wait until done.\n";
    const std::string yesterday = "Busy getting yesterday's log. / Please wait until done.\n";
    struct Case {
        std::int64_t tag;
        std::uint8_t todayBusy, yesterdayBusy;
        std::string seen; // the alerts, then the addresses opened
    };
    const Case cases[]
        = {{6, 0, 1, yesterday}, {7, 1, 0, today}, {6, 1, 1, yesterday + today}, {7, 1, 1, today + yesterday},
            {16, 1, 1, today}, {16, 0, 1, yesterday}, {3, 0, 0, "https://fernhollow.software/quillaby/app-store\n"},
            {10, 0, 0, "https://fernhollow.software/quillaby/donate\n"}, {11, 0, 0, res + "/Help.rtfd/TXT.rtf\n"},
            {14, 0, 0, res + "/ErrorNumbers.rtf\n"}, {13, 0, 0, timeMachine},
            {12, 0, 0, "file:///Applications/Utilities/Disk Utility.app\n"}, {5, 0, 0, timeMachine}, {1, 0, 0, ""},
            {2, 0, 0, ""}, {4, 0, 0, ""}, {8, 0, 0, ""}, {15, 0, 0, ""}};
    for (const Case& c : cases) {
        AlertRecorder recorder;
        gOpened.clear();
        gTodayPipeOpen = c.todayBusy;
        gYesterdayPipeOpen = c.yesterdayBusy;
        Button(1, c.tag) ? Click(1, c.tag) : DoDialog(1, c.tag, 1, nullptr); // not every tag is a button
        std::string seen = Alerts(recorder.alerts);
        for (const QString& url : gOpened)
            seen += url.toStdString() + "\n";
        EXPECT_EQ(seen, c.seen) << "tag " << c.tag;
        EXPECT_EQ(gTodayRequested + gYesterdayRequested + gOpenPanel, 0);
    }
    EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/tmutil.args")), "startbackup\n");
    gTodayPipeOpen = gYesterdayPipeOpen = gPollAllowed = 0;
    Click(1, 6);
    EXPECT_EQ(gTodayRequested + gPollAllowed, 2);
    EXPECT_EQ(gPipeStartTicks, TicksNow() + 60);
    Click(1, 7);
    EXPECT_EQ(gYesterdayRequested, 1);
    // Other event kinds and windows do nothing.
    gOpened.clear();
    DoDialog(2, 13, 1, nullptr);
    DoDialog(1, 13, 7, nullptr);
    EXPECT_TRUE(gOpened.empty());
    // A resource missing from the bundle: the critical alert, nothing opened.
    QDir(Resources() + QStringLiteral("/Help.rtfd")).removeRecursively();
    AlertRecorder recorder;
    Click(1, 11);
    EXPECT_EQ(Alerts(recorder.alerts), "Help.rtfd /  was not found.\n");
    EXPECT_EQ(recorder.alerts.at(0).style, 2);
    EXPECT_TRUE(gOpened.empty());
}

TEST_F(App, ShowProblemExplainsOrOpensTheFolder)
{
    const std::string dsStore
        = "Invisible .DS_Store files are a minor problem that can be ignored. Click the 'Help' "
          "button more information. / We will now open the folder containing the invisible file.\n";
    const std::string noSuccess = "No successful backups reported in the current log and no problems reported.";
    struct Case {
        std::string problem, folder;
        std::uint8_t offline, spotlight, error;
        std::string alerts;
    };
    const Case cases[] = {{".DS_Store", "Users:sam:Documents", 0, 0, 1, dsStore},
        {".DS_Store", "", 0, 0, 1, dsStore + "Problem found but no folder to open / \n"},
        {"x", "", 1, 1, 1, "Too many errors. Spotlight indexing conflict. See help for Importer Start Failed. / \n"},
        {"x", "", 1, 0, 1, "Too many errors to list all of them. / \n"}, {"", "", 0, 0, 0, "No Problems Found / \n"},
        {"", noSuccess, 0, 0, 0, noSuccess + " / \n"},
        {"Backup failed with error: 19", "Users:sam:Music", 0, 0, 1, ""}};
    for (const Case& c : cases) {
        AlertRecorder recorder;
        gScripts.clear();
        gLastProblem = SS(c.problem);
        gProblemFolder = SS(c.folder);
        gDriveOffline = c.offline;
        gSpotlightConflict = c.spotlight;
        gErrorFound = c.error;
        Click(1, 9);
        EXPECT_EQ(Alerts(recorder.alerts), c.alerts) << c.problem << " in " << c.folder;
        // A folder named opens in the Finder, which comes to the front.
        const bool opened = gScripts.size() >= 2
            && gScripts[gScripts.size() - 2].contains(
                QStringLiteral("Macintosh HD:") + QString::fromStdString(c.folder))
            && gScripts.back().contains(QStringLiteral("activate"));
        EXPECT_EQ(opened, c.folder.starts_with("Users:")) << c.problem << " in " << c.folder;
    }
}

TEST_F(App, MenuChoicesWaitForThePassAndTheLastOneWins)
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
    // Hiding the donation button twice: gone once, and the file learns it
    // at the next save only.
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

TEST_F(App, QuitSavesAndEndsOrAsksWhenNotificationIsOn)
{
    gEmailAddress1 = "sam@example.com";
    // Notification OFF: closing the window saves and ends at once.
    EXPECT_EXIT(
        {
            std::atexit(ShowAtExit);
            QzWindowByTag(1)->close();
            PendingMenuStep();
        },
        ::testing::ExitedWithCode(0), "\\[ 0\rsam@example.com\r\r 0\r");
    // ON: the quit window, nothing saved yet; the main window stays open,
    // and while a sheet is up its close button does nothing.
    const std::string before = ReadFile(SettingsFile());
    gEmailNotifyOn = 1;
    QzWindowByTag(1)->close();
    EXPECT_TRUE(Shown(1));
    PendingMenuStep();
    EXPECT_TRUE(Shown(5));
    EXPECT_EQ(gOpenPanel, 5);
    EXPECT_EQ(ReadFile(SettingsFile()), before);
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
            std::atexit(ShowAtExit);
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

TEST_F(App, EmailWindowShowsTheSettingsAndOkStoresThem)
{
    gEmailAddress1 = "sam@example.com";
    gEmailAddress2 = "pat@example.com";
    gNotifyMinorErrors = 1; // box 8 on, but notification OFF: the button says OFF
    Click(1, 16);
    ASSERT_TRUE(Shown(4));
    EXPECT_EQ(gOpenPanel + QzCurrentWindowTag(), 8);
    EXPECT_EQ(Email(), "OFF unchecked red 010 ''");
    EXPECT_EQ(Field(4, 4) + Field(4, 5), QStringLiteral("sam@example.compat@example.com"));
    // Box 8 on turns box 3 on and the button ON; every box off turns it OFF.
    const std::pair<std::int64_t, const char*> steps[]
        = {{8, "OFF unchecked red 000 ''"}, {8, "ON checked green 110 ''"}, {8, "ON checked green 100 ''"},
            {3, "OFF unchecked red 000 ''"}, {8, "ON checked green 110 ''"}};
    for (const auto& [tag, seen] : steps)
        EXPECT_EQ((Click(4, tag), Email()), seen) << "after " << tag;
    // Cancel keeps the variables; the boxes keep their state for next time.
    Click(4, 2);
    EXPECT_FALSE(Shown(4));
    EXPECT_EQ(gOpenPanel, 0);
    EXPECT_EQ(QzCurrentWindowTag(), 1);
    EXPECT_EQ(gNotifyMinorErrors, 1);
    gNotifyMinorErrors = 0;
    gEmailSent = 1;
    Click(1, 16);
    EXPECT_EQ(Email(), "OFF unchecked red 110 'Notification Email Was Sent'");
    // Switching a box on clears the sent note and the latch.
    Click(4, 9);
    EXPECT_EQ(Email(), "ON checked green 111 ''");
    EXPECT_EQ(gEmailSent, 0);
    // OFF clears all three boxes; OK then stores it all and saves.
    Click(4, 10);
    EXPECT_EQ(Email(), "OFF unchecked red 000 ''");
    Click(4, 1);
    EXPECT_FALSE(Shown(4));
    EXPECT_EQ(gEmailNotifyOn + gNotifyMinorErrors + gDailyEmail, 0);
    EXPECT_EQ(ReadFile(SettingsFile()).substr(0, 38), " 0\rsam@example.com\rpat@example.com\r 0\r");
    // ON with the first address blank: warned, closed, ON, saved.
    Click(1, 16);
    Click(4, 10);
    EXPECT_EQ(Email(), "ON checked green 100 ''");
    Type(4, QString());
    Type(5, QStringLiteral("j\u00FCrgen@example.com"));
    AlertRecorder recorder;
    Click(4, 1);
    EXPECT_EQ(Alerts(recorder.alerts),
        "The 'Send Email To:' field is blank / Email Notification will fail unless you enter an email address \n");
    EXPECT_FALSE(Shown(4));
    EXPECT_EQ(gEmailNotifyOn, 1);
    EXPECT_EQ(ReadFile(SettingsFile()).substr(0, 23), " 1\r\rj\x9Frgen@example.com\r");
    Click(1, 16);
    EXPECT_EQ(Email(), "ON checked green 100 ''");
}

TEST_F(App, EmailWindowRefusesThunderbirdAndOnWithoutAccessibility)
{
    sandbox.Stub(QStringLiteral("open"), "echo \"$@\" >> \"$HOME/open.args\"");
    std::optional<MailtoApp> mailto(std::in_place, QStringLiteral("/Applications/Thunderbird.app"));
    AlertRecorder recorder;
    gEmailRequested = 1;
    Click(1, 16);
    Type(4, QStringLiteral("sam@example.com"));
    Click(4, 10);
    Click(4, 1);
    EXPECT_EQ(Alerts(recorder.alerts),
        "Thunderbird is not supported / Only Apple's Mail app and Microsoft Outlook are supported.\n");
    EXPECT_TRUE(Shown(4));
    EXPECT_EQ(gOpenPanel, 4);
    EXPECT_EQ(gEmailNotifyOn + gEmailRequested, 0);
    EXPECT_EQ(gEmailAddress1, ShortString("sam@example.com"));
    // Mail is accepted; ON never asks for accessibility on a system this new.
    mailto.emplace(QStringLiteral("/Applications/Mail.app"));
    Accessibility denied(false);
    Click(4, 10);
    Click(4, 10);
    Click(4, 1);
    EXPECT_FALSE(Shown(4));
    EXPECT_EQ(gEmailNotifyOn, 1);
    // Before 10.14 ON without accessibility is refused, yet shown ON.
    gEmailNotifyOn = 0;
    gEmailRequested = gNotifyMinorErrors = gDailyEmail = gEmailSent = 1;
    for (const char* version : {"10.14", "10.13.6"}) {
        SystemVersion system(sandbox, version);
        recorder.alerts.clear();
        Click(1, 16);
        Click(4, 10);
        EXPECT_EQ(Alerts(recorder.alerts),
            version[4] == '4' ? ""
                              : "STOP! Access for Assistive Devices must be enabled to allow email notification "
                                "/ System Preferences / Security & Privacy / Privacy Tab / Accessibility / Quillaby\n");
        EXPECT_EQ(Email(), "ON checked green 111 ''");
        Click(4, 2);
    }
    EXPECT_EQ(gEmailNotifyOn + gEmailRequested + gNotifyMinorErrors + gDailyEmail, 0);
    EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/open.args")),
        "/System/Library/PreferencePanes/Security.prefPane/\n");
}

TEST_F(App, TestButtonAndAboutWindow)
{
    gEmailSent = 1;
    gPollAllowed = 1;
    Click(1, 16);
    Click(4, 11);
    EXPECT_EQ(gTestEmailPending + gEmailRequested + gTodayRequested, 3);
    EXPECT_EQ(gEmailSent, 0);
    // Events of other kinds and tags change nothing.
    DoDialog(1, 6, 4, nullptr);
    DoDialog(1200, 4, 4, nullptr);
    EXPECT_TRUE(Shown(4));
    Click(4, 2);
    // The about window shows the version unless a fetch runs.
    gVersionText = "Version 8.0.2";
    gYesterdayPipeOpen = 1;
    for (int attempt = 0; attempt < 2; ++attempt) {
        AlertRecorder recorder;
        MenuCallback(kAppMenu, kMenuAbout);
        PendingMenuStep();
        EXPECT_EQ(recorder.alerts.size(), attempt == 0 ? 1u : 0u);
        EXPECT_EQ(Shown(6), attempt == 1);
        gYesterdayPipeOpen = 0;
    }
    EXPECT_EQ(gOpenPanel, 6);
    EXPECT_EQ(Field(6, 4), QStringLiteral("Version 8.0.2"));
    Click(6, 1);
    EXPECT_FALSE(Shown(6));
    EXPECT_EQ(gOpenPanel, 0);
    EXPECT_EQ(QzCurrentWindowTag(), 1);
}

TEST(StartUp, LanguageNamesAndTheAdminCheckCommand)
{
    const std::pair<const char*, const char*> languages[]
        = {{"en-US", "English"}, {"en-GB", "English"}, {"en", "en"}, {"fr-FR", "French"}, {"zh-Hans-CN", "Chinese"},
            {"pt-BR", "Portuguese"}, {"ta-IN", "Tamil"}, {"ja", "ja"}, {"eng", "eng"}, {"", ""}};
    for (const auto& [identifier, name] : languages)
        EXPECT_EQ(LanguageNameOf(identifier), ShortString(name)) << identifier;
    // The user's short name reaches dseditgroup as one argument, exactly,
    // and nothing in it runs.
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("dseditgroup"), "printf '%s\\n' \"$@\" > \"$HOME/args\"; echo yes");
    EXPECT_EQ(AdminCheckCommand("sam"), ShortString("dseditgroup -o checkmember -m sam admin"));
    for (const std::string name : {"sam", "o'brien", "a b", "a b c", "$(touch \"$HOME/pwned\")", "`touch $HOME/pwned`",
             "x;touch $HOME/pwned", "a\\ b", "''", "\"q\"", "-", "", "caf\x8E"}) {
        QzOpenPipe(101, AdminCheckCommand(SS(name)));
        ShortString line;
        QzLineInput(101, line);
        QzClose(101);
        EXPECT_EQ(line, ShortString("yes")) << name;
        EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/args")), "-o\ncheckmember\n-m\n" + name + "\nadmin\n");
        EXPECT_FALSE(QFile::exists(sandbox.path() + QStringLiteral("/pwned"))) << name;
    }
    // A name that would not fit in the command is not cut into another one.
    EXPECT_TRUE(AdminCheckCommand(SS(std::string(220, 'a'))).empty());
    EXPECT_FALSE(AdminCheckCommand(SS(std::string(200, 'a'))).empty());
}

TEST_F(App, StartUpBuildsTheWindowAndStartsBothTimers)
{
    sandbox.Stub(
        QStringLiteral("dseditgroup"), "printf '%s\\n' \"$@\" > \"$HOME/args\"; echo \"yes $4 is a member of admin\"");
    sandbox.Stub(QStringLiteral("scutil"), "[ \"$*\" = '--get ComputerName' ] && echo \"Sam's Test Mac\"");
    sandbox.Write(QStringLiteral(".local/share/Quillaby/Settings"), " 0\r\r\r 0\r 0\r 0\r 12\r\r 1\r 1\r 1\r 1\r");
    Restart();
    StartUp();
    EXPECT_EQ(QzCurrentWindowTag(), 1);
    EXPECT_FALSE(QzViewVisible(10, 1)); // donation hidden by the settings
    EXPECT_FALSE(QzViewVisible(15, 1));
    EXPECT_TRUE(QzViewVisible(6, 1));
    EXPECT_EQ(gVersionText, ShortString("Version 8.0.2"));
    EXPECT_EQ(gIntroPending + gPollAllowed, 2);
    EXPECT_EQ(gAccessCheckPending, 0);
    EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/args")),
        "-o\ncheckmember\n-m\n" + QFileInfo(sandbox.path()).fileName().toStdString() + "\nadmin\n");
    EXPECT_EQ(gComputerName, ShortString("Sam's Test Mac")); // the platform's script runner ran scutil
    QList<int> intervals;
    for (QTimer* timer : QzDelegateObject()->findChildren<QTimer*>())
        intervals << timer->interval();
    EXPECT_EQ(intervals, (QList<int> {100, 1800000}));
    // The first pass puts the introduction into the report.
    ASSERT_TRUE(WaitFor([] { return QzTextViewString(1).contains(QStringLiteral("Click on 'Previous Log'")); }));
    EXPECT_TRUE(QzTextViewString(1).startsWith(
        QStringLiteral("\r\n\r\nQuillaby will poll the system log every 30 minutes looking for Time Machine Errors.\r\n"
                       "You can get the log immediately by clicking 'Current Log'\r\n\r\n")));
    EXPECT_TRUE(QzTextViewString(1).endsWith(QStringLiteral("to see yesterday's log")));
}

TEST_F(App, StartUpEndsForAnOldSystemOrAUserWhoIsNotAnAdministrator)
{
    AlertRecorder recorder;
    gAlertsAtExit = &recorder;
    ASSERT_EQ(PreferredLanguageName(), ShortString("English")); // the test main's en_US
    sandbox.Stub(QStringLiteral("dseditgroup"), "echo \"no $4 is NOT a member of admin\"");
    Restart();
    EXPECT_EXIT(
        {
            std::atexit(ShowAtExit);
            StartUp();
        },
        ::testing::ExitedWithCode(0),
        "\\]<Quillaby requires an Admin Account\\|\\(System Preferences / Users and Groups\\)\\|2>[^<]*$");
    // An administrator: the system version decides.
    sandbox.Stub(QStringLiteral("dseditgroup"), "echo \"yes $4 is a member of admin\"");
    struct Case {
        const char* version;
        std::uint8_t accessCheck, recentWording;
    };
    for (const Case& c : {Case {"10.12", 1, 0}, Case {"10.14", 0, 0}, Case {"26.1", 0, 1}}) {
        SystemVersion version(sandbox, c.version);
        Restart();
        StartUp();
        EXPECT_TRUE(QzWindowExists(1));
        EXPECT_EQ(gAccessCheckPending, c.accessCheck) << c.version;
        EXPECT_EQ(gRecentWording, c.recentWording) << c.version;
        gAccessCheckPending = 0;
    }
    SystemVersion version(sandbox, "10.11.6");
    Restart();
    EXPECT_EXIT(
        {
            std::atexit(ShowAtExit);
            StartUp();
        },
        ::testing::ExitedWithCode(0), "\\]<Quillaby requires OS X 10.12 or later.\\|\\|0>[^<]*$");
}
