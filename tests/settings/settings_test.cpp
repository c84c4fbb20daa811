#include "test_support.h"

#include "runtime/state.h"
#include "runtime/windows.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <atomic>
#include <linux/capability.h>
#include <optional>
#include <regex>
#include <sched.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/syscall.h>

namespace {

const QString kFile = QStringLiteral(".local/share/Quillaby/Settings");

// Window 1 with the donation button, which lines 9 to 12 of the file remove.
void DonateButton()
{
    QzWindowSet(-1, QStringLiteral("Quillaby"), QzParamOmitted, QzRect {0, 0, 605, 540});
    const QString title = QStringLiteral("Donate");
    QzButton(10, 1, QzParamOmitted, &title, QzParamOmitted, QzParamOmitted, QzRect {10, 10, 80, 24}, 1);
    QzSetCurrentWindow(1);
}

// Every field after a load, and whether the donation button went.
std::string Loaded()
{
    DonateButton();
    gEmailNotifyOn = 9; // a load sets it in every case
    gNoQuitWarning = gNotifyMinorErrors = gDailyEmail = gDonateHidden = 0;
    gSpareSetting = ShortString();
    gLastBackupDay = 0;
    LoadSettings();
    std::ostringstream s;
    s << +gEmailNotifyOn << '|' << gEmailAddress1.view() << '|' << gEmailAddress2.view() << '|' << +gNoQuitWarning
      << '|' << +gNotifyMinorErrors << '|' << +gDailyEmail << '|' << gLastBackupDay << '|' << gSpareSetting.view()
      << '|' << +gDonateHidden << (QzViewVisible(10, 1) ? "" : " removed");
    return s.str();
}

struct stat Stat(const QString& path)
{
    struct stat info { };
    stat(QFile::encodeName(path).constData(), &info);
    return info;
}

// The exit status of body run in a child without the superuser's powers over files.
int WithoutPrivileges(int (*body)())
{
    const pid_t child = fork();
    if (child == 0) {
        __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct none[2] {};
        _exit(geteuid() == 0 && syscall(SYS_capset, &header, none) != 0 ? 100 : body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

// Files of this process may not grow past bytes, as on a full disk.
void LimitFileSize(rlim_t bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = std::min(bytes, limit.rlim_max);
    setrlimit(RLIMIT_FSIZE, &limit);
}

// A fork and a kill cost many times more in the sanitizer build.
#ifdef __SANITIZE_ADDRESS__
constexpr int kKills = 200;
#else
constexpr int kKills = 1000;
#endif

struct Counters {
    std::atomic<long> saves, reads, bad;
};
Counters* gCounters = nullptr;

// Both addresses and a day from 1 to 300.
bool Complete(const std::string& bytes)
{
    static const std::regex kForm(" 0\ra@example\\.com\rb@example\\.com\r 0\r 0\r 0\r ([0-9]+)\r\r 0\r 0\r 0\r 0\r");
    std::smatch day;
    return std::regex_match(bytes, day, kForm) && std::stoi(day[1]) >= 1 && std::stoi(day[1]) <= 300;
}

// A child that saves (seed > 0) or reads (seed 0).
std::function<void()> Child(long seed)
{
    return [seed, i = seed]() mutable {
        if (seed == 0) {
            gCounters->bad += Complete(ReadFile(gSettingsPath)) ? 0 : 1;
            ++gCounters->reads;
            sched_yield(); // leaves the processor to the savers on a small machine
            return;
        }
        LoadSettings();
        if (gEmailAddress1 != SS("a@example.com") || gEmailAddress2 != SS("b@example.com"))
            _exit(3);
        gLastBackupDay = static_cast<std::int16_t>(i++ % 300 + 1);
        SaveSettings();
        ++gCounters->saves;
    };
}

} // namespace

TEST(Settings, EachLineReadsIntoItsFieldAndASaveWritesTwelveLines)
{
    Sandbox sandbox;
    TestClock clock;
    AlertRecorder alerts;
    const std::string longLine(1000, 'a');
    const std::string unread = "0|||0|0|0|68||0 told";
    const std::pair<std::string, std::string> cases[] = {
        {" 1\r\nme@x\r\nyou@x\r\n 1\r\n 0\r\n 1\r\n 300\r\nspare\r\n", "1|me@x|you@x|1|0|1|300|spare|0"},
        {" 1\nme@x\nyou@x\n 1\n 0\n 1\n 300\nspare\n", "1|me@x|you@x|1|0|1|300|spare|0"},
        {" 1\rme@x\nyou@x\r\n 1\n 0\r 1\r\n 300\rspare", "1|me@x|you@x|1|0|1|300|spare|0"},
        {" 1\r" + longLine + "\ryou@x\r", "1|" + longLine.substr(0, 255) + "|you@x|0|0|0|0||0"},
        // Missing lines, text in numbers, values past a field's width.
        {"256\rme@x\n70000\rabc\r-1\r1e300\r70000", "0|me@x|70000|0|255|0|4464||0"},
        // An editor's byte-order mark; files that are plainly something else are left alone and told.
        {"\xEF\xBB\xBF 1\rme@x\r", "1|me@x||0|0|0|0||0"},
        {" 1\r" + std::string(70 * 1024, 'x'), unread},
        {std::string(" 1\rme@x\r\0\r", 11), unread},
        // Line 12 decides over lines 9 to 11.
        {" 0\r\r\r0\r0\r0\r 5\r\r 1\r 1\r 1\r 0\r", "0|||0|0|0|5||0"},
        {" 0\r\r\r0\r0\r0\r 5\r\r 0\r 0\r 0\r 1\r", "0|||0|0|0|5||1 removed"},
    };
    for (const auto& [file, fields] : cases) {
        const std::string written = ReadFile(sandbox.Write(kFile, file));
        alerts.alerts.clear();
        const std::string loaded = Loaded();
        EXPECT_EQ(loaded + (alerts.alerts.empty() ? "" : " told"), fields) << file.substr(0, 60);
        SaveSettings();
        EXPECT_TRUE(alerts.alerts.empty() || ReadFile(sandbox.path() + QLatin1Char('/') + kFile) == written);
    }
    // First starts: yesterday's day of the year, and no day 0 on New Year's Day; the last one's sandbox stays.
    std::optional<Sandbox> first;
    for (const auto& [now, day] : {std::pair {"2027-01-01 08:00:00", "1"}, std::pair {"2027-01-02 08:00:00", "1"},
             std::pair {"2026-03-10 12:00:00", "68"}}) {
        first.emplace();
        TestClock::SetLocal(now);
        LoadSettings();
        EXPECT_EQ(ReadLastBackupDay(), std::stoi(day));
        EXPECT_EQ(ReadFile(first->path() + QLatin1Char('/') + kFile), " 0\r\r\r0\r0\r0\r " + std::string(day) + "\r\r");
    }
    const QString file = first->path() + QLatin1Char('/') + kFile;
    EXPECT_EQ(QzFileErrorHandler(3, 13), 0); // file errors are silent from now on
    EXPECT_EQ(TodayDayOfYear(), 69);
    gEmailNotifyOn = 1;
    gEmailAddress1 = QzStrFromCF(QStringLiteral("j\u00FCrgen@example.com"));
    gEmailAddress2 = "sam@example.com";
    gNotifyMinorErrors = 255; // a byte: written from its signed value
    gLastBackupDay = 338;
    gSpareSetting = "spare";
    gDonateHidden = 1;
    SaveSettings();
    EXPECT_EQ(ReadFile(file), " 1\rj\x9Frgen@example.com\rsam@example.com\r 0\r-1\r 0\r 338\rspare\r 1\r 1\r 1\r 1\r");
    EXPECT_EQ(Loaded(), "1|j\x9Frgen@example.com|sam@example.com|0|255|0|338|spare|1 removed");

    // Equal bytes leave the file alone; a change replaces it, through a link, keeping its permissions.
    const QString real = first->path() + QStringLiteral("/elsewhere");
    QFile::rename(file, real);
    QFile::link(real, file);
    QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner);
    const ino_t inode = Stat(real).st_ino;
    SaveSettings();
    EXPECT_EQ(Stat(real).st_ino, inode);
    // A killed save's temporary goes with the next save.
    const QString leftover = first->Write(QStringLiteral("elsewhere.tmp-1-0"), "torn");
    gLastBackupDay = 69;
    SaveSettings();
    EXPECT_NE(Stat(real).st_ino, inode);
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_TRUE(QFileInfo(file).isSymLink());
    EXPECT_EQ(Stat(real).st_mode & 0777, 0600u);
    EXPECT_EQ(ReadLastBackupDay(), 69);
    EXPECT_TRUE(alerts.alerts.empty()); // the saves were silent
}

TEST(Settings, OddFilesAndFailedSavesLoseNothing)
{
    Sandbox sandbox;
    TestClock clock;
    DonateButton();
    const std::string old = " 1\rold@example.com\r\r 0\r 0\r 0\r 5\r\r 0\r 0\r 0\r 0\r";
    const QString file = sandbox.Write(kFile, old);
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    // A file its owner may not read: left alone, told once, not saved over; yesterday counts, not day 0.
    chmod(QFile::encodeName(file).constData(), 0);
    EXPECT_EQ(WithoutPrivileges([] {
        AlertRecorder alerts;
        LoadSettings();
        SaveSettings();
        return gSettingsUnreadable == 1 && alerts.alerts.size() == 1
                && alerts.alerts[0].message == QStringLiteral("The settings file could not be read.")
                && ReadLastBackupDay() == 68
            ? 0
            : 1;
    }),
        0);
    chmod(QFile::encodeName(file).constData(), 0600);
    EXPECT_EQ(ReadFile(file), old);
    const ino_t inode = Stat(file).st_ino;
    // A read-only folder, with no room for a temporary file: written in place, silently.
    chmod(folder.constData(), 0555);
    EXPECT_EQ(WithoutPrivileges([] {
        AlertRecorder alerts;
        LoadSettings();
        gEmailAddress1 = "new@example.com";
        gLastBackupDay = 69;
        SaveSettings();
        return alerts.alerts.empty() && gSettingsSaveFailed == 0 && ReadLastBackupDay() == 69 ? 0 : 1;
    }),
        0);
    chmod(folder.constData(), 0755);
    EXPECT_EQ(Stat(file).st_ino, inode);
    EXPECT_EQ(Loaded(), "1|new@example.com||0|0|0|69||0");

    // A save that fills the disk keeps the previous file whole.
    const std::string before = ReadFile(file);
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
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(QDir(QString::fromUtf8(folder)).entryList({QStringLiteral("*.tmp*")}, QDir::Files | QDir::Hidden),
        QStringList());

    AlertRecorder alerts;
    // A file its owner made read-only stays as it is, for the superuser too, and the save is said to fail.
    chmod(QFile::encodeName(file).constData(), 0444);
    gLastBackupDay = 9;
    SaveSettings();
    EXPECT_EQ(gSettingsSaveFailed, 1);
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(Stat(file).st_mode & 0777, 0444u);
    chmod(QFile::encodeName(file).constData(), 0600);
    gLastBackupDay = 69;
    SaveSettings(); // the bytes the file holds: nothing to write, and the next failure is told again
    EXPECT_EQ(gSettingsSaveFailed, 0);
    // Another process holds a lock: the save is refused, the user told, the day in memory counts.
    {
        LockHolder lock(file, LOCK_SH);
        gLastBackupDay = 8;
        SaveSettings();
        EXPECT_EQ(QzLastFileError, 35);
        EXPECT_EQ(ReadLastBackupDay(), 8);
    }
    EXPECT_EQ(ReadFile(file), before);
    // A folder for the file: zeros, the user told, a save leaves it alone, yesterday's day kept.
    QFile::remove(file);
    QDir().mkpath(file);
    EXPECT_EQ(Loaded(), "0|||0|0|0|68||0");
    SaveSettings();
    EXPECT_TRUE(QFileInfo(file).isDir());
    EXPECT_EQ(ReadLastBackupDay(), 68);
    // The settings folder cannot be made: nothing written, the user told once.
    Sandbox blocked;
    blocked.Write(QStringLiteral(".local/share/Quillaby"), "a file");
    LoadSettings();
    SaveSettings();
    EXPECT_EQ(ReadLastBackupDay(), 68);
    EXPECT_EQ(ReadFile(blocked.path() + QStringLiteral("/.local/share/Quillaby")), "a file");
    std::string told;
    for (const QzAlertRequest& a : alerts.alerts)
        told += a.message.toStdString() + "\n";
    EXPECT_EQ(told,
        "The settings could not be saved.\nThe settings could not be saved.\nThe settings file could not be "
        "read.\nThe settings could not be saved.\n");
}

// Savers killed at random while another process reads: every read, and the file left after each kill, is complete.
TEST(SettingsUnderKill, EveryReadSeesACompleteFileAndNoAddressIsLost)
{
    Sandbox sandbox;
    TestClock clock;
    const auto data = KillTestData();
    gCounters = SharedWithChildren<Counters>();
    ASSERT_NE(gCounters, nullptr);
    LoadSettings();
    gNoQuitWarning = gNotifyMinorErrors = gDailyEmail = gDonateHidden = 0; // a fresh start's, whatever ran before
    gSpareSetting = ShortString();
    gEmailAddress1 = "a@example.com";
    gEmailAddress2 = "b@example.com";
    gLastBackupDay = 1;
    SaveSettings();
    ASSERT_TRUE(Complete(ReadFile(gSettingsPath)));

    // Two savers, which the kills hit, and a reader.
    long seed = 0;
    int badAfterKill = 0;
    const int unexpectedEnds = KillAtRandom(
        3, 2, kKills, 20261206, 2000, [&](int i) { return Child(i < 2 ? seed += 149 : 0); },
        [&] { badAfterKill += Complete(ReadFile(gSettingsPath)) ? 0 : 1; });
    EXPECT_EQ(unexpectedEnds + badAfterKill + gCounters->bad.load(), 0);
    EXPECT_GT(gCounters->reads.load() * gCounters->saves.load(), 0);
    LoadSettings();
    EXPECT_EQ(gEmailAddress1, SS("a@example.com"));
    // The temporaries of killed saves go with the next save.
    gLastBackupDay = 301;
    SaveSettings();
    EXPECT_EQ(QDir(QFileInfo(gSettingsPath).absolutePath()).entryList(QDir::Files | QDir::Hidden),
        QStringList({QStringLiteral("Settings"), QStringLiteral("Settings.lock")}));
}
