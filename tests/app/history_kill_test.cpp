// Processes recording analyses into one history while others read it, SIGKILL landing on any of them at random:
// every read sees whole transactions, and afterwards the file passes PRAGMA integrity_check and holds every
// committed check with its sessions.

#include "history_support.h"

#include "app/history.h"
#include "settings/settings.h"

#include <atomic>
#include <set>

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr int kKills = 60;
#else
constexpr int kKills = 300;
#endif
constexpr int kWriters = 3;
constexpr int kReaders = 2;
constexpr int kSlots = kWriters + kKills + 1;

struct Counters {
    std::atomic<long> committed[kSlots]; // the last check that writer slot saw committed
    std::atomic<long> reads, bad;
};
Counters* gCounters = nullptr;

// Writer `slot`'s check n: its status names both, and its sessions are one of its own ("wS/nN.") and two that
// every writer completes again and again.
bool Write(int slot, long n)
{
    CheckRecord check;
    check.atMs = gQzNowHook();
    check.status = QStringLiteral("w%1 n%2").arg(slot).arg(n);
    SessionList sessions;
    AddSession(sessions, "2026-03-10 09:00:00", "2026-03-10 09:00:00", SessionResult::Succeeded,
        "w" + std::to_string(slot) + "/n" + std::to_string(n) + ".");
    AddSession(sessions, "2026-03-10 10:00:00", "2026-03-10 10:00:00",
        n % 2 ? SessionResult::Failed : SessionResult::Succeeded, "shared");
    AddSession(sessions, "2026-03-10 11:00:00", "", SessionResult::Unknown);
    QString notice, error;
    return RecordCheck(HistoryPath(), check, sessions, &notice, &error);
}

// For each writer slot, the checks and the own sessions one read holds.
struct Seen {
    std::map<int, std::set<long>> checks, sessions;
};

bool Read(Seen* seen)
{
    History h;
    QString notice, error;
    if (!ReadHistory(HistoryPath(), {}, &h, &notice, &error))
        return false;
    for (const QVariantList& row : h.checks.rows) {
        const QStringList parts
            = row[h.checks.columns.indexOf(QStringLiteral("status"))].toString().split(QLatin1Char(' '));
        seen->checks[parts[0].mid(1).toInt()].insert(parts[1].mid(1).toLong());
    }
    for (const QVariantList& row : h.sessions.rows) {
        const QString d = row[h.sessions.columns.indexOf(QStringLiteral("destination"))].toString();
        if (d.startsWith(QLatin1Char('w')))
            seen->sessions[d.section(QLatin1Char('/'), 0, 0).mid(1).toInt()].insert(
                d.section(QLatin1Char('/'), 1).mid(1).chopped(1).toLong());
    }
    return true;
}

// Whole transactions: each writer's checks are 1 to its last, without a gap, with the same sessions.
bool Whole(const Seen& seen)
{
    for (const auto& [slot, checks] : seen.checks) {
        const auto sessions = seen.sessions.find(slot);
        if (sessions == seen.sessions.end() || sessions->second != checks || *checks.rbegin() != long(checks.size()))
            return false;
    }
    return seen.sessions.size() == seen.checks.size();
}

// A reader (slot -1) or a writer that tries each check again until it commits.
std::function<void()> Child(int slot)
{
    return [slot, n = 1L]() mutable {
        Seen seen;
        if (slot < 0 && Read(&seen)) {
            gCounters->bad += Whole(seen) ? 0 : 1;
            ++gCounters->reads;
        } else if (slot >= 0 && Write(slot, n)) {
            gCounters->committed[slot] = n++;
        }
    };
}

} // namespace

TEST(HistoryUnderKill, ReadsSeeWholeTransactionsAndNoCommittedCheckIsLost)
{
    Sandbox sandbox;
    TestClock clock;
    const auto data = KillTestData();
    LoadSettings();
    gCounters = SharedWithChildren<Counters>();
    ASSERT_NE(gCounters, nullptr);
    // Writers take a new slot at each start; readers are slot -1.
    int nextSlot = 0;
    EXPECT_EQ(KillAtRandom(kWriters + kReaders, kWriters + kReaders, kKills, 20261207, 3000,
                  [&](int i) { return Child(i < kWriters ? nextSlot++ : -1); }),
        0);
    EXPECT_EQ(gCounters->bad.load(), 0);
    EXPECT_GT(gCounters->reads.load(), 0);

    EXPECT_EQ(Sql(HistoryPath(), "PRAGMA integrity_check"), "ok");
    Seen seen;
    ASSERT_TRUE(Read(&seen));
    EXPECT_TRUE(Whole(seen));
    long committed = 0;
    for (int slot = 0; slot < nextSlot; ++slot) {
        const long last = gCounters->committed[slot].load();
        committed += last;
        // Every committed check is there; one more may have committed before its count was kept.
        const long held = seen.checks.count(slot) ? *seen.checks[slot].rbegin() : 0;
        EXPECT_TRUE(held == last || held == last + 1) << "writer " << slot << ": " << held << " of " << last;
    }
    EXPECT_GT(committed, kKills);
    std::printf("%d kills, %ld checks committed, %ld reads checked\n", kKills, committed, gCounters->reads.load());
}
