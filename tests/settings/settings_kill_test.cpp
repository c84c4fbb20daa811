// Savers killed by SIGKILL at random moments while another process reads:
// every read, and the file left after each kill, must be complete.

#include "test_support.h"

#include "settings/settings.h"
#include "settings/state.h"

#include <atomic>
#include <regex>
#include <sched.h>

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
