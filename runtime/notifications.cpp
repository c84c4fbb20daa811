// Desktop notifications: the freedesktop notification service over the
// session bus, or a message of the status icon (macOS, and where the
// service does not answer).

#include "runtime/hooks.h"
#include "runtime/state.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// Runs the last notification's onClick when the service says it was clicked.
class CUI_NotificationTarget : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
public slots:
    void actionInvoked(uint id, const QString& /*action*/)
    {
        if (id == gQzLastNotificationId && gQzNotificationClick)
            gQzNotificationClick();
    }
};

QObject* Target()
{
    if (!gQzNotificationTarget) {
        gQzNotificationTarget = new CUI_NotificationTarget(QCoreApplication::instance());
        QDBusConnection::sessionBus().connect(kService, kPath, kService, QStringLiteral("ActionInvoked"),
            gQzNotificationTarget.data(), SLOT(actionInvoked(uint, QString)));
    }
    return gQzNotificationTarget.data();
}

bool NotifyThroughTray(const QzNotification& n)
{
    auto* tray = qobject_cast<QSystemTrayIcon*>(gQzTray.data());
    if (!tray || !tray->isVisible())
        return false;
    static QMetaObject::Connection clicked;
    QObject::disconnect(clicked);
    clicked = QObject::connect(tray, &QSystemTrayIcon::messageClicked, tray, [click = n.onClick] {
        if (click)
            click();
    });
    tray->showMessage(n.summary, n.body, QIcon(n.iconPath));
    return true;
}

} // namespace

bool QzNotifyDesktop(const QzNotification& n)
{
#ifdef Q_OS_MACOS
    return NotifyThroughTray(n);
#else
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return NotifyThroughTray(n);
    QObject* target = Target();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QVariantMap hints {{QStringLiteral("desktop-entry"), QStringLiteral("quillaby")},
        {QStringLiteral("urgency"), QVariant::fromValue(uchar {1})}};
    // Each notification replaces the one before, so "working again" takes
    // the place of the problem it ends.
    call << n.appName << gQzLastNotificationId << n.iconPath << n.summary << n.body
         << QStringList {QStringLiteral("default"), QStringLiteral("Show Quillaby")} << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), target);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, target, [n](QDBusPendingCallWatcher* done) {
        const QDBusPendingReply<uint> reply = *done;
        done->deleteLater();
        if (reply.isError()) {
            NotifyThroughTray(n);
            return;
        }
        gQzLastNotificationId = reply.value();
        gQzNotificationClick = n.onClick;
    });
    return true;
#endif
}

#include "notifications.moc"
