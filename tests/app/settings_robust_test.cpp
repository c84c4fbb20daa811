#include "../monitor/monitor_support.h"

#include "app/settings.h"
#include "app/state.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kFile = QStringLiteral(".local/share/Quillaby/Settings");

QString SettingsPath(const Sandbox& sandbox)
{
    return sandbox.path() + QLatin1Char('/') + kFile;
}

ino_t Inode(const QString& path)
{
    struct stat info { };
    stat(QFile::encodeName(path).constData(), &info);
    return info.st_ino;
}

// Runs `body` in a child process without the superuser's powers over
// files, so that permissions hold as for an ordinary user; returns its
// exit status (0 when every check in it held).
int WithoutPrivileges(int (*body)())
{
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0) {
            __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct none[2] {};
            if (syscall(SYS_capset, &header, none) != 0)
                _exit(100);
        }
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

} // namespace

TEST(SettingsFile, CrLfAndCrLfEachEndALineAndALongLineIsCutAt255)
{
    Sandbox sandbox;
    TestClock clock;
    const std::string longLine(1000, 'a');
    struct Case {
        std::string file;
        std::string address1;
        std::string address2;
        std::int16_t day;
    } cases[] = {
        {" 1\r\nme@example.com\r\nyou@example.com\r\n 1\r\n 0\r\n 1\r\n 300\r\nspare\r\n", "me@example.com",
            "you@example.com", 300},
        {" 1\nme@example.com\nyou@example.com\n 1\n 0\n 1\n 300\nspare\n", "me@example.com", "you@example.com", 300},
        {" 1\rme@example.com\nyou@example.com\r\n 1\n 0\r 1\r\n 300\rspare", "me@example.com", "you@example.com", 300},
        {" 1\r" + longLine + "\ryou@example.com\r 1\r 0\r 1\r 300\rspare\r", longLine.substr(0, 255), "you@example.com",
            300},
    };
    for (const Case& c : cases) {
        sandbox.Write(kFile, c.file);
        LoadSettings();
        EXPECT_EQ(gEmailNotifyOn, 1);
        EXPECT_EQ(gEmailAddress1, SS(c.address1));
        EXPECT_EQ(gEmailAddress2, SS(c.address2));
        EXPECT_EQ(gNoQuitWarning, 1);
        EXPECT_EQ(gNotifyMinorErrors, 0);
        EXPECT_EQ(gDailyEmail, 1);
        EXPECT_EQ(gLastBackupDay, c.day);
        EXPECT_EQ(gSpareSetting, SS("spare"));
    }
}

TEST(SettingsFile, ASaveOfEqualBytesLeavesTheFileAndAChangeReplacesIt)
{
    Sandbox sandbox;
    TestClock clock;
    LoadSettings();
    gEmailAddress1 = "me@example.com";
    SaveSettings();
    const ino_t first = Inode(SettingsPath(sandbox));
    SaveSettings();
    EXPECT_EQ(Inode(SettingsPath(sandbox)), first);
    gLastBackupDay = 69;
    SaveSettings();
    EXPECT_NE(Inode(SettingsPath(sandbox)), first);
    EXPECT_EQ(ReadLastBackupDay(), 69);
}

// A file its owner may not read: left alone, the user told once, no save
// over it, and the evaluation goes by yesterday rather than day 0.
static int UnreadableFileIsLeftAlone()
{
    AlertRecorder alerts;
    LoadSettings();
    if (gSettingsUnreadable != 1 || alerts.alerts.size() != 1
        || alerts.alerts[0].message != QStringLiteral("The settings file could not be read."))
        return 1;
    gEmailAddress1 = "new@example.com";
    SaveSettings();
    if (alerts.alerts.size() != 1 || ReadLastBackupDay() != 68)
        return 2;
    return 0;
}

// A read-only folder: no temporary file can be made, so the file is written
// in place, silently.
static int ReadOnlyFolderSavesInPlace()
{
    AlertRecorder alerts;
    LoadSettings();
    gEmailAddress1 = "new@example.com";
    gLastBackupDay = 69;
    SaveSettings();
    if (!alerts.alerts.empty() || gSettingsSaveFailed != 0)
        return 1;
    return ReadLastBackupDay() == 69 ? 0 : 2;
}

TEST(SettingsFile, UnreadableFilesAreLeftAloneAndReadOnlyFoldersStillSave)
{
    Sandbox sandbox;
    TestClock clock;
    const std::string old = " 1\rold@example.com\r\r 0\r 0\r 0\r 5\r\r 0\r 0\r 0\r 0\r";
    const QString file = sandbox.Write(kFile, old);

    chmod(QFile::encodeName(file).constData(), 0);
    EXPECT_EQ(WithoutPrivileges(UnreadableFileIsLeftAlone), 0);
    chmod(QFile::encodeName(file).constData(), 0600);
    EXPECT_EQ(ReadFile(file), old);

    const ino_t inode = Inode(file);
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    chmod(folder.constData(), 0555);
    EXPECT_EQ(WithoutPrivileges(ReadOnlyFolderSavesInPlace), 0);
    chmod(folder.constData(), 0755);
    EXPECT_EQ(ReadFile(file), " 1\rnew@example.com\r\r 0\r 0\r 0\r 69\r\r 0\r 0\r 0\r 0\r");
    EXPECT_EQ(Inode(file), inode);
}

TEST(SettingsFile, TheReportCommandTellsOfAnUnreadableFileAloneAndExitsTwo)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'");
    auto log = Filler(60);
    log.push_back(LogEntry("2026-03-10 10:15:03", "Backup completed successfully."));
    sandbox.Stub(QStringLiteral("log"),
        "cat '" + sandbox.Write(QStringLiteral("log-output"), LogOutput(log)).toStdString() + "'");
    QDir().mkpath(SettingsPath(sandbox)); // a folder where the file should be
    QProcess report;
    // Run as root on a machine without a login session: standard error
    // holds the program's own words only.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    report.setProcessEnvironment(environment);
    report.start(QStringLiteral(QZ_REPORT_EXE), {QStringLiteral("today")});
    report.waitForFinished(60000);
    EXPECT_EQ(report.exitCode(), 2);
    const QByteArray err = report.readAllStandardError();
    EXPECT_TRUE(err.startsWith("quillaby-report: The settings file could not be read.\n")) << err.toStdString();
    EXPECT_TRUE(QFileInfo(SettingsPath(sandbox)).isDir());
}
