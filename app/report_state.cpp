#include "app/report_state.h"

#include "monitor/state.h"
#include "runtime/events.h"
#include "runtime/hooks.h"
#include "runtime/shortstring.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <QDateTime>
#include <QFileInfo>

#include <unistd.h>

namespace {

constexpr int kStateLines = 6;
// A run that keeps the state waits this long for another such run, which
// ends within its command limits.
constexpr int kRunLockWaitMs = 200000;

int gStateLockFd = -1; // LoadReportState(true) to SaveReportState: the state file's lock

std::int64_t LineNumber(const ShortString& line)
{
    return static_cast<std::int64_t>(QzVal(line));
}

std::uint8_t Flag(const ShortString& line)
{
    return LineNumber(line) == 1 ? 1 : 0;
}

// Whether a local 1 o'clock, when the window releases its latch for the
// night, lies after `saved` and at or before now (seconds since 1970).
bool NightFellSince(std::int64_t saved)
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(gQzNowHook());
    QDateTime night(now.date(), QTime(1, 0));
    if (night > now)
        night = night.addDays(-1);
    return saved < night.toSecsSinceEpoch();
}

} // namespace

QString ReportStatePath()
{
    return QFileInfo(gSettingsPath).absolutePath() + QStringLiteral("/State");
}

void LoadReportState(bool keep)
{
    const QString path = ReportStatePath();
    if (keep && gStateLockFd < 0)
        gStateLockFd = LockSmallFile(path, kRunLockWaitMs);
    // The night's release of the latch is judged from the last save, below,
    // not by this run's first pass.
    gDailyResetDone = 1;
    ShortString line[kStateLines];
    if (ReadSmallFile(path, line, kStateLines) != SmallFileRead::Read)
        return;
    gEmailSent = Flag(line[0]);
    gEmailRequested = Flag(line[1]);
    gDriveOffline = Flag(line[2]);
    gTooManyNoticed = Flag(line[3]);
    gNoBackupWarnDay = static_cast<std::int16_t>(LineNumber(line[4]));
    if (NightFellSince(LineNumber(line[5])))
        gEmailSent = 0;
}

bool SaveReportState()
{
    const ShortString line[kStateLines] = {QzNumberText(gEmailSent), QzNumberText(gEmailRequested),
        QzNumberText(gDriveOffline), QzNumberText(gTooManyNoticed), QzNumberText(gNoBackupWarnDay),
        QzNumberText(static_cast<double>(gQzNowHook() / 1000))};
    std::string bytes;
    for (const ShortString& l : line) {
        bytes.append(l.view());
        bytes.push_back('\r');
    }
    const QString path = ReportStatePath();
    const bool saved = WriteSmallFile(path, bytes, gStateLockFd >= 0);
    if (gStateLockFd >= 0)
        close(gStateLockFd);
    gStateLockFd = -1;
    if (!saved)
        QzAlertNote("The report's state could not be saved.",
            QzStrFromCF(path) + " could not be written; the next run may warn again.");
    return saved;
}
