// The real Quillaby binary on Xvfb, driven with xdotool.

#include "test_support.h"

#include "app/settings.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

namespace {

class WindowEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"Xvfb", "xdotool", "xwd"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
        // A display number of the server's own choosing, so that tests side by side never meet.
        x_.start(QStringLiteral("Xvfb"),
            QString::fromLatin1("-displayfd 1 -screen 0 1024x768x24 -nolisten tcp").split(QLatin1Char(' ')));
        ASSERT_TRUE(x_.waitForReadyRead(30000));
        qputenv("DISPLAY", ":" + x_.readLine().trimmed());
        // The log stand-in replays a morning with backups, shifted to now; the stub records how it was asked.
        sandbox.Stub(QStringLiteral("log"),
            "printf '%s\\n' \"$@\" > \"$HOME/log.args.new\" && mv \"$HOME/log.args.new\" \"$HOME/log.args\"\n"
            "QUILLABY_LOG_REPLAY='" QZ_FIXTURES_DIR "/today-error-free-morning.log' exec '" QZ_STANDIN_DIR
            "/log' \"$@\"");
        sandbox.Stub(QStringLiteral("dseditgroup"), "echo \"yes $4 is a member of admin\"");
    }

    void TearDown() override
    {
        for (QProcess* p : {&app_, &x_}) {
            p->terminate();
            p->waitForFinished(5000);
        }
    }

    static QString Tool(const QString& command)
    {
        QProcess p;
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        p.waitForFinished(30000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    // "Position: X,Y" or "Geometry: WxH" of a window.
    static QPoint Geometry(const QString& window, const char* what)
    {
        const QStringList v = Tool(QStringLiteral("xdotool getwindowgeometry ") + window)
                                  .section(QString::fromLatin1(what), 1)
                                  .section(QLatin1Char(' '), 0, 0)
                                  .split(QRegularExpression(QStringLiteral("[,x\n]")));
        return {v.value(0).toInt(), v.value(1).toInt()};
    }

    void Start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("LANGUAGE"));
        app_.setProcessEnvironment(env);
        app_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app_.start(QStringLiteral(QZ_APP_EXE), {});
        ASSERT_TRUE(app_.waitForStarted(10000));
        window_ = Tool(QStringLiteral("xdotool search --sync --onlyvisible --name '^Quillaby$' | head -n 1"));
        ASSERT_FALSE(window_.isEmpty());
        menuBar_ = Geometry(window_, "Geometry: ").y() - 540;
        ASSERT_GT(menuBar_, 0);
        QThread::msleep(500); // the first pass shows the introduction
    }

    // Clicks a point of a window, by default of window 1's content (below the menu bar).
    void Click(int x, int y, QString window = {}) const
    {
        Tool(QStringLiteral("xdotool mousemove --window %1 %2 %3 click 1")
                 .arg(window.isEmpty() ? window_ : window)
                 .arg(x)
                 .arg(window.isEmpty() ? y + menuBar_ : y));
    }

    QImage Screenshot(const QString& name) const
    {
        const QString dump = sandbox.path() + QLatin1Char('/') + name;
        Tool(QStringLiteral("xwd -root -silent -out '%1.xwd' && '" QZ_XWD_TO_PNG "' '%1.xwd' '%1.png'").arg(dump));
        return QImage(dump + QStringLiteral(".png"));
    }

    QString SettingsLine(int line) const
    {
        const std::string file = ReadFile(sandbox.path() + QStringLiteral("/.local/share/Quillaby/Settings"));
        return QString::fromLatin1(file.c_str()).split(QLatin1Char('\r')).value(line - 1);
    }

    Sandbox sandbox;
    QProcess x_, app_;
    QString window_;
    int menuBar_ = 0;
};

bool WaitUntil(const std::function<bool()>& condition)
{
    for (QDeadlineTimer deadline(60000); !condition(); QThread::msleep(100))
        if (deadline.hasExpired())
            return false;
    return true;
}

} // namespace

TEST_F(WindowEndToEnd, CurrentLogFillsTheReportAndQuitAsksWhileNotificationIsOn)
{
    sandbox.Write(
        QStringLiteral(".local/share/Quillaby/Settings"), " 1\rsam@example.com\r\r 0\r 0\r 0\r 12\r\r 0\r 0\r 0\r 0\r");
    Start();
    const QPoint origin = Geometry(window_, "Position: ") + QPoint(0, menuBar_);
    const QImage before = Screenshot(QStringLiteral("before"));
    ASSERT_FALSE(before.isNull());

    Click(80, 413); // Current Log
    const QString args = sandbox.path() + QStringLiteral("/log.args");
    EXPECT_TRUE(WaitUntil([&] {
        return ReadFile(args) == "show\n--last\n4h\n--predicate\nsubsystem == \"com.apple.TimeMachine\"\n--info\n"
            && SettingsLine(7) == QzStrToCF(QzNumberText(TodayDayOfYear()));
    })) << ReadFile(args)
        << " / line 7: " << SettingsLine(7).toStdString();
    QThread::msleep(500);
    const QImage after = Screenshot(QStringLiteral("after"));
    ASSERT_FALSE(after.isNull());
    int text = 0; // dark pixels in the report area
    for (int y = 70; y < 375; ++y)
        for (int x = 15; x < 590; ++x)
            text += qGray(after.pixel(origin.x() + x, origin.y() + y)) < 100;
    EXPECT_GT(text, 500);
    EXPECT_NE(after.copy(origin.x(), origin.y() + 60, 585, 325), before.copy(origin.x(), origin.y() + 60, 585, 325));

    // Ctrl+Q with notification on: the quit window, then its Quit button.
    Tool(QStringLiteral("xdotool key --clearmodifiers ctrl+q"));
    const QString sheet
        = Tool(QStringLiteral("xdotool search --sync --onlyvisible --name '^Quit Quillaby$' | head -n 1"));
    ASSERT_FALSE(sheet.isEmpty());
    QThread::msleep(500);
    EXPECT_EQ(app_.state(), QProcess::Running);
    const QPoint size = Geometry(sheet, "Geometry: ");
    Click(size.x() - 45, size.y() - 28, sheet);
    ASSERT_TRUE(app_.waitForFinished(30000));
    EXPECT_EQ(app_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app_.exitCode(), 0);
    EXPECT_EQ(QStringList({SettingsLine(1), SettingsLine(2), SettingsLine(12), SettingsLine(13)}),
        QStringList({QStringLiteral(" 1"), QStringLiteral("sam@example.com"), QStringLiteral(" 0"), QString()}));
}
