#include "notify/notices.h"

#include "monitor/backup_age.h"
#include "monitor/state.h"
#include "notify/state.h"
#include "runtime/bundle.h"
#include "runtime/hooks.h"
#include "runtime/tray.h"
#include "runtime/windows.h"
#include "settings/settings.h"
#include "settings/state.h"

namespace {

void Notice(const QString& summary, const QString& text, void (*onClick)())
{
    const QString age = QStringLiteral("Last backup: ") + QzStrToCF(LastBackupAge());
    gQzNotifyHook({QStringLiteral("Quillaby"), QzResourcesPath() + QStringLiteral("/Quillaby Icon.png"), summary,
        text.isEmpty() ? age : text + QLatin1Char('\n') + age, onClick});
}

} // namespace

void DesktopNoticeStep(void (*onClick)())
{
    if (gTodayChecked == 0)
        return;
    gTodayChecked = 0;
    const std::int64_t current = QzCurrentWindowTag();
    QzSetCurrentWindow(1);
    gStatusText = QzTextFieldString(8).trimmed();
    QzSetCurrentWindow(current);
    // As the evaluation counts it: the settings' day is two days or more ago.
    const std::int16_t today = TodayDayOfYear();
    const int days = today - gLastBackupDay;
    const bool noBackup = gSuccessFound == 0 && days >= 2 && days <= 363;
    const bool failed = gLastFailureLineNo > gLastSuccessLineNo;
    gBackupStatus = gTooFewLines == 1              ? kQzTrayUnknown
        : gDriveOffline == 1 || failed || noBackup ? kQzTraySerious
        : !gStatusText.isEmpty()                   ? kQzTrayProblem
                                                   : kQzTrayWell;
    if (gDesktopNoticesOn == 0 || gBackupStatus == kQzTrayUnknown)
        return;
    const bool wanted = gBackupStatus == kQzTraySerious || (gBackupStatus == kQzTrayProblem && gNotifyMinorErrors == 1);
    if (noBackup && gNoBackupNoticeDay != today) {
        gNoBackupNoticeDay = today;
        gNoticeSent = 1;
        Notice(QStringLiteral("No Time Machine backup for more than a day"), gStatusText, onClick);
    } else if (wanted && gNoticeSent == 0) {
        gNoticeSent = 1;
        Notice(gDriveOffline == 1 ? QStringLiteral("Time Machine backup drive is offline")
                : failed          ? QStringLiteral("Time Machine backup failed")
                                  : QStringLiteral("Time Machine problem"),
            gStatusText, onClick);
    } else if (!wanted && gNoticeSent == 1 && (gBackupStatus == kQzTrayWell || gSuccessFound == 1)) {
        gNoticeSent = 0;
        Notice(QStringLiteral("Backups are working again"), QString(), onClick);
    }
}
