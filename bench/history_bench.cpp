// The history's reading goal: in a history of ten years of daily rows (a
// check every 30 minutes and a backup session every hour, each day, the
// rows the 400-day pruning would have taken kept), `quillaby-report
// history --since` a month before its last day answers in under 50 ms.
// Timed twice, best of nine: the reading alone in this process
// (ReadHistory), and the whole command in each form, its start included.
//
//   build/release/bench/history_bench [years]

#include "app/history.h"
#include "bench_support.h"
#include "monitor/backup_session.h"
#include "settings/state.h"

#include <QDateTime>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>

namespace {

double Best(const std::function<void()>& run)
{
    double best = 1e9;
    for (int i = 0; i < 9; ++i) {
        QElapsedTimer t;
        t.start();
        run();
        best = std::min(best, static_cast<double>(t.nsecsElapsed()) / 1e9);
    }
    return best;
}

void Row(const char* name, double seconds)
{
    std::printf("%-52s %7.1f ms   goal < 50 ms   %s\n", name, seconds * 1e3, seconds < 0.05 ? "met" : "NOT MET");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    const int years = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    int qtArgc = 1;
    BenchWorld(qtArgc, argv);
    const QString path = HistoryPath();
    QFile::remove(path);
    // The schema, through the program's own record.
    QString notice, error;
    const QDateTime last(QDate(2026, 3, 10), QTime(23, 30));
    CheckRecord first;
    first.atMs = last.addYears(-years).toMSecsSinceEpoch();
    if (!RecordCheck(path, first, SessionList(), &notice, &error))
        return std::fprintf(stderr, "%s\n", error.toUtf8().constData()), 1;
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* check = nullptr;
    sqlite3_stmt* session = nullptr;
    sqlite3_prepare_v2(db,
        "INSERT INTO checks (checked_at, host, log, status, last_problem, problem_folder, error_found, drive_offline, "
        "spotlight_conflict, success_found, backup_failed, last_success, mail_sent) VALUES (?1, '', 'today', ?2, ?2, "
        "'', ?3, 0, 0, 1, 0, ?1, 0)",
        -1, &check, nullptr);
    sqlite3_prepare_v2(db,
        "INSERT INTO sessions (host, started_at, destination, kind, ended_at, result, error_code, error_name) VALUES "
        "('', ?1, '/dev/disk3s2: /Volumes/Backup Plus/Backups.backupdb', 'automatic', ?2, ?3, NULL, '')",
        -1, &session, nullptr);
    long rows = 0;
    const auto text = [](sqlite3_stmt* s, int i, const QDateTime& t) {
        const QByteArray bytes = t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8();
        sqlite3_bind_text(s, i, bytes.constData(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    };
    for (QDateTime t = QDateTime::fromMSecsSinceEpoch(first.atMs); t <= last; t = t.addSecs(1800), ++rows) {
        const bool problem = rows % 97 == 0;
        text(check, 1, t);
        sqlite3_bind_text(check, 2, problem ? "The last problem was 'receipts.numbers'" : "", -1, SQLITE_STATIC);
        sqlite3_bind_int(check, 3, problem ? 1 : 0);
        sqlite3_step(check);
        sqlite3_reset(check);
        if (t.time().minute() == 0) {
            text(session, 1, t.addSecs(-1500));
            text(session, 2, t.addSecs(-1320));
            sqlite3_bind_text(session, 3, problem ? "failed" : "succeeded", -1, SQLITE_STATIC);
            sqlite3_step(session);
            sqlite3_reset(session);
            ++rows;
        }
    }
    sqlite3_finalize(check);
    sqlite3_finalize(session);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const QString since = last.addMonths(-1).toString(QStringLiteral("yyyy-MM-dd"));
    std::printf("%d years, %ld rows, %.0f MB; --since %s\n", years, rows,
        static_cast<double>(QFileInfo(path).size()) / 1e6, since.toUtf8().constData());

    History history;
    Row("ReadHistory, in this process", Best([&] { ReadHistory(path, since, &history, &notice, &error); }));
    std::printf("  %zu checks and %zu sessions since then\n", history.checks.rows.size(), history.sessions.rows.size());
    for (const char* format : {"text", "json", "csv"}) {
        const std::string command
            = "'" QZ_REPORT_EXE "' history --since " + since.toStdString() + " --format " + format + " > /dev/null";
        Row(("quillaby-report history --format " + std::string(format)).c_str(), Best([&] { TimeShell(command); }));
    }
    return 0;
}
