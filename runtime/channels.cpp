#include "runtime/channels.h"

#include "runtime/alert.h"
#include "runtime/platform.h"
#include "runtime/state.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr std::size_t kPipeChunk = 64 * 1024;
// The pipe holds this much, so that a command need not wait while the
// reader pauses; and the pause, which a fast command fills well within.
constexpr int kPipeCapacity = 1024 * 1024;
constexpr long kGatherPauseNs = 1'000'000;
constexpr int kGatherBelow = 16 * 1024;
// What a command started ahead may print before a channel takes it over:
// what today's pipeline writes while the program starts, and a little more.
// The reader of a faster command is slower than it anyway.
constexpr std::size_t kPrestartCapacity = 16u << 20;

bool InRange(int fileId)
{
    return fileId >= 1 && fileId <= kQzMaxFileId;
}

QzFileChannel& Channel(int fileId)
{
    return gQzChannels[static_cast<std::size_t>(fileId)];
}

void ReportError(int fileId, std::int64_t code)
{
    QzLastFileError = code;
    QzFileErrorHandler(fileId, code);
}

QString RangeInformative()
{
    return QzRuntimeText(QStringLiteral("FileID must be in range 1 to ")) + QString::number(kQzMaxFileId);
}

QByteArray NativePath(const QString& path)
{
    return path.toUtf8();
}

// The environment for commands: the program's own, with the C locale on
// Linux so that grep and cut treat the log as bytes, as the Mac's tools do.
std::vector<std::string> CommandEnvironment()
{
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
#ifdef __linux__
        if (std::strncmp(*e, "LC_ALL=", 7) == 0)
            continue;
#endif
        env.emplace_back(*e);
    }
#ifdef __linux__
    env.emplace_back("LC_ALL=C");
#endif
    return env;
}

// popen(command, "r") without stdio: the command's output arrives on a
// plain descriptor that QzLineInput reads in large chunks.
bool SpawnShell(const char* command, int* readFd, long long* pid)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    // The command gets a process group of its own, so that an overdue
    // pipeline can be killed whole.
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

    std::vector<std::string> env = CommandEnvironment();
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    char sh[] = "/bin/sh";
    char dashC[] = "-c";
    std::string cmd = command;
    char* argv[] = {sh, dashC, cmd.data(), nullptr};

    pid_t child = -1;
    const int rc = posix_spawn(&child, "/bin/sh", &actions, &attr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return false;
    }
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
#ifdef F_SETPIPE_SZ
    fcntl(fds[0], F_SETPIPE_SZ, kPipeCapacity); // a smaller pipe still works
#endif
    *readFd = fds[0];
    *pid = child;
    return true;
}

// The text the shell is given: a NUL byte, which would end it, becomes byte 1.
std::string ShellText(std::string_view command)
{
    std::string text(command);
    std::replace(text.begin(), text.end(), '\0', '\1');
    return text;
}

// Advisory whole-file locks standing in for the BSD O_SHLOCK and O_EXLOCK
// open flags: a shared lock for input, an exclusive one for output.
bool LockedElsewhere(const QByteArray& path, bool forOutput, int* error)
{
    const int probe = open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (probe < 0) {
        *error = kQzErrOpenFailed;
        return true;
    }
    const int rc = flock(probe, (forOutput ? LOCK_EX : LOCK_SH) | LOCK_NB);
    const int saved = errno;
    close(probe); // closing the probe releases the probe's own lock
    if (rc == 0)
        return false;
    *error = saved == EWOULDBLOCK ? static_cast<int>(kQzErrLocked) : saved;
    return true;
}

// Both file opens: the FileID check, letting go of what the channel held,
// the lock probe, the descriptor that keeps the lock for the channel's
// life, and the record. mode is 'I' or 'O'; 0 is a bad location kind of an
// output open. False when nothing was opened (the error is reported).
bool OpenFileChannel(int fileId, char mode, const QString& path, std::int64_t recordLength)
{
    const bool output = mode != 'I';
    if (!InRange(fileId)) {
        QzRuntimeAlert(QzRuntimeText(output ? QStringLiteral("Error in QzOpenOutput for file# ")
                                            : QStringLiteral("Error in QzOpenInput for file# "))
                + QString::number(fileId),
            RangeInformative(), false);
        return false;
    }
    QzClose(fileId); // a reopened channel first lets go of what it held
    if (mode == 0) {
        ReportError(fileId, kQzErrCreateFailed);
        return false;
    }
    const QByteArray native = NativePath(path);
    struct stat info { };
    if (output && stat(native.constData(), &info) != 0) {
        const int created = open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (created < 0) {
            ReportError(fileId, kQzErrCreateFailed);
            return false;
        }
        close(created);
    }
    int error = 0;
    if (LockedElsewhere(native, output, &error)) {
        ReportError(fileId, error);
        return false;
    }
    // Output: a failing open is not an error, writes then go through the
    // path. Input: the descriptor is required.
    const int fd = open(native.constData(), (output ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if ((fd < 0 && !output) || (fd >= 0 && flock(fd, (output ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)) {
        if (fd >= 0)
            close(fd);
        ReportError(fileId, output ? kQzErrLocked : kQzErrOpenFailed);
        return false;
    }
    QzFileChannel& ch = Channel(fileId);
    ch.open = true;
    ch.location = path;
    ch.recordLength = recordLength;
    ch.lockFd = fd;
    ch.mode = mode;
    return true;
}

void ResetChannel(QzFileChannel& c)
{
    c = QzFileChannel {};
}

void WriteBytes(const char* data, std::size_t size)
{
    const int c = gQzOutputChannel;
    if (c == 0 || c == 128 || c > 999)
        return;
    if (!InRange(c) || !Channel(c).open || Channel(c).isPipe || Channel(c).mode == 'I') {
        ReportError(c, kQzErrNotForWriting);
        return;
    }
    QzFileChannel& ch = Channel(c);
    int fd = ch.lockFd;
    bool own = false;
    if (fd < 0) {
        fd = open(NativePath(ch.location).constData(), O_WRONLY | O_CLOEXEC);
        own = true;
    }
    std::size_t done = 0;
    int failure = 0;
    while (fd >= 0 && done < size) {
        const ssize_t n
            = pwrite(fd, data + done, size - done, static_cast<off_t>(ch.position + static_cast<std::int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failure = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (fd < 0)
        failure = errno;
    if (own && fd >= 0)
        close(fd);
    ch.position += static_cast<std::int64_t>(done);
    ch.column += static_cast<std::int64_t>(done);
    if (failure != 0)
        ReportError(c, failure);
}

std::int64_t SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void KillCommand(QzFileChannel& ch)
{
    if (ch.pid > 0)
        kill(-static_cast<pid_t>(ch.pid), SIGKILL);
    ch.timedOut = true;
}

// Waits until the pipe has bytes or has ended (ended is then set); false
// when the deadline came first (the command has then been killed) or the
// pipe cannot be waited on.
bool AwaitOutput(QzFileChannel& ch, bool* ended)
{
    for (;;) {
        int ms = -1;
        if (ch.deadlineNs != 0) {
            const std::int64_t left = ch.deadlineNs - SteadyNs();
            if (left <= 0) {
                KillCommand(ch);
                return false;
            }
            ms = static_cast<int>(std::min<std::int64_t>((left + 999'999) / 1'000'000, 60'000));
        }
        pollfd p {ch.pipeFd, POLLIN, 0};
        const int rc = poll(&p, 1, ms);
        if (rc > 0) {
            *ended = (p.revents & POLLHUP) != 0;
            return true;
        }
        if (rc < 0 && errno != EINTR)
            return false;
    }
}

// The next chunk of the command's output: the pipe's end here does not
// block, so a read that finds bytes waiting costs no wait; otherwise the
// read waits for them up to the deadline. -1 when none came.
ssize_t ReadPipeChunk(QzFileChannel& ch)
{
    // A command that never stops printing is stopped at its limit too.
    if (ch.deadlineNs != 0 && SteadyNs() >= ch.deadlineNs) {
        KillCommand(ch);
        return -1;
    }
    for (;;) {
        const ssize_t n = read(ch.pipeFd, ch.buffer.get(), kPipeChunk);
        if (n >= 0 || (errno != EINTR && errno != EAGAIN))
            return n;
        if (errno == EAGAIN) {
            bool ended = false;
            if (!AwaitOutput(ch, &ended))
                return -1;
            // A command that writes its output a few kilobytes at a time
            // would wake the reader for each write; a short pause when only
            // a little has come lets more gather, so that one read takes
            // many writes. A fast writer has filled more than that already,
            // and one that has ended writes nothing more.
            int waiting = 0;
            if (!ended && ioctl(ch.pipeFd, FIONREAD, &waiting) == 0 && waiting < kGatherBelow) {
                timespec pause {0, kGatherPauseNs};
                nanosleep(&pause, nullptr);
            }
        }
    }
}

// Where the first CR or LF lies in begin[0, scan), or scan: LF is looked
// for first, then CR only before it, both with memchr.
std::size_t LineEndWithin(const char* begin, std::size_t scan)
{
    const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', scan));
    const std::size_t beforeLf = lf ? static_cast<std::size_t>(lf - begin) : scan;
    const auto* cr = static_cast<const char*>(std::memchr(begin, '\r', beforeLf));
    return cr ? static_cast<std::size_t>(cr - begin) : beforeLf;
}

void ReadPipeLine(QzFileChannel& ch, ShortString& dest)
{
    std::size_t stored = 0;
    for (;;) {
        if (ch.bufferPos >= ch.bufferLen) {
            // Also gives back a command's gathered output once it is read.
            if (ch.bufferCapacity != kPipeChunk) {
                ch.buffer = std::make_unique<char[]>(kPipeChunk);
                ch.bufferCapacity = kPipeChunk;
            }
            const ssize_t n = ReadPipeChunk(ch);
            ch.bufferLen = n > 0 ? static_cast<std::size_t>(n) : 0;
            ch.bufferPos = 0;
            if (n <= 0) {
                ch.endFlag = 255;
                break;
            }
        }
        const char* begin = ch.buffer.get() + ch.bufferPos;
        const std::size_t avail = ch.bufferLen - ch.bufferPos;
        const std::size_t room = static_cast<std::size_t>(ShortString::kMax) - stored;
        const std::size_t scan = std::min(avail, room);
        const std::size_t i = LineEndWithin(begin, scan);
        std::memcpy(dest.bytes.data() + stored, begin, i);
        stored += i;
        ch.bufferPos += i;
        if (i < scan) { // a line end: consumed, not stored
            ++ch.bufferPos;
            break;
        }
        if (stored == static_cast<std::size_t>(ShortString::kMax))
            break; // the rest of a long line comes with the next read
    }
    dest.len = static_cast<std::uint8_t>(stored);
}

// The prestarted command's gathering thread: reads whatever the command
// prints until the bound, the end of the output, or a wake byte.
void Gather(QzPrestartedPipe& p)
{
    pollfd fds[2] = {{p.pipeFd, POLLIN, 0}, {p.wakeFd[0], POLLIN, 0}};
    while (p.gatheredLen < kPrestartCapacity) {
        const ssize_t n = read(p.pipeFd, p.gathered.get() + p.gatheredLen, kPrestartCapacity - p.gatheredLen);
        if (n > 0) {
            p.gatheredLen += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // The end or an error is left for the channel's own read to meet.
        if (n == 0 || errno != EAGAIN || (poll(fds, 2, -1) < 0 && errno != EINTR) || fds[1].revents != 0)
            return;
    }
}

// Ends the gathering; the command and its output are left to the caller.
void StopGathering(QzPrestartedPipe& p)
{
    if (p.gatherer.joinable()) {
        const char wake = 1;
        while (write(p.wakeFd[1], &wake, 1) < 0 && errno == EINTR) { }
        p.gatherer.join();
    }
    for (int& fd : p.wakeFd) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

// Leaves no prestarted command behind; its gathering has ended.
void Forget(QzPrestartedPipe& p)
{
    p.command.clear();
    p.pipeFd = -1;
    p.pid = -1;
    p.gathered.reset();
    p.gatheredLen = 0;
}

// Hands the prestarted command to ch when it is the one asked for.
bool TakePrestarted(std::string_view command, QzFileChannel& ch)
{
    QzPrestartedPipe& p = gQzPrestarted;
    if (p.command.empty() || p.command != command)
        return false;
    StopGathering(p);
    ch.pipeFd = p.pipeFd;
    ch.pid = p.pid;
    ch.startedNs = p.startedNs;
    ch.buffer = std::move(p.gathered);
    ch.bufferCapacity = kPrestartCapacity;
    ch.bufferLen = p.gatheredLen;
    ch.bufferPos = 0;
    Forget(p);
    return true;
}

// Kills a prestarted command no channel took over, and waits for it.
void DiscardPrestarted(QzPrestartedPipe& p)
{
    StopGathering(p);
    if (p.pid > 0) {
        kill(-static_cast<pid_t>(p.pid), SIGKILL);
        int status = 0;
        while (waitpid(static_cast<pid_t>(p.pid), &status, 0) < 0 && errno == EINTR) { }
    }
    if (p.pipeFd >= 0)
        close(p.pipeFd);
    Forget(p);
}

void ReadFileLine(QzFileChannel& ch, ShortString& dest)
{
    const int fd = ch.lockFd >= 0 ? ch.lockFd : open(NativePath(ch.location).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    char chunk[ShortString::kMax];
    ssize_t n;
    do
        n = pread(fd, chunk, sizeof chunk, static_cast<off_t>(ch.position));
    while (n < 0 && errno == EINTR);
    if (fd != ch.lockFd)
        close(fd);
    if (n <= 0)
        return;
    // Bytes are stored up to and including a terminator or until 255 are
    // stored; the terminator is then dropped, so a 255th byte that is a
    // terminator leaves a line of 254.
    std::size_t count = 0;
    bool terminated = false;
    while (count < static_cast<std::size_t>(n)) {
        const char c = chunk[count++];
        if (c == '\r' || c == '\n') {
            terminated = true;
            break;
        }
    }
    ch.position += static_cast<std::int64_t>(count);
    const std::size_t kept = terminated ? count - 1 : count;
    std::memcpy(dest.bytes.data(), chunk, kept);
    dest.len = static_cast<std::uint8_t>(kept);
}

} // namespace

int QzFileErrorAlert(std::int64_t fileId, std::int64_t code)
{
    if (code == 0)
        return 0;
    const QString description = QStringLiteral("Error Domain=NSOSStatusErrorDomain Code=%1 \"(null)\"").arg(code);
    QzRuntimeAlert(QStringLiteral("The program returned a file error.\nFile ref:%1\n%2").arg(fileId).arg(description),
        QString(), false);
    return 0;
}

void QzOpenPipe(int fileId, const ShortString& command)
{
    QzOpenCommandPipe(fileId, command.view());
}

void QzOpenCommandPipe(int fileId, std::string_view command)
{
    if (!InRange(fileId)) {
        QzRuntimeAlert(QzRuntimeText(QStringLiteral("FileID not in range ")) + QStringLiteral("0")
                + QzRuntimeText(QStringLiteral(" for FileID: ")) + QString::number(fileId),
            RangeInformative(), false);
        return;
    }
    QzFileChannel& ch = Channel(fileId);
    if (ch.open) {
        QzRuntimeAlert(QzRuntimeText(QStringLiteral("Error in Open 'UNIX' for file#")) + QString::number(fileId),
            QzRuntimeText(QStringLiteral("FileID already in use")), false);
        return;
    }
    ResetChannel(ch);
    ch.open = true;
    ch.isPipe = true;
    if (TakePrestarted(command, ch))
        return;
    ch.startedNs = SteadyNs();
    int fd = -1;
    long long pid = -1;
    if (SpawnShell(ShellText(command).c_str(), &fd, &pid)) {
        ch.pipeFd = fd;
        ch.pid = pid;
    }
}

void QzPrestartPipe(const ShortString& command)
{
    QzPrestartCommandPipe(command.view());
}

void QzPrestartCommandPipe(std::string_view command)
{
    QzDiscardPrestartedPipe();
    QzPrestartedPipe& p = gQzPrestarted;
    p.startedNs = SteadyNs();
    int fd = -1;
    long long pid = -1;
    if (pipe2(p.wakeFd, O_CLOEXEC) != 0)
        return;
    if (!SpawnShell(ShellText(command).c_str(), &fd, &pid)) {
        StopGathering(p);
        return;
    }
    p.command = std::string(command);
    p.pipeFd = fd;
    p.pid = pid;
    p.gathered = std::make_unique_for_overwrite<char[]>(kPrestartCapacity);
    QzAdviseLargePages(p.gathered.get(), kPrestartCapacity);
    p.gatheredLen = 0;
    p.gatherer = std::thread(Gather, std::ref(p));
}

void QzDiscardPrestartedPipe()
{
    DiscardPrestarted(gQzPrestarted);
}

QzPrestartedPipe::~QzPrestartedPipe()
{
    DiscardPrestarted(*this);
}

bool QzOwnCommand(long long pid)
{
    const pid_t group = getpgid(static_cast<pid_t>(pid));
    if (group <= 0)
        return false;
    if (gQzPrestarted.pid == group)
        return true;
    return std::any_of(gQzChannels.begin(), gQzChannels.end(),
        [group](const QzFileChannel& ch) { return ch.open && ch.isPipe && ch.pid == group; });
}

void QzOpenInput(int fileId, int /*kind*/, const QString& path, std::int64_t recordLength)
{
    OpenFileChannel(fileId, 'I', path, recordLength);
}

void QzOpenOutput(int fileId, int kind, const QString& path)
{
    if (!OpenFileChannel(fileId, kind == 0 || kind == 2 ? 'O' : 0, path, 256))
        return;
    // Output always starts on an empty file.
    const QzFileChannel& ch = Channel(fileId);
    if (ch.lockFd >= 0 ? ftruncate(ch.lockFd, 0) != 0 : truncate(NativePath(path).constData(), 0) != 0)
        ReportError(fileId, errno);
}

void QzLineInput(int fileId, ShortString& dest)
{
    dest.len = 0;
    if (!InRange(fileId))
        return;
    QzFileChannel& ch = Channel(fileId);
    if (ch.open && ch.isPipe) {
        if (ch.pipeFd < 0) {
            // The command never started: the read fails, and it also counts
            // as the end of the output so that read loops finish.
            ch.endFlag = 255;
            ReportError(fileId, kQzErrNotOpen);
            return;
        }
        ReadPipeLine(ch, dest);
    } else if (ch.open && ch.mode != 0) {
        ReadFileLine(ch, dest);
    } else {
        ReportError(fileId, kQzErrNotOpen);
    }
}

std::int64_t QzSkipPipeLines(int fileId, QzFirstOfInterestFn firstOfInterest)
{
    if (!InRange(fileId) || !Channel(fileId).open || !Channel(fileId).isPipe)
        return 0;
    QzFileChannel& ch = Channel(fileId);
    const char* const bytes = ch.buffer.get();
    std::size_t pos = ch.bufferPos;
    const std::size_t end = ch.bufferLen;
    if (pos >= end)
        return 0;
    const std::size_t interest = pos + firstOfInterest(reinterpret_cast<const std::uint8_t*>(bytes) + pos, end - pos);
    std::int64_t skipped = 0;
    // Lines are cut as ReadPipeLine cuts them: at the first CR or LF, which
    // is dropped, or after 255 bytes.
    while (pos < end) {
        const std::size_t scan = std::min<std::size_t>(end - pos, ShortString::kMax);
        const std::size_t len = LineEndWithin(bytes + pos, scan);
        const bool ended = len < scan;
        if ((!ended && len < static_cast<std::size_t>(ShortString::kMax)) || pos + len > interest)
            break;
        pos += ended ? len + 1 : len;
        ++skipped;
    }
    ch.bufferPos = pos;
    return skipped;
}

void QzSetPipeTimeLimit(int fileId, std::int64_t milliseconds)
{
    if (InRange(fileId) && Channel(fileId).open && Channel(fileId).isPipe)
        Channel(fileId).deadlineNs = Channel(fileId).startedNs + std::max<std::int64_t>(milliseconds, 1) * 1'000'000;
}

bool QzPipeTimedOut(int fileId)
{
    return InRange(fileId) && Channel(fileId).timedOut;
}

int QzEof(int fileId)
{
    if (!InRange(fileId))
        return -1;
    const QzFileChannel& ch = Channel(fileId);
    if (!ch.open)
        return -1;
    if (ch.isPipe)
        return ch.endFlag != 0 ? -1 : 0;
    struct stat info { };
    const int rc = ch.lockFd >= 0 ? fstat(ch.lockFd, &info) : stat(NativePath(ch.location).constData(), &info);
    if (rc != 0)
        return -1;
    return ch.position >= static_cast<std::int64_t>(info.st_size) ? -1 : 0;
}

void QzSetOutput(int channel)
{
    gQzOutputChannel = channel;
}

void QzPrint(const ShortString& s)
{
    WriteBytes(reinterpret_cast<const char*>(s.bytes.data()), s.len);
}

void QzPrintNewline()
{
    const char cr = '\r';
    WriteBytes(&cr, 1);
    const int c = gQzOutputChannel;
    if (InRange(c))
        Channel(c).column = 0;
}

void QzClose(int fileId)
{
    if (fileId == 0) {
        for (int n = 1; n <= kQzMaxFileId; ++n)
            QzClose(n);
        return;
    }
    if (!InRange(fileId))
        return;
    QzFileChannel& ch = Channel(fileId);
    if (!ch.open)
        return;
    if (ch.isPipe) {
        if (ch.pipeFd >= 0)
            close(ch.pipeFd);
        if (ch.pid > 0) {
            const auto pid = static_cast<pid_t>(ch.pid);
            int status = 0;
            if (ch.deadlineNs != 0) {
                while (waitpid(pid, &status, WNOHANG) == 0) {
                    if (SteadyNs() >= ch.deadlineNs) {
                        KillCommand(ch);
                        break;
                    }
                    usleep(5000);
                }
            }
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
        }
    } else if (ch.lockFd >= 0) {
        close(ch.lockFd);
    }
    ResetChannel(ch);
}
