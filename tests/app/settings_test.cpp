#include "test_support.h"

#include "app/settings.h"
#include "app/state.h"
#include "runtime/state.h"
#include "runtime/windows.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString SettingsFile(const Sandbox& sandbox)
{
    return sandbox.path() + QStringLiteral("/.local/share/Quillaby/Settings");
}

void BuildMainWindowWithDonateButton()
{
    QzWindowSet(-1, QStringLiteral("Quillaby"), QzParamOmitted, QzRect {0, 0, 605, 540});
    const QString title = QStringLiteral("Donate");
    QzButton(10, 1, QzParamOmitted, &title, QzParamOmitted, QzParamOmitted, QzRect {10, 10, 80, 24}, 1);
    QzSetCurrentWindow(1);
}

// Files of this process may not grow past `bytes`, as on a full disk.
void LimitFileSize(rlim_t bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = std::min(bytes, limit.rlim_max);
    setrlimit(RLIMIT_FSIZE, &limit);
}

} // namespace

TEST(Settings, FirstStartWritesTheEightLineDefaultForm)
{
    Sandbox sandbox;
    TestClock clock;
    BuildMainWindowWithDonateButton();
    LoadSettings();
    EXPECT_EQ(ReadFile(SettingsFile(sandbox)), " 0\r\r\r0\r0\r0\r 68\r\r");
    EXPECT_EQ(QzFileErrorHandler(3, 13), 0); // errors are silent from now on
    EXPECT_EQ(ReadLastBackupDay(), 68);
    EXPECT_EQ(TodayDayOfYear(), 69);
    // Reading the default form keeps the donation button.
    LoadSettings();
    EXPECT_EQ(gDonateHidden, 0);
    EXPECT_TRUE(QzViewVisible(10, 1));

    Sandbox newYear;
    TestClock::SetLocal("2027-01-01 08:00:00");
    LoadSettings();
    EXPECT_EQ(ReadFile(SettingsFile(newYear)), " 0\r\r\r0\r0\r0\r 1\r\r");
    TestClock::SetLocal("2027-01-02 08:00:00");
    Sandbox second;
    LoadSettings();
    EXPECT_EQ(ReadFile(SettingsFile(second)), " 0\r\r\r0\r0\r0\r 1\r\r");
}

TEST(Settings, SaveWritesTwelveLinesThatReadBack)
{
    Sandbox sandbox;
    TestClock clock;
    BuildMainWindowWithDonateButton();
    LoadSettings();
    gEmailNotifyOn = 1;
    gEmailAddress1 = QzStrFromCF(QStringLiteral("j\u00FCrgen@example.com"));
    gEmailAddress2 = "sam@example.com";
    gNotifyMinorErrors = 255; // a byte: written from its signed value
    gLastBackupDay = 338;
    gSpareSetting = "spare";
    gDonateHidden = 1;
    SaveSettings();
    EXPECT_EQ(ReadFile(SettingsFile(sandbox)),
        " 1\rj\x9Frgen@example.com\rsam@example.com\r 0\r-1\r 0\r 338\rspare\r 1\r 1\r 1\r 1\r");

    gEmailNotifyOn = 0;
    gEmailAddress1 = ShortString();
    gDonateHidden = 0;
    gNotifyMinorErrors = 0;
    LoadSettings();
    EXPECT_EQ(gEmailNotifyOn, 1);
    EXPECT_EQ(gNotifyMinorErrors, 255);
    EXPECT_EQ(QzStrToCF(gEmailAddress1), QStringLiteral("j\u00FCrgen@example.com"));
    EXPECT_EQ(gLastBackupDay, 338);
    EXPECT_EQ(gSpareSetting, SS("spare"));
    EXPECT_EQ(gDonateHidden, 1);
    EXPECT_FALSE(QzViewVisible(10, 1)); // the donation button is gone

    // Lines 9 to 11 set, line 12 clear: line 12 decides.
    BuildMainWindowWithDonateButton();
    sandbox.Write(QStringLiteral(".local/share/Quillaby/Settings"), " 0\r\r\r0\r0\r0\r 5\r\r 1\r 1\r 1\r 0\r");
    LoadSettings();
    EXPECT_EQ(gDonateHidden, 0);
    EXPECT_TRUE(QzViewVisible(10, 1));
}

TEST(Settings, BrokenFilesGiveZerosAndNeverCrash)
{
    Sandbox sandbox;
    TestClock clock;
    BuildMainWindowWithDonateButton();
    const QString file = QStringLiteral(".local/share/Quillaby/Settings");

    // Missing lines, text in numbers, values past a field's width.
    sandbox.Write(file, "256\rme@example.com\n70000\rabc\r-1\r1e300\r70000");
    gEmailNotifyOn = 9;
    LoadSettings();
    EXPECT_EQ(gEmailNotifyOn, 0);
    EXPECT_EQ(gEmailAddress1, SS("me@example.com"));
    EXPECT_EQ(gEmailAddress2, SS("70000"));
    EXPECT_EQ(gNoQuitWarning, 0);
    EXPECT_EQ(gNotifyMinorErrors, 255);
    EXPECT_EQ(gDailyEmail, 0);
    EXPECT_EQ(gLastBackupDay, 4464);
    EXPECT_EQ(gSpareSetting, SS(""));
    EXPECT_EQ(gDonateHidden, 0);

    // A huge file of garbage: only the first twelve lines are read.
    std::string garbage(4 * 1024 * 1024, '\xFF');
    garbage[3] = '\0';
    sandbox.Write(file, " 1\r" + garbage);
    LoadSettings();
    EXPECT_EQ(gEmailNotifyOn, 1);
    EXPECT_EQ(gEmailAddress1.len, 255);

    // A folder where the file should be: zeros, the user is told, and a
    // save leaves it alone; the evaluation keeps yesterday's day.
    AlertRecorder alerts;
    QFile::remove(sandbox.path() + QLatin1Char('/') + file);
    QDir().mkpath(sandbox.path() + QLatin1Char('/') + file);
    LoadSettings();
    EXPECT_EQ(gEmailNotifyOn, 0);
    SaveSettings();
    EXPECT_TRUE(QFileInfo(sandbox.path() + QLatin1Char('/') + file).isDir());
    EXPECT_EQ(ReadLastBackupDay(), 68);
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].message, QStringLiteral("The settings file could not be read."));

    // The settings folder cannot be made: nothing is written, and the user
    // is told once.
    Sandbox blocked;
    blocked.Write(QStringLiteral(".local/share/Quillaby"), "a file, not a folder");
    LoadSettings();
    SaveSettings();
    EXPECT_EQ(ReadLastBackupDay(), 68);
    EXPECT_EQ(ReadFile(blocked.path() + QStringLiteral("/.local/share/Quillaby")), "a file, not a folder");
    ASSERT_EQ(alerts.alerts.size(), 2u);
    EXPECT_EQ(alerts.alerts[1].message, QStringLiteral("The settings could not be saved."));
}

TEST(Settings, ASaveKeepsPermissionsLinksAndRespectsLocks)
{
    Sandbox sandbox;
    TestClock clock;
    BuildMainWindowWithDonateButton();
    // The settings file is a link into another folder, readable by its owner only.
    const QString real = sandbox.Write(QStringLiteral("elsewhere/Settings"), " 0\r\r\r0\r0\r0\r 5\r\r");
    QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner);
    QDir().mkpath(sandbox.path() + QStringLiteral("/.local/share/Quillaby"));
    QFile::link(real, SettingsFile(sandbox));
    LoadSettings();
    gLastBackupDay = 7;
    SaveSettings();
    EXPECT_TRUE(QFileInfo(SettingsFile(sandbox)).isSymLink());
    EXPECT_EQ(ReadLastBackupDay(), 7);
    struct stat info { };
    ASSERT_EQ(stat(real.toUtf8().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Another process holds a lock on the file: the save is refused, the
    // user told, and the day held in memory is the one that counts.
    {
        AlertRecorder alerts;
        LockHolder lock(real, LOCK_SH);
        gLastBackupDay = 8;
        SaveSettings();
        EXPECT_EQ(QzLastFileError, 35);
        EXPECT_EQ(alerts.alerts.size(), 1u);
    }
    EXPECT_EQ(ReadFile(real), " 0\r\r\r 0\r 0\r 0\r 7\r\r 0\r 0\r 0\r 0\r");
    EXPECT_EQ(ReadLastBackupDay(), 8);
}

TEST(Settings, ASaveThatCannotCompleteKeepsThePreviousFile)
{
    Sandbox sandbox;
    TestClock clock;
    BuildMainWindowWithDonateButton();
    LoadSettings();
    gEmailAddress1 = "kept@example.com";
    SaveSettings();
    const std::string before = ReadFile(SettingsFile(sandbox));
    EXPECT_EXIT(
        {
            static QString told;
            gQzAlertHook = [](const QzAlertRequest& r) {
                told = r.message;
                return 0;
            };
            LimitFileSize(10);
            gEmailAddress1 = "a-much-longer-address@example.com";
            SaveSettings();
            LimitFileSize(RLIM_INFINITY); // standard error is a file too
            std::fprintf(stderr, "%s\n", told.toUtf8().constData());
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "The settings could not be saved.");
    EXPECT_EQ(ReadFile(SettingsFile(sandbox)), before);
    EXPECT_EQ(QDir(sandbox.path() + QStringLiteral("/.local/share/Quillaby")).entryList(QDir::Files),
        QStringList({QStringLiteral("Settings"), QStringLiteral("Settings.lock")}));
}
