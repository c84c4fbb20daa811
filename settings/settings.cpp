#include "settings/settings.h"

#include "runtime/channels.h"
#include "runtime/platform.h"
#include "runtime/state.h"
#include "runtime/windows.h"
#include "settings/state.h"

#include "runtime/events.h"
#include "runtime/hooks.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kLines = 12;

int IgnoreFileError(std::int64_t /*fileId*/, std::int64_t /*code*/)
{
    return 0;
}

// The low `bits` bits of the number a line holds, as QzVal reads it and
// truncated toward zero; exact for every finite value.
std::int64_t LowBits(double value, int bits)
{
    const double whole = std::trunc(value);
    if (!std::isfinite(whole))
        return 0;
    const double modulus = std::ldexp(1.0, bits);
    double low = std::fmod(whole, modulus);
    if (low < 0)
        low += modulus;
    return static_cast<std::int64_t>(low);
}

std::uint8_t ReadU8(const ShortString& line)
{
    return static_cast<std::uint8_t>(LowBits(QzVal(line), 8));
}

std::int16_t ReadI16(const ShortString& line)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(LowBits(QzVal(line), 16)));
}

// Numbers are written from the field's signed value.
ShortString U8Text(std::uint8_t value)
{
    return QzNumberText(static_cast<double>(static_cast<std::int8_t>(value)));
}

// How long a save waits for another process's save to finish, and for
// a lock on the file itself (a reader's, or a save in place) to go.
constexpr int kSaveLockWaitMs = 5000;
constexpr int kFileLockWaitMs = 1000;

// Waits up to `ms` milliseconds for flock(fd, how); false when it does not come.
bool LockWithin(int fd, int how, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (flock(fd, how | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(500);
    }
}

bool WriteAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Whether the open file holds exactly these bytes.
bool HoldsBytes(int fd, const struct stat& info, const std::string& bytes)
{
    if (static_cast<std::size_t>(info.st_size) != bytes.size())
        return false;
    std::string have(bytes.size(), '\0');
    std::size_t done = 0;
    while (done < have.size()) {
        const ssize_t n = pread(fd, have.data() + done, have.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return have == bytes;
}

// A settings file is a few hundred bytes; a file far larger than any it
// could be, or one holding a NUL byte, is something else.
constexpr off_t kSmallFileMax = 64 * 1024;

// Splits the bytes into the first `count` lines. CR, LF and CR LF each end
// a line; a line is cut at 255 bytes and the rest of it dropped; a leading
// UTF-8 byte-order mark (an editor's) is not part of the first line.
// Missing lines stay empty.
void SplitLines(std::string_view bytes, ShortString* lines, int count)
{
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    int line = 0;
    bool afterCr = false;
    for (std::size_t i = 0; i < bytes.size() && line < count; ++i) {
        const char c = bytes[i];
        if (c == '\n' && afterCr) {
            afterCr = false;
            continue;
        }
        afterCr = c == '\r';
        if (c == '\r' || c == '\n') {
            ++line;
            continue;
        }
        ShortString& l = lines[line];
        if (l.len < ShortString::kMax)
            l.bytes[l.len++] = static_cast<std::uint8_t>(c);
    }
}

// Reads the open file whole; false when reading fails or it is plainly not
// a small text file.
bool ReadSmall(int fd, const struct stat& info, std::string* bytes)
{
    if (info.st_size > kSmallFileMax)
        return false;
    char chunk[4096];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || bytes->size() + static_cast<std::size_t>(n) > static_cast<std::size_t>(kSmallFileMax))
            return false;
        if (n == 0)
            break;
        bytes->append(chunk, static_cast<std::size_t>(n));
    }
    return bytes->find('\0') == std::string::npos;
}

// The mail addresses and switches: lines 1 to 6.
void TakeMailSettings(const std::array<ShortString, kLines>& line)
{
    gEmailNotifyOn = ReadU8(line[0]);
    gEmailAddress1 = line[1];
    gEmailAddress2 = line[2];
    gNoQuitWarning = ReadU8(line[3]);
    gNotifyMinorErrors = ReadU8(line[4]);
    gDailyEmail = ReadU8(line[5]);
}

// Reads the settings file's lines.
SmallFileRead ReadSettingsLines(std::array<ShortString, kLines>* lines)
{
    *lines = {};
    return ReadSmallFile(gSettingsPath, lines->data(), kLines);
}

enum class FileWrite { Written, Failed, Present };

// Names of unfinished temporary files: the settings file's name, ".tmp-",
// the process id and a counter.
QString TemporaryPrefix(const QFileInfo& target)
{
    return target.fileName() + QStringLiteral(".tmp-");
}

// Temporary files left by a save that was killed. Called with the lock
// file held, so no other save is writing one.
void RemoveLeftovers(const QFileInfo& target)
{
    const QDir folder = target.absoluteDir();
    const QStringList names
        = folder.entryList({TemporaryPrefix(target) + QLatin1Char('*')}, QDir::Files | QDir::Hidden);
    for (const QString& name : names)
        unlink(QFile::encodeName(folder.filePath(name)).constData());
}

// Replaces the file through a new temporary file beside it: created
// exclusively and never through a link, written, given the old file's
// permissions, flushed to the disk and renamed over the file. False, with
// nothing left behind, when the temporary cannot be made; `made` then says
// whether it was.
bool ReplaceFile(const QFileInfo& target, const std::string& bytes, const struct stat* old, bool* made)
{
    const QByteArray path = QFile::encodeName(target.absoluteFilePath());
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 8; ++attempt) {
        temporary = QFile::encodeName(target.absolutePath() + QLatin1Char('/') + TemporaryPrefix(target)
            + QString::number(getpid()) + QLatin1Char('-') + QString::number(attempt));
        fd = open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    *made = fd >= 0;
    if (fd < 0)
        return false;
    bool ok = (!old || fchmod(fd, old->st_mode & 07777) == 0) && WriteAll(fd, bytes) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && std::rename(temporary.constData(), path.constData()) == 0;
    if (!ok) {
        unlink(temporary.constData());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int folder = open(QFile::encodeName(target.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

// Writes the file where it is, for a folder where no temporary file can be
// made. The caller holds the exclusive lock on the file, which readers wait
// for.
bool WriteInPlace(int fd, const std::string& bytes)
{
    return WriteAll(fd, bytes) && ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && fsync(fd) == 0;
}

// Saves `bytes` as the file at `where`. A lock on a lock file beside it
// keeps other savers out from the look at the old file to the rename (the
// caller may hold it already), and an exclusive lock on the file itself
// keeps readers of a save in place out. A link to the file stays a link,
// the file keeps its permissions, a file its owner made read-only is not
// replaced, and bytes equal to the file's are not written again. With
// `onlyIfMissing` an existing file is left alone and reported as Present.
FileWrite WriteKeptFile(const QString& where, const std::string& bytes, bool onlyIfMissing, bool lockHeld)
{
    QFileInfo info(where);
    const QFileInfo target(info.isSymLink() ? info.symLinkTarget() : where);
    const QByteArray path = QFile::encodeName(target.absoluteFilePath());

    int lockFd = -1;
    if (!lockHeld) {
        const QByteArray lockPath = path + ".lock";
        lockFd = open(lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (lockFd < 0 && errno != ELOOP)
            lockFd = open(lockPath.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (lockFd >= 0 && !LockWithin(lockFd, LOCK_EX, kSaveLockWaitMs)) {
            close(lockFd);
            QzLastFileError = kQzErrLocked;
            return FileWrite::Failed;
        }
    }
    // Without the lock file, another save could rename a new file in while
    // this one writes: then the file is only ever written in place.
    const bool mayReplace = lockHeld || lockFd >= 0;
    const auto finish = [lockFd](FileWrite result, int fd) {
        if (fd >= 0)
            close(fd);
        if (lockFd >= 0)
            close(lockFd);
        return result;
    };

    int fd = open(path.constData(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    const bool writable = fd >= 0;
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EISDIR))
        fd = open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat old { };
    const bool existed = fd >= 0 && fstat(fd, &old) == 0;
    if (fd < 0 && errno != ENOENT)
        return finish(FileWrite::Failed, fd);
    if (existed && !S_ISREG(old.st_mode))
        return finish(FileWrite::Failed, fd);
    if (existed && onlyIfMissing)
        return finish(FileWrite::Present, fd);
    if (existed && !LockWithin(fd, LOCK_EX, kFileLockWaitMs)) {
        QzLastFileError = kQzErrLocked;
        return finish(FileWrite::Failed, fd);
    }
    if (existed && HoldsBytes(fd, old, bytes))
        return finish(FileWrite::Written, fd);
    // The file's own write permission stands, for an administrator too: a
    // rename in a writable folder would otherwise replace a file its owner
    // made read-only.
    if (existed && (!writable || (old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0))
        return finish(FileWrite::Failed, fd);

    bool made = false;
    if (mayReplace) {
        RemoveLeftovers(target);
        if (ReplaceFile(target, bytes, existed ? &old : nullptr, &made))
            return finish(FileWrite::Written, fd);
    }
    if (made || !writable)
        return finish(FileWrite::Failed, fd);
    return finish(WriteInPlace(fd, bytes) ? FileWrite::Written : FileWrite::Failed, fd);
}

FileWrite WriteSettingsFile(const std::string& bytes, bool onlyIfMissing)
{
    return WriteKeptFile(gSettingsPath, bytes, onlyIfMissing, false);
}

std::string FileBytes(const ShortString* lines, int count)
{
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        bytes.append(lines[i].view());
        bytes.push_back('\r');
    }
    return bytes;
}

void TellSaveFailed()
{
    gSettingsSaveFailed = 1;
    if (gSettingsFailureTold != 0)
        return;
    gSettingsFailureTold = 1;
    QzAlertNote("The settings could not be saved.", QzStrFromCF(gSettingsPath) + " could not be written.");
}

} // namespace

std::int16_t TodayDayOfYear()
{
    // Asked for on every success line of a log; the day can only change at
    // a minute boundary of the wall clock, so it is formatted once a minute
    // (and again whenever the clock is set to another minute).
    static std::int64_t minute = std::numeric_limits<std::int64_t>::min();
    static std::int16_t day = 0;
    const std::int64_t now = gQzNowHook() / 60000;
    if (now != minute) {
        day = ReadI16(QzDateText("D"));
        minute = now;
    }
    return day;
}

void LoadSettings()
{
    const QUrl base = QzDirectoryURL(kQzApplicationSupportDirectory, kQzUserDomain);
    // A Mac watched over ssh has a folder of its own inside.
    const QString place = QStringLiteral("Quillaby/") + (gHostFolder.isEmpty() ? QString() : gHostFolder + u'/');
    const QUrl folder = QzURLAppend(base, place);
    // The base folder may be missing on a fresh Linux account, where it is
    // the XDG data folder; on a Mac it always exists.
    if (!QzFileExists(folder))
        QzCreateDirectory(folder, true);
    gSettingsPath = QzURLAppend(base, place + QStringLiteral("Settings")).toLocalFile();
    QzFileErrorHandler = IgnoreFileError;
    gSettingsUnreadable = 0;
    gSettingsSaveFailed = 0;
    gSettingsFailureTold = 0;

    // A file that appears between the look and the default form's write
    // (another process's first start) is read after all.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::array<ShortString, kLines> line;
        const SmallFileRead read = ReadSettingsLines(&line);
        if (read == SmallFileRead::Read) {
            TakeMailSettings(line);
            gLastBackupDay = ReadI16(line[6]);
            gSpareSetting = line[7];
            for (int i = 8; i < kLines; ++i)
                gDonateHidden = ReadU8(line[static_cast<std::size_t>(i)]);
            if (gDonateHidden != 0)
                QzButtonRemove(10);
            QzLastFileError = 0;
            return;
        }

        gEmailNotifyOn = 0;
        gEmailAddress1 = ShortString();
        gEmailAddress2 = ShortString();
        // A Mac watched over ssh starts with the mail addresses and switches
        // (lines 1 to 6) of this Mac's file; from then on they are its own.
        std::array<ShortString, kLines> shared;
        const bool seeded = !gHostFolder.isEmpty()
            && ReadSmallFile(
                   QzURLAppend(base, QStringLiteral("Quillaby/Settings")).toLocalFile(), shared.data(), kLines)
                == SmallFileRead::Read;
        if (seeded)
            TakeMailSettings(shared);
        // Line 7 holds yesterday's day of the year, or 1 on the first of January.
        double day = QzVal(QzNumberText(TodayDayOfYear()));
        if (day != 1)
            day -= 1;
        if (read == SmallFileRead::Unreadable) {
            // The file is left alone and nothing is saved over it in this
            // run; the day the default form would hold stands in for its.
            gSettingsUnreadable = 1;
            gSettingsSaveFailed = 1;
            gLastBackupDay = static_cast<std::int16_t>(day);
            QzAlertNote("The settings file could not be read.",
                QzStrFromCF(gSettingsPath) + " was left as it is; settings are not saved until it can be read.");
            return;
        }
        const auto flag = [seeded](std::uint8_t value) { return seeded ? U8Text(value) : ShortString("0"); };
        const ShortString defaults[] = {U8Text(gEmailNotifyOn), gEmailAddress1, gEmailAddress2, flag(gNoQuitWarning),
            flag(gNotifyMinorErrors), flag(gDailyEmail), QzNumberText(day), ""};
        const FileWrite written = WriteSettingsFile(FileBytes(defaults, 8), true);
        if (written == FileWrite::Written) {
            // The variable holds what the file says, so that a save before
            // the first success line keeps that day.
            gLastBackupDay = static_cast<std::int16_t>(day);
            return;
        }
        if (written == FileWrite::Failed) {
            gLastBackupDay = static_cast<std::int16_t>(day);
            TellSaveFailed();
            return;
        }
    }
}

void SaveSettings()
{
    if (gSettingsPath.isEmpty())
        return;
    if (gSettingsUnreadable != 0) {
        gSettingsSaveFailed = 1;
        return;
    }
    const ShortString lines[kLines] = {U8Text(gEmailNotifyOn), gEmailAddress1, gEmailAddress2, U8Text(gNoQuitWarning),
        U8Text(gNotifyMinorErrors), U8Text(gDailyEmail), QzNumberText(gLastBackupDay), gSpareSetting,
        U8Text(gDonateHidden), U8Text(gDonateHidden), U8Text(gDonateHidden), U8Text(gDonateHidden)};
    if (WriteSettingsFile(FileBytes(lines, kLines), false) == FileWrite::Written) {
        gSettingsSaveFailed = 0;
        gSettingsFailureTold = 0;
    } else {
        TellSaveFailed();
    }
}

std::int16_t ReadLastBackupDay()
{
    // When the file did not take the last save, the day held here is the
    // newer one.
    if (gSettingsSaveFailed != 0)
        return gLastBackupDay;
    std::array<ShortString, kLines> line;
    gLastBackupDay = ReadSettingsLines(&line) == SmallFileRead::Read ? ReadI16(line[6]) : 0;
    return gLastBackupDay;
}

SmallFileRead ReadSmallFile(const QString& path, ShortString* lines, int count)
{
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? SmallFileRead::Missing : SmallFileRead::Unreadable;
    struct stat info { };
    std::string bytes;
    bool read = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (read) {
        // A save in place by another process is waited for (briefly: a
        // lock that stays is read past).
        LockWithin(fd, LOCK_SH, kFileLockWaitMs);
        read = ReadSmall(fd, info, &bytes);
    }
    close(fd);
    if (!read)
        return SmallFileRead::Unreadable;
    SplitLines(bytes, lines, count);
    return SmallFileRead::Read;
}

bool WriteSmallFile(const QString& path, const std::string& bytes, bool lockHeld)
{
    return WriteKeptFile(path, bytes, false, lockHeld) == FileWrite::Written;
}

int LockSmallFile(const QString& path, int ms)
{
    const QByteArray lockPath = QFile::encodeName(path) + ".lock";
    const int fd = open(lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 && LockWithin(fd, LOCK_EX, ms))
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}
