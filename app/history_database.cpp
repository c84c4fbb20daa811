#include "app/history_database.h"

#include "settings/settings.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>
#include <string>
#include <unistd.h>

namespace {

// The schema, one step per version: step v brings version v to v + 1.
// Times are the log's own, local "YYYY-MM-DD HH:MM:SS"; host is empty for
// this Mac.
const char* const kMigrations[] = {
    R"(CREATE TABLE checks (
        id INTEGER PRIMARY KEY,
        checked_at TEXT NOT NULL,
        host TEXT NOT NULL DEFAULT '',
        log TEXT NOT NULL,
        status TEXT NOT NULL,
        last_problem TEXT NOT NULL,
        problem_folder TEXT NOT NULL,
        error_found INTEGER NOT NULL,
        drive_offline INTEGER NOT NULL,
        spotlight_conflict INTEGER NOT NULL,
        success_found INTEGER NOT NULL,
        backup_failed INTEGER NOT NULL,
        last_success TEXT NOT NULL,
        mail_sent INTEGER NOT NULL);
    CREATE INDEX checks_by_time ON checks (checked_at);
    CREATE TABLE sessions (
        id INTEGER PRIMARY KEY,
        host TEXT NOT NULL DEFAULT '',
        started_at TEXT NOT NULL,
        destination TEXT NOT NULL,
        kind TEXT NOT NULL,
        ended_at TEXT NOT NULL,
        result TEXT NOT NULL,
        error_code INTEGER,
        error_name TEXT NOT NULL,
        UNIQUE (host, started_at, destination));
    CREATE INDEX sessions_by_start ON sessions (started_at);)",
};
static_assert(std::size(kMigrations) == kHistorySchemaVersion, "one migration per schema version");

// The result code that says a file is of a later schema than this program's.
constexpr int kLaterSchema = SQLITE_READONLY;

// The file itself is at fault: it cannot be opened, is not a database or
// is damaged.
bool Damaged(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_CANTOPEN;
}

struct Connection {
    sqlite3* db = nullptr;
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { Close(); }
    void Close()
    {
        sqlite3_close_v2(db);
        db = nullptr;
    }
};

int UserVersion(sqlite3* db, int* version)
{
    HistoryStatement s(db, "PRAGMA user_version");
    const int rc = s.Step();
    if (rc == SQLITE_ROW)
        *version = static_cast<int>(s.Int(0));
    return rc == SQLITE_ROW ? SQLITE_OK : rc;
}

// Brings the schema to this program's version in one transaction; another
// process that does the same at once waits for it and then finds it done.
int Migrate(sqlite3* db)
{
    int version = 0;
    int rc = UserVersion(db, &version);
    if (rc != SQLITE_OK || version == kHistorySchemaVersion)
        return rc;
    if (version > kHistorySchemaVersion)
        return kLaterSchema;
    if ((rc = HistoryExec(db, "BEGIN IMMEDIATE")) != SQLITE_OK)
        return rc;
    rc = UserVersion(db, &version);
    for (; rc == SQLITE_OK && version < kHistorySchemaVersion; ++version)
        rc = HistoryExec(db, kMigrations[version]);
    if (rc == SQLITE_OK && version == kHistorySchemaVersion)
        rc = HistoryExec(db, ("PRAGMA user_version = " + std::to_string(version) + "; COMMIT").c_str());
    if (rc != SQLITE_OK)
        HistoryExec(db, "ROLLBACK");
    return rc;
}

int Open(const QString& path, Connection& c)
{
    const int rc = sqlite3_open_v2(
        QFile::encodeName(path).constData(), &c.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    sqlite3_extended_result_codes(c.db, 1);
    sqlite3_busy_timeout(c.db, kHistoryBusyMs);
    // In WAL mode a commit that a kill interrupts is rolled back at the next
    // opening, and one that ended survives the process; NORMAL syncs at the
    // checkpoints, so that only a power cut can take the last few checks.
    const int wal = HistoryExec(c.db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL");
    return wal != SQLITE_OK ? wal : Migrate(c.db);
}

int QuickCheck(sqlite3* db)
{
    HistoryStatement s(db, "PRAGMA quick_check(1)");
    const int rc = s.Step();
    if (rc != SQLITE_ROW)
        return rc;
    return s.Text(0) == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
}

QString Explain(int code, sqlite3* db)
{
    if (code == kLaterSchema)
        return QStringLiteral("it was written by a later version of Quillaby");
    const char* text = db && sqlite3_extended_errcode(db) == code ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    return QString::fromUtf8(text);
}

// Moves a damaged file aside (and its WAL, which belongs to it), unless it
// turns out, under the lock, to be whole: another process moved it first.
// True when the work may be tried again on the path.
bool MoveAside(const QString& path, const QString& why, QString* notice, QString* error)
{
    const int lock = LockSmallFile(path, kHistoryBusyMs);
    Connection probe;
    int rc = Open(path, probe);
    if (rc == SQLITE_OK)
        rc = QuickCheck(probe.db);
    probe.Close();
    bool moved = false;
    if (Damaged(rc)) {
        const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        QString aside = path + QStringLiteral(".damaged-") + stamp;
        for (int n = 2; QFileInfo::exists(aside); ++n)
            aside = path + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
        const QByteArray from = QFile::encodeName(path);
        const QByteArray to = QFile::encodeName(aside);
        moved = rename(from.constData(), to.constData()) == 0;
        if (moved) {
            rename((from + "-wal").constData(), (to + "-wal").constData());
            unlink((from + "-shm").constData());
            *notice = QStringLiteral("The history %1 could not be read (%2). It was moved to %3 and a new history "
                                     "was started.")
                          .arg(path, why, aside);
        } else {
            *error = QStringLiteral("The history %1 could not be read (%2), nor moved aside.").arg(path, why);
        }
    }
    if (lock >= 0)
        close(lock);
    return moved || !Damaged(rc);
}

} // namespace

HistoryStatement::HistoryStatement(sqlite3* db, std::string_view sql)
{
    prepared_ = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
}

HistoryStatement::~HistoryStatement()
{
    sqlite3_finalize(stmt_);
}

HistoryStatement& HistoryStatement::Bind(int i, std::string_view text)
{
    // An empty view may point nowhere, which SQLite would take for NULL.
    sqlite3_bind_text(stmt_, i, text.empty() ? "" : text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

HistoryStatement& HistoryStatement::Bind(int i, std::int64_t n)
{
    sqlite3_bind_int64(stmt_, i, n);
    return *this;
}

HistoryStatement& HistoryStatement::BindNull(int i)
{
    sqlite3_bind_null(stmt_, i);
    return *this;
}

int HistoryStatement::Step()
{
    if (prepared_ != SQLITE_OK)
        return prepared_;
    const int rc = sqlite3_step(stmt_);
    if (rc != SQLITE_ROW)
        sqlite3_reset(stmt_);
    return rc;
}

int HistoryStatement::Run()
{
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW)
        rc = Step();
    return rc;
}

int HistoryStatement::Columns() const
{
    return sqlite3_column_count(stmt_);
}

std::string_view HistoryStatement::Name(int column) const
{
    const char* name = sqlite3_column_name(stmt_, column);
    return name ? std::string_view(name) : std::string_view();
}

std::string_view HistoryStatement::Text(int column) const
{
    const auto* text = sqlite3_column_text(stmt_, column);
    return text ? std::string_view(
               reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string_view();
}

std::int64_t HistoryStatement::Int(int column) const
{
    return sqlite3_column_int64(stmt_, column);
}

bool HistoryStatement::Null(int column) const
{
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

int HistoryExec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

bool WithHistory(const QString& path, const std::function<int(sqlite3*)>& work, QString* notice, QString* error)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        Connection c;
        int rc = Open(path, c);
        if (rc == SQLITE_OK) {
            rc = work(c.db);
            if (rc == SQLITE_DONE)
                rc = SQLITE_OK;
        }
        if (rc == SQLITE_OK)
            return true;
        const QString why = Explain(rc, c.db);
        c.Close();
        // A missing folder is no damage of the file.
        if (attempt == 1 || !Damaged(rc) || !QFileInfo::exists(path) || !MoveAside(path, why, notice, error)) {
            if (error->isEmpty())
                *error = QStringLiteral("The history %1 could not be used (%2).").arg(path, why);
            return false;
        }
    }
    return false;
}
