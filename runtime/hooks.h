#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>

// Every way the program touches the outside world that a test cannot drive
// through real processes and files goes through one of these hooks. Each
// defaults to the real implementation; tests swap them with QzHookGuard.

// Seconds of system uptime (does not jump when the wall clock is set).
using QzUptimeFn = double (*)();
// The current moment, milliseconds since 1970-01-01 UTC.
using QzNowFn = std::int64_t (*)();

// One alert to show. Styles: 0 warning, 1 informational, 2 critical.
struct QzAlertRequest {
    int tag = 0;
    int style = 0;
    QString message;
    QString informative;
    QStringList buttons; // empty: the single default button "OK"
    bool runtime = false; // a QzRuntimeAlert rather than an application alert
};
// Shows the alert modally and returns the 0-based index of the chosen button.
using QzAlertFn = int (*)(const QzAlertRequest& request);

// Runs a script text. On failure returns false and fills errorMessage.
using QzScriptFn = bool (*)(const QString& source, QString* result, QString* errorMessage);

// Opens a file or web address with its default application. On failure
// returns false and may say why in gQzOpenUrlError (runtime/state.h).
using QzOpenUrlFn = bool (*)(const QUrl& url);

// The path of the application registered for "mailto:" links (Launch
// Services on a Mac), or empty when there is none.
using QzMailtoAppFn = QString (*)();

// Whether the accessibility permission is granted (AXAPIEnabled).
using QzAccessibilityFn = bool (*)();

// The system's product version ("10.15.7", "26.1"); empty when unknown.
using QzSystemVersionFn = QString (*)();

// One desktop notification with the application's name and icon (a file);
// onClick runs when the user clicks it (nothing when null).
struct QzNotification {
    QString appName;
    QString iconPath;
    QString summary;
    QString body;
    void (*onClick)() = nullptr;
};
// Shows it; false when no notification service took it.
using QzNotifyFn = bool (*)(const QzNotification& notification);

double QzUptimeReal();
std::int64_t QzNowReal();
int QzAlertPresent(const QzAlertRequest& request);
bool QzScriptUnavailable(const QString& source, QString* result, QString* errorMessage);
bool QzOpenUrlReal(const QUrl& url);
QString QzMailtoAppNone();
bool QzAccessibilityGranted();
// The "ProductVersion" of /System/Library/CoreServices/SystemVersion.plist.
QString QzSystemVersionReal();
// Shows no notification.
bool QzNotifyNone(const QzNotification& notification);
// The desktop's notification service (runtime/notifications.cpp): on Linux
// org.freedesktop.Notifications on the session bus, else (and when that
// fails) a message of the status icon.
bool QzNotifyDesktop(const QzNotification& notification);

inline QzUptimeFn gQzUptimeHook = QzUptimeReal;
inline QzNowFn gQzNowHook = QzNowReal;
inline QzAlertFn gQzAlertHook = QzAlertPresent;
inline QzScriptFn gQzScriptHook = QzScriptUnavailable;
inline QzOpenUrlFn gQzOpenUrlHook = QzOpenUrlReal;
inline QzMailtoAppFn gQzMailtoAppHook = QzMailtoAppNone;
inline QzAccessibilityFn gQzAccessibilityHook = QzAccessibilityGranted;
inline QzSystemVersionFn gQzSystemVersionHook = QzSystemVersionReal;
inline QzNotifyFn gQzNotifyHook = QzNotifyNone; // the window program installs QzNotifyDesktop

// Restores a hook when the scope ends, even when a test assertion fails.
template <typename Fn> class QzHookGuard {
public:
    QzHookGuard(Fn& hook, Fn replacement)
        : hook_(hook)
        , saved_(hook)
    {
        hook_ = replacement;
    }
    ~QzHookGuard() { hook_ = saved_; }
    QzHookGuard(const QzHookGuard&) = delete;
    QzHookGuard& operator=(const QzHookGuard&) = delete;

private:
    Fn& hook_;
    Fn saved_;
};
