// The application's windows on the offscreen platform with the bundle's resources and a temporary HOME, and the main
// loop's pass on the test clock with its timers.

#include "../monitor/monitor_support.h"
#include "../notify/notify_support.h"
#include "runtime/ui_support.h"
#include "runtime/widgets_p.h"

#include "app/desktop.h"
#include "app/dialog.h"
#include "app/mainloop.h"
#include "app/mainwindow.h"
#include "app/menu.h"
#include "app/sheets.h"
#include "app/startup.h"
#include "app/state.h"
#include "app/watched_mac.h"
#include "monitor/backup_age.h"
#include "monitor/fetch.h"
#include "monitor/report.h"
#include "monitor/state.h"
#include "notify/dispatch.h"
#include "notify/notices.h"
#include "notify/state.h"
#include "platform/script_standin.h"
#include "platform/url_opener.h"
#include "runtime/channels.h"
#include "runtime/tray.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QTest>
#include <QTextBrowser>

#include <cstdio>

#include <unicode/timezone.h>

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

QWidget* View(std::int64_t window, std::int64_t tag)
{
    return QzFindView(QzWindowByTag(window), tag);
}

QAbstractButton* Button(std::int64_t window, std::int64_t tag)
{
    return qobject_cast<QAbstractButton*>(View(window, tag));
}

// The text of a label or an editable field.
std::string Text(std::int64_t window, std::int64_t tag)
{
    return View(window, tag)->property("text").toString().toStdString();
}

// The keyboard is back in the main window.
bool FocusInMainWindow()
{
    return QApplication::activeWindow() == QzWindowByTag(1) && QApplication::focusWidget()
        && QApplication::focusWidget()->window() == QzWindowByTag(1);
}

bool PassTimerRunning()
{
    const QList<QTimer*> timers = QzDelegateObject()->findChildren<QTimer*>();
    return std::any_of(timers.begin(), timers.end(), [](QTimer* t) { return t->isActive() && t->interval() == 100; });
}

std::int64_t At(const char* localTime)
{
    TestClock::SetLocal(localTime);
    return gQzNowHook();
}

std::vector<QzNotification> gNotices;

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
        gTodayRequested = gYesterdayRequested = gTodayPipeOpen = gYesterdayPipeOpen = gPollAllowed = gMenuPending
            = gOpenPanel = 0;
        gNoticeSent = gTodayChecked = gTooFewLines = gDriveOffline = gSuccessFound = gNoBackupNoticeDay = 0;
        gDesktopNoticesOn = 1;
        gCheckAtStartupChosen = -1;
        gNotices.clear();
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
    // Each step is an action, then what the user sees: "c W T" clicks button T of window W, "t T text" types into field
    // T of window 4, "m M I" chooses menu M's item I, "p" the menu step, "x" closes window 1, "d K I W" a dialog event.
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
    QzHookGuard<QzNotifyFn> notices {gQzNotifyHook, [](const QzNotification& n) {
                                         gNotices.push_back(n);
                                         return true;
                                     }};
};

} // namespace

// Help and Error Numbers open in windows of the program's own.
TEST_F(App, MainWindowButtons)
{
    DoDialog(1, 11, 1, nullptr);
    DoDialog(1, 14, 1, nullptr);
    const auto browser = [](const char* document) -> QTextBrowser* {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* b = top->findChild<QTextBrowser*>();
                b && top->isVisible() && b->source().path().endsWith(QLatin1String(document)))
                return b;
        return nullptr;
    };
    QTextBrowser* help = browser("/Help.html");
    ASSERT_TRUE(help && browser("/ErrorNumbers.html"));
    EXPECT_TRUE(help->window()->windowTitle() == QStringLiteral("Quillaby Help")
        && help->toPlainText().contains(QStringLiteral("Quillaby on Linux"))
        && !help->toPlainText().contains(QStringLiteral("On a Mac")));
    help->anchorClicked(QUrl(QStringLiteral("#importer-start-failed"))); // a link of the contents
    EXPECT_EQ(help->source().fragment(), QStringLiteral("importer-start-failed"));
    // Show Problem explains the problem or opens its folder.
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
    EXPECT_TRUE(gTodayRequested + gPollAllowed == 2 && gPipeStartTicks == TicksNow() + 60);
    Run({{"c 1 7", ""}});
    EXPECT_EQ(gYesterdayRequested, 1);
    // A Mac watched over ssh: what acts on this machine is off, and said so from the tray's menu.
    gRemoteHost = "imac";
    ShowWatchedMacInTitle();
    EXPECT_FALSE(Button(1, 5)->isEnabled() || Button(1, 9)->isEnabled() || Button(1, 12)->isEnabled());
    Run({{"d 1 5 1", "Not for a Mac watched over ssh / imac is watched from here; do this on that Mac itself.\n"}});
    gRemoteHost.clear();
}

TEST_F(App, MenuChoicesWaitForThePassAndQuitSavesAndEndsOrAsks)
{
    const std::string page = "open https://fernhollow.software/quillaby/";
    Run({{"m 0 2", "menu\n"}, {"m 0 4", "menu\n"}, {"p", page + "upgrade\n"}, {"p", ""}, {"m 0 2", "menu\n"},
        {"p", page + "purchase\n"}, {"m 1 2", "menu\n"}, {"p", ""}});
    // Hiding the donation button twice: gone once, saved with the next save only.
    Run({{"m 0 3", "menu\n"}, {"p", ""}, {"m 0 3", "menu\n"}, {"p", ""}});
    EXPECT_TRUE(!QzViewVisible(10, 1) && gDonateHidden == 1);
    EXPECT_EQ(ReadFile(SettingsFile()).find(" 1\r 1\r"), std::string::npos);
    SaveSettings();
    EXPECT_NE(ReadFile(SettingsFile()).find("\r 1\r 1\r 1\r 1\r"), std::string::npos);
    // The about window shows the version unless a fetch runs.
    gVersionText = "Version 8.0.2";
    gYesterdayPipeOpen = 1;
    Run({{"m 0 0", "menu\n"}, {"p", "Busy getting yesterday's log. / Please wait until done.\n"}});
    gYesterdayPipeOpen = 0;
    Run({{"m 0 0", "menu\n"}, {"p", "Version 8.0.2"}, {"c 6 1", ""}});
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
    EXPECT_EQ(
        std::to_string(gEmailNotifyOn) + ReadFile(SettingsFile()).substr(0, 23), "1 1\r\rj\x9Frgen@example.com\r");
}

TEST_F(App, EmailWindowRefusesThunderbirdAndOnWithoutAccessibilityAndSendsATest)
{
    std::optional<MailtoApp> mailto(std::in_place, QStringLiteral("/Applications/Thunderbird.app"));
    gEmailRequested = 1;
    Run({{"c 1 16", "OFF 000 ''"}, {"t 4 sam@example.com", "OFF 000 ''"}, {"c 4 10", "ON 100 ''"},
        {"c 4 1",
            "Thunderbird is not supported / Only Apple's Mail app and Microsoft Outlook are supported.\nON 100 ''"}});
    EXPECT_TRUE(gEmailNotifyOn + gEmailRequested == 0 && gEmailAddress1 == ShortString("sam@example.com"));
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
    EXPECT_TRUE(gTestEmailPending + gEmailRequested + gTodayRequested == 3 && gEmailSent == 0);
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
    EXPECT_EQ(ReadFile(box) + std::string(gEmailAddress1.view()), "\"test email from Quillaby\" <" + ivan + ">\n");
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
    // Donation hidden by the settings.
    EXPECT_TRUE(QzCurrentWindowTag() == 1 && !QzViewVisible(10, 1) && !QzViewVisible(15, 1) && QzViewVisible(6, 1)
        && gVersionText == ShortString("Version 8.0.2") && gIntroPending + gPollAllowed == 2);
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

// The report area takes what the window gains, the status line the width; the buttons keep their places under the
// report. The window's size and place come back at the next start; a broken file changes nothing.
TEST_F(App, MainWindowGrowsKeepsItsGeometryAndOpenMapsMacItemsToLinux)
{
    QWidget* window = QzWindowByTag(1);
    const QSize initial = window->size();
    const QRect report = View(1, 2)->geometry(), status = View(1, 8)->geometry(), button = View(1, 6)->geometry();
    EXPECT_TRUE(initial == QSize(605, 671) && QzContentView(window)->geometry() == QRect(0, 19, 605, 652)
        && report == QRect(10, 60, 585, 325) && button == QRect(10, 510, 141, 30) && View(1, 1)->parent() == View(1, 2)
        && qobject_cast<QMainWindow*>(window)->menuWidget() == gQzMenuBar.data());
    KeepMainWindowGeometry();
    window->resize(initial + QSize(300, 200));
    EXPECT_EQ(View(1, 2)->geometry(), report.adjusted(0, 0, 300, 200));
    EXPECT_EQ(View(1, 8)->geometry(), status.adjusted(0, 0, 300, 0));
    EXPECT_EQ(View(1, 6)->geometry(), button.translated(0, 200));
    window->resize(initial - QSize(50, 50));
    EXPECT_EQ(window->size(), initial);
    window->resize(initial + QSize(120, 80));
    window->move(40, 30);
    const QRect kept = window->geometry();
    for (const std::string& contents : {std::string(), std::string("[General]\ngeometry=@ByteArray(\\0\\x1\\xff)\n")}) {
        if (!contents.empty())
            sandbox.Write(QStringLiteral(".local/share/Quillaby/Window.ini"), contents);
        Restart();
        QzInstallAppDelegate();
        ShowMainWindow();
        BuildReportArea();
        KeepMainWindowGeometry();
        EXPECT_EQ(QzWindowByTag(1)->geometry().size(), contents.empty() ? kept.size() : initial);
        EXPECT_EQ(View(1, 2)->height() - report.height(), QzWindowByTag(1)->height() - initial.height());
    }
    // Each Mac item opens its Linux counterpart when one is on PATH; without one, an alert names what `open` looked
    // for. PATH holds the stubs and the stand-ins alone, so that nothing installed here takes part.
    const QzHookGuard<QzOpenUrlFn> opener(gQzOpenUrlHook, StandInOpenURL);
    setenv("PATH", (sandbox.bin() + QStringLiteral(":" QZ_STANDIN_DIR)).toUtf8().constData(), 1);
    QFile::remove(sandbox.bin() + QStringLiteral("/open"));
    const std::string diskUtility = "The file /Applications/Utilities/Disk Utility.app does not exist.\nOn this "
                                    "computer it opens GNOME Disks (gnome-disks) or KDE Partition Manager "
                                    "(partitionmanager); none of them is installed.";
    const std::string noXdgOpen = "\nOn this computer xdg-open opens it, and it is not installed (Debian's package "
                                  "xdg-utils).";
    const std::string upgrade = "https://fernhollow.software/quillaby/upgrade";
    struct Case {
        const char* stub; // installed before the click, empty for none
        std::int64_t tag; // a main window button, or 0 for the menu's upgrade page
        std::string seen; // what the stub was given, or the alert
    };
    const Case cases[] = {{"", 12, "Unable to open Disk Utility.app / " + diskUtility},
        {"partitionmanager", 12, "partitionmanager\n"},
        {"", 13,
            "Unable to open TimeMachine.prefPane / The file /System/Library/PreferencePanes/TimeMachine.prefPane does "
            "not exist.\nOn this computer it opens the desktop's backup tool: Deja Dup (deja-dup), Back In Time "
            "(backintime-qt) or Timeshift (timeshift-launcher); none of them is installed."},
        {"deja-dup", 5, "deja-dup\n"},
        {"", 0, "Unable to open " + upgrade + " / No application knows how to open URL " + upgrade + "." + noXdgOpen},
        {"xdg-open", 0, "xdg-open " + upgrade + "\n"}};
    const QString given = sandbox.path() + QStringLiteral("/given");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seen);
        if (*c.stub)
            sandbox.Stub(QString::fromLatin1(c.stub), "echo \"${0##*/}\" \"$@\" > '" + given.toStdString() + "'");
        AlertRecorder recorder;
        if (c.tag != 0) {
            DoDialog(1, c.tag, 1, nullptr);
        } else {
            MenuCallback(kAppMenu, kMenuUpgradePage);
            PendingMenuStep();
        }
        std::string seen;
        for (const QzAlertRequest& a : recorder.alerts)
            seen += a.message.toStdString() + " / " + a.informative.toStdString();
        if (seen.empty()) {
            EXPECT_TRUE(WaitFor([&given] { return ReadFile(given).ends_with("\n"); }));
            seen = ReadFile(given);
            QFile::remove(given);
        }
        EXPECT_EQ(seen, c.seen);
    }
}

// Return presses the default button and Escape Cancel (Keep Running) in the email and quit sheets; the
// keyboard then goes back to the main window.
TEST_F(App, SheetsAnswerReturnAndEscapeAndGiveTheKeyboardBack)
{
    QzWindowByTag(1)->activateWindow();
    ASSERT_TRUE(WaitFor(FocusInMainWindow));
    gEmailAddress1 = "sam@example.com";
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        ShowEmailWindow();
        auto* field = qobject_cast<QLineEdit*>(View(4, 4));
        field->setFocus();
        field->setText(QStringLiteral("pat@example.com"));
        QTest::keyClick(field, key);
        EXPECT_EQ(gOpenPanel, 0);
        EXPECT_EQ(
            QzStrToCF(gEmailAddress1), QLatin1String(key == Qt::Key_Return ? "pat@example.com" : "sam@example.com"));
        EXPECT_TRUE(WaitFor(FocusInMainWindow)) << key;
    }
    gEmailNotifyOn = 1;
    QuitRequested();
    ASSERT_EQ(gOpenPanel, 5);
    QTest::keyClick(QzWindowByTag(5), Qt::Key_Escape);
    EXPECT_TRUE(gOpenPanel == 0 && WaitFor(FocusInMainWindow));
    QuitRequested();
    EXPECT_EXIT(QTest::keyClick(QzWindowByTag(5), Qt::Key_Return), ::testing::ExitedWithCode(0), "");
}

// The age of the last backup in words; the menu's desktop items write the autostart entry and the options file;
// desktop notices come once per problem until backups work again.
TEST_F(App, BackupAgeDesktopNoticesOncePerProblemAndTheMenusDesktopItems)
{
    const std::int64_t now = 1'700'000'000'000, none = -now; // none: no success line
    const struct {
        std::int64_t agoMs;
        std::int16_t day, today;
        const char* words;
    } ages[] = {{30'000, 0, 0, "just now"}, {-5'000, 0, 0, "just now"}, {60'000, 0, 0, "1 minute ago"},
        {59 * 60'000, 0, 0, "59 minutes ago"}, {2 * 3'600'000 + 5, 0, 0, "2 hours ago"},
        {50 * 3'600'000LL, 0, 0, "2 days ago"}, {none, 69, 69, "today"}, {none, 68, 69, "yesterday"},
        {none, 60, 69, "9 days ago"}, {none, 365, 2, "2 days ago"}, {none, 366, 1, "yesterday"},
        {none, 0, 69, "unknown"}};
    for (const auto& r : ages)
        EXPECT_EQ(BackupAgeWords(r.agoMs == none ? 0 : now - r.agoMs, r.day, now, r.today), r.words) << r.agoMs;
    // From the report's last success block, read in the local time (UTC here).
    gLastSuccessText = SS("\r\n\r\nLast Successful Backup Message:\r\n2026-03-10 09:58:00 Backup completed.\r\n");
    EXPECT_EQ(LastBackupAge(), "2 hours ago");
    gLastSuccessText = ShortString();
    const QString config = sandbox.path() + QStringLiteral("/config");
    setenv("XDG_CONFIG_HOME", config.toUtf8().constData(), 1);
    const QString entry = config + QStringLiteral("/autostart/quillaby.desktop");
    ASSERT_EQ(AutostartPath(), entry);
    // The check marks of Start at Login, Check at Start-up and Desktop Notices.
    const auto checks = [] {
        std::string marks;
        const QList<QAction*> items = qobject_cast<QMenuBar*>(gQzMenuBar.data())->actions().value(0)->menu()->actions();
        for (const int item : {kMenuStartAtLogin, kMenuCheckAtStartup, kMenuDesktopNotices})
            marks += items.value(item)->isChecked() ? '1' : '0';
        return marks;
    };
    // A background start checks at once by default, and without a tray shows the window; a normal one does not.
    QzWindowSet(-1);
    EXPECT_TRUE(StartDesktop(true) && QzWindowByTag(1)->isVisible());
    EXPECT_EQ(checks(), "011");
    EXPECT_FALSE(StartDesktop(false));

    EXPECT_TRUE(DesktopMenuChoice(kAppMenu, kMenuStartAtLogin));
    EXPECT_TRUE(ReadFile(entry).find("\nExec=") != std::string::npos);
    const auto valid
        = [](const QString& file) { return QProcess::execute(QStringLiteral("desktop-file-validate"), {file}) == 0; };
    EXPECT_TRUE(valid(entry)) << ReadFile(entry);
    // A program path that needs quoting: spaces, "$" and "%".
    const QString odd = sandbox.Write(
        QStringLiteral("odd.desktop"), AutostartEntry(QStringLiteral("/opt/My Apps/Quil$aby%/Quillaby")));
    EXPECT_TRUE(
        ReadFile(odd).find("\nExec=\"/opt/My Apps/Quil\\\\$aby%%/Quillaby\" --background\n") != std::string::npos)
        << ReadFile(odd);
    EXPECT_TRUE(valid(odd));

    EXPECT_TRUE(DesktopMenuChoice(kAppMenu, kMenuCheckAtStartup) && DesktopMenuChoice(kAppMenu, kMenuDesktopNotices));
    EXPECT_EQ(checks(), "110");
    EXPECT_EQ(ReadFile(OptionsPath()), " 0\r 1\r");
    EXPECT_TRUE(DesktopMenuChoice(kAppMenu, kMenuStartAtLogin) && !QFile::exists(entry));
    EXPECT_FALSE(DesktopMenuChoice(kAppMenu, kMenuAbout));

    // Read back at the next start; a file of nonsense keeps the defaults.
    gDesktopNoticesOn = 1;
    gCheckAtStartupChosen = -1;
    EXPECT_TRUE(StartDesktop(false));
    EXPECT_EQ(checks(), "010");
    sandbox.Write(QStringLiteral(".local/share/Quillaby/Options"), std::string("\0\0", 2));
    gDesktopNoticesOn = 1;
    gCheckAtStartupChosen = -1;
    EXPECT_FALSE(StartDesktop(false));
    EXPECT_EQ(checks(), "001");
    unsetenv("XDG_CONFIG_HOME");
    // Each row is one check of today's log: what it found, then the icon's state and the notices it sent ("" none).
    const std::int16_t today = TodayDayOfYear();
    const struct {
        const char* status;
        int offline, failure, success, tooFew, daysSince, minor;
        int state;
        const char* notices;
    } rows[] = {
        {"", 0, 0, 3, 0, 0, 0, kQzTrayWell, ""},
        {"Backup failed with error: 11", 0, 5, 3, 0, 0, 0, kQzTraySerious, "Time Machine backup failed"},
        {"Backup failed with error: 11", 0, 5, 3, 0, 0, 0, kQzTraySerious, ""},
        {"Backup drive offline", 1, 0, 0, 0, 0, 0, kQzTraySerious, ""},
        {" Unable to get today's error log", 0, 0, 0, 1, 0, 0, kQzTrayUnknown, ""},
        {"The last problem was 'a.doc'", 0, 2, 4, 0, 0, 0, kQzTrayProblem, "Backups are working again"},
        {"The last problem was 'a.doc'", 0, 2, 4, 0, 0, 1, kQzTrayProblem, "Time Machine problem"},
        {"", 0, 0, 4, 0, 0, 1, kQzTrayWell, "Backups are working again"},
        {"Backup drive offline", 1, 0, 0, 0, 1, 0, kQzTraySerious, "Time Machine backup drive is offline"},
        {"NO SUCESSFUL BACKUPS FOR MORE THAN A DAY", 0, 0, 0, 0, 3, 0, kQzTraySerious,
            "No Time Machine backup for more than a day"},
        {"NO SUCESSFUL BACKUPS FOR MORE THAN A DAY", 0, 0, 0, 0, 3, 0, kQzTraySerious, ""},
    };
    for (const auto& r : rows) {
        SetStatusLine(SS(r.status));
        gDriveOffline = static_cast<std::uint8_t>(r.offline);
        gLastFailureLineNo = r.failure;
        gLastSuccessLineNo = r.success;
        gSuccessFound = r.success > 0 ? 1 : 0;
        gTooFewLines = static_cast<std::uint8_t>(r.tooFew);
        gLastBackupDay = static_cast<std::int16_t>(today - r.daysSince);
        gNotifyMinorErrors = static_cast<std::uint8_t>(r.minor);
        gTodayChecked = 1;
        DesktopNoticeStep(nullptr);
        EXPECT_EQ(gBackupStatus, r.state) << r.status;
        std::string sent;
        for (const QzNotification& n : std::exchange(gNotices, {})) {
            sent += n.summary.toStdString();
            EXPECT_EQ(n.appName, QStringLiteral("Quillaby"));
            const bool working = n.summary == QStringLiteral("Backups are working again");
            EXPECT_TRUE(n.body.startsWith(working
                    ? QStringLiteral("Last backup: ")
                    : QString::fromLatin1(r.status).trimmed() + QStringLiteral("\nLast backup: ")))
                << n.body.toStdString();
        }
        EXPECT_EQ(sent, r.notices) << r.status;
    }
    // Switched off, nothing is sent; a pass without a check changes nothing.
    gDesktopNoticesOn = 0;
    gNoBackupNoticeDay = 0;
    gTodayChecked = 1;
    DesktopNoticeStep(nullptr);
    DesktopNoticeStep(nullptr);
    EXPECT_TRUE(gNotices.empty());
}

// The daily reset wakes the pass at the edges of hour 1 without its timer running; then, idle, a request set anywhere
// runs a pass 0.1 s later, passes follow while the fetch has work, and the timer stops.
TEST(MainLoopTimers, TheDailyResetWakesInHourOneAndAPendingRequestRunsWithinAPass)
{
    MonitorWorld world;
    const std::pair<const char*, const char*> edges[] = {{"2026-03-10 00:59:59", "2026-03-10 01:00:00"},
        {"2026-03-10 01:00:00", "2026-03-10 02:00:00"}, {"2026-03-10 01:59:59", "2026-03-10 02:00:00"},
        {"2026-03-10 02:00:00", "2026-03-11 01:00:00"}, {"2026-03-31 23:30:00", "2026-04-01 01:00:00"}};
    for (const auto& [now, edge] : edges)
        EXPECT_EQ(NextHourOneEdge(At(now)), At(edge)) << now;
    // New York (times in UTC): hour 1 twice on 1 November ends at 02:00 EST; on 8 March it ends at 03:00 EDT.
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("America/New_York"));
    const std::pair<const char*, const char*> newYork[] = {{"2026-11-01 04:30:00", "2026-11-01 05:00:00"},
        {"2026-11-01 05:00:00", "2026-11-01 07:00:00"}, {"2026-03-08 06:30:00", "2026-03-08 07:00:00"}};
    for (const auto& [now, edge] : newYork)
        EXPECT_EQ(NextHourOneEdge(At(now)), At(edge)) << now;
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));

    world.Run({{"sent=1 poll=0 reset=0"}}); // cleared at the end of the last hour 1
    At("2026-03-10 00:59:59");
    QzInstallAppDelegate(); // the window program's timers
    StartMainLoopTimers();
    At("2026-03-10 01:00:00");
    ASSERT_TRUE(WaitFor([] { return gEmailSent == 0; }));
    world.Run({{"sent==0 poll==1 reset==1"}});
    EXPECT_FALSE(PassTimerRunning());
    world.SetLogOutput(LogOutput(Filler(60)));
    QElapsedTimer since;
    since.start();
    world.Run({{"today=1"}});
    ASSERT_TRUE(WaitFor([] { return gTodayLaunchPending == 1; }));
    EXPECT_TRUE(since.elapsed() >= 95 && since.elapsed() < 2000) << since.elapsed();
    ASSERT_TRUE(WaitFor([] { return !PassTimerRunning(); }, 10000));
    world.Run({{"open==0 launch==0", "Current Time Machine Log for last 4 hours:"}});
    QzResetWindowState();
}

TEST(MainLoop, DailyResetPollFetchesOverdueFetchesAndRequestsThatWaitForASheet)
{
    MonitorWorld world;
    auto entries = Filler(60);
    entries.push_back(LogEntry("2026-03-10 10:15:03", "Backup completed successfully."));
    world.SetLogOutput(LogOutput(entries));
    QzContainerSetStr(gIntroText, "Welcome");
    // The latch is set before each pass; the reset clears it in hour 1, once.
    world.Run({{"clock=59 sent=1 poll=0 Tick() sent==1 poll==0 reset==0"},
        {"clock=60 sent=1 poll=0 Tick() sent==0 poll==1 reset==1"},
        {"clock=119 sent=1 poll=0 Tick() sent==1 poll==0 reset==1"},
        {"clock=120 sent=1 poll=0 Tick() sent==1 poll==0 reset==0"},
        {"clock=1510 sent=1 poll=0 Tick() sent==0 poll==1 reset==1 stamp==60060"}});
    // The poll timer: the state, then today's request and the email request.
    world.Run({{"open=1 poll=1 requested=1 Poll() today==0 requested==1"},
        {"open=0 yOpen=1 Poll() today==0 requested==1"}, {"yOpen=0 testEmail=1 problem=4 Poll() today==1 requested==1"},
        {"today=0 testEmail=0 Poll() today==1 requested==0"},
        {"today=0 poll=0 problem=5 requested=1 Poll() today==0 requested==1"},
        {"poll=1 problem=0 requested=0 Poll() today==1 requested==0"}});
    // Three passes fetch today's log. Read more than 7200 ticks after the stamp: the two-hour log instead; exactly
    // at the limit is still in time, and a stamp of 0 never expires.
    world.Run({{"clock=720 today=1 Tick() launch==1 ran:-", "\r\n\r\nGETTING TODAY'S TIME MACHINE LOG. Please Wait..."},
        {"Tick() open==1"},
        {"Tick() ran:4h open==0 readNow==0 success==1", "Current Time Machine Log for last 4 hours:"},
        {"today=1 Tick() Tick() open==1 wait=122 Tick() ran:2h short==0 today==0 launch==0",
            "Current Time Machine Log for last 4 hours:\r\n\r\n-- LOG IS TOO LARGE TO SHOW THE WHOLE DAY --"},
        {"today=1 Tick() Tick() wait=121 Tick() ran:4h", "!TOO LARGE"},
        {"today=1 Tick() Tick() stamp=0 wait=100000 Tick() ran:4h", "!TOO LARGE"}});
    // Yesterday's overdue command gives no log at all.
    world.Run({{"yesterday=1 Tick()", "\r\n\r\nGETTING YESTERDAY'S TIME MACHINE LOG. Please Wait..."},
        {"Tick() yOpen==1 poll==0"}, {"Tick() poll==1", "Yesterday's Time Machine Log:"},
        {"yesterday=1 Tick() Tick() sent=1 wait=62 Tick() sent==0 poll==1 yReadNow==0 eof==-1",
            "\r\nYesterday's log is not available\r\n"}});
    // With a sheet open the requests wait and the introduction still shows; announced together, today's runs first.
    world.Run({{"intro=1 panel=4 today=1 yesterday=1 Tick() Tick() today==1 yesterday==1", "\r\n\r\nWelcome"},
        {"panel=0 Tick() launch==1 yLaunch==1", "\r\n\r\nGETTING YESTERDAY'S TIME MACHINE LOG. Please Wait..."},
        {"Tick() open==1 yOpen==0 yLaunch==0"}, {"Tick()", "Current Time Machine Log"}});
}
