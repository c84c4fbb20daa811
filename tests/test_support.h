#pragma once

// The test support, and the headers most tests use.

#include "runtime/hooks.h"
#include "runtime/shortstring.h"

#include <gtest/gtest.h>

// QTemporaryDir brings QDir, QFile, QFileInfo, QString and QStringList; QThread brings QDeadlineTimer.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

// Failing comparisons show text rather than UTF-16 units.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

// Records every alert while alive, answering the scripted button indexes (then the first button); without one an
// alert fails the test.
class AlertRecorder {
public:
    explicit AlertRecorder(std::deque<int> answers = {});
    ~AlertRecorder();
    Q_DISABLE_COPY(AlertRecorder)

    std::vector<QzAlertRequest> alerts;
    std::deque<int> answers;
};

// A clock the test sets: uptime in seconds, wall time as "yyyy-MM-dd HH:mm:ss" in the pinned time zone (UTC).
class TestClock {
public:
    TestClock();
    ~TestClock();
    Q_DISABLE_COPY(TestClock)

    static void SetUptime(double seconds) { Uptime() = seconds; }
    static void SetLocal(const char* dateTime);
    static void AdvanceUptime(double seconds) { Uptime() += seconds; }
    static double& Uptime();
};

// A temporary folder that is also HOME and XDG_DATA_HOME's parent, its bin/ first on PATH for stub commands.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Q_DISABLE_COPY(Sandbox)

    QString path() const { return dir_.path(); }
    QString bin() const { return dir_.path() + QStringLiteral("/bin"); }
    // Writes an executable /bin/sh script named name into bin().
    void Stub(const QString& name, const std::string& body) const;
    // Writes a file (parents created) and returns its path.
    QString Write(const QString& relative, const std::string& bytes) const;

private:
    QTemporaryDir dir_;
    std::string savedPath_;
    std::string savedHome_;
    std::string savedData_;
};

// Another process holding a flock (LOCK_SH or LOCK_EX) on a file while this object lives.
class LockHolder {
public:
    LockHolder(const QString& path, int how);
    ~LockHolder();
    Q_DISABLE_COPY(LockHolder)

private:
    std::unique_ptr<QProcess> holder_;
};

// Sends SIGKILL to the process and reaps it: true when the kill ended it (not an exit of its own).
bool Killed(long long pid);
// Forks children 0 to n - 1, each running child(i)'s step over and over (an alert ends it with status 5); `kills`
// times, after a random pause of up to maxPauseUs, kills one of the first `killable` at random, forks it again and
// runs afterKill; at the end kills them all. Returns how many children ended otherwise than by a kill.
int KillAtRandom(int n, int killable, int kills, unsigned seed, int maxPauseUs,
    const std::function<std::function<void()>(int)>& child, const std::function<void()>& afterKill = {});
// A T in memory that the test shares with the children it forks.
template <typename T> T* SharedWithChildren()
{
    void* memory = mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : new (memory) T {};
}
// XDG_DATA_HOME in a new folder on tmpfs (or below QZ_KILL_TEST_DIR), where a kill waits for no fsync on a busy disk.
std::unique_ptr<QTemporaryDir> KillTestData();

// A /bin/sh command line's exit status (-1 when it did not exit) and output, given this input.
struct ShResult {
    int code = -1;
    std::string out, err;
};
ShResult Sh(const std::string& command, const std::string& input = {});
// quillaby-report with these arguments and redirections, environment assignments before them.
ShResult Report(const std::string& args, const std::string& environment = {});

std::string ReadFile(const QString& path);
// The first column of every row the SQL gives in the database at path, one after another.
std::string Sql(const QString& path, const char* sql);
ShortString SS(const std::string& bytes);
QString FixturePath(const QString& name);
