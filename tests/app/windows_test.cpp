// The application's windows on the offscreen platform with the bundle's resources and a temporary HOME.

#include "../monitor/monitor_support.h"
#include "../notify/notify_support.h"
#include "runtime/ui_support.h"
#include "runtime/widgets_p.h"

#include "app/dialog.h"
#include "app/mainwindow.h"
#include "app/menu.h"
#include "app/startup.h"
#include "app/state.h"
#include "app/watched_mac.h"
#include "monitor/fetch.h"
#include "monitor/state.h"
#include "notify/dispatch.h"
#include "notify/state.h"
#include "platform/script_standin.h"
#include "runtime/channels.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <QAbstractButton>
#include <QDirIterator>
#include <QPalette>

#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
// Death tests end through exit(0), with the caches fontconfig and D-Bus never free.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
#endif

namespace {

std::string gSeen; // addresses opened and Finder scripts run, one a line, since the last look

// A death test's child ends showing [the settings file] <and each alert>; elsewhere exit(0) must fail.
bool gRunning = false;
QString gFileAtExit;
AlertRecorder* gAlertsAtExit = nullptr;
void AtExit()
{
    if (!::testing::internal::InDeathTestChild()) {
        if (gRunning)
            std::fprintf(stderr, "the program ended in the middle of a test\n"), std::_Exit(1);
        return;
    }
    std::fprintf(stderr, "[%s]", ReadFile(gFileAtExit).c_str());
    for (const QzAlertRequest& a : gAlertsAtExit ? gAlertsAtExit->alerts : std::vector<QzAlertRequest> {})
        std::fprintf(stderr, "<%s|%s|%d>", a.message.toUtf8().constData(), a.informative.toUtf8().constData(), a.style);
}

QAbstractButton* Button(std::int64_t window, std::int64_t tag)
{
    return qobject_cast<QAbstractButton*>(QzFindView(QzWindowByTag(window), tag));
}

// The text of a label or an editable field.
std::string Text(std::int64_t window, std::int64_t tag)
{
    return QzFindView(QzWindowByTag(window), tag)->property("text").toString().toStdString();
}

class App : public UiTest {
protected:
    void SetUp() override
    {
        static const bool registered = std::atexit(AtExit) == 0;
        gRunning = registered;
        UiTest::SetUp();
        for (QDirIterator files(QStringLiteral(QZ_BUNDLE_DIR "/Contents/Resources"), QDir::Files); files.hasNext();)
            UseAppResource(QFileInfo(files.next()).fileName());
        for (const char* command : {"open", "tmutil"})
            sandbox.Stub(
                QString::fromLatin1(command), "echo " + std::string(command) + " \"$@\" >> \"$HOME/commands\"");
        // The state of a fresh start, also when tests share a process.
        ResetNotifyState();
        gNoQuitWarning = gDailyEmail = gDonateHidden = gEmailWindowBuilt = gQuitWindowBuilt = gAboutWindowBuilt = 0;
        gTodayRequested = gYesterdayRequested = gTodayPipeOpen = gYesterdayPipeOpen = gPollAllowed = gMenuPending = 0;
        gOpenPanel = 0;
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
    // A real click: a checkable control changes its state first.
    static void Click(std::int64_t window, std::int64_t tag)
    {
        ASSERT_NE(Button(window, tag), nullptr) << "no button " << tag << " in window " << window;
        Button(window, tag)->click();
    }
    // Each step is an action, then what the user sees: "c W T" clicks button T of window W, "t T text" types
    // into field T of window 4, "m M I" chooses item I of menu M, "p" is the main loop's menu step, "x" the
    // main window's close button, "d K I W" a dialog event of kind K for item I of window W.
    void Run(const std::vector<std::pair<std::string, std::string>>& steps) const
    {
        for (const auto& [action, expected] : steps) {
            AlertRecorder recorder;
            std::int64_t a = 0, b = 0, c = 0;
            std::istringstream(action.substr(1)) >> a >> b >> c;
            if (action[0] == 'c')
                Click(a, b);
            else if (action[0] == 't')
                QzFindView(QzWindowByTag(4), a)->setProperty("text", QString::fromStdString(action.substr(4)));
            else if (action[0] == 'm')
                MenuCallback(a, b);
            else if (action[0] == 'p')
                PendingMenuStep();
            else if (action[0] == 'x')
                QzWindowByTag(1)->close();
            else
                DoDialog(a, b, c, nullptr);
            EXPECT_EQ(Seen(recorder), expected) << "after " << action;
        }
    }
    // Alerts as "message / informative" lines, addresses opened, Finder scripts and commands run, "menu"
    // while a menu choice waits, then the sheet that is up: [5], the about window's version, or window 4.
    std::string Seen(const AlertRecorder& recorder) const
    {
        std::string seen;
        for (const QzAlertRequest& a : recorder.alerts)
            seen += (a.style == 2 ? "critical: " : "") + a.message.toStdString() + " / " + a.informative.toStdString()
                + "\n";
        const QString commands = sandbox.path() + QStringLiteral("/commands");
        seen += std::exchange(gSeen, {}) + ReadFile(commands) + (gMenuPending ? "menu\n" : "");
        QFile::remove(commands);
        EXPECT_EQ(QzCurrentWindowTag(), gOpenPanel != 0 ? gOpenPanel : 1);
        for (const std::int64_t window : {1, 4, 5, 6})
            EXPECT_EQ(QzWindowByTag(window) && QzWindowByTag(window)->isVisible(), window == 1 || gOpenPanel == window)
                << "window " << window;
        if (gOpenPanel == 5 || gOpenPanel == 6)
            return seen + (gOpenPanel == 5 ? "[5]" : Text(6, 4));
        if (gOpenPanel != 4)
            return seen;
        // The ON/OFF button's title (its state and colour agree), boxes 3, 8 and 9, and the sent note.
        QAbstractButton* b = Button(4, 10);
        const bool on = b->text() == QStringLiteral("ON");
        EXPECT_EQ(b->isChecked(), on);
        EXPECT_EQ(b->palette().color(QPalette::ButtonText).rgb() & 0xFFFFFFu, on ? QzColorGreen() : QzColorRed());
        seen += b->text().toStdString() + " ";
        for (const std::int64_t box : {3, 8, 9})
            seen += Button(4, box)->isChecked() ? "1" : "0";
        return seen + " '" + Text(4, 7) + "'";
    }

    Sandbox sandbox;
    TestClock clock;
    QzHookGuard<QzOpenUrlFn> urls {gQzOpenUrlHook, [](const QUrl& url) {
                                       gSeen += url.toString().toStdString() + "\n";
                                       return true;
                                   }};
    // Finder's startup disk is "Macintosh HD"; other scripts succeed and show their second line.
    QzHookGuard<QzScriptFn> scripts {gQzScriptHook, [](const QString& source, QString* result, QString*) {
                                         const bool disk = source.contains(QLatin1String("startup disk"));
                                         if (result)
                                             *result = disk ? QStringLiteral("Macintosh HD") : QString();
                                         if (!disk)
                                             gSeen += source.section(QLatin1Char('\n'), 1, 1).toStdString() + "\n";
                                         return true;
                                     }};
};

} // namespace

TEST_F(App, MainWindowButtons)
{
    const std::string timeMachine = "file:///System/Library/PreferencePanes/TimeMachine.prefPane\n";
    const std::string today = "Busy getting today's log. / Please wait until done.\n";
    const std::string yesterday = "Busy getting yesterday's log. / Please wait until done.\n";
    gYesterdayPipeOpen = 1;
    Run({{"c 1 6", yesterday}, {"c 1 16", yesterday}});
    gTodayPipeOpen = 1;
    Run({{"c 1 6", yesterday + today}, {"c 1 7", today + yesterday}, {"c 1 16", today}});
    gYesterdayPipeOpen = 0;
    Run({{"c 1 7", today}});
    gTodayPipeOpen = 0;
    // Tags that are not buttons, other event kinds and windows do nothing.
    QFile::remove(Resources() + QStringLiteral("/Help.html"));
    Run({{"c 1 11", "critical: Help.html /  was not found.\n"},
        {"c 1 3", "https://fernhollow.software/quillaby/app-store\n"},
        {"c 1 10", "https://fernhollow.software/quillaby/donate\n"}, {"c 1 14", ""}, {"c 1 13", timeMachine},
        {"c 1 12", "file:///Applications/Utilities/Disk Utility.app\n"},
        {"c 1 5", timeMachine + "tmutil startbackup\n"}, {"d 1 1 1", ""}, {"d 1 2 1", ""}, {"d 1 4 1", ""},
        {"d 1 8 1", ""}, {"d 1 15 1", ""}, {"d 2 13 1", ""}, {"d 1 13 7", ""}});
    EXPECT_EQ(gTodayRequested + gYesterdayRequested + gPollAllowed, 0);
    Run({{"c 1 6", ""}});
    EXPECT_EQ(gTodayRequested + gPollAllowed, 2);
    EXPECT_EQ(gPipeStartTicks, TicksNow() + 60);
    Run({{"c 1 7", ""}});
    EXPECT_EQ(gYesterdayRequested, 1);
    // A Mac watched over ssh: what acts on this machine is off, and said so from the tray's menu.
    gRemoteHost = "imac";
    ShowWatchedMacInTitle();
    EXPECT_FALSE(Button(1, 5)->isEnabled() || Button(1, 9)->isEnabled() || Button(1, 12)->isEnabled());
    Run({{"d 1 5 1", "Not for a Mac watched over ssh / imac is watched from here; do this on that Mac itself.\n"}});
    gRemoteHost.clear();
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
        std::string seen;
    };
    const Case cases[] = {{".DS_Store", "Users:sam:Documents", 0, 0, 1,
                              dsStore + "open alias \"Macintosh HD:Users:sam:Documents\"\nactivate\n"},
        {".DS_Store", "", 0, 0, 1, dsStore + "Problem found but no folder to open / \n"},
        {"x", "", 1, 1, 1, "Too many errors. Spotlight indexing conflict. See help for Importer Start Failed. / \n"},
        {"x", "", 1, 0, 1, "Too many errors to list all of them. / \n"}, {"", "", 0, 0, 0, "No Problems Found / \n"},
        {"", noSuccess, 0, 0, 0, noSuccess + " / \n"},
        {"Backup failed with error: 19", "Users:sam:M\"u", 0, 0, 1,
            "open alias \"Macintosh HD:Users:sam:M\\\"u\"\nactivate\n"}};
    for (const Case& c : cases) {
        AlertRecorder recorder;
        gLastProblem = SS(c.problem);
        gProblemFolder = SS(c.folder);
        gDriveOffline = c.offline;
        gSpotlightConflict = c.spotlight;
        gErrorFound = c.error;
        Click(1, 9);
        EXPECT_EQ(Seen(recorder), c.seen) << c.problem << " in " << c.folder;
    }
}

TEST_F(App, MenuChoicesWaitForThePassAndTheLastOneWins)
{
    const std::string page = "open https://fernhollow.software/quillaby/";
    Run({{"m 0 2", "menu\n"}, {"m 0 4", "menu\n"}, {"p", page + "upgrade\n"}, {"p", ""}, {"m 0 2", "menu\n"},
        {"p", page + "purchase\n"}, {"m 1 2", "menu\n"}, {"p", ""}});
    // Hiding the donation button twice: gone once, saved with the next save only.
    Run({{"m 0 3", "menu\n"}, {"p", ""}, {"m 0 3", "menu\n"}, {"p", ""}});
    EXPECT_FALSE(QzViewVisible(10, 1));
    EXPECT_EQ(gDonateHidden, 1);
    EXPECT_EQ(ReadFile(SettingsFile()).find(" 1\r 1\r"), std::string::npos);
    SaveSettings();
    EXPECT_NE(ReadFile(SettingsFile()).find("\r 1\r 1\r 1\r 1\r"), std::string::npos);
    // The about window shows the version unless a fetch runs.
    gVersionText = "Version 8.0.2";
    gYesterdayPipeOpen = 1;
    Run({{"m 0 0", "menu\n"}, {"p", "Busy getting yesterday's log. / Please wait until done.\n"}});
    gYesterdayPipeOpen = 0;
    Run({{"m 0 0", "menu\n"}, {"p", "Version 8.0.2"}, {"c 6 1", ""}});
}

TEST_F(App, QuitSavesAndEndsOrAsksWhenNotificationIsOn)
{
    gEmailAddress1 = "sam@example.com";
    // Notification OFF: closing the window saves and ends at once.
    EXPECT_EXIT(Run({{"x", "menu\n"}, {"p", ""}}), ::testing::ExitedWithCode(0), "\\[ 0\rsam@example.com\r\r 0\r");
    // ON: the quit window, nothing saved yet, the close button idle; box 3 turns the warning off.
    const std::string before = ReadFile(SettingsFile());
    gEmailNotifyOn = 1;
    Run({{"x", "menu\n"}, {"p", "[5]"}, {"x", "[5]"}, {"c 5 2", ""}, {"m 0 13", "menu\n"}, {"p", "[5]"},
        {"c 5 3", "[5]"}});
    EXPECT_EQ(ReadFile(SettingsFile()), before);
    EXPECT_EXIT(Run({{"c 5 1", ""}}), ::testing::ExitedWithCode(0), "\\[ 1\rsam@example.com\r\r 1\r");
    // A later run quits at once even with notification ON.
    gNoQuitWarning = 1;
    EXPECT_EXIT(Run({{"m 0 13", "menu\n"}, {"p", ""}}), ::testing::ExitedWithCode(0), "");
}

// After a first start, OK in the email window keeps the day the default file holds: today's check without a
// success line warns of nothing more than that.
TEST_F(App, EmailWindowShowsTheSettingsAndOkStoresThem)
{
    Run({{"c 1 16", "OFF 000 ''"}, {"c 4 1", ""}}); // OFF without an address: nothing to warn of
    gEmailAddress1 = "sam@example.com";
    gEmailAddress2 = "pat@example.com";
    gNotifyMinorErrors = 1; // box 8 on, but notification OFF: the button says OFF
    Run({{"c 1 16", "OFF 010 ''"}});
    EXPECT_EQ(Text(4, 4) + Text(4, 5), "sam@example.compat@example.com");
    // Box 8 turns box 3 and the button ON; no box on, OFF. Cancel keeps the variables, the boxes their state.
    Run({{"c 4 8", "OFF 000 ''"}, {"c 4 8", "ON 110 ''"}, {"c 4 8", "ON 100 ''"}, {"c 4 3", "OFF 000 ''"},
        {"c 4 8", "ON 110 ''"}, {"c 4 2", ""}});
    EXPECT_EQ(gNotifyMinorErrors, 1);
    // A box switched on clears the sent note and latch; OFF clears the boxes; OK stores and saves, keeping the day
    // of a first start's file: today's check without a success line then warns of nothing more than that.
    gNotifyMinorErrors = 0;
    gEmailSent = 1;
    Run({{"c 1 16", "OFF 110 'Notification Email Was Sent'"}, {"c 4 9", "ON 111 ''"}, {"c 4 10", "OFF 000 ''"},
        {"c 4 1", ""}});
    EXPECT_EQ(gEmailNotifyOn + gNotifyMinorErrors + gDailyEmail + gEmailSent, 0);
    EXPECT_EQ(ReadFile(SettingsFile()).substr(0, 38), " 0\rsam@example.com\rpat@example.com\r 0\r");
    EXPECT_EQ(ReadLastBackupDay(), 68);
    sandbox.Stub(QStringLiteral("ps"), "true");
    sandbox.Stub(QStringLiteral("log"),
        "cat '" + sandbox.Write(QStringLiteral("log"), LogOutput(Filler(60))).toStdString() + "'");
    FetchTodayLog();
    gTodayReadNow = 1;
    FetchTodayLog();
    EXPECT_EQ(QzTextFieldString(8), QStringLiteral("No successful backups reported in the current log"));
    gTodayPipeOpen = 0;
    // ON with the first address blank: warned, closed, ON, saved.
    Run({{"c 1 16", "OFF 000 ''"}, {"c 4 10", "ON 100 ''"}, {"t 4 ", "ON 100 ''"},
        {"t 5 j\u00FCrgen@example.com", "ON 100 ''"},
        {"c 4 1",
            "The 'Send Email To:' field is blank / Email Notification will fail unless you enter an email address \n"},
        {"c 1 16", "ON 100 ''"}});
    EXPECT_EQ(gEmailNotifyOn, 1);
    EXPECT_EQ(ReadFile(SettingsFile()).substr(0, 23), " 1\r\rj\x9Frgen@example.com\r");
}

TEST_F(App, EmailWindowRefusesThunderbirdAndOnWithoutAccessibilityAndSendsATest)
{
    std::optional<MailtoApp> mailto(std::in_place, QStringLiteral("/Applications/Thunderbird.app"));
    gEmailRequested = 1;
    Run({{"c 1 16", "OFF 000 ''"}, {"t 4 sam@example.com", "OFF 000 ''"}, {"c 4 10", "ON 100 ''"},
        {"c 4 1",
            "Thunderbird is not supported / Only Apple's Mail app and Microsoft Outlook are supported.\nON 100 ''"}});
    EXPECT_EQ(gEmailNotifyOn + gEmailRequested, 0);
    EXPECT_EQ(gEmailAddress1, ShortString("sam@example.com"));
    // Mail is accepted; ON never asks for accessibility on a system this new.
    mailto.emplace(QStringLiteral("/Applications/Mail.app"));
    Accessibility denied(false);
    Run({{"c 4 10", "OFF 000 ''"}, {"c 4 10", "ON 100 ''"}, {"c 4 1", ""}});
    EXPECT_EQ(gEmailNotifyOn, 1);
    // Before 10.14 ON without accessibility is refused, yet shown ON.
    gEmailNotifyOn = 0;
    gEmailRequested = gNotifyMinorErrors = gDailyEmail = gEmailSent = 1;
    const std::string sent = "OFF 111 'Notification Email Was Sent'";
    std::optional<SystemVersion> version(std::in_place, sandbox, "10.14");
    Run({{"c 1 16", sent}, {"c 4 10", "ON 111 ''"}, {"c 4 2", ""}});
    version.emplace(sandbox, "10.13.6");
    Run({{"c 1 16", sent},
        {"c 4 10",
            "STOP! Access for Assistive Devices must be enabled to allow email notification / System Preferences / "
            "Security & Privacy / Privacy Tab / Accessibility / Quillaby\nopen "
            "/System/Library/PreferencePanes/Security.prefPane/\nON 111 ''"},
        {"c 4 2", ""}});
    EXPECT_EQ(gEmailNotifyOn + gEmailRequested + gNotifyMinorErrors + gDailyEmail, 0);
    // The test button asks for a mail and a fetch; other events change nothing.
    gPollAllowed = 1;
    const std::string tested = "OFF 111 ''";
    Run({{"c 1 16", sent}, {"c 4 11", tested}, {"d 1 6 4", tested}, {"d 1200 4 4", tested}, {"c 4 2", ""}});
    EXPECT_EQ(gTestEmailPending + gEmailRequested + gTodayRequested, 3);
    EXPECT_EQ(gEmailSent, 0);
}

// The test email goes to the addresses as typed, stored or not, and the note says how it went; OK keeps an
// address as typed, in any script.
TEST_F(App, TestEmailGoesToTheTypedAddressesAndOkKeepsThemAsTyped)
{
    const std::string ivan = "\xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD@example.com";
    const QzHookGuard<QzScriptFn> runner(gQzScriptHook, StandInRunScript);
    MailtoApp mail(QStringLiteral("/System/Applications/Mail.app"));
    const QString box = sandbox.path() + QStringLiteral("/mail");
    sandbox.Stub(QStringLiteral("sendmail"), "sed -n 's/^To: //p' >> '" + box.toStdString() + "'");
    const std::string blank = "OFF 000 'The 'Send Email To:' field is blank'";
    Run({{"c 1 16", "OFF 000 ''"}, {"c 4 11", blank}, {"t 4 " + ivan, blank}, {"c 4 11", "OFF 000 ''"}});
    EmailDispatchStep();
    Run({{"t 5 pat@example.com", "OFF 000 'Test email sent to " + ivan + "'"}});
    EXPECT_EQ(ReadFile(box), "\"test email from Quillaby\" <" + ivan + ">\n");
    EXPECT_TRUE(gEmailAddress1.empty());
    sandbox.Stub(QStringLiteral("sendmail"), "echo 'sendmail: cannot connect to relay' >&2; exit 75");
    Run({{"c 4 11", "OFF 000 ''"}});
    EmailDispatchStep();
    Run({{"t 5 pat@example.com", "OFF 000 'sendmail: cannot connect to relay'"}, {"c 4 10", "ON 100 ''"},
        {"c 4 1", ""}});
    EXPECT_EQ(ReadFile(SettingsFile()).rfind(" 1\r" + ivan + "\rpat@example.com\r", 0), 0u);
    LoadSettings();
    EXPECT_EQ(QzStrToCF(gEmailAddress1).toStdString(), ivan);
}

TEST_F(App, StartUpBuildsTheWindowAndStartsBothTimersOrEnds)
{
    const std::pair<const char*, const char*> languages[]
        = {{"en-US", "English"}, {"en-GB", "English"}, {"en", "en"}, {"fr-FR", "French"}, {"zh-Hans-CN", "Chinese"},
            {"pt-BR", "Portuguese"}, {"ta-IN", "Tamil"}, {"ja", "ja"}, {"eng", "eng"}, {"", ""}};
    for (const auto& [identifier, name] : languages)
        EXPECT_EQ(LanguageNameOf(identifier), ShortString(name)) << identifier;
    // The short name reaches dseditgroup as one argument and nothing in it runs; too long, no command.
    sandbox.Stub(QStringLiteral("dseditgroup"), "printf '%s\\n' \"$@\" > \"$HOME/args\"; echo yes");
    EXPECT_EQ(AdminCheckCommand("sam"), ShortString("dseditgroup -o checkmember -m sam admin"));
    for (const std::string& name :
        std::initializer_list<std::string> {"sam", "o'brien", "a b", "$(touch \"$HOME/pwned\")", "`touch $HOME/pwned`",
            "x;touch $HOME/pwned", "a\\ b", "''", "\"q\"", "-", "", "caf\x8E", std::string(200, 'a')}) {
        QzOpenPipe(101, AdminCheckCommand(SS(name)));
        ShortString line;
        QzLineInput(101, line);
        QzClose(101);
        EXPECT_EQ(line, ShortString("yes")) << name;
        EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/args")), "-o\ncheckmember\n-m\n" + name + "\nadmin\n");
        EXPECT_FALSE(QFile::exists(sandbox.path() + QStringLiteral("/pwned"))) << name;
    }
    EXPECT_TRUE(AdminCheckCommand(SS(std::string(220, 'a'))).empty());
    AlertRecorder recorder;
    gAlertsAtExit = &recorder;
    ASSERT_EQ(PreferredLanguageName(), ShortString("English")); // the test main's en_US
    sandbox.Stub(QStringLiteral("dseditgroup"), "echo \"no $4 is NOT a member of admin\"");
    Restart();
    EXPECT_EXIT(StartUp(), ::testing::ExitedWithCode(0),
        "\\]<Quillaby requires an Admin Account\\|\\(System Preferences / Users and Groups\\)\\|2>[^<]*$");
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
    EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/args")),
        "-o\ncheckmember\n-m\n" + QFileInfo(sandbox.path()).fileName().toStdString() + "\nadmin\n");
    EXPECT_EQ(gComputerName, ShortString("Sam's Test Mac")); // the platform's script runner ran scutil
    QList<int> intervals;
    for (QTimer* timer : QzDelegateObject()->findChildren<QTimer*>())
        intervals << timer->interval();
    EXPECT_EQ(intervals, (QList<int> {100, 1800000}));
    // The first pass puts the introduction into the report.
    ASSERT_TRUE(WaitFor([] { return QzTextViewString(1).contains(QStringLiteral("Click on 'Previous Log'")); }));
    EXPECT_EQ(QzTextViewString(1),
        QStringLiteral("\r\n\r\nQuillaby will poll the system log every 30 minutes looking for Time Machine Errors.\r\n"
                       "You can get the log immediately by clicking 'Current Log'\r\n\r\nYou can also send an email "
                       "when the backup fails. ( Click on 'Email Notification' )\r\n\r\nClick on 'Previous Log' to "
                       "see yesterday's log"));
    // The system version decides the access check and the log's wording.
    for (const auto& [system, seen] :
        {std::pair {"10.15.7", "00"}, std::pair {"10.12", "10"}, std::pair {"26.1", "01"}}) {
        SystemVersion version(sandbox, system);
        Restart();
        StartUp();
        EXPECT_TRUE(QzWindowExists(1));
        EXPECT_EQ(std::to_string(gAccessCheckPending) + std::to_string(gRecentWording), seen) << system;
        gAccessCheckPending = 0;
    }
    EXPECT_TRUE(recorder.alerts.empty());
    SystemVersion version(sandbox, "10.11.6");
    Restart();
    EXPECT_EXIT(StartUp(), ::testing::ExitedWithCode(0), "\\]<Quillaby requires OS X 10.12 or later.\\|\\|0>[^<]*$");
}
