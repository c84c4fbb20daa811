#pragma once

// The history of checks and backup sessions, in history.sqlite beside the
// settings file: a row for each analysis (the window's and the report
// command's alike) and a row for each backup session the analyses saw in
// the log, keyed by its start time and destination, so that a session
// seen by several checks is one row, completed as its end comes into view.
// Rows older than 400 days go. Times are the log's own local times,
// "YYYY-MM-DD HH:MM:SS".

#include "monitor/backup_session.h"
#include "runtime/timeline.h"

#include <QString>
#include <QVariant>

#include <cstdint>
#include <vector>

inline constexpr int kHistoryKeepDays = 400;

// One analysis, as the check row keeps it.
struct CheckRecord {
    std::int64_t atMs = 0; // when the analysis ended, ms since 1970
    bool today = true; // today's four hours; false: yesterday's log
    QString status; // the status line
    QString lastProblem;
    QString problemFolder;
    bool errorFound = false;
    bool driveOffline = false;
    bool spotlightConflict = false;
    bool successFound = false;
    bool backupFailed = false;
    QString lastSuccess; // the log's time of the last success line; empty when none
    bool mailSent = false; // the notification mail of this analysis went out
    QString host; // the Mac checked; empty for this one
};

// history.sqlite in the folder of gSettingsPath; empty before LoadSettings.
QString HistoryPath();
// The check the last analysis makes, from the monitor's state, the status
// line of window 1 and the wall clock.
CheckRecord LastAnalysisCheck(bool mailSent);
// One short transaction: the check, the sessions (a session whose start
// the lines did not hold completes the latest unfinished one that began
// within 12 hours before its end), and the pruning of rows older than
// kHistoryKeepDays before the check.
bool RecordCheck(
    const QString& path, const CheckRecord& check, const SessionList& sessions, QString* notice, QString* error);

// Rows as read back: the database's column names and, per row, a value for
// each (text, integer, bool for a flag, or null).
struct HistoryRows {
    QStringList columns;
    std::vector<QVariantList> rows;
};
struct History {
    HistoryRows checks;
    HistoryRows sessions;
};
// The checks and sessions at or after `since` (a date "YYYY-MM-DD" or a
// time; empty: all), newest first.
bool ReadHistory(const QString& path, const QString& since, History* history, QString* notice, QString* error);

// The sessions, offline spans and checks that fall between fromMs and toMs,
// with the texts that hovering shows. A drive is taken to be offline from
// a session that found it gone up to the next session that reached it.
bool ReadTimeline(
    const QString& path, std::int64_t fromMs, std::int64_t toMs, QzTimeline* timeline, QString* notice, QString* error);
