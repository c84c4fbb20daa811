#include "test_support.h"

#include <QDateTime>
#include <QTimeZone>

#include <random>
#include <sqlite3.h>
#include <sys/file.h>

namespace {

AlertRecorder* gRecorder = nullptr;
double gUptime = 1000.0;
std::int64_t gNowMs = 0;

} // namespace

int TestAlertHook(const QzAlertRequest& request);
int TestAlertHook(const QzAlertRequest& request)
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
    gQzUptimeHook = [] { return gUptime; };
    gQzNowHook = [] { return gNowMs; };
    SetUptime(1000.0);
    SetLocal("2026-03-10 12:00:00");
}

TestClock::~TestClock()
{
    gQzUptimeHook = QzUptimeReal;
    gQzNowHook = QzNowReal;
}

double& TestClock::Uptime()
{
    return gUptime;
}

void TestClock::SetLocal(const char* dateTime)
{
    QDateTime t = QDateTime::fromString(QString::fromLatin1(dateTime), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    t.setTimeZone(QTimeZone::utc());
    gNowMs = t.toMSecsSinceEpoch();
}

Sandbox::Sandbox()
    : savedPath_(qgetenv("PATH").toStdString())
    , savedHome_(qgetenv("HOME").toStdString())
    , savedData_(qgetenv("XDG_DATA_HOME").toStdString())
{
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
    const QString file = Write(QStringLiteral("bin/") + name, "#!/bin/sh\n" + body + "\n");
    ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
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
    : holder_(std::make_unique<QProcess>())
{
    holder_->start(QStringLiteral("flock"),
        {how == LOCK_EX ? QStringLiteral("-x") : QStringLiteral("-s"), path, QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("echo locked; read x")});
    holder_->waitForReadyRead(10000); // the lock is held from here on
}

LockHolder::~LockHolder()
{
    holder_->closeWriteChannel(); // the holder's read returns and it exits
    holder_->waitForFinished(10000);
}

bool Killed(long long pid)
{
    kill(static_cast<pid_t>(pid), SIGKILL);
    int status = 0;
    waitpid(static_cast<pid_t>(pid), &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

int KillAtRandom(int n, int killable, int kills, unsigned seed, int maxPauseUs,
    const std::function<std::function<void()>(int)>& child, const std::function<void()>& afterKill)
{
    const auto fork = [](const std::function<void()>& step) {
        const pid_t pid = ::fork();
        if (pid != 0)
            return pid;
        gQzAlertHook = [](const QzAlertRequest&) -> int { _exit(5); };
        for (;;)
            step();
    };
    std::vector<pid_t> running;
    for (int i = 0; i < n; ++i)
        running.push_back(fork(child(i)));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(0, maxPauseUs), pick(0, killable - 1);
    int unexpected = 0;
    for (int k = 0; k < kills; ++k) {
        usleep(static_cast<useconds_t>(pause(random)));
        const int victim = pick(random);
        unexpected += Killed(running[victim]) ? 0 : 1;
        running[victim] = fork(child(victim));
        if (afterKill)
            afterKill();
    }
    for (const pid_t pid : running)
        unexpected += Killed(pid) ? 0 : 1;
    return unexpected;
}

std::unique_ptr<QTemporaryDir> KillTestData()
{
    auto data = std::make_unique<QTemporaryDir>(
        qEnvironmentVariable("QZ_KILL_TEST_DIR", QStringLiteral("/dev/shm")) + QStringLiteral("/quillaby-kill-XXXXXX"));
    if (data->isValid())
        setenv("XDG_DATA_HOME", QFile::encodeName(data->path()).constData(), 1);
    return data;
}

ShResult Sh(const std::string& command, const std::string& input)
{
    QProcess sh;
    sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromStdString(command)});
    sh.write(input.data(), static_cast<qint64>(input.size()));
    sh.closeWriteChannel();
    sh.waitForFinished(120000);
    return {sh.exitStatus() == QProcess::NormalExit ? sh.exitCode() : -1, sh.readAllStandardOutput().toStdString(),
        sh.readAllStandardError().toStdString()};
}

ShResult Report(const std::string& args, const std::string& environment)
{
    return Sh(environment + " exec '" QZ_REPORT_EXE "' " + args);
}

std::string ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

std::string Sql(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    std::string out;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_exec(
        db, sql, [](void* o, int, char** values, char**) { return *static_cast<std::string*>(o) += values[0], 0; },
        &out, nullptr);
    sqlite3_close(db);
    return out;
}

ShortString SS(const std::string& bytes)
{
    return ShortString::FromView(bytes);
}

QString FixturePath(const QString& name)
{
    return QStringLiteral(QZ_FIXTURES_DIR "/") + name;
}
