// The real Quillaby on Xvfb, driven with xdotool and a window manager's close button, with a private session bus
// carrying python-dbusmock's notification daemon and a StatusNotifierWatcher, or with trayer's XEmbed tray.

#include "test_support.h"

#include <QImage>

namespace {

// A window manager's close button: WM_DELETE_WINDOW to the window.
const char kCloseWindow[] = "from Xlib import display, protocol; import sys; d = display.Display(); "
                            "w = d.create_resource_object('window', int(sys.argv[1])); a = d.intern_atom; "
                            "w.send_event(protocol.event.ClientMessage(window=w, client_type=a('WM_PROTOCOLS'), "
                            "data=(32, [a('WM_DELETE_WINDOW'), 0, 0, 0, 0]))); d.flush()";

bool WaitUntil(const std::function<bool()>& condition, int ms = 30000)
{
    for (QDeadlineTimer deadline(ms); !condition(); QThread::msleep(100))
        if (deadline.hasExpired())
            return false;
    return true;
}

// The first of these tools and Python modules that this machine lacks, or empty.
std::string Lacking(const std::string& tools)
{
    return Sh("for t in " + tools
        + "; do command -v $t >/dev/null || { echo $t; exit; }; done; /usr/bin/python3 -c 'import dbusmock, Xlib' "
          "2>/dev/null || echo python3-dbusmock or python3-xlib")
        .out;
}

// A display of its own, a home of its own, and what the test starts on them; everything ends with the test.
class Desktop {
public:
    Desktop()
    {
        env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), sandbox.path() + QStringLiteral("/.config"));
        env_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        env_.remove(QStringLiteral("LANGUAGE"));
        // The stand-in log replays $HOME/today.log; the stub counts the fetches.
        sandbox.Stub(QStringLiteral("log"),
            "QUILLABY_LOG_REPLAY=\"$HOME/today.log\" '" QZ_STANDIN_DIR "/log' \"$@\"; echo >> \"$HOME/fetches\"");
        sandbox.Stub(QStringLiteral("dseditgroup"), "echo \"yes $4 is a member of admin\"");
        // A display number of this process's own, the next where it is taken.
        for (int n = 100 + getpid() % 800; n < 1000 && !env_.contains(QStringLiteral("DISPLAY")); ++n) {
            QProcess* x = Start(QStringLiteral("Xvfb :%1 -displayfd 1 -screen 0 1024x768x24 -nolisten tcp").arg(n));
            if (x->waitForReadyRead(10000))
                env_.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(x->readLine().trimmed()));
        }
    }
    // Each part ends before the ones it stands on.
    ~Desktop()
    {
        for (auto p = processes_.rbegin(); p != processes_.rend(); ++p) {
            (*p)->terminate();
            (*p)->waitForFinished(5000);
        }
    }

    QProcess* Start(const QString& line)
    {
        QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        auto& p = processes_.emplace_back(std::make_unique<QProcess>());
        p->setProcessEnvironment(env_);
        p->start(words.takeFirst(), words);
        p->waitForStarted(10000);
        return p.get();
    }
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
        const QString config = sandbox.Write(QStringLiteral("bus.conf"),
            "<busconfig><type>session</type><listen>unix:dir=" + sandbox.path().toStdString()
                + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        QProcess* bus = Start(QStringLiteral("dbus-daemon --nofork --print-address=1 --config-file=") + config);
        if (!bus->waitForReadyRead(10000))
            return false;
        env_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(bus->readLine().trimmed()));
        const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
        Start(QStringLiteral("/usr/bin/python3 -m dbusmock --session -t notification_daemon -l ") + Path("notices"));
        Start(QStringLiteral("/usr/bin/python3 -m dbusmock --session -l %1 %2 /StatusNotifierWatcher %2")
                  .arg(Path("watcher"), watcher));
        const QString mock = QStringLiteral(" && gdbus call --session -d %1 -o /StatusNotifierWatcher -m "
                                            "org.freedesktop.DBus.Mock.Add")
                                 .arg(watcher);
        return Sh(QStringLiteral("gdbus wait --session --timeout 20 org.freedesktop.Notifications && gdbus wait "
                                 "--session --timeout 20 ")
                   + watcher + mock + QStringLiteral("Properties ") + watcher
                   + QStringLiteral(" \"{'IsStatusNotifierHostRegistered': <true>}\"") + mock
                   + QStringLiteral("Method ") + watcher + QStringLiteral(" RegisterStatusNotifierItem s '' ''"))
            == QStringLiteral("()\n()");
    }
    QString Path(const char* name) const { return sandbox.path() + QLatin1Char('/') + QLatin1String(name); }
    int Fetches() const { return int(ReadFile(Path("fetches")).size()); }
    // The window of this title when it is shown, else empty.
    QString Window(const QString& title = QStringLiteral("Quillaby")) const
    {
        return Sh(QStringLiteral("xdotool search --onlyvisible --name '^%1$' | head -n 1").arg(title));
    }
    void Close(const QString& window) const
    {
        Sh(QStringLiteral("/usr/bin/python3 -c \"%1\" %2").arg(QString::fromLatin1(kCloseWindow), window));
    }
    // Each Notify call the daemon got: its arguments as the daemon's log has them.
    QStringList Notices() const
    {
        QStringList calls = QString::fromUtf8(ReadFile(Path("notices"))).split(QStringLiteral(" Notify "));
        calls.removeFirst();
        return calls;
    }
    // What the tray host asks of the status icon: its tooltip, its menu's layout, a click on an item.
    QString Item(const QString& call) const
    {
        const QString item = QString::fromUtf8(ReadFile(Path("watcher")))
                                 .section(QStringLiteral("RegisterStatusNotifierItem \""), -1)
                                 .section(QLatin1Char('"'), 0, 0);
        return Sh(QStringLiteral("LC_ALL=C.UTF-8 gdbus call --session -d '%1' ").arg(item) + call);
    }
    QString ToolTip() const
    {
        return Item(QStringLiteral(
            "-o /StatusNotifierItem -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem ToolTip"));
    }
    // The menu's items as "id label" lines; a click on the item of a label.
    QStringList Menu() const
    {
        QStringList items;
        const QString layout = Item(QStringLiteral("-o /MenuBar -m com.canonical.dbusmenu.GetLayout -- 0 -1 '[]'"));
        for (const auto& m :
            QRegularExpression(QStringLiteral("\\((\\d+), \\{[^}]*'label': <'([^']*)'>")).globalMatch(layout))
            items << m.captured(1) + QLatin1Char(' ') + m.captured(2);
        return items;
    }
    void Choose(const QString& label) const
    {
        const QString id = Menu().filter(QLatin1Char(' ') + label).value(0).section(QLatin1Char(' '), 0, 0);
        Item(QStringLiteral("-o /MenuBar -m com.canonical.dbusmenu.Event -- %1 clicked '<0>' 0").arg(id));
    }

    Sandbox sandbox;

private:
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> processes_;
};

} // namespace

TEST(DesktopEndToEnd, BackgroundStartNotifiesOncePerProblemAndTheTrayTellsTheState)
{
    if (const std::string lacks = Lacking("Xvfb xdotool dbus-daemon gdbus"); !lacks.empty())
        GTEST_SKIP() << lacks << " is not installed (scripts/install-deps installs it)";
    Desktop desktop;
    ASSERT_TRUE(desktop.StartBus());
    QFile::copy(FixturePath(QStringLiteral("today-failed-error-11-after-success.log")), desktop.Path("today.log"));
    QProcess* app = desktop.Start(QStringLiteral(QZ_APP_EXE " --background"));

    // At once, without the window: one notice of the failed backup.
    ASSERT_TRUE(WaitUntil([&] { return desktop.Notices().size() == 1; })) << ReadFile(desktop.Path("notices"));
    const QString notice = desktop.Notices().value(0);
    EXPECT_TRUE(notice.startsWith(QStringLiteral("\"Quillaby\" 0 \""))
        && notice.contains(QStringLiteral("Quillaby Icon.png\" \"Time Machine backup failed\" \"The last problem was "
                                          "'chapter3.docx'\nLast backup: 1 hour ago\"")))
        << notice.toStdString();
    EXPECT_TRUE(desktop.Window().isEmpty());
    EXPECT_TRUE(
        desktop.ToolTip().contains(QStringLiteral("The last problem was 'chapter3.docx'\\nLast backup: 1 hour ago")))
        << desktop.ToolTip().toStdString();
    EXPECT_EQ(desktop.Menu().join(QLatin1Char(',')).remove(QRegularExpression(QStringLiteral("\\d+ "))),
        QStringLiteral("Show Quillaby,Current Log,Previous Log,Back Up Now,Email Notification\u2026,Quit"));

    // The same day again through the icon's menu: no second notice; the window shows the log.
    desktop.Choose(QStringLiteral("Current Log"));
    ASSERT_TRUE(WaitUntil([&] { return desktop.Fetches() == 2 && !desktop.Window().isEmpty(); }));
    QThread::msleep(1500);
    EXPECT_EQ(desktop.Notices().size(), 1);

    // Closed with the icon there, the window hides and the watch goes on: a day that now succeeds says so once.
    desktop.Close(desktop.Window());
    ASSERT_TRUE(WaitUntil([&] { return desktop.Window().isEmpty(); }));
    QFile::remove(desktop.Path("today.log"));
    QFile::copy(FixturePath(QStringLiteral("today-error-free-morning.log")), desktop.Path("today.log"));
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

// trayer's XEmbed tray holds the icon, and closing the window only hides it.
TEST(DesktopEndToEnd, XembedTrayHoldsTheIconAndClosingTheWindowOnlyHidesIt)
{
    if (const std::string lacks = Lacking("Xvfb xdotool xwininfo xwd trayer"); !lacks.empty())
        GTEST_SKIP() << lacks << " is not installed (scripts/install-deps installs it)";
    Desktop desktop;
    // trayer's panel takes the icon in. (On a busy machine trayer may lose its display while starting: three tries.)
    for (int tries = 0; tries < 3 && desktop.Window(QStringLiteral("panel")).isEmpty(); ++tries) {
        desktop.Start(QStringLiteral("trayer --edge top --align right --widthtype request --height 32"));
        WaitUntil([&] { return !desktop.Window(QStringLiteral("panel")).isEmpty(); }, 10000);
    }
    const QString panel = desktop.Window(QStringLiteral("panel"));
    ASSERT_FALSE(panel.isEmpty());
    QProcess* app = desktop.Start(QStringLiteral(QZ_APP_EXE));
    ASSERT_TRUE(WaitUntil([&] { return !desktop.Window().isEmpty(); }));
    ASSERT_TRUE(WaitUntil([&] {
        return desktop.Sh(QStringLiteral("xwininfo -tree -id ") + panel).contains(QStringLiteral("\"Quillaby\""));
    }));
    // The icon (grey before a check) shows in the panel's corner.
    const auto coloured = [&] {
        desktop.Sh(QStringLiteral("xwd -root -silent -out '%1.xwd' && '" QZ_XWD_TO_PNG "' '%1.xwd' '%1.png'")
                       .arg(desktop.Path("s")));
        const QImage screen(desktop.Path("s.png"));
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
    EXPECT_EQ(desktop.Fetches(), 0); // a normal start checks after 30 minutes
}
