// Savers killed by SIGKILL at random moments while another process reads:
// every read, and the file left after each kill, must be complete.

#include "test_support.h"

#include "settings/settings.h"
#include "settings/state.h"

#include <atomic>
#include <random>
#include <regex>
#include <sched.h>
#include <sys/mman.h>

namespace {

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

// A child that saves for ever (seed > 0) or reads for ever (seed 0).
pid_t Start(long seed)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    gQzAlertHook = [](const QzAlertRequest&) -> int { _exit(5); };
    for (long i = seed;; ++i) {
        if (seed == 0) {
            gCounters->bad += Complete(ReadFile(gSettingsPath)) ? 0 : 1;
            ++gCounters->reads;
            sched_yield(); // leaves the processor to the savers on a small machine
            continue;
        }
        LoadSettings();
        if (gEmailAddress1 != SS("a@example.com") || gEmailAddress2 != SS("b@example.com"))
            _exit(3);
        gLastBackupDay = static_cast<std::int16_t>(i % 300 + 1);
        SaveSettings();
        ++gCounters->saves;
    }
}

} // namespace

TEST(SettingsUnderKill, EveryReadSeesACompleteFileAndNoAddressIsLost)
{
    Sandbox sandbox;
    TestClock clock;
    const auto data = KillTestData();
    void* shared = mmap(nullptr, sizeof(Counters), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    gCounters = new (shared) Counters {};
    LoadSettings();
    gNoQuitWarning = gNotifyMinorErrors = gDailyEmail = gDonateHidden = 0; // a fresh start's, whatever ran before
    gSpareSetting = ShortString();
    gEmailAddress1 = "a@example.com";
    gEmailAddress2 = "b@example.com";
    gLastBackupDay = 1;
    SaveSettings();
    ASSERT_TRUE(Complete(ReadFile(gSettingsPath)));

    const pid_t reader = Start(0);
    pid_t savers[] = {Start(1), Start(150)};
    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> pause(0, 2000); // microseconds
    int unexpectedEnds = 0, badAfterKill = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        usleep(static_cast<useconds_t>(pause(random)));
        const pid_t victim = savers[kill % 2];
        ::kill(victim, SIGKILL);
        savers[kill % 2] = Start(kill + 1);
        unexpectedEnds += Killed(victim) ? 0 : 1;
        badAfterKill += Complete(ReadFile(gSettingsPath)) ? 0 : 1;
    }
    for (pid_t pid : {savers[0], savers[1], reader})
        EXPECT_TRUE(Killed(pid));
    EXPECT_EQ(unexpectedEnds + badAfterKill + gCounters->bad.load(), 0);
    EXPECT_GT(gCounters->reads.load() * gCounters->saves.load(), 0);
    LoadSettings();
    EXPECT_EQ(gEmailAddress1, SS("a@example.com"));
    // The temporaries of killed saves go with the next save.
    gLastBackupDay = 301;
    SaveSettings();
    EXPECT_EQ(QDir(QFileInfo(gSettingsPath).absolutePath()).entryList(QDir::Files | QDir::Hidden),
        QStringList({QStringLiteral("Settings"), QStringLiteral("Settings.lock")}));
    munmap(shared, sizeof(Counters));
}
