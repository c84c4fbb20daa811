// The history: the sessions of fixtures of both wordings as rows, a session seen again is the same row, completed as
// its end comes into view; a damaged or unopenable file is moved aside, said, and a new one works.

#include "../monitor/monitor_support.h"
#include "history_support.h"

#include "app/history.h"
#include "app/history_database.h"
#include "monitor/state.h"

namespace {

bool Record(QString* notice = nullptr, QString* error = nullptr)
{
    QString n, e;
    return RecordCheck(HistoryPath(), LastAnalysisCheck(false), gSessions, notice ? notice : &n, error ? error : &e);
}

// Each session row oldest first, "start-end kind result code name >destination", the times without their date and
// the destination only where it changes.
std::string Sessions(int* checks = nullptr)
{
    History h;
    QString notice, error;
    EXPECT_TRUE(ReadHistory(HistoryPath(), {}, &h, &notice, &error)) << error.toStdString();
    if (checks)
        *checks = static_cast<int>(h.checks.rows.size());
    std::string out;
    QString destination;
    for (auto row = h.sessions.rows.rbegin(); row != h.sessions.rows.rend(); ++row) {
        const auto at = [&](const char* column) { return (*row)[h.sessions.columns.indexOf(QLatin1String(column))]; };
        out += at("started_at").toString().mid(11).toStdString() + "-" + at("ended_at").toString().mid(11).toStdString()
            + " " + at("kind").toString().toStdString() + " " + at("result").toString().toStdString();
        for (const char* detail : {"error_code", "error_name"})
            if (!at(detail).isNull() && !at(detail).toString().isEmpty())
                out += " " + at(detail).toString().toStdString();
        if (at("destination").toString() != destination)
            out += " >" + (destination = at("destination").toString()).toStdString();
        out += "; ";
    }
    return out;
}

void Analyse(const MonitorWorld& world, const std::string& log, bool today)
{
    world.SetLogOutput(log);
    today ? world.FetchToday() : world.FetchYesterday();
    ASSERT_TRUE(Record());
}

// The log's lines before (or from) the first one holding `text`.
std::string Cut(const std::string& log, const std::string& text, bool head)
{
    const std::size_t at = log.rfind('\n', log.find(text)) + 1;
    return head ? log.substr(0, at) : log.substr(at);
}

} // namespace

TEST(History, SessionsOfBothWordingsAreOneRowEachAndComeToTheirEnd)
{
    const std::string classic = " >/dev/disk3s2: /Volumes/Backup Plus/Backups.backupdb; ";
    const std::string enumeration = "automatic failed 312 BACKUP_FAILED_PREFLIGHT_STAGE_VOLUME_ENUMERATION";
    const struct {
        const char* fixture;
        bool recent, today;
        std::string rows;
    } cases[] = {
        {"today-failed-error-19", false, true,
            "08:12:20-08:15:01 automatic succeeded" + classic
                + "09:13:33-09:14:35 automatic offline 19 >; 10:13:16-10:14:17 automatic offline 19; 11:13:17-11:14:18 "
                  "automatic offline 19; "},
        {"today-not-starting-benign", false, true,
            "08:12:03-08:14:44 automatic succeeded" + classic
                + "09:10:11-09:14:31 manual succeeded; 10:03:40-10:04:35 manual succeeded; 11:12:30-11:15:11 automatic "
                  "succeeded; "},
        {"recent/today-failure-codes", true, true,
            "08:13:05-08:13:09 " + enumeration + " >Cedar; 09:13:05-09:13:09 " + enumeration
                + "; 10:13:06-10:13:15 automatic failed 41 BACKUP_FAILED_SOURCE_UNREADABLE; 11:13:07-11:13:11 "
                + enumeration + "; "},
        {"yesterday-with-problems", false, false,
            "08:14:47-08:17:12 automatic succeeded" + classic
                + "09:14:35-09:16:59 automatic succeeded; 10:14:47-10:16:25 automatic succeeded; 11:14:01-11:16:25 "
                  "automatic succeeded; 12:14:37-12:15:27 automatic failed 11; 13:14:41-13:17:06 automatic succeeded; "
                  "14:14:24-14:16:49 automatic succeeded; 15:14:42-15:14:42 not started offline >; 16:14:36-16:15:37 "
                  "automatic offline 19; 17:14:17-17:16:42 automatic succeeded"
                + classic + "18:14:21-18:16:46 automatic succeeded; 19:14:30-19:16:55 automatic succeeded; "},
        {"recent/yesterday-recent", true, false,
            "08:14:02-08:15:10 automatic succeeded >Cedar; 09:14:02-09:15:10 automatic succeeded; 10:14:02-10:15:10 "
            "automatic succeeded; 11:14:02-11:15:10 automatic succeeded; 12:13:04-12:13:45 automatic offline 26 "
            "BACKUP_FAILED_DISCONNECTED_NETWORK >; 13:13:04-13:13:45 automatic offline 26 "
            "BACKUP_FAILED_DISCONNECTED_NETWORK; 14:14:02-14:15:10 automatic succeeded >Cedar; 15:14:02-15:15:10 "
            "automatic succeeded; 16:13:04-16:13:25 automatic offline 70 BACKUP_FAILED_DISCONNECTED_DISK_IMAGE; "
            "17:14:02-17:15:10 automatic succeeded; 18:14:02-18:15:10 automatic succeeded; 19:13:04-19:13:08 "
                + enumeration + "; 20:14:02-20:15:10 automatic succeeded; 21:14:02-21:15:10 automatic succeeded; "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        MonitorWorld world;
        gRecentWording = c.recent ? 1 : 0;
        const std::string log = ReadFile(FixturePath(QString::fromLatin1(c.fixture) + QStringLiteral(".log")));
        // Checked twice: the second check adds its row, and no session.
        Analyse(world, log, c.today);
        Analyse(world, log, c.today);
        int checks = 0;
        EXPECT_EQ(Sessions(&checks), c.rows);
        EXPECT_EQ(checks, 2);
    }
    // A check that read up to a start, then one whose lines begin after it: the end completes that row, and the
    // lines read again add nothing.
    MonitorWorld world;
    const std::string log = ReadFile(FixturePath(QStringLiteral("today-failed-error-19.log")));
    Analyse(world, Cut(log, "11:14:18", true), true);
    EXPECT_EQ(Sessions().substr(Sessions().rfind("; 11") + 2), "11:13:17- automatic ; ");
    Analyse(world, Cut(log, "11:13:17", false), true);
    Analyse(world, log, true);
    EXPECT_EQ(Sessions(), cases[0].rows);
}

TEST(History, ADamagedOrUnopenableFileIsMovedAsideSaidAndANewOneWorks)
{
    const auto write = [](const QString& path, const std::string& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    };
    const struct {
        const char* name;
        std::function<void(const QString&)> spoil;
        bool moved, works;
    } cases[] = {
        {"garbage", [&](const QString& p) { write(p, std::string(8192, 'x')); }, true, true},
        {"damaged pages",
            [&](const QString& p) {
                std::string bytes = ReadFile(p);
                for (std::size_t i = 4096; i < bytes.size(); i += 4096)
                    bytes.replace(i, 64, 64, '\xff');
                write(p, bytes);
            },
            true, true},
        {"a folder", [](const QString& p) { QFile::remove(p), QDir().mkpath(p + QStringLiteral("/inside")); }, true,
            true},
        {"empty", [&](const QString& p) { write(p, ""); }, false, true},
        {"of a later version", [](const QString& p) { Sql(p, "PRAGMA user_version = 99"); }, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MonitorWorld world;
        Analyse(world, ReadFile(FixturePath(QStringLiteral("today-failed-error-19.log"))), true);
        const QString path = HistoryPath();
        c.spoil(path);
        QString notice, error;
        EXPECT_EQ(Record(&notice, &error), c.works) << error.toStdString();
        const QStringList aside
            = QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral("history.sqlite.damaged-*")});
        EXPECT_EQ(aside.size(), c.moved ? 1 : 0);
        EXPECT_EQ(notice.contains(QStringLiteral(" was moved to ")), c.moved) << notice.toStdString();
        EXPECT_EQ(error.contains(QStringLiteral("later version of Quillaby")), !c.works) << error.toStdString();
        int checks = 0;
        if (c.works) {
            EXPECT_EQ(Sessions(&checks).substr(0, 9), "08:12:20-");
        }
        EXPECT_EQ(checks, c.works ? 1 : 0);
    }
}
