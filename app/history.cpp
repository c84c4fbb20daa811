#include "app/history.h"

#include "app/history_database.h"
#include "monitor/state.h"
#include "runtime/hooks.h"
#include "runtime/windows.h"
#include "settings/state.h"

#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

// Local times as the log writes them, "YYYY-MM-DD HH:MM:SS", through the
// C library's rules for the zone (TZ), which Qt's local time follows too;
// it is many times quicker than QDateTime's parser, and the timeline reads
// hundreds of them.
QString LocalText(std::int64_t ms)
{
    const auto seconds = static_cast<time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    tm local {};
    localtime_r(&seconds, &local);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
        local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return QString::fromLatin1(text);
}

// The ms since 1970 of such a local time; false when text is none.
bool LocalMs(std::string_view text, std::int64_t* ms)
{
    static constexpr char kForm[] = "0000-00-00 00:00:00";
    if (text.size() != 19)
        return false;
    int field[6] = {};
    for (std::size_t i = 0, f = 0; i < 19; ++i) {
        if (kForm[i] != '0') {
            if (text[i] != kForm[i])
                return false;
            ++f;
        } else if (text[i] < '0' || text[i] > '9') {
            return false;
        } else {
            field[f] = field[f] * 10 + (text[i] - '0');
        }
    }
    if (field[1] < 1 || field[1] > 12 || field[2] < 1 || field[2] > 31 || field[3] > 23 || field[4] > 59
        || field[5] > 60)
        return false;
    tm local {};
    local.tm_year = field[0] - 1900;
    local.tm_mon = field[1] - 1;
    local.tm_mday = field[2];
    local.tm_hour = field[3];
    local.tm_min = field[4];
    local.tm_sec = field[5];
    local.tm_isdst = -1;
    *ms = static_cast<std::int64_t>(mktime(&local)) * 1000;
    return true;
}

std::string Utf8(const QString& text)
{
    return text.toStdString();
}

QString Text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string_view KindWord(SessionKind kind)
{
    switch (kind) {
    case SessionKind::Automatic:
        return "automatic";
    case SessionKind::Manual:
        return "manual";
    case SessionKind::NotStarted:
        return "not started";
    case SessionKind::Unknown:
        break;
    }
    return "";
}

std::string_view ResultWord(SessionResult result)
{
    switch (result) {
    case SessionResult::Succeeded:
        return "succeeded";
    case SessionResult::Failed:
        return "failed";
    case SessionResult::Offline:
        return "offline";
    case SessionResult::Unknown:
        break;
    }
    return "";
}

std::string_view View(const LogStamp& stamp)
{
    return stamp.view();
}

// The statements of one record, prepared once for all its sessions.
struct SessionStatements {
    explicit SessionStatements(sqlite3* db)
        : find(db, "SELECT id, destination FROM sessions WHERE host = ?1 AND started_at = ?2")
        , update(db,
              "UPDATE OR IGNORE sessions SET destination = ?2, kind = CASE WHEN ?3 = '' THEN kind ELSE ?3 END, "
              "ended_at = CASE WHEN ?5 = '' THEN ended_at ELSE ?4 END, result = CASE WHEN ?5 = '' THEN result ELSE ?5 "
              "END, error_code = CASE WHEN ?5 = '' THEN error_code ELSE ?6 END, error_name = CASE WHEN ?5 = '' THEN "
              "error_name ELSE ?7 END WHERE id = ?1")
        , insert(db,
              "INSERT OR IGNORE INTO sessions (host, started_at, destination, kind, ended_at, result, error_code, "
              "error_name) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)")
        , finish(db,
              "UPDATE sessions SET ended_at = ?4, result = ?5, error_code = ?6, error_name = ?7 WHERE id = (SELECT id "
              "FROM sessions WHERE host = ?1 AND started_at <= ?2 AND started_at >= ?3 AND result = '' ORDER BY "
              "started_at DESC LIMIT 1)")
    {
    }
    HistoryStatement find;
    HistoryStatement update;
    HistoryStatement insert;
    HistoryStatement finish;
};

void BindCode(HistoryStatement& s, int i, std::int32_t code)
{
    if (code < 0)
        s.BindNull(i);
    else
        s.Bind(i, std::int64_t {code});
}

// A session seen again is the same row: the same start, and a destination
// that is the row's or begins it (or that it begins): the earlier check
// may have read the start before the destination was named, and a line cut
// at 255 bytes cuts the destination short. The row keeps the longer one.
int WriteSession(SessionStatements& st, const std::string& host, BackupSession s)
{
    // The collector took any digits for a time's; a start that is no time
    // is no session, an end that is none is not known.
    const auto valid = [](const LogStamp& t) {
        std::int64_t ms = 0;
        return t.known && LocalMs(t.view(), &ms);
    };
    if (s.start.known && !valid(s.start))
        return SQLITE_OK;
    if (!valid(s.end))
        s.end = LogStamp();
    const std::string_view destination = s.destination.view();
    const std::string_view result = ResultWord(s.result);
    if (!s.start.known) {
        if (s.result == SessionResult::Unknown)
            return SQLITE_OK;
        std::int64_t end = 0;
        LocalMs(View(s.end), &end);
        st.finish.Bind(1, host).Bind(2, View(s.end)).Bind(3, Utf8(LocalText(end - 12 * 3600 * 1000)));
        st.finish.Bind(4, View(s.end)).Bind(5, result).Bind(7, s.errorName.view());
        BindCode(st.finish, 6, s.errorCode);
        return st.finish.Run();
    }
    st.find.Bind(1, host).Bind(2, View(s.start));
    std::int64_t id = -1;
    std::string longest;
    int rc = SQLITE_ROW;
    while ((rc = st.find.Step()) == SQLITE_ROW) {
        const std::string_view known = st.find.Text(1);
        if ((known.starts_with(destination) || destination.starts_with(known))
            && (id < 0 || known.size() > longest.size())) {
            id = st.find.Int(0);
            longest = known;
        }
    }
    if (rc != SQLITE_DONE)
        return rc;
    if (id >= 0) {
        const std::string_view keep = longest.size() > destination.size() ? std::string_view(longest) : destination;
        st.update.Bind(1, id).Bind(2, keep).Bind(3, KindWord(s.kind)).Bind(4, View(s.end)).Bind(5, result);
        BindCode(st.update, 6, s.errorCode);
        st.update.Bind(7, s.errorName.view());
        return st.update.Run();
    }
    st.insert.Bind(1, host).Bind(2, View(s.start)).Bind(3, destination).Bind(4, KindWord(s.kind));
    st.insert.Bind(5, View(s.end)).Bind(6, result).Bind(8, s.errorName.view());
    BindCode(st.insert, 7, s.errorCode);
    return st.insert.Run();
}

int Record(sqlite3* db, const CheckRecord& c, const SessionList& sessions)
{
    int rc = HistoryExec(db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return rc;
    const std::string host = Utf8(c.host);
    {
        HistoryStatement check(db,
            "INSERT INTO checks (checked_at, host, log, status, last_problem, problem_folder, error_found, "
            "drive_offline, spotlight_conflict, success_found, backup_failed, last_success, mail_sent) VALUES (?1, "
            "?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
        check.Bind(1, Utf8(LocalText(c.atMs))).Bind(2, host).Bind(3, c.today ? "today" : "yesterday");
        check.Bind(4, Utf8(c.status)).Bind(5, Utf8(c.lastProblem)).Bind(6, Utf8(c.problemFolder));
        const bool flags[] = {c.errorFound, c.driveOffline, c.spotlightConflict, c.successFound, c.backupFailed};
        for (int i = 0; i < 5; ++i)
            check.Bind(7 + i, std::int64_t {flags[i] ? 1 : 0});
        check.Bind(12, Utf8(c.lastSuccess)).Bind(13, std::int64_t {c.mailSent ? 1 : 0});
        rc = check.Run();
        SessionStatements st(db);
        for (std::size_t i = 0; i < sessions.size() && rc == SQLITE_DONE; ++i)
            if ((rc = WriteSession(st, host, sessions[i])) == SQLITE_OK)
                rc = SQLITE_DONE;
        const std::string cutoff = Utf8(LocalText(c.atMs - std::int64_t {kHistoryKeepDays} * 86400 * 1000));
        for (const char* sql :
            {"DELETE FROM checks WHERE checked_at < ?1", "DELETE FROM sessions WHERE started_at < ?1"})
            if (rc == SQLITE_DONE)
                rc = HistoryStatement(db, sql).Bind(1, cutoff).Run();
    }
    rc = rc == SQLITE_DONE ? HistoryExec(db, "COMMIT") : rc;
    if (rc != SQLITE_OK)
        HistoryExec(db, "ROLLBACK");
    return rc;
}

bool IsFlag(std::string_view column)
{
    static const std::string_view kFlags[]
        = {"error_found", "drive_offline", "spotlight_conflict", "success_found", "backup_failed", "mail_sent"};
    return std::find(std::begin(kFlags), std::end(kFlags), column) != std::end(kFlags);
}

int ReadRows(sqlite3* db, const char* sql, const QString& since, HistoryRows* out)
{
    HistoryStatement s(db, sql);
    s.Bind(1, Utf8(since));
    for (int i = 0; i < s.Columns(); ++i)
        out->columns << Text(s.Name(i));
    int rc = SQLITE_ROW;
    while ((rc = s.Step()) == SQLITE_ROW) {
        QVariantList row;
        for (int i = 0; i < s.Columns(); ++i) {
            if (s.Null(i))
                row << QVariant();
            else if (IsFlag(s.Name(i)))
                row << (s.Int(i) != 0);
            else if (s.Name(i) == "error_code")
                row << QVariant::fromValue(s.Int(i));
            else
                row << Text(s.Text(i));
        }
        out->rows.push_back(std::move(row));
    }
    return rc;
}

// "2 min 5 s", "1 h 12 min", "40 s".
QString Duration(std::int64_t ms)
{
    const std::int64_t s = std::max<std::int64_t>(0, ms / 1000);
    if (s >= 3600)
        return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
    if (s >= 60)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1 s").arg(s);
}

QString Outcome(std::string_view result, const QVariant& code, const QString& name)
{
    QString detail = name;
    if (!code.isNull())
        detail = name.isEmpty() ? QStringLiteral("error ") + code.toString()
                                : name + QStringLiteral(" (") + code.toString() + QLatin1Char(')');
    const QString tail = detail.isEmpty() ? QString() : QStringLiteral(": ") + detail;
    if (result == "succeeded")
        return QStringLiteral("Succeeded");
    if (result == "failed")
        return QStringLiteral("Failed") + tail;
    if (result == "offline")
        return QStringLiteral("Backup drive offline") + tail;
    return QStringLiteral("No end seen yet");
}

QzTimelineResult TimelineResult(std::string_view result)
{
    return result == "succeeded" ? QzTimelineResult::Succeeded
        : result == "failed"     ? QzTimelineResult::Failed
        : result == "offline"    ? QzTimelineResult::Offline
                                 : QzTimelineResult::Unknown;
}

int ReadTimelineRows(sqlite3* db, std::int64_t fromMs, std::int64_t toMs, QzTimeline* t)
{
    // Sessions last less than a day; one that began the day before may
    // still reach into the period.
    HistoryStatement sessions(db,
        "SELECT started_at, ended_at, kind, destination, result, error_code, error_name FROM sessions WHERE "
        "started_at >= ?1 AND started_at <= ?2 ORDER BY started_at");
    sessions.Bind(1, Utf8(LocalText(fromMs - 86400 * 1000))).Bind(2, Utf8(LocalText(toMs)));
    std::int64_t offlineSince = -1;
    std::int64_t offlineSeen = -1;
    const auto closeSpan = [&](std::int64_t end) {
        if (offlineSince >= 0 && end > fromMs && offlineSince < toMs)
            t->offline.push_back({offlineSince, end,
                QStringLiteral("Backup drive offline\nFrom %1 to %2").arg(LocalText(offlineSince), LocalText(end))});
        offlineSince = -1;
    };
    int rc = SQLITE_ROW;
    while ((rc = sessions.Step()) == SQLITE_ROW) {
        const QString startText = Text(sessions.Text(0));
        const QString endText = Text(sessions.Text(1));
        std::int64_t start = 0;
        std::int64_t end = 0;
        if (!LocalMs(sessions.Text(0), &start))
            continue;
        end = LocalMs(sessions.Text(1), &end) ? std::max(start, end) : start;
        const std::string_view kind = sessions.Text(2);
        const QString destination = Text(sessions.Text(3));
        const std::string_view result = sessions.Text(4);
        const QVariant code = sessions.Null(5) ? QVariant() : QVariant::fromValue(sessions.Int(5));
        if (result == "offline") {
            if (offlineSince < 0)
                offlineSince = start;
            offlineSeen = std::max(offlineSeen, end);
        } else if (!result.empty() || !destination.isEmpty()) {
            closeSpan(start);
        }
        if (end < fromMs)
            continue;
        QString tip;
        if (kind == "not started") {
            tip = QStringLiteral("Scheduled backup not started, %1\nThe backup drive could not be found")
                      .arg(startText);
        } else {
            const QString what = kind.empty()
                ? QStringLiteral("Backup")
                : Text(kind).left(1).toUpper() + Text(kind).mid(1) + QStringLiteral(" backup");
            tip = what + QStringLiteral("\nStarted ") + startText;
            if (!endText.isEmpty())
                tip += QStringLiteral(", ended ") + (endText.left(10) == startText.left(10) ? endText.mid(11) : endText)
                    + QStringLiteral(" (") + Duration(end - start) + QLatin1Char(')');
            if (!destination.isEmpty())
                tip += QStringLiteral("\nTo ") + destination;
            tip += QLatin1Char('\n') + Outcome(result, code, Text(sessions.Text(6)));
        }
        t->sessions.push_back({start, end, TimelineResult(result), tip});
    }
    if (rc != SQLITE_DONE)
        return rc;
    HistoryStatement checks(db,
        "SELECT checked_at, log, status FROM checks WHERE checked_at >= ?1 AND checked_at <= ?2 ORDER BY "
        "checked_at");
    checks.Bind(1, Utf8(LocalText(fromMs))).Bind(2, Utf8(LocalText(toMs)));
    while ((rc = checks.Step()) == SQLITE_ROW) {
        const QString at = Text(checks.Text(0));
        const QString status = Text(checks.Text(2));
        std::int64_t ms = 0;
        if (!LocalMs(checks.Text(0), &ms))
            continue;
        if (offlineSince >= 0 && ms > offlineSince)
            offlineSeen = std::max(offlineSeen, ms);
        t->checks.push_back({ms, !status.isEmpty(),
            QStringLiteral("Check at %1 (%2's log)\n%3")
                .arg(at, Text(checks.Text(1)), status.isEmpty() ? QStringLiteral("No problem") : status)});
    }
    closeSpan(offlineSeen);
    return rc;
}

} // namespace

QString HistoryPath()
{
    if (gSettingsPath.isEmpty())
        return {};
    return QFileInfo(gSettingsPath).absolutePath() + QStringLiteral("/history.sqlite");
}

CheckRecord LastAnalysisCheck(bool mailSent)
{
    CheckRecord c;
    c.atMs = gQzNowHook();
    // A Mac watched over ssh keeps its history in its own folder; its rows
    // name it too, so that histories put side by side stay apart.
    c.host = QString::fromStdString(gRemoteHost);
    c.today = gLastAnalysisToday == 1;
    const std::int64_t current = QzCurrentWindowTag();
    QzSetCurrentWindow(1);
    c.status = QzTextFieldString(8);
    QzSetCurrentWindow(current);
    c.lastProblem = QzStrToCF(gLastProblem);
    c.problemFolder = QzStrToCF(gProblemFolder);
    c.errorFound = gErrorFound == 1;
    c.driveOffline = gDriveOffline == 1;
    c.spotlightConflict = gSpotlightConflict == 1;
    c.successFound = gSuccessFound == 1;
    c.backupFailed = gBackupFailed == 1;
    c.lastSuccess = Text(gLastSuccessStamp.view());
    c.mailSent = mailSent;
    return c;
}

bool RecordCheck(
    const QString& path, const CheckRecord& check, const SessionList& sessions, QString* notice, QString* error)
{
    return WithHistory(
        path, [&](sqlite3* db) { return Record(db, check, sessions); }, notice, error);
}

bool ReadHistory(const QString& path, const QString& since, History* history, QString* notice, QString* error)
{
    return WithHistory(
        path,
        [&](sqlite3* db) {
            *history = History();
            // One read transaction: both tables as of the same moment.
            int rc = HistoryExec(db, "BEGIN");
            if (rc == SQLITE_OK)
                rc = ReadRows(db,
                    "SELECT checked_at, host, log, status, last_problem, problem_folder, error_found, drive_offline, "
                    "spotlight_conflict, success_found, backup_failed, last_success, mail_sent FROM checks WHERE "
                    "checked_at >= ?1 ORDER BY checked_at DESC, id DESC",
                    since, &history->checks);
            if (rc == SQLITE_DONE)
                rc = ReadRows(db,
                    "SELECT started_at, host, destination, kind, ended_at, result, error_code, error_name FROM "
                    "sessions WHERE started_at >= ?1 ORDER BY started_at DESC, id DESC",
                    since, &history->sessions);
            HistoryExec(db, "COMMIT");
            return rc;
        },
        notice, error);
}

bool ReadTimeline(
    const QString& path, std::int64_t fromMs, std::int64_t toMs, QzTimeline* timeline, QString* notice, QString* error)
{
    return WithHistory(
        path,
        [&](sqlite3* db) {
            *timeline = QzTimeline();
            return ReadTimelineRows(db, fromMs, toMs, timeline);
        },
        notice, error);
}
