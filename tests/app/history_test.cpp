// The history's rows, damaged files, the timeline strip, the report's history forms, and writers under SIGKILL.

#include "../monitor/monitor_support.h"
#include "runtime/ui_support.h"
#include "runtime/widgets_p.h"

#include "app/history.h"
#include "app/history_step.h"
#include "app/report_output.h"
#include "monitor/state.h"
#include "settings/settings.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QToolTip>

#include <atomic>
#include <set>

namespace {

// Adds a session from start to end ("YYYY-MM-DD HH:MM:SS"; an empty end: not seen) to the list.
void AddSession(SessionList& list, const std::string& start, const std::string& end, SessionResult result,
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

// A check of only a time and a status line.
CheckRecord Check(std::int64_t atMs, const QString& status = {})
{
    CheckRecord check;
    check.atMs = atMs;
    check.status = status;
    return check;
}

bool Record(const CheckRecord& check, const SessionList& sessions, QString* notice = nullptr, QString* error = nullptr)
{
    QString n, e;
    return RecordCheck(HistoryPath(), check, sessions, notice ? notice : &n, error ? error : &e);
}

// Session rows oldest first: "start-end kind result code name >destination" (times of day; a changed destination).
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
    ASSERT_TRUE(Record(LastAnalysisCheck(false), gSessions));
}

// The log's lines before (or from) the first one holding `text`.
std::string Cut(const std::string& log, const std::string& text, bool head)
{
    const std::size_t at = log.rfind('\n', log.find(text)) + 1;
    return head ? log.substr(0, at) : log.substr(at);
}

#ifdef __SANITIZE_ADDRESS__
constexpr int kKills = 60;
#else
constexpr int kKills = 300;
#endif
constexpr int kWriters = 3;
constexpr int kReaders = 2;
constexpr int kSlots = kWriters + kKills + 1;

struct Counters {
    std::atomic<long> committed[kSlots]; // the last check that writer slot saw committed
    std::atomic<long> reads, bad;
};
Counters* gCounters = nullptr;

// Writer `slot`'s check n ("wS nN") with a session of its own ("wS/nN.") and two that every writer completes.
bool Write(int slot, long n)
{
    SessionList sessions;
    AddSession(sessions, "2026-03-10 09:00:00", "2026-03-10 09:00:00", SessionResult::Succeeded,
        "w" + std::to_string(slot) + "/n" + std::to_string(n) + ".");
    AddSession(sessions, "2026-03-10 10:00:00", "2026-03-10 10:00:00",
        n % 2 ? SessionResult::Failed : SessionResult::Succeeded, "shared");
    AddSession(sessions, "2026-03-10 11:00:00", "", SessionResult::Unknown);
    return Record(Check(gQzNowHook(), QStringLiteral("w%1 n%2").arg(slot).arg(n)), sessions);
}

// The (writer slot, check number) of the checks and of the writers' own sessions one read holds.
struct Seen {
    std::set<std::pair<int, long>> checks, sessions;
};

bool Read(Seen* seen)
{
    History h;
    QString notice, error;
    if (!ReadHistory(HistoryPath(), {}, &h, &notice, &error))
        return false;
    for (const QVariantList& row : h.checks.rows) {
        const QStringList parts
            = row[h.checks.columns.indexOf(QStringLiteral("status"))].toString().split(QLatin1Char(' '));
        seen->checks.insert({parts[0].mid(1).toInt(), parts[1].mid(1).toLong()});
    }
    for (const QVariantList& row : h.sessions.rows) {
        const QString d = row[h.sessions.columns.indexOf(QStringLiteral("destination"))].toString();
        if (d.startsWith(QLatin1Char('w')))
            seen->sessions.insert({d.section(QLatin1Char('/'), 0, 0).mid(1).toInt(),
                d.section(QLatin1Char('/'), 1).mid(1).chopped(1).toLong()});
    }
    return true;
}

// Whole transactions: each check with its session, and each writer's checks 1 to its last without a gap.
bool Whole(const Seen& seen)
{
    return seen.checks == seen.sessions && std::all_of(seen.checks.begin(), seen.checks.end(), [&seen](const auto& c) {
        return c.second == 1 || seen.checks.count({c.first, c.second - 1}) == 1;
    });
}

// A reader (slot -1) or a writer that tries each check again until it commits.
std::function<void()> Child(int slot)
{
    return [slot, n = 1L]() mutable {
        Seen seen;
        if (slot < 0 && Read(&seen)) {
            gCounters->bad += Whole(seen) ? 0 : 1;
            ++gCounters->reads;
        } else if (slot >= 0 && Write(slot, n)) {
            gCounters->committed[slot] = n++;
        }
    };
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
    // A check read up to a start, then one from after it: the end completes that row; lines read again add nothing.
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
        EXPECT_EQ(Record(LastAnalysisCheck(false), gSessions, &notice, &error), c.works) << error.toStdString();
        const QStringList aside
            = QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral("history.sqlite.damaged-*")});
        EXPECT_EQ(aside.size(), c.moved ? 1 : 0);
        EXPECT_EQ(notice.contains(QStringLiteral(" was moved to ")), c.moved) << notice.toStdString();
        EXPECT_EQ(error.contains(QStringLiteral("later version of Quillaby")), !c.works) << error.toStdString();
        int checks = 0;
        EXPECT_TRUE(!c.works || Sessions(&checks).starts_with("08:12:20-"));
        EXPECT_EQ(checks, c.works ? 1 : 0);
    }
}

// Each test that builds the main window resets gMainWindowBuilt itself (MonitorWorld does).
using TimelineStrip = UiTest;

TEST_F(TimelineStrip, SitsBelowTheReportAndShowsEachCheckWithItsSessions)
{
    for (const char* nib : {"MainWindow.ui", "MainMenu.ui"})
        UseAppResource(QString::fromLatin1(nib));
    MonitorWorld world;
    BuildTimelineStrip();
    QWidget* window = QzWindowByTag(1);
    const auto frame = [&](std::int64_t tag) { return QzFindView(window, tag)->geometry(); };
    EXPECT_EQ(QzContentView(window)->height(), 652);
    EXPECT_EQ(frame(2), QRect(10, 60, 585, 325)); // the report area, where it was
    EXPECT_EQ(frame(kTimelineTag), QRect(10, 391, 585, 104));
    EXPECT_EQ(frame(6).topLeft(), QPoint(10, 510)); // Current Log, and the buttons beside and below it, 112 lower
    EXPECT_EQ(frame(15).topLeft() - frame(6).topLeft(), QPoint(444, 80));

    world.SetLogOutput(ReadFile(FixturePath(QStringLiteral("today-failed-error-19.log"))));
    world.Run({{"today=1 Tick() Tick() Tick() success==1"}});
    QWidget* strip = QzFindView(window, kTimelineTag);
    QStringList tips;
    for (int x = 0; x < strip->width(); x += 2) {
        QHelpEvent hover(QEvent::ToolTip, QPoint(x, 50), strip->mapToGlobal(QPoint(x, 50)));
        QCoreApplication::sendEvent(strip, &hover);
        if (!tips.contains(QToolTip::text()) && !QToolTip::text().isEmpty())
            tips << QToolTip::text();
    }
    QToolTip::hideText();
    const QString tip = QStringLiteral("Automatic backup\nStarted 2026-03-10 08:12:20, ended 08:15:01 (2 min 41 s)\n"
                                       "To /dev/disk3s2: /Volumes/Backup Plus/Backups.backupdb\nSucceeded");
    EXPECT_TRUE(tips.contains(tip)) << tips.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(tips.contains(QStringLiteral("Check at 2026-03-10 12:00:00 (today's log)\nBackup drive offline")))
        << tips.join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(tips.filter(QStringLiteral("Backup drive offline: error 19")).size(), 3);
}

// SIGKILL at random on writers and readers: reads see whole transactions; the file stays sound and keeps every commit.
TEST(HistoryUnderKill, ReadsSeeWholeTransactionsAndNoCommittedCheckIsLost)
{
    Sandbox sandbox;
    TestClock clock;
    const auto data = KillTestData();
    LoadSettings();
    gCounters = SharedWithChildren<Counters>();
    ASSERT_NE(gCounters, nullptr);
    // Writers take a new slot at each start; readers are slot -1.
    int nextSlot = 0;
    EXPECT_EQ(KillAtRandom(kWriters + kReaders, kWriters + kReaders, kKills, 20261207, 3000,
                  [&](int i) { return Child(i < kWriters ? nextSlot++ : -1); }),
        0);
    EXPECT_EQ(gCounters->bad.load(), 0);
    EXPECT_GT(gCounters->reads.load(), 0);

    EXPECT_EQ(Sql(HistoryPath(), "PRAGMA integrity_check"), "ok");
    Seen seen;
    ASSERT_TRUE(Read(&seen));
    EXPECT_TRUE(Whole(seen));
    long committed = 0;
    for (int slot = 0; slot < nextSlot; ++slot) {
        const long last = gCounters->committed[slot].load();
        committed += last;
        // Every committed check is there; one more may have committed before its count was kept.
        long held = 0;
        while (seen.checks.count({slot, held + 1}))
            ++held;
        EXPECT_TRUE(held == last || held == last + 1) << "writer " << slot << ": " << held << " of " << last;
    }
    EXPECT_GT(committed, kKills);
}

// quillaby-report history (CSV read by Python's csv, JSON, text), --since, bad lines, a damaged file, the timeline.
TEST(ReportHistory, FormsSinceBadCommandLinesADamagedFileAndTheTimeline)
{
    Sandbox sandbox;
    LoadSettings();
    const QString status = QStringLiteral("say \"a, b\"\nnext");
    for (const char* at : {"2026-03-09 12:00:00", "2026-03-10 12:00:00"}) {
        TestClock clock;
        TestClock::SetLocal(at);
        SessionList sessions;
        AddSession(sessions, at, at, SessionResult::Succeeded, "Disk, \"One\"");
        ASSERT_TRUE(Record(Check(gQzNowHook(), status), sessions));
    }
    // CSV through Python's csv module: one header, every record as wide, the fields as written, CR LF ends.
    const ShResult csv = Sh("'" QZ_REPORT_EXE "' history --format csv > \"$HOME/csv\" && python3 -c \"import csv, io, "
                            "json, sys; b = sys.stdin.buffer.read(); print(json.dumps([b.endswith(b'\\r\\n')] + "
                            "list(csv.reader(io.StringIO(b.decode(), newline='')))))\" < \"$HOME/csv\"");
    const QJsonArray rows = QJsonDocument::fromJson(QByteArray::fromStdString(csv.out)).array();
    ASSERT_EQ(rows.size(), 6) << csv.out << csv.err;
    EXPECT_TRUE(rows[0].toBool());
    const QVariantList header = rows[1].toArray().toVariantList();
    for (int i = 2; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].toArray().size(), header.size());
    EXPECT_EQ(rows[2][header.indexOf(QStringLiteral("status"))].toString(), status);
    EXPECT_EQ(rows[5][header.indexOf(QStringLiteral("destination"))].toString(), QStringLiteral("Disk, \"One\""));
    EXPECT_EQ(rows[5][0].toString(), QStringLiteral("session"));
    // JSON since a day: that day's check and session.
    const QJsonObject json
        = QJsonDocument::fromJson(QByteArray::fromStdString(Report("history --since=2026-03-10 --format=json").out))
              .object();
    EXPECT_EQ(json[QStringLiteral("checks")].toArray().size(), 1);
    EXPECT_EQ(json[QStringLiteral("sessions")].toArray()[0][QStringLiteral("started_at")].toString(),
        QStringLiteral("2026-03-10 12:00:00"));
    const std::string text = Report("history").out;
    EXPECT_EQ(text.rfind("Checks, newest first:\nChecked at ", 0), 0u) << text;
    EXPECT_NE(text.find("say \"a, b\" next"), std::string::npos) << text;
    for (const char* bad : {"history --since 2026-3-10", "history --since", "history --format xml", "history now",
             "timeline", "timeline --days 0 --output x.png", "timeline --output x.gif"})
        EXPECT_EQ(Report(bad).code, kReportUsageError) << bad;
    // A damaged file: said, moved aside, and a new history started.
    sandbox.Write(QStringLiteral(".local/share/Quillaby/history.sqlite"), std::string(4096, 'x'));
    const ShResult moved = Report("history");
    EXPECT_EQ(moved.code, 0);
    EXPECT_NE(moved.err.find("It was moved to "), std::string::npos) << moved.err;
    EXPECT_NE(moved.out.find("Backup sessions, newest first:\nStarted "), std::string::npos) << moved.out;

    // The timeline of a known history. The command draws the day that ends at its own now, a moment after this one.
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    const std::int64_t h = 3600 * 1000;
    const auto local = [](std::int64_t ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
    };
    SessionList sessions;
    const std::pair<int, SessionResult> hours[] = {{20, SessionResult::Succeeded}, {12, SessionResult::Failed},
        {8, SessionResult::Offline}, {3, SessionResult::Succeeded}};
    for (const auto& [before, result] : hours)
        AddSession(sessions, local(now - before * h), local(now - before * h + h), result);
    ASSERT_TRUE(Record(Check(now), sessions));
    const QString png = sandbox.path() + QStringLiteral("/t.png");
    const QString svg = sandbox.path() + QStringLiteral("/t.svg");
    ASSERT_EQ(Report("timeline --output '" + png.toStdString() + "'").code, 0);
    ASSERT_EQ(Report("timeline --days 7 --output '" + svg.toStdString() + "'").code, 0);
    EXPECT_TRUE(ReadFile(svg).find("<svg") != std::string::npos);
    EXPECT_TRUE(ReadFile(svg).find("the last 7 days") != std::string::npos);

    // At twice the size: the band from x 24 to 1896 (the day and a fiftieth more) and y 68 to 240, the bars across
    // its middle, an offline span filling its height from the offline session to the next one that reached the drive.
    const QImage image(png);
    ASSERT_EQ(image.size(), QSize(1920, 300));
    const auto at = [&](double hoursBefore, double y) {
        return image.pixelColor(
            static_cast<int>(24 + 1872 * (24 - hoursBefore) / (24 * 1.02)), static_cast<int>(68 + 172 * y));
    };
    const auto grey = [](const QColor& c, int level) {
        return std::abs(c.red() - level) < 12 && std::abs(c.green() - level) < 12 && std::abs(c.blue() - level) < 12;
    };
    const auto green = [](const QColor& c) { return c.green() > c.red() + 60 && c.green() > c.blue() + 60; };
    const QColor failed = at(11.5, 0.6);
    EXPECT_TRUE(green(at(19.5, 0.6)) && green(at(2.5, 0.6)));
    EXPECT_TRUE(failed.red() > failed.green() + 80 && failed.red() > failed.blue() + 80);
    EXPECT_TRUE(grey(at(7.5, 0.6), 0x80)); // the offline session
    EXPECT_TRUE(grey(at(5, 0.15), 0xdc)); // offline until the session three hours ago
    EXPECT_TRUE(grey(at(15, 0.15), 0xfa) && grey(at(15, 0.6), 0xfa)); // nothing known
    EXPECT_TRUE(grey(at(2.5, 0.15), 0xfa)); // the drive was back
}
