#pragma once

#include "test_support.h"

#include "monitor/backup_session.h"

#include <sqlite3.h>

// Adds a session from start to end ("YYYY-MM-DD HH:MM:SS"; an empty end: not seen) to the list.
inline void AddSession(SessionList& list, const std::string& start, const std::string& end, SessionResult result,
    const std::string& destination = {})
{
    BackupSession& s = list.ring[list.count++ % SessionList::kMaxSessions];
    s = BackupSession();
    for (const auto& [text, stamp] : {std::pair {&start, &s.start}, {&end, &s.end}}) {
        stamp->known = text->size() == 19;
        std::copy_n(text->data(), std::min<std::size_t>(19, text->size()), stamp->text.begin());
    }
    s.kind = SessionKind::Automatic;
    s.result = result;
    s.destination = ShortString::FromView(destination);
}

// The first column of every row the SQL gives in the database at path, one after another.
inline std::string Sql(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    std::string out;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_exec(
        db, sql, [](void* o, int, char** values, char**) { return *static_cast<std::string*>(o) += values[0], 0; },
        &out, nullptr);
    sqlite3_close(db);
    return out;
}
