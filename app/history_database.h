#pragma once

// The history database file, through SQLite's own C interface: one
// connection per piece of work, opened, used for one short transaction and
// closed. WAL journal, so that readers never wait for the writer; a busy
// timeout, so that the window and a report command started by cron take
// turns; the schema version in PRAGMA user_version, brought forward by the
// migrations in order. A file that cannot be opened or is damaged is moved
// aside, with a message, and a new one started.

#include <QString>

#include <cstdint>
#include <functional>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// The schema version this program writes; a file of a later one is left
// alone and not written.
inline constexpr int kHistorySchemaVersion = 1;
// How long a statement waits for another process's transaction.
inline constexpr int kHistoryBusyMs = 10000;

// One prepared statement; binds are 1-based, columns 0-based.
class HistoryStatement {
public:
    HistoryStatement(sqlite3* db, std::string_view sql);
    ~HistoryStatement();
    HistoryStatement(const HistoryStatement&) = delete;
    HistoryStatement& operator=(const HistoryStatement&) = delete;

    HistoryStatement& Bind(int i, std::string_view text);
    HistoryStatement& Bind(int i, std::int64_t n);
    HistoryStatement& BindNull(int i);
    // SQLITE_ROW, SQLITE_DONE or an error code; after SQLITE_DONE or an
    // error the statement is reset, its binds kept.
    int Step();
    // Step() until the end: SQLITE_DONE or the error.
    int Run();
    int Columns() const;
    std::string_view Name(int column) const;
    std::string_view Text(int column) const;
    std::int64_t Int(int column) const;
    bool Null(int column) const;
    // The prepare's result code when it failed, else SQLITE_OK.
    int prepared() const { return prepared_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int prepared_ = 0;
};

// Opens the database at path for one piece of work and runs `work` on it
// (inside no transaction; the work takes its own). When the file is
// damaged, it is moved aside under the lock that the program's small
// files use (path.lock), the move is said in *notice, and the work runs
// once more on a new file. False with *error when the work could not be
// done; notice and error are plain sentences for the user.
bool WithHistory(const QString& path, const std::function<int(sqlite3*)>& work, QString* notice, QString* error);

// Runs each statement of sql (no results); SQLite's result code.
int HistoryExec(sqlite3* db, const char* sql);
