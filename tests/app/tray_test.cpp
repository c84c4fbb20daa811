// The age of the last backup, the once-per-problem rule of the desktop
// notices, and the menu's desktop items with their files, on the offscreen
// platform with a temporary HOME.

#include "../notify/notify_support.h"
#include "runtime/ui_support.h"

#include "app/desktop.h"
#include "app/menu.h"
#include "app/state.h"
#include "monitor/backup_age.h"
#include "monitor/report.h"
#include "monitor/state.h"
#include "notify/notices.h"
#include "notify/state.h"
#include "runtime/tray.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>

namespace {

std::vector<QzNotification> gNotices;

bool RecordNotice(const QzNotification& n)
{
    gNotices.push_back(n);
    return true;
}

class Tray : public UiTest {
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        UseAppResource(QStringLiteral("MainMenu.ui"));
        QzLoadMenuNib(QStringLiteral("MainMenu"));
        QzWindowSet(-1, QStringLiteral("Quillaby"), QzParamOmitted, QzRect {0, 0, 605, 540});
        const QString empty;
        QzTextField(8, QzParamOmitted, &empty, 1, QzRect {10, 120, 585, 22});
        ResetNotifyState();
        gNotices.clear();
        gSettingsPath = sandbox.path() + QStringLiteral("/Settings");
        gNoticeSent = gTodayChecked = gTooFewLines = gDriveOffline = gSuccessFound = 0;
        gNoBackupNoticeDay = 0;
        gDesktopNoticesOn = 1;
        gCheckAtStartupChosen = -1;
    }
    std::vector<bool> Checks() const
    {
        std::vector<bool> marks;
        const QList<QAction*> items = qobject_cast<QMenuBar*>(gQzMenuBar.data())->actions().value(0)->menu()->actions();
        for (const int item : {kMenuStartAtLogin, kMenuCheckAtStartup, kMenuDesktopNotices})
            marks.push_back(items.value(item)->isChecked());
        return marks;
    }

    Sandbox sandbox;
    TestClock clock;
    QzHookGuard<QzNotifyFn> notices {gQzNotifyHook, RecordNotice};
};

} // namespace

TEST(BackupAge, WordsFromTheSuccessLineOrTheSettingsDay)
{
    TestClock clock;
    const std::int64_t now = 1'700'000'000'000, none = -now; // none: no success line
    const struct {
        std::int64_t agoMs;
        std::int16_t day, today;
        const char* words;
    } rows[] = {{30'000, 0, 0, "just now"}, {-5'000, 0, 0, "just now"}, {60'000, 0, 0, "1 minute ago"},
        {59 * 60'000, 0, 0, "59 minutes ago"}, {2 * 3'600'000 + 5, 0, 0, "2 hours ago"},
        {50 * 3'600'000LL, 0, 0, "2 days ago"}, {none, 69, 69, "today"}, {none, 68, 69, "yesterday"},
        {none, 60, 69, "9 days ago"}, {none, 365, 2, "2 days ago"}, {none, 366, 1, "yesterday"},
        {none, 0, 69, "unknown"}};
    for (const auto& r : rows)
        EXPECT_EQ(BackupAgeWords(r.agoMs == none ? 0 : now - r.agoMs, r.day, now, r.today), r.words) << r.agoMs;
    // From the report's last success block, read in the local time (UTC here).
    gLastSuccessText = SS("\r\n\r\nLast Successful Backup Message:\r\n2026-03-10 09:58:00 Backup completed.\r\n");
    EXPECT_EQ(LastBackupAge(), "2 hours ago");
    gLastSuccessText = ShortString();
}

// Each row is one check of today's log: what it found, then the icon's
// state and the notices it sent ("" none).
TEST_F(Tray, OneNoticePerProblemUntilBackupsWorkAgain)
{
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

TEST_F(Tray, MenuItemsWriteTheAutostartEntryAndTheOptionsFile)
{
    const QString config = sandbox.path() + QStringLiteral("/config");
    setenv("XDG_CONFIG_HOME", config.toUtf8().constData(), 1);
    const QString entry = config + QStringLiteral("/autostart/quillaby.desktop");
    ASSERT_EQ(AutostartPath(), entry);
    // A background start checks at once by default; a normal one does not.
    EXPECT_TRUE(StartDesktop(true));
    EXPECT_EQ(Checks(), std::vector<bool>({false, true, true}));
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

    EXPECT_TRUE(DesktopMenuChoice(kAppMenu, kMenuCheckAtStartup));
    EXPECT_TRUE(DesktopMenuChoice(kAppMenu, kMenuDesktopNotices));
    EXPECT_EQ(Checks(), std::vector<bool>({true, true, false}));
    EXPECT_EQ(ReadFile(OptionsPath()), " 0\r 1\r");
    EXPECT_TRUE(DesktopMenuChoice(kAppMenu, kMenuStartAtLogin));
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(DesktopMenuChoice(kAppMenu, kMenuAbout));

    // Read back at the next start; a file of nonsense keeps the defaults.
    gDesktopNoticesOn = 1;
    gCheckAtStartupChosen = -1;
    EXPECT_TRUE(StartDesktop(false));
    EXPECT_EQ(Checks(), std::vector<bool>({false, true, false}));
    sandbox.Write(QStringLiteral("Options"), std::string("\0\0", 2));
    gDesktopNoticesOn = 1;
    gCheckAtStartupChosen = -1;
    EXPECT_FALSE(StartDesktop(false));
    EXPECT_EQ(Checks(), std::vector<bool>({false, false, true}));
    unsetenv("XDG_CONFIG_HOME");
}
