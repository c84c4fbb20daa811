#pragma once

// The step of the pass after each check of today's log (gTodayChecked):
// the state of the backups for the status icon (gBackupStatus,
// gStatusText) and, while gDesktopNoticesOn, the desktop notices through
// gQzNotifyHook. A problem gets one notice until a check finds a backup
// working again ("Backups are working again"): a serious one always
// (drive offline, failed backup, no backup for more than a day), a minor
// one when minor problems are wanted by email too. No backup for more than
// a day gets a notice of its own once a day. onClick runs when the user
// clicks a notice.
void DesktopNoticeStep(void (*onClick)());
