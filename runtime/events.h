#pragma once

// Events, alerts, timers and the run loop. Only Qt Core types appear here.

#include "runtime/shortstring.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>

// handler(event kind, id, window tag, object)
using QzDialogHandler = void (*)(std::int64_t kind, std::int64_t id, std::int64_t windowTag, void* object);
// handler(menu id, item index)
using QzMenuHandler = void (*)(std::int64_t menuId, std::int64_t itemIndex);
// A timer function; a non-zero low byte of its result invalidates the timer.
using QzTimerFn = std::int64_t (*)(void* timer);

void QzOnDialog(QzDialogHandler handler);
void QzOnMenu(QzMenuHandler handler);

// The reply slots a handler may fill for "should" events.
struct QzEventReplySlots {
    bool boolVal = true;
    std::int64_t longVal = 0;
    QString stringObj;
};
QzEventReplySlots& QzEventReply();

// Schedules a timer on the main loop with the application delegate as
// target; returns the timer, or nullptr when there is no delegate.
void* QzTimer(QzTimerFn fn, bool repeats, double seconds);
// Whether a timer of this function is scheduled (and not yet invalidated).
bool QzTimerScheduled(QzTimerFn fn);

// Runs fn each time the event loop has handled what came in and is about
// to wait for more (also in the loop of a modal alert); nullptr stops it.
void QzOnBeforeWaiting(void (*fn)());

// A moment of the wall clock after nowMs, in milliseconds since 1970.
using QzMomentFn = std::int64_t (*)(std::int64_t nowMs);
// One timer that keeps to the wall clock (gQzNowHook) rather than to the
// time elapsed: wake runs when the wall clock reaches the moment next gives,
// and next is asked again after each wake and whenever the wall clock is
// set, the system wakes from sleep or the local time zone changes. wake
// runs from the event loop, also while a modal alert is up. A later call
// replaces the timer.
void QzWallClockTimer(QzMomentFn next, void (*wake)());
// The first moment after afterMs at which the local clock (the one
// QzDateText reads) shows hour:00:00.000, or, on a day whose clock skips
// that hour, the moment it skips to.
std::int64_t QzNextLocalHour(std::int64_t afterMs, int hour);

inline constexpr std::int64_t QzAlertStyleOmitted = -1999999999;
// Shows (tag > 0) or closes (tag <= 0) alert |tag|. Modal alerts return the
// button code (1000 for the first button, 1001, ...); sheet alerts return
// 0 at once and report through the dialog handler.
std::int64_t QzAlert(std::int64_t tag, std::int64_t style, const QString* message, const QString* informative,
    const QStringList* buttons, std::int64_t sheet = QzAlertStyleOmitted);
// Buttons given as one ";"-separated string.
std::int64_t QzAlert(std::int64_t tag, std::int64_t style, const QString* message, const QString* informative,
    const QString& buttons, std::int64_t sheet = QzAlertStyleOmitted);
// Tag 1, default style, the single "OK" button; then the dialog handler
// gets (1000, code, 1, 0). Returns 0.
std::int64_t QzAlertNote(
    const ShortString& message, const ShortString& informative, const ShortString& a = {}, const ShortString& b = {});
// Tag 3, critical style; otherwise as QzAlertNote.
std::int64_t QzAlertStop(
    const ShortString& message, const ShortString& informative, const ShortString& a = {}, const ShortString& b = {});

// One alert of the alert list: prepared (tag <= 0), or shown and not yet
// answered. `box` is the message box of an alert shown as a sheet.
struct QzAlertEntry {
    std::int64_t tag = 0;
    int style = 0; // 0 warning, 1 informational, 2 critical
    QString message;
    QString informative;
    QStringList buttons; // empty: the single default button "OK"
    bool sheet = false;
    bool shown = false;
    QPointer<QObject> box;
};

// Gives the application the runtime's delegate unless it has one.
void QzInstallAppDelegate();
// The application's delegate (created, not installed, when missing).
void* QzAppDelegate();
// Runs the event loop; a second call returns at once.
void QzRunLoop();
