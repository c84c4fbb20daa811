#include "platform/services.h"

#include "platform/script_standin.h"
#include "platform/url_opener.h"
#include "runtime/hooks.h"

QString StandInMailtoApp()
{
#ifdef Q_OS_MACOS
    return QString();
#else
    // Whatever the desktop's own mail handler, mail leaves through the
    // system's sendmail interface, which the stand-in Mail speaks; without
    // one, its delivery says that no mail system is set up and how to set
    // one up.
    return QStringLiteral("/System/Applications/Mail.app");
#endif
}

void InstallPlatformServices()
{
#ifndef Q_OS_MACOS
    gQzScriptHook = StandInRunScript;
    gQzMailtoAppHook = StandInMailtoApp;
    gQzAccessibilityHook = QzAccessibilityGranted;
    gQzOpenUrlHook = StandInOpenURL;
#endif
}
