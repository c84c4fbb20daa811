// The real Quillaby binary on Xvfb, driven with xdotool.

#include "test_support.h"

#include "settings/settings.h"

#include <QImage>
#include <QStandardPaths>

namespace {

QString Tool(const QString& command)
{
    QProcess p;
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// "Position: X,Y" or "Geometry: WxH" of a window.
QPoint Geometry(const QString& window, const char* what)
{
    const QStringList v = Tool(QStringLiteral("xdotool getwindowgeometry ") + window)
                              .section(QString::fromLatin1(what), 1)
                              .section(QLatin1Char(' '), 0, 0)
                              .split(QRegularExpression(QStringLiteral("[,x\n]")));
    return {v.value(0).toInt(), v.value(1).toInt()};
}

// Clicks a point of a window.
void Click(const QString& window, int x, int y)
{
    Tool(QStringLiteral("xdotool mousemove --window %1 %2 %3 click 1").arg(window).arg(x).arg(y));
}

QString Visible(const char* title)
{
    return Tool(QStringLiteral("xdotool search --sync --onlyvisible --name '^%1$' | head -n 1")
                    .arg(QString::fromLatin1(title)));
}

bool WaitUntil(const std::function<bool()>& condition)
{
    for (QDeadlineTimer deadline(60000); !condition(); QThread::msleep(100))
        if (deadline.hasExpired())
            return false;
    return true;
}

} // namespace

TEST(WindowEndToEnd, CurrentLogFillsTheReportAndQuitAsksWhileNotificationIsOn)
{
    for (const char* tool : {"Xvfb", "xdotool", "xwd"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
    Sandbox sandbox;
    // A display number of the server's own choosing, so that tests side by side never meet.
    QProcess x, app;
    x.start(QStringLiteral("Xvfb"),
        QString::fromLatin1("-displayfd 1 -screen 0 1024x768x24 -nolisten tcp").split(QLatin1Char(' ')));
    ASSERT_TRUE(x.waitForReadyRead(30000));
    qputenv("DISPLAY", ":" + x.readLine().trimmed());
    // The log stand-in replays a morning with backups, shifted to now; the stub records how it was asked.
    sandbox.Stub(QStringLiteral("log"),
        "printf '%s\\n' \"$@\" > \"$HOME/log.args.new\" && mv \"$HOME/log.args.new\" \"$HOME/log.args\"\n"
        "QUILLABY_LOG_REPLAY='" QZ_FIXTURES_DIR "/today-error-free-morning.log' exec '" QZ_STANDIN_DIR "/log' \"$@\"");
    sandbox.Stub(QStringLiteral("dseditgroup"), "echo \"yes $4 is a member of admin\"");
    const QString settings = sandbox.Write(
        QStringLiteral(".local/share/Quillaby/Settings"), " 1\rsam@example.com\r\r 0\r 0\r 0\r 12\r\r 0\r 0\r 0\r 0\r");
    const auto line
        = [&](int n) { return QString::fromLatin1(ReadFile(settings).c_str()).split(QLatin1Char('\r')).value(n - 1); };
    const auto screenshot = [&](const QString& name) {
        const QString dump = sandbox.path() + QLatin1Char('/') + name;
        Tool(QStringLiteral("xwd -root -silent -out '%1.xwd' && '" QZ_XWD_TO_PNG "' '%1.xwd' '%1.png'").arg(dump));
        return QImage(dump + QStringLiteral(".png"));
    };

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("LANGUAGE"));
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(QZ_APP_EXE), {});
    ASSERT_TRUE(app.waitForStarted(10000));
    const QString window = Visible("Quillaby");
    ASSERT_FALSE(window.isEmpty());
    const int menuBar = Geometry(window, "Geometry: ").y() - 540;
    ASSERT_GT(menuBar, 0);
    QThread::msleep(500); // the first pass shows the introduction
    const QPoint origin = Geometry(window, "Position: ") + QPoint(0, menuBar);
    const QImage before = screenshot(QStringLiteral("before"));
    ASSERT_FALSE(before.isNull());

    Click(window, 80, 413 + menuBar); // Current Log
    const QString args = sandbox.path() + QStringLiteral("/log.args");
    EXPECT_TRUE(WaitUntil([&] {
        return ReadFile(args) == "show\n--last\n4h\n--predicate\nsubsystem == \"com.apple.TimeMachine\"\n--info\n"
            && line(7) == QzStrToCF(QzNumberText(TodayDayOfYear()));
    })) << ReadFile(args)
        << " / line 7: " << line(7).toStdString();
    QThread::msleep(500);
    const QImage after = screenshot(QStringLiteral("after"));
    ASSERT_FALSE(after.isNull());
    int text = 0; // dark pixels in the report area
    for (int y = 70; y < 375; ++y)
        for (int px = 15; px < 590; ++px)
            text += qGray(after.pixel(origin.x() + px, origin.y() + y)) < 100;
    EXPECT_GT(text, 500);
    EXPECT_NE(after.copy(origin.x(), origin.y() + 60, 585, 325), before.copy(origin.x(), origin.y() + 60, 585, 325));

    // Ctrl+Q with notification on: the quit window, then its Quit button;
    // the settings are saved, twelve lines, the last one ended.
    Tool(QStringLiteral("xdotool key --clearmodifiers ctrl+q"));
    const QString sheet = Visible("Quit Quillaby");
    ASSERT_FALSE(sheet.isEmpty());
    QThread::msleep(500);
    EXPECT_EQ(app.state(), QProcess::Running);
    const QPoint size = Geometry(sheet, "Geometry: ");
    Click(sheet, size.x() - 45, size.y() - 28);
    ASSERT_TRUE(app.waitForFinished(30000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(QStringList({line(1), line(2), line(12), line(13)}),
        QStringList({QStringLiteral(" 1"), QStringLiteral("sam@example.com"), QStringLiteral(" 0"), QString()}));
}
