#include "test_support.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

AlertRecorder* gRecorder = nullptr;
double gUptime = 1000.0;
std::int64_t gNowMs = 0;

int RecordAlert(const QzAlertRequest& request)
{
    if (!gRecorder) {
        ADD_FAILURE() << "unexpected alert: " << request.message.toStdString() << " / "
                      << request.informative.toStdString();
        return request.runtime ? 1 : 0; // a runtime alert continues
    }
    gRecorder->alerts.push_back(request);
    if (gRecorder->answers.empty())
        return 0;
    const int answer = gRecorder->answers.front();
    gRecorder->answers.pop_front();
    return answer;
}

double FakeUptime()
{
    return gUptime;
}

std::int64_t FakeNow()
{
    return gNowMs;
}

std::string GetEnv(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

} // namespace

int TestAlertHook(const QzAlertRequest& request);
int TestAlertHook(const QzAlertRequest& request)
{
    return RecordAlert(request);
}

AlertRecorder::AlertRecorder(std::deque<int> scripted)
    : answers(std::move(scripted))
{
    gRecorder = this;
}

AlertRecorder::~AlertRecorder()
{
    gRecorder = nullptr;
}

TestClock::TestClock()
{
    gQzUptimeHook = FakeUptime;
    gQzNowHook = FakeNow;
    SetUptime(1000.0);
    SetLocal("2026-03-10 12:00:00");
}

TestClock::~TestClock()
{
    gQzUptimeHook = QzUptimeReal;
    gQzNowHook = QzNowReal;
}

void TestClock::SetUptime(double seconds)
{
    gUptime = seconds;
}

void TestClock::AdvanceUptime(double seconds)
{
    gUptime += seconds;
}

void TestClock::SetLocal(const char* dateTime)
{
    QDateTime t = QDateTime::fromString(QString::fromLatin1(dateTime), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    t.setTimeZone(QTimeZone::utc());
    gNowMs = t.toMSecsSinceEpoch();
}

Sandbox::Sandbox()
{
    savedPath_ = GetEnv("PATH");
    savedHome_ = GetEnv("HOME");
    savedData_ = GetEnv("XDG_DATA_HOME");
    QDir().mkpath(bin());
    setenv("PATH", (bin().toStdString() + ":" + savedPath_).c_str(), 1);
    setenv("HOME", path().toStdString().c_str(), 1);
    setenv("XDG_DATA_HOME", (path().toStdString() + "/.local/share").c_str(), 1);
}

Sandbox::~Sandbox()
{
    setenv("PATH", savedPath_.c_str(), 1);
    setenv("HOME", savedHome_.c_str(), 1);
    setenv("XDG_DATA_HOME", savedData_.c_str(), 1);
}

void Sandbox::Stub(const QString& name, const std::string& body) const
{
    const QString file = bin() + QLatin1Char('/') + name;
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const std::string text = "#!/bin/sh\n" + body + "\n";
    f.write(text.data(), static_cast<qint64>(text.size()));
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString Sandbox::Write(const QString& relative, const std::string& bytes) const
{
    const QString file = path() + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return file;
}

LockHolder::LockHolder(const QString& path, int how)
{
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0)
        return;
    const QByteArray native = path.toUtf8();
    pid_ = fork();
    if (pid_ == 0) {
        close(release[1]); // so that the parent's close reaches the read below
        close(ready[0]);
        const int fd = open(native.constData(), O_RDONLY);
        flock(fd, how);
        char c = 'r';
        (void)!write(ready[1], &c, 1);
        (void)!read(release[0], &c, 1);
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char c = 0;
    (void)!read(ready[0], &c, 1); // the lock is held from here on
    close(ready[0]);
}

LockHolder::~LockHolder()
{
    if (release_ >= 0)
        close(release_); // the holder's read returns and it exits
    if (pid_ > 0)
        waitpid(pid_, nullptr, 0);
}

std::string ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = f.readAll();
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

ShortString SS(const std::string& bytes)
{
    return ShortString::FromView(bytes);
}

QString FixturePath(const QString& name)
{
    return QStringLiteral(QZ_FIXTURES_DIR "/") + name;
}
