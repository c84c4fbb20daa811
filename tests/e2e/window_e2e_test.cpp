// The real Quillaby binary on a real X server (Xvfb), driven with xdotool:
// Current Log fills the report from a stub `log`, and Quit with email
// notification on asks first and then ends with status 0.

#include "test_support.h"

#include "app/settings.h"
#include "runtime/shortstring.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// An X server on a display number of its own choosing (-displayfd), so that
// tests running side by side never meet.
class XServer {
public:
    XServer()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (!number.empty())
            display_ = QStringLiteral(":") + QString::fromStdString(number);
    }
    ~XServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    QString display() const { return display_; }

private:
    pid_t pid_ = -1;
    QString display_;
};

bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 60000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(100);
    }
    return true;
}

class WindowEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"Xvfb", "xdotool", "xwd"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
        x_ = std::make_unique<XServer>();
        ASSERT_FALSE(x_->display().isEmpty());
        // The log stand-in replays a morning with backups, shifted to now;
        // the stub records how it was asked.
        sandbox.Stub(QStringLiteral("log"),
            "printf '%s\\n' \"$@\" > \"$HOME/log.args.new\" && mv \"$HOME/log.args.new\" \"$HOME/log.args\"\n"
            "QUILLABY_LOG_REPLAY='" QZ_FIXTURES_DIR "/today-error-free-morning.log' exec '" QZ_STANDIN_DIR
            "/log' \"$@\"");
        sandbox.Stub(QStringLiteral("dseditgroup"), "echo \"yes $4 is a member of admin\"");
    }

    void TearDown() override
    {
        if (app_.state() != QProcess::NotRunning) {
            app_.kill();
            app_.waitForFinished(5000);
        }
    }

    QString Tool(const QString& command) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), x_->display());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        p.waitForFinished(30000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    void Start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), x_->display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
        env.remove(QStringLiteral("LANGUAGE"));
        app_.setProcessEnvironment(env);
        app_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app_.start(QStringLiteral(QZ_APP_EXE), {});
        ASSERT_TRUE(app_.waitForStarted(10000));
        window_ = Tool(QStringLiteral("xdotool search --sync --onlyvisible --name '^Quillaby$' | head -n 1"));
        ASSERT_FALSE(window_.isEmpty());
        const QStringList size = Tool(QStringLiteral("xdotool getwindowgeometry ") + window_)
                                     .section(QStringLiteral("Geometry: "), 1)
                                     .split(QLatin1Char('x'));
        width_ = size.value(0).toInt();
        height_ = size.value(1).toInt();
        ASSERT_GT(height_, 540);
        QThread::msleep(500); // the first pass shows the introduction
    }

    // Clicks a point of the window's content, in the layout's coordinates
    // (the menu bar above them).
    void ClickContent(int x, int y) const
    {
        Tool(QStringLiteral("xdotool mousemove --window %1 %2 %3 click 1").arg(window_).arg(x).arg(y + height_ - 540));
    }

    QImage Screenshot(const QString& name) const
    {
        const QString dump = sandbox.path() + QLatin1Char('/') + name + QStringLiteral(".xwd");
        const QString png = sandbox.path() + QLatin1Char('/') + name + QStringLiteral(".png");
        Tool(QStringLiteral("xwd -root -silent -out '%1' && '" QZ_XWD_TO_PNG "' '%1' '%2'").arg(dump, png));
        return QImage(png);
    }

    QString SettingsLine(int line) const
    {
        const std::string file = ReadFile(sandbox.path() + QStringLiteral("/.local/share/Quillaby/Settings"));
        return QString::fromLatin1(file.c_str()).split(QLatin1Char('\r')).value(line - 1);
    }

    Sandbox sandbox;
    std::unique_ptr<XServer> x_;
    QProcess app_;
    QString window_;
    int width_ = 0, height_ = 0;
};

// Dark pixels (text) in the report area of a screenshot.
int TextPixels(const QImage& shot, const QPoint& window, int menuBar)
{
    int count = 0;
    for (int y = 70; y < 375; ++y)
        for (int x = 15; x < 590; ++x)
            if (qGray(shot.pixel(window.x() + x, window.y() + menuBar + y)) < 100)
                ++count;
    return count;
}

} // namespace

TEST_F(WindowEndToEnd, CurrentLogFillsTheReportAndRecordsTheBackupDay)
{
    Start();
    const QStringList at = Tool(QStringLiteral("xdotool getwindowgeometry ") + window_)
                               .section(QStringLiteral("Position: "), 1)
                               .section(QLatin1Char(' '), 0, 0)
                               .split(QLatin1Char(','));
    const QPoint origin(at.value(0).toInt(), at.value(1).toInt());
    const QImage before = Screenshot(QStringLiteral("before"));
    ASSERT_FALSE(before.isNull());

    ClickContent(80, 413); // Current Log
    EXPECT_TRUE(WaitUntil([&] {
        return ReadFile(sandbox.path() + QStringLiteral("/log.args"))
            == "show\n--last\n4h\n--predicate\nsubsystem == \"com.apple.TimeMachine\"\n--info\n"
            && SettingsLine(7) == QzStrToCF(QzNumberText(TodayDayOfYear()));
    })) << ReadFile(sandbox.path() + QStringLiteral("/log.args"))
        << " / line 7: " << SettingsLine(7).toStdString();
    QThread::msleep(500);
    const QImage after = Screenshot(QStringLiteral("after"));
    ASSERT_FALSE(after.isNull());
    const int menuBar = height_ - 540;
    EXPECT_GT(TextPixels(after, origin, menuBar), 500);
    EXPECT_NE(after.copy(origin.x(), origin.y() + menuBar + 60, 585, 325),
        before.copy(origin.x(), origin.y() + menuBar + 60, 585, 325));

    // Ctrl+Q with notification off: saved, status 0.
    Tool(QStringLiteral("xdotool key --clearmodifiers ctrl+q"));
    ASSERT_TRUE(app_.waitForFinished(30000));
    EXPECT_EQ(app_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app_.exitCode(), 0);
    EXPECT_EQ(SettingsLine(13), QString()); // twelve lines, the last one ended
    EXPECT_EQ(SettingsLine(12), QStringLiteral(" 0"));
}

TEST_F(WindowEndToEnd, QuitFromTheMenuAsksWhileNotificationIsOn)
{
    sandbox.Write(
        QStringLiteral(".local/share/Quillaby/Settings"), " 1\rsam@example.com\r\r 0\r 0\r 0\r 12\r\r 0\r 0\r 0\r 0\r");
    Start();
    const QImage before = Screenshot(QStringLiteral("before"));

    // The application menu, then its last item: Quit.
    Tool(QStringLiteral("xdotool mousemove --window %1 25 %2 click 1").arg(window_).arg((height_ - 540) / 2));
    QThread::msleep(300);
    Tool(QStringLiteral("xdotool key Up Return"));
    const QString sheet
        = Tool(QStringLiteral("xdotool search --sync --onlyvisible --name '^Quit Quillaby$' | head -n 1"));
    ASSERT_FALSE(sheet.isEmpty());
    QThread::msleep(500);
    EXPECT_NE(Screenshot(QStringLiteral("sheet")), before);
    EXPECT_EQ(app_.state(), QProcess::Running);
    EXPECT_EQ(SettingsLine(9), QStringLiteral(" 0")); // nothing saved yet

    const QStringList size = Tool(QStringLiteral("xdotool getwindowgeometry ") + sheet)
                                 .section(QStringLiteral("Geometry: "), 1)
                                 .split(QLatin1Char('x'));
    Tool(QStringLiteral("xdotool mousemove --window %1 %2 %3 click 1")
             .arg(sheet)
             .arg(size.value(0).toInt() - 45)
             .arg(size.value(1).toInt() - 28));
    ASSERT_TRUE(app_.waitForFinished(30000));
    EXPECT_EQ(app_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app_.exitCode(), 0);
    EXPECT_EQ(SettingsLine(1), QStringLiteral(" 1"));
    EXPECT_EQ(SettingsLine(2), QStringLiteral("sam@example.com"));
    EXPECT_EQ(SettingsLine(12), QStringLiteral(" 0"));
    EXPECT_EQ(SettingsLine(13), QString());
}
