#include "platform/services.h"

#include "platform/macos_services.h"
#include "platform/mail_delivery.h"
#include "platform/osascript.h"
#include "platform/script_standin.h"
#include "runtime/hooks.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

constexpr int kXdgMimeLimitMs = 10000;

[[maybe_unused]] QString DesktopMailtoHandler()
{
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return QString();
    QProcess p;
    p.setProgram(xdgMime);
    p.setArguments({QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/mailto")});
    p.setStandardInputFile(QProcess::nullDevice());
    p.start();
    if (!p.waitForFinished(kXdgMimeLimitMs)) {
        p.kill();
        p.waitForFinished();
        return QString();
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput().left(4096)).section(QLatin1Char('\n'), 0, 0).trimmed();
}

} // namespace

QString AppNameOfDesktopId(const QString& desktopId)
{
    QString id = desktopId.trimmed();
    if (id.endsWith(QStringLiteral(".desktop")))
        id.chop(8);
    // Handlers the user picked by hand are "userapp-<Name>-<random>".
    static const QRegularExpression userApp(QStringLiteral("^userapp-(.+)-[A-Za-z0-9]{6}$"));
    if (const auto m = userApp.match(id); m.hasMatch())
        id = m.captured(1);
    // Reverse-DNS ids name the application last; a name with "." or "/"
    // would be cut short on its way to the mail application's name.
    id = id.section(QLatin1Char('.'), -1);
    id.replace(QLatin1Char('/'), QLatin1Char('-'));
    if (!id.isEmpty())
        id[0] = id.at(0).toUpper();
    return id;
}

QString StandInMailtoApp()
{
#ifdef Q_OS_MACOS
    return QString();
#else
    if (!SendmailPath().isEmpty())
        return QStringLiteral("/System/Applications/Mail.app");
    const QString name = AppNameOfDesktopId(DesktopMailtoHandler());
    if (!name.isEmpty())
        return QStringLiteral("/Applications/") + name + QStringLiteral(".app");
    return QStringLiteral("/Applications/Sending email without a mail application.app");
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
#endif
}
