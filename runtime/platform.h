#pragma once

#include <QString>
#include <QUrl>
#include <QVariant>

// Thin wrappers over the platform used by the application. URLs are file
// URLs; a null (empty) input gives a null result.

// Seconds of system uptime, through the clock hook.
double QzUptime();
