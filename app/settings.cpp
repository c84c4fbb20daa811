#include "app/settings.h"

#include "app/state.h"
#include "runtime/channels.h"
#include "runtime/platform.h"
#include "runtime/state.h"
#include "runtime/windows.h"

#include <QByteArray>
#include <QFileInfo>

#include <array>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kLoadChannel = 3;
constexpr int kSaveChannel = 4;
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

// Writes the lines to a temporary file beside the settings file through
// channel `channel`, then moves it over the settings file. Returns false,
// leaving the old file as it was, when any step fails. The file keeps its
// permissions, a link to it stays a link, and a lock held elsewhere on it
// refuses the save as writing the file in place would.
bool WriteSettingsFile(const ShortString* lines, int count, int channel)
{
    const QFileInfo info(gSettingsPath);
    const QString target = info.isSymLink() ? info.symLinkTarget() : gSettingsPath;
    const QByteArray targetPath = target.toUtf8();
    struct stat old { };
    const bool existed = stat(targetPath.constData(), &old) == 0 && S_ISREG(old.st_mode);
    if (existed) {
        const int probe = open(targetPath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        const bool locked = probe >= 0 && flock(probe, LOCK_EX | LOCK_NB) != 0;
        if (probe >= 0)
            close(probe);
        if (locked) {
            QzLastFileError = kQzErrLocked;
            QzFileErrorHandler(channel, kQzErrLocked);
            return false;
        }
    }

    const QString temporary = target + QStringLiteral(".new");
    QzLastFileError = 0;
    QzOpenOutput(channel, 0, temporary);
    bool ok = QzLastFileError == 0;
    for (int i = 0; ok && i < count; ++i) {
        QzSetOutput(channel);
        QzPrint(lines[i]);
        QzPrintNewline();
        QzSetOutput(0);
        ok = QzLastFileError == 0;
    }
    QzClose(channel);
    const QByteArray tmp = temporary.toUtf8();
    if (ok) {
        const int fd = open(tmp.constData(), O_RDONLY | O_CLOEXEC);
        ok = fd >= 0 && (!existed || fchmod(fd, old.st_mode & 07777) == 0) && fsync(fd) == 0;
        if (fd >= 0)
            close(fd);
    }
    if (ok)
        ok = std::rename(tmp.constData(), targetPath.constData()) == 0;
    if (!ok)
        unlink(tmp.constData());
    return ok;
}

} // namespace

std::int16_t TodayDayOfYear()
{
    return ReadI16(QzDateText("D"));
}

void LoadSettings()
{
    const QUrl base = QzDirectoryURL(kQzApplicationSupportDirectory, kQzUserDomain);
    const QUrl folder = QzURLAppend(base, QStringLiteral("Quillaby/"));
    // The base folder may be missing on a fresh Linux account, where it is
    // the XDG data folder; on a Mac it always exists.
    if (!QzFileExists(folder))
        QzCreateDirectory(folder, true);
    gSettingsPath = QzURLAppend(base, QStringLiteral("Quillaby/Settings")).toLocalFile();
    QzFileErrorHandler = IgnoreFileError;

    if (QFileInfo::exists(gSettingsPath)) {
        QzOpenInput(kLoadChannel, 0, gSettingsPath, 256);
        std::array<ShortString, kLines> line;
        for (auto& l : line)
            QzLineInput(kLoadChannel, l);
        gEmailNotifyOn = ReadU8(line[0]);
        gEmailAddress1 = line[1];
        gEmailAddress2 = line[2];
        gNoQuitWarning = ReadU8(line[3]);
        gNotifyMinorErrors = ReadU8(line[4]);
        gDailyEmail = ReadU8(line[5]);
        gLastBackupDay = ReadI16(line[6]);
        gSpareSetting = line[7];
        for (int i = 8; i < kLines; ++i)
            gDonateHidden = ReadU8(line[static_cast<std::size_t>(i)]);
        if (gDonateHidden != 0)
            QzButtonRemove(10);
        QzLastFileError = 0;
    } else {
        gEmailNotifyOn = 0;
        gEmailAddress1 = ShortString();
        gEmailAddress2 = ShortString();
        // Line 7 holds yesterday's day of the year, or 1 on the first of January.
        double day = QzVal(QzNumberText(TodayDayOfYear()));
        if (day != 1)
            day -= 1;
        const ShortString defaults[]
            = {U8Text(gEmailNotifyOn), gEmailAddress1, gEmailAddress2, "0", "0", "0", QzNumberText(day), ""};
        WriteSettingsFile(defaults, 8, kLoadChannel);
    }
    QzClose(kLoadChannel);
}

void SaveSettings()
{
    if (gSettingsPath.isEmpty())
        return;
    const ShortString lines[kLines] = {U8Text(gEmailNotifyOn), gEmailAddress1, gEmailAddress2, U8Text(gNoQuitWarning),
        U8Text(gNotifyMinorErrors), U8Text(gDailyEmail), QzNumberText(gLastBackupDay), gSpareSetting,
        U8Text(gDonateHidden), U8Text(gDonateHidden), U8Text(gDonateHidden), U8Text(gDonateHidden)};
    WriteSettingsFile(lines, kLines, kSaveChannel);
}

std::int16_t ReadLastBackupDay()
{
    QzOpenInput(kLoadChannel, 0, gSettingsPath, 256);
    ShortString line;
    for (int i = 0; i < 7; ++i)
        QzLineInput(kLoadChannel, line);
    gLastBackupDay = ReadI16(line);
    QzClose(kLoadChannel);
    return gLastBackupDay;
}
