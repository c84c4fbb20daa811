// Settings under SIGKILL: processes that load and save the settings file in
// a loop are killed at random moments while other processes read it. Every
// read must see a complete file with both addresses, and so must the file
// that is left.

#include "test_support.h"

#include "app/settings.h"
#include "app/state.h"
#include "runtime/hooks.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A fork and a kill of the sanitizer build cost many times those of the
// release build: there the same run is shorter.
#ifdef __SANITIZE_ADDRESS__
constexpr int kKills = 200;
#else
constexpr int kKills = 1000;
#endif

struct Counters {
    std::atomic<long> saves;
    std::atomic<long> reads;
    std::atomic<long> bad;
};
Counters* gCounters = nullptr;

const std::string kHead = " 0\ra@example.com\rb@example.com\r 0\r 0\r 0\r ";
const std::string kTail = "\r\r 0\r 0\r 0\r 0\r";

// A complete file: both addresses and a day from 1 to 300.
bool Complete(const std::string& bytes)
{
    if (bytes.size() < kHead.size() + kTail.size() + 1 || bytes.compare(0, kHead.size(), kHead) != 0
        || bytes.compare(bytes.size() - kTail.size(), kTail.size(), kTail) != 0)
        return false;
    const std::string day = bytes.substr(kHead.size(), bytes.size() - kHead.size() - kTail.size());
    return day.find_first_not_of("0123456789") == std::string::npos && std::stoi(day) >= 1 && std::stoi(day) <= 300;
}

int AnyAlertEnds(const QzAlertRequest&)
{
    _exit(5);
}

[[noreturn]] void SaveForEver(int seed)
{
    gQzAlertHook = AnyAlertEnds;
    for (long i = seed;; ++i) {
        LoadSettings();
        if (gEmailAddress1 != SS("a@example.com") || gEmailAddress2 != SS("b@example.com"))
            _exit(3);
        gLastBackupDay = static_cast<std::int16_t>(i % 300 + 1);
        SaveSettings();
        ++gCounters->saves;
    }
}

[[noreturn]] void ReadForEver(const QString& path)
{
    for (;;) {
        if (!Complete(ReadFile(path)))
            ++gCounters->bad;
        ++gCounters->reads;
        sched_yield(); // leaves the processor to the savers on a small machine
    }
}

pid_t Start(const std::function<void()>& body)
{
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    return pid;
}

// Waits for a process sent SIGKILL; true when the kill ended it (it had not
// ended by itself, with the status of a failed check).
bool Reaped(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

bool Kill(pid_t pid)
{
    kill(pid, SIGKILL);
    return Reaped(pid);
}

} // namespace

TEST(SettingsUnderKill, EveryReadSeesACompleteFileAndNoAddressIsLost)
{
    Sandbox sandbox;
    TestClock clock;
    // A kill waits for a save's fsync to end, which on a busy disk takes
    // tens of milliseconds: the file lives in memory (tmpfs) unless
    // QZ_KILL_TEST_DIR names another place. Renames and locks behave alike.
    const QString where = qEnvironmentVariable("QZ_KILL_TEST_DIR", QStringLiteral("/dev/shm"));
    QTemporaryDir data(where + QStringLiteral("/quillaby-kill-XXXXXX"));
    if (data.isValid())
        setenv("XDG_DATA_HOME", QFile::encodeName(data.path()).constData(), 1);
    void* shared = mmap(nullptr, sizeof(Counters), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    gCounters = new (shared) Counters {};
    LoadSettings();
    gEmailAddress1 = "a@example.com";
    gEmailAddress2 = "b@example.com";
    gLastBackupDay = 1;
    SaveSettings();
    const QString path = gSettingsPath;
    ASSERT_TRUE(Complete(ReadFile(path)));

    const auto started = std::chrono::steady_clock::now();
    const pid_t readers[] = {Start([&] { ReadForEver(path); })};
    pid_t savers[] = {Start([] { SaveForEver(0); }), Start([] { SaveForEver(150); })};
    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> pause(0, 2000); // microseconds
    int unexpectedEnds = 0;
    int badAfterKill = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        usleep(static_cast<useconds_t>(pause(random)));
        pid_t& slot = savers[kill % 2];
        const pid_t victim = slot;
        ::kill(victim, SIGKILL);
        slot = Start([kill] { SaveForEver(kill); });
        if (!Reaped(victim))
            ++unexpectedEnds;
        if (!Complete(ReadFile(path)))
            ++badAfterKill;
    }
    for (pid_t pid : savers)
        EXPECT_TRUE(Kill(pid));
    for (pid_t pid : readers)
        EXPECT_TRUE(Kill(pid));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    EXPECT_EQ(unexpectedEnds, 0);
    EXPECT_EQ(badAfterKill, 0);
    EXPECT_EQ(gCounters->bad.load(), 0);
    EXPECT_GT(gCounters->reads.load(), 0);
    EXPECT_GT(gCounters->saves.load(), 0);
    LoadSettings();
    EXPECT_EQ(gEmailAddress1, SS("a@example.com"));
    // The temporaries of killed saves go with the next save.
    gLastBackupDay = 301;
    SaveSettings();
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
        QStringList({QStringLiteral("Settings"), QStringLiteral("Settings.lock")}));
    std::printf("settings under SIGKILL in %s: %d kills, %ld completed saves, %ld reads, %ld torn or missing, %.1f s\n",
        qPrintable(QFileInfo(path).absolutePath()), kKills, gCounters->saves.load(), gCounters->reads.load(),
        gCounters->bad.load(), seconds);
    munmap(shared, sizeof(Counters));
}
