// The real Quillaby on Xvfb with the desktop's own parts: a private session
// bus carrying python-dbusmock's notification daemon and a
// StatusNotifierWatcher (the tray of KDE and GNOME's extension), or
// trayer's XEmbed tray, or no tray at all.

#include "test_support.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <functional>
#include <memory>

namespace {

// Sends WM_DELETE_WINDOW to a window, as a window manager's close button does.
const char kCloseWindow[] = R"(
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
class Message(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
d = x.XOpenDisplay(None)
e = Message(type=33, window=int(sys.argv[1]), format=32)
e.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
e.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(d, e.window, 0, 0, ctypes.byref(e))
x.XCloseDisplay(d)
)";

bool WaitUntil(const std::function<bool()>& condition, int ms = 30000)
{
    for (QDeadlineTimer deadline(ms); !condition(); QThread::msleep(100))
        if (deadline.hasExpired())
            return false;
    return true;
}

// A display of its own, a home of its own, and what the test starts on
// them; everything ends with the test.
class Desktop {
public:
    Desktop()
    {
        env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), sandbox_.path() + QStringLiteral("/.config"));
        env_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        env_.remove(QStringLiteral("LANGUAGE"));
        // The stand-in log replays $HOME/today.log and counts the fetches.
        sandbox_.Stub(QStringLiteral("log"),
            "QUILLABY_LOG_REPLAY=\"$HOME/today.log\" '" QZ_STANDIN_DIR "/log' \"$@\"; echo >> \"$HOME/fetches\"");
        sandbox_.Stub(QStringLiteral("dseditgroup"), "echo \"yes $4 is a member of admin\"");
        QProcess* x = Start(QStringLiteral("Xvfb"), QStringLiteral("-displayfd 1 -screen 0 1024x768x24 -nolisten tcp"));
        if (x->waitForReadyRead(30000))
            env_.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(x->readLine().trimmed()));
    }

    QProcess* Start(const QString& program, const QString& args)
    {
        auto& p = processes_.emplace_back(std::make_unique<QProcess>());
        p->setProcessEnvironment(env_);
        p->start(program, args.split(QLatin1Char(' '), Qt::SkipEmptyParts));
        p->waitForStarted(10000);
        return p.get();
    }
    // A shell command's output.
    QString Sh(const QString& command) const
    {
        QProcess p;
        p.setProcessEnvironment(env_);
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        p.waitForFinished(30000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    // A session bus with the notification daemon and a tray watcher on it.
    bool StartBus()
    {
        const QString config = sandbox_.Write(QStringLiteral("bus.conf"),
            "<busconfig><type>session</type><listen>unix:dir=" + sandbox_.path().toStdString()
                + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        QProcess* bus = Start(
            QStringLiteral("dbus-daemon"), QStringLiteral("--nofork --print-address=1 --config-file=") + config);
        if (!bus->waitForReadyRead(10000))
            return false;
        env_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(bus->readLine().trimmed()));
        Start(QStringLiteral("/usr/bin/python3"),
            QStringLiteral("-m dbusmock --session -t notification_daemon -l ") + Path("notices"));
        Start(QStringLiteral("/usr/bin/python3"),
            QStringLiteral("-m dbusmock --session -l %1 org.kde.StatusNotifierWatcher /StatusNotifierWatcher "
                           "org.kde.StatusNotifierWatcher")
                .arg(Path("watcher")));
        const QString mock = QStringLiteral("gdbus call --session -d org.kde.StatusNotifierWatcher -o "
                                            "/StatusNotifierWatcher -m org.freedesktop.DBus.Mock.");
        const QString answer
            = Sh(QStringLiteral("gdbus wait --session --timeout 20 org.freedesktop.Notifications && gdbus wait "
                                "--session --timeout 20 org.kde.StatusNotifierWatcher && ")
                + mock
                + QStringLiteral("AddProperties org.kde.StatusNotifierWatcher \"{'IsStatusNotifierHostRegistered': "
                                 "<true>, 'ProtocolVersion': <0>}\" && ")
                + mock + QStringLiteral("AddMethod org.kde.StatusNotifierWatcher RegisterStatusNotifierItem s '' ''"));
        return answer == QStringLiteral("()\n()");
    }
    QProcess* StartQuillaby(const QString& args) { return Start(QStringLiteral(QZ_APP_EXE), args); }
    QString Path(const char* name) const { return sandbox_.path() + QLatin1Char('/') + QLatin1String(name); }
    void Replay(const char* fixture) const
    {
        QFile::remove(Path("today.log"));
        QFile::copy(FixturePath(QString::fromLatin1(fixture)), Path("today.log"));
    }
    int Fetches() const { return int(ReadFile(Path("fetches")).size()); }
    // The main window when it is shown, else empty.
    QString Window() const { return Sh(QStringLiteral("xdotool search --onlyvisible --name '^Quillaby$'")); }
    void Close(const QString& window) const
    {
        Sh(QStringLiteral("/usr/bin/python3 -c '%1' %2").arg(QString::fromLatin1(kCloseWindow), window));
    }
    // Each Notify call the daemon got: its arguments as the daemon's log has them.
    QStringList Notices() const
    {
        QStringList calls = QString::fromUtf8(ReadFile(Path("notices"))).split(QStringLiteral(" Notify "));
        calls.removeFirst();
        return calls;
    }
    // What the tray host asks of the status icon: its tooltip, its menu's
    // layout, or a click on an item of that menu.
    QString Item(const QString& call) const
    {
        const QString item = QString::fromUtf8(ReadFile(Path("watcher")))
                                 .section(QStringLiteral("RegisterStatusNotifierItem \""), -1)
                                 .section(QLatin1Char('"'), 0, 0);
        return Sh(QStringLiteral("LC_ALL=C.UTF-8 gdbus call --session -d '%1' ").arg(item) + call);
    }
    QString ToolTip() const
    {
        return Item(QStringLiteral("-o /StatusNotifierItem -m org.freedesktop.DBus.Properties.Get "
                                   "org.kde.StatusNotifierItem ToolTip"));
    }
    QStringList Menu() const
    {
        QStringList labels;
        const QString layout = Item(QStringLiteral("-o /MenuBar -m com.canonical.dbusmenu.GetLayout -- 0 -1 '[]'"));
        for (const auto& m : QRegularExpression(QStringLiteral("'label': <'([^']*)'>")).globalMatch(layout))
            labels << m.captured(1);
        return labels;
    }
    void Choose(const QString& label) const
    {
        const QString layout = Item(QStringLiteral("-o /MenuBar -m com.canonical.dbusmenu.GetLayout -- 0 -1 '[]'"));
        const QString id
            = QRegularExpression(QStringLiteral("\\((\\d+), \\{[^}]*'label': <'") + label + QLatin1Char('\''))
                  .match(layout)
                  .captured(1);
        Item(QStringLiteral("-o /MenuBar -m com.canonical.dbusmenu.Event -- %1 clicked '<0>' 0").arg(id));
    }

private:
    Sandbox sandbox_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> processes_;
};

bool Missing(std::initializer_list<const char*> tools)
{
    for (const char* tool : tools)
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::printf("%s is not installed (scripts/install-deps installs it)\n", tool);
            return true;
        }
    return false;
}

} // namespace

TEST(DesktopEndToEnd, BackgroundStartNotifiesOncePerProblemAndTheTrayTellsTheState)
{
    if (Missing({"Xvfb", "xdotool", "dbus-daemon", "gdbus"})
        || QProcess::execute(
               QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import dbusmock")})
            != 0)
        GTEST_SKIP() << "the desktop's parts are not installed (scripts/install-deps installs them)";
    Desktop desktop;
    ASSERT_TRUE(desktop.StartBus());
    desktop.Replay("today-failed-error-11-after-success.log");
    QProcess* app = desktop.StartQuillaby(QStringLiteral("--background"));

    // At once, without the window: one notice of the failed backup.
    ASSERT_TRUE(WaitUntil([&] { return desktop.Notices().size() == 1; })) << ReadFile(desktop.Path("notices"));
    const QString notice = desktop.Notices().value(0);
    EXPECT_TRUE(notice.startsWith(QStringLiteral("\"Quillaby\" 0 \""))) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QStringLiteral("Quillaby Icon.png\" \"Time Machine backup failed\" \"The last problem "
                                               "was 'chapter3.docx'\nLast backup: 1 hour ago\"")))
        << notice.toStdString();
    EXPECT_TRUE(desktop.Window().isEmpty());
    EXPECT_TRUE(
        desktop.ToolTip().contains(QStringLiteral("The last problem was 'chapter3.docx'\\nLast backup: 1 hour ago")))
        << desktop.ToolTip().toStdString();
    EXPECT_EQ(desktop.Menu(),
        QStringList({QStringLiteral("Show Quillaby"), QStringLiteral("Current Log"), QStringLiteral("Previous Log"),
            QStringLiteral("Back Up Now"), QStringLiteral("Email Notification\u2026"), QStringLiteral("Quit")}));

    // The same day again through the icon's menu: no second notice; the window shows the log.
    desktop.Choose(QStringLiteral("Current Log"));
    ASSERT_TRUE(WaitUntil([&] { return desktop.Fetches() == 2 && !desktop.Window().isEmpty(); }));
    QThread::msleep(1500);
    EXPECT_EQ(desktop.Notices().size(), 1);

    // Closed with the icon there, the window hides and the watch goes on:
    // a day that now succeeds says so once.
    desktop.Close(desktop.Window());
    ASSERT_TRUE(WaitUntil([&] { return desktop.Window().isEmpty(); }));
    desktop.Replay("today-error-free-morning.log");
    desktop.Choose(QStringLiteral("Current Log"));
    ASSERT_TRUE(WaitUntil([&] { return desktop.Notices().size() == 2; }));
    EXPECT_TRUE(desktop.Notices().value(1).contains(QStringLiteral("\"Backups are working again\" \"Last backup: ")))
        << desktop.Notices().value(1).toStdString();
    EXPECT_TRUE(WaitUntil([&] { return desktop.ToolTip().contains(QStringLiteral("No Time Machine errors")); }));

    // Quit from the icon's menu ends the program (email is off: no quit window).
    desktop.Choose(QStringLiteral("Quit"));
    ASSERT_TRUE(app->waitForFinished(30000));
    EXPECT_EQ(app->exitCode(), 0);
}

TEST(DesktopEndToEnd, XembedTrayHoldsTheIconAndWithoutATrayClosingQuits)
{
    if (Missing({"Xvfb", "xdotool", "xwininfo", "xwd", "trayer"}))
        GTEST_SKIP() << "the desktop's parts are not installed (scripts/install-deps installs them)";
    Desktop desktop;
    desktop.Replay("today-error-free-morning.log");
    // Without a tray a background start shows the window, and closing it quits.
    QProcess* alone = desktop.StartQuillaby(QStringLiteral("--background"));
    ASSERT_TRUE(WaitUntil([&] { return !desktop.Window().isEmpty(); }));
    desktop.Close(desktop.Window());
    ASSERT_TRUE(alone->waitForFinished(30000));
    EXPECT_EQ(alone->exitCode(), 0);

    // trayer's panel takes the icon in; closing the window then only hides it.
    desktop.Start(QStringLiteral("trayer"), QStringLiteral("--edge top --align right --widthtype request --height 32"));
    ASSERT_TRUE(WaitUntil([&] { return !desktop.Sh(QStringLiteral("xdotool search --name '^panel$'")).isEmpty(); }));
    QProcess* app = desktop.StartQuillaby(QString());
    ASSERT_TRUE(WaitUntil([&] { return !desktop.Window().isEmpty() && desktop.Fetches() == 0; }));
    const QString panel = desktop.Sh(QStringLiteral("xdotool search --name '^panel$' | head -n 1"));
    ASSERT_TRUE(WaitUntil([&] {
        return desktop.Sh(QStringLiteral("xwininfo -tree -id ") + panel).contains(QStringLiteral("\"Quillaby\""));
    }));
    // The icon (grey before a check) shows in the panel's corner.
    const auto coloured = [&] {
        const QString shot = desktop.Path("screen");
        desktop.Sh(
            QStringLiteral("xwd -root -silent -out '%1.xwd' && '" QZ_XWD_TO_PNG "' '%1.xwd' '%1.png'").arg(shot));
        const QImage screen(shot + QStringLiteral(".png"));
        int count = 0;
        for (int y = 0; y < 32 && !screen.isNull(); ++y)
            for (int x = screen.width() - 40; x < screen.width(); ++x)
                count += qGray(screen.pixel(x, y)) > 80;
        return count;
    };
    EXPECT_TRUE(WaitUntil([&] { return coloured() > 60; }, 10000)) << coloured();
    desktop.Close(desktop.Window());
    ASSERT_TRUE(WaitUntil([&] { return desktop.Window().isEmpty(); }));
    QThread::msleep(500);
    EXPECT_EQ(app->state(), QProcess::Running);
}
