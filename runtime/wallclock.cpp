// The timer that keeps to the wall clock, and the local clock's hours.
//
// A Qt timer counts elapsed time, which stops while the system sleeps and
// does not follow the wall clock when it is set. So the wall-clock timer
// waits for the time left by the wall clock and measures again whenever
// that may have changed: on Linux a CLOCK_REALTIME timerfd with
// TFD_TIMER_CANCEL_ON_SET becomes readable when the clock is set (and when
// the system resumes, which the kernel counts as a setting); elsewhere the
// wait is cut into pieces of at most ten minutes. A change of the local
// time zone replaces /etc/localtime, which a file system watcher on /etc
// sees; the time zone is then read again for the local clock.

#include "runtime/events.h"

#include "runtime/hooks.h"
#include "runtime/state.h"

#include <QFile>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTimer>

#include <unicode/gregocal.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <memory>

#ifdef __linux__
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace {

constexpr std::int64_t kLongestWaitMs = 2147483647; // what a Qt timer holds
constexpr std::int64_t kPieceMs = 10 * 60 * 1000; // without word of clock changes
const QString kZoneFolder = QStringLiteral("/etc");
const QString kZoneFile = QStringLiteral("/etc/localtime");

class WallClock : public QObject {
public:
    WallClock(QzMomentFn nextFn, void (*wakeFn)())
        : next(nextFn)
        , wake(wakeFn)
    {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this] { Fire(); });
        WatchClock();
        WatchZone();
    }
    ~WallClock() override
    {
#ifdef __linux__
        delete clockNotifier;
        if (clockFd >= 0)
            close(clockFd);
#endif
    }
    WallClock(const WallClock&) = delete;
    WallClock& operator=(const WallClock&) = delete;

    // Asks for the next moment and waits for it.
    void Schedule()
    {
        const std::int64_t now = gQzNowHook();
        due = next(now);
        const std::int64_t longest = clockWatched ? kLongestWaitMs : kPieceMs;
        timer.start(static_cast<int>(std::clamp<std::int64_t>(due - now, 1, longest)));
    }

private:
    void Fire()
    {
        if (gQzNowHook() >= due)
            wake();
        Schedule();
    }

    void WatchClock()
    {
#ifdef __linux__
        clockFd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
        if (clockFd < 0 || !ArmClockFd())
            return;
        clockNotifier = new QSocketNotifier(clockFd, QSocketNotifier::Read, this);
        connect(clockNotifier, &QSocketNotifier::activated, this, [this] {
            std::uint64_t expired = 0;
            while (read(clockFd, &expired, sizeof expired) > 0) { }
            // Without the timer armed again the descriptor stays readable.
            if (!ArmClockFd()) {
                clockNotifier->setEnabled(false);
                clockWatched = false;
            }
            Schedule();
        });
        clockWatched = true;
#endif
    }

#ifdef __linux__
    // A timer on the wall clock that never expires, cancelled (and so made
    // readable) by every setting of the clock.
    bool ArmClockFd() const
    {
        itimerspec never {};
        never.it_value.tv_sec = std::int64_t {1} << 40;
        return timerfd_settime(clockFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &never, nullptr) == 0;
    }
#endif

    void WatchZone()
    {
        auto* watcher = new QFileSystemWatcher(this);
        watcher->addPath(kZoneFolder);
        if (QFile::exists(kZoneFile))
            watcher->addPath(kZoneFile);
        const auto changed = [this, watcher] {
            // A replaced file drops out of the watch: watch the new one.
            if (!watcher->files().contains(kZoneFile) && QFile::exists(kZoneFile))
                watcher->addPath(kZoneFile);
            ReadTimeZoneAgain();
            Schedule();
        };
        connect(watcher, &QFileSystemWatcher::directoryChanged, this, changed);
        connect(watcher, &QFileSystemWatcher::fileChanged, this, changed);
    }

    // The local clock follows the system's time zone when it changes.
    static void ReadTimeZoneAgain()
    {
        std::unique_ptr<icu::TimeZone> host(icu::TimeZone::detectHostTimeZone());
        std::unique_ptr<icu::TimeZone> current(icu::TimeZone::createDefault());
        if (!host || (current && *host == *current))
            return;
        icu::TimeZone::adoptDefault(host.release());
        ++gQzTimeZoneGeneration;
    }

    QzMomentFn next;
    void (*wake)();
    std::int64_t due = 0;
    QTimer timer;
    bool clockWatched = false;
#ifdef __linux__
    int clockFd = -1;
    QSocketNotifier* clockNotifier = nullptr;
#endif
};

} // namespace

void QzWallClockTimer(QzMomentFn next, void (*wake)())
{
    delete gQzWallClock.data();
    if (!next || !wake)
        return;
    auto* clock = new WallClock(next, wake);
    gQzWallClock = clock;
    clock->Schedule();
}

std::int64_t QzNextLocalHour(std::int64_t afterMs, int hour)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::GregorianCalendar calendar(status);
    // An hour the clock goes through twice (when it is set back) begins at
    // its first time.
    calendar.setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    calendar.setTime(static_cast<UDate>(afterMs), status);
    // Today's, else tomorrow's. On a day whose clock skips the hour the
    // calendar gives the moment the clock skips to.
    for (int day = 0; day < 2 && U_SUCCESS(status); ++day) {
        calendar.set(UCAL_HOUR_OF_DAY, hour);
        calendar.set(UCAL_MINUTE, 0);
        calendar.set(UCAL_SECOND, 0);
        calendar.set(UCAL_MILLISECOND, 0);
        const UDate at = calendar.getTime(status);
        if (U_SUCCESS(status) && at > static_cast<UDate>(afterMs))
            return static_cast<std::int64_t>(at);
        calendar.add(UCAL_DATE, 1, status);
    }
    // No such hour soon (or no calendar): ask again in an hour.
    return afterMs + 3600000;
}
