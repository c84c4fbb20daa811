// The real Quillaby binary on Xvfb, driven with xdotool.

#include "test_support.h"

#include "settings/settings.h"

#include <QImage>
#include <QStandardPaths>

namespace {

// A window's position or size.
QPoint Geometry(const std::string& window, const char* what)
{
    std::istringstream in(Sh("eval \"$(xdotool getwindowgeometry --shell " + window + ")\"; echo " + what).out);
    int a = 0, b = 0;
    in >> a >> b;
    return {a, b};
}

// The first visible window of this title.
std::string Visible(const std::string& title)
{
    const std::string id = Sh("xdotool search --sync --onlyvisible --name '^" + title + "$' | head -n 1").out;
    return id.substr(0, id.find('\n'));
}

void Click(const std::string& window, QPoint at)
{
    Sh("xdotool mousemove --window " + window + " " + std::to_string(at.x()) + " " + std::to_string(at.y())
        + " click 1");
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
    const auto screenshot = [&](const std::string& name) {
        const std::string dump = sandbox.path().toStdString() + "/" + name;
        Sh("xwd -root -silent -out '" + dump + ".xwd' && '" QZ_XWD_TO_PNG "' '" + dump + ".xwd' '" + dump + ".png'");
        return QImage(QString::fromStdString(dump + ".png"));
    };

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("LANGUAGE"));
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(QZ_APP_EXE), {});
    ASSERT_TRUE(app.waitForStarted(10000));
    const std::string window = Visible("Quillaby");
    const int menuBar = Geometry(window, "$WIDTH $HEIGHT").y() - 652;
    ASSERT_GT(menuBar, 0) << window;
    QThread::msleep(500); // the first pass shows the introduction
    const QPoint origin = Geometry(window, "$X $Y") + QPoint(0, menuBar);
    const QImage before = screenshot("before");
    ASSERT_FALSE(before.isNull());

    Click(window, {80, 525 + menuBar}); // Current Log
    const QString args = sandbox.path() + QStringLiteral("/log.args");
    for (QDeadlineTimer deadline(60000); !deadline.hasExpired(); QThread::msleep(100))
        if (ReadFile(args) == "show\n--last\n4h\n--predicate\nsubsystem == \"com.apple.TimeMachine\"\n--info\n"
            && line(7) == QzStrToCF(QzNumberText(TodayDayOfYear())))
            break;
    EXPECT_EQ(ReadFile(args) + line(7).toStdString(),
        "show\n--last\n4h\n--predicate\nsubsystem == \"com.apple.TimeMachine\"\n--info\n"
            + std::string(QzNumberText(TodayDayOfYear()).view()));
    QThread::msleep(500);
    const QImage after = screenshot("after");
    ASSERT_FALSE(after.isNull());
    int text = 0; // dark pixels in the report area
    for (int y = 70; y < 375; ++y)
        for (int px = 15; px < 590; ++px)
            text += qGray(after.pixel(origin.x() + px, origin.y() + y)) < 100;
    EXPECT_GT(text, 500);
    EXPECT_NE(after.copy(origin.x(), origin.y() + 60, 585, 325), before.copy(origin.x(), origin.y() + 60, 585, 325));

    // Ctrl+Q with notification on: the quit window, then its Quit button;
    // the settings are saved, twelve lines, the last one ended.
    Sh("xdotool key --clearmodifiers ctrl+q");
    const std::string sheet = Visible("Quit Quillaby");
    QThread::msleep(500);
    EXPECT_EQ(app.state(), QProcess::Running);
    Click(sheet, Geometry(sheet, "$WIDTH $HEIGHT") - QPoint(45, 28));
    ASSERT_TRUE(app.waitForFinished(30000));
    EXPECT_EQ(app.exitStatus() * 10 + app.exitCode(), 0);
    EXPECT_EQ(QStringList({line(1), line(2), line(12), line(13)}),
        QStringList({QStringLiteral(" 1"), QStringLiteral("sam@example.com"), QStringLiteral(" 0"), QString()}));
}
