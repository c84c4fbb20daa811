#include "monitor/backup_age.h"

#include "monitor/state.h"
#include "runtime/hooks.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <QDateTime>

#include <string>

namespace {

const ShortString kSuccessHead = "Last Successful Backup Message:\r\n";

ShortString Count(std::int64_t n, const char* unit)
{
    return ShortString::FromView(std::to_string(n)) + " " + unit + (n == 1 ? "" : "s") + " ago";
}

// The local time at the start of the last success line, 0 when there is none.
std::int64_t LastSuccessMs()
{
    const int at = QzInstr(1, gLastSuccessText, kSuccessHead);
    if (at == 0)
        return 0;
    const ShortString stamp = QzMid(gLastSuccessText, at + kSuccessHead.len, 19);
    const QDateTime t = QDateTime::fromString(QzStrToCF(stamp), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return t.isValid() ? t.toMSecsSinceEpoch() : 0;
}

} // namespace

ShortString BackupAgeWords(std::int64_t successMs, std::int16_t day, std::int64_t nowMs, std::int16_t today)
{
    if (successMs != 0) {
        const std::int64_t minutes = (nowMs - successMs) / 60000;
        if (minutes < 1)
            return "just now";
        if (minutes < 60)
            return Count(minutes, "minute");
        if (minutes < 48 * 60)
            return Count(minutes / 60, "hour");
        return Count(minutes / (24 * 60), "day");
    }
    if (day <= 0)
        return "unknown";
    // A day of last year: the year had 365 or 366 days.
    const int days = today >= day ? today - day : today - day + (day == 366 ? 366 : 365);
    if (days == 0)
        return "today";
    if (days == 1)
        return "yesterday";
    return Count(days, "day");
}

ShortString LastBackupAge()
{
    return BackupAgeWords(LastSuccessMs(), gLastBackupDay, gQzNowHook(), TodayDayOfYear());
}
