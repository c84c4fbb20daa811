// Dialog and menu handlers, event dispatch, the application delegate,
// timers and the run loop.

#include "runtime/events.h"

#include "runtime/hooks.h"
#include "runtime/state.h"
#include "runtime/widgets_p.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// A timer of QzTimer. `held` records a fire that fell due while a modal
// alert was up (or while its function was still running); it is made up
// once afterwards. A repeating timer keeps the grid it was started on: its
// fires fall due at origin + k * period, k = 1, 2, ...
class QzTimerObject : public QTimer {
public:
    using QTimer::QTimer;
    QzTimerFn fn = nullptr;
    bool held = false;
    bool firing = false;
    double origin = 0; // uptime in seconds when the timer was scheduled
    double period = 0; // seconds between fires
    int periodMs = 1; // the period as the Qt timer runs it
    bool offGrid = false; // the Qt timer runs a shortened interval up to the next grid point
};

// After a made-up fire, the next one comes at the next point of the grid
// (the Mac run loop skips the missed fires and keeps the schedule).
void BackOnGrid(QzTimerObject* timer)
{
    const double now = gQzUptimeHook();
    const double periods = std::floor((now - timer->origin) / timer->period) + 1;
    const double next = timer->origin + std::max(periods, 1.0) * timer->period;
    const int ms = static_cast<int>(std::clamp(std::lround((next - now) * 1000.0), 1L, long {timer->periodMs}));
    timer->offGrid = ms != timer->periodMs;
    timer->start(ms);
}

void FireTimer(QzTimerObject* timer);

void CatchUpLater(QzTimerObject* timer)
{
    QMetaObject::invokeMethod(
        timer,
        [timer] {
            if (!timer->held || gQzModalDepth > 0)
                return;
            const QPointer<QzTimerObject> alive(timer);
            FireTimer(timer);
            if (alive && alive->isActive() && !alive->isSingleShot())
                BackOnGrid(alive);
        },
        Qt::QueuedConnection);
}

void FireTimer(QzTimerObject* timer)
{
    if (gQzModalDepth > 0 || timer->firing) {
        timer->held = true;
        ++gQzHeldTimerFires;
        return;
    }
    timer->held = false;
    timer->firing = true;
    const QPointer<QzTimerObject> alive(timer);
    const std::int64_t result = timer->fn(timer);
    if (!alive)
        return;
    timer->firing = false;
    if ((result & 0xFF) != 0 || timer->isSingleShot()) {
        timer->stop();
        timer->deleteLater();
        return;
    }
    // The shortened interval has reached the grid: back to the full period.
    if (timer->offGrid) {
        timer->offGrid = false;
        timer->start(timer->periodMs);
    }
    if (timer->held && gQzModalDepth == 0)
        CatchUpLater(timer);
}

QList<QzTimerObject*> AllTimers()
{
    QList<QzTimerObject*> timers;
    for (QObject* delegate : {gQzAppDelegate.data(), gQzSpareAppDelegate.data()}) {
        if (!delegate)
            continue;
        for (QTimer* timer : delegate->findChildren<QTimer*>(Qt::FindDirectChildrenOnly))
            if (auto* own = dynamic_cast<QzTimerObject*>(timer))
                timers.append(own);
    }
    return timers;
}

} // namespace

void QzOnDialog(QzDialogHandler handler)
{
    gQzDialogHandler = handler;
}

void QzOnMenu(QzMenuHandler handler)
{
    gQzMenuHandler = handler;
}

QzEventReplySlots& QzEventReply()
{
    return gQzEventReply;
}

void QzDispatchDialog(std::int64_t kind, std::int64_t id, std::int64_t windowTag, void* object)
{
    if (gQzDialogHandler)
        gQzDialogHandler(kind, id, windowTag, object);
}

void QzDispatchViewEvent(std::int64_t kind, QWidget* source, void* object)
{
    std::int64_t windowTag = source->property(kQzWndTagProperty).toLongLong();
    if (windowTag < 1)
        windowTag = QzWindowTagOf(source->window());
    QzCurrentWindow = std::abs(windowTag);
    QzDispatchDialog(kind, QzViewTagOf(source), windowTag, object);
}

void QzDispatchWindowEvent(std::int64_t kind, QWidget* window, bool makeCurrent)
{
    const std::int64_t tag = QzWindowTagOf(window);
    if (makeCurrent)
        QzCurrentWindow = tag;
    QzDispatchDialog(kind, tag, tag, window);
}

void QzBeginModal()
{
    ++gQzModalDepth;
}

void QzEndModal()
{
    if (gQzModalDepth > 0)
        --gQzModalDepth;
    if (gQzModalDepth > 0)
        return;
    for (QzTimerObject* timer : AllTimers())
        if (timer->held && !timer->firing)
            CatchUpLater(timer);
}

void* QzTimer(QzTimerFn fn, bool repeats, double seconds)
{
    if (!gQzAppDelegate || !fn)
        return nullptr;
    auto* timer = new QzTimerObject(gQzAppDelegate.data());
    timer->fn = fn;
    timer->setSingleShot(!repeats);
    timer->setTimerType(Qt::PreciseTimer);
    // Intervals below a millisecond would make Qt spin; the Mac clamps them
    // to 0.1 ms, which a millisecond timer cannot tell apart.
    // Intervals past what a Qt timer holds (about 24 days) are clamped.
    const double ms = std::isfinite(seconds) ? std::clamp(seconds * 1000.0, 1.0, 2147483647.0) : 1.0;
    timer->periodMs = static_cast<int>(std::lround(ms));
    timer->period = ms / 1000.0;
    timer->origin = gQzUptimeHook();
    timer->setInterval(timer->periodMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer] { FireTimer(timer); });
    timer->start();
    return timer;
}

bool QzTimerScheduled(QzTimerFn fn)
{
    const QList<QzTimerObject*> timers = AllTimers();
    return std::any_of(timers.begin(), timers.end(),
        [fn](const QzTimerObject* timer) { return timer->fn == fn && timer->isActive(); });
}

void QzOnBeforeWaiting(void (*fn)())
{
    gQzBeforeWaiting = fn;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!fn || !dispatcher || gQzBeforeWaitingHooked)
        return;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, [] {
        if (gQzBeforeWaiting)
            gQzBeforeWaiting();
    });
    gQzBeforeWaitingHooked = true;
}

void QzInstallAppDelegate()
{
    if (gQzAppDelegate)
        return;
    // A delegate made earlier by QzAppDelegate already holds the windows.
    CUI_AppDelegate* delegate = QzDelegateObject();
    gQzSpareAppDelegate = nullptr;
    gQzAppDelegate = delegate;
}

void* QzAppDelegate()
{
    return QzDelegateObject();
}

void QzRunLoop()
{
    if (gQzRunLoopEntered)
        return;
    gQzRunLoopEntered = true;
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        app->setQuitOnLastWindowClosed(false);
    QCoreApplication::exec();
}
