#include "runtime/hooks.h"

#include "runtime/macversion.h"

#include <QDesktopServices>

#include <chrono>
#include <ctime>

double QzUptimeReal()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::int64_t QzNowReal()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

bool QzScriptUnavailable(const QString& /*source*/, QString* result, QString* errorMessage)
{
    if (result)
        result->clear();
    if (errorMessage)
        *errorMessage = QStringLiteral("No script runner is available on this system.");
    return false;
}

bool QzOpenUrlReal(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

QString QzMailtoAppNone()
{
    return QString();
}

bool QzAccessibilityGranted()
{
    return true;
}

QString QzSystemVersionReal()
{
    return QString::fromStdString(ProductVersionOfPlist(std::string(kSystemVersionPlist)));
}

bool QzNotifyNone(const QzNotification& /*notification*/)
{
    return false;
}
