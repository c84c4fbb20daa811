#include "platform/services.h"

#include "platform/macos_services.h"
#include "platform/osascript.h"
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
#ifdef Q_OS_MACOS
    // The system's own tools and interfaces (platform/macos_services.cpp).
    gQzScriptHook = OsascriptRunScript;
    gQzMailtoAppHook = [] { return QString::fromStdString(MacMailtoAppPath()); };
    gQzAccessibilityHook = MacAccessibilityTrusted;
#else
    gQzScriptHook = StandInRunScript;
    gQzMailtoAppHook = StandInMailtoApp;
    gQzAccessibilityHook = QzAccessibilityGranted;
    gQzOpenUrlHook = StandInOpenURL;
#endif
}
