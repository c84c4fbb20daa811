// quillaby-report history and timeline: the three forms (the CSV read back by Python's csv module), --since, bad
// command lines, a damaged history said on standard error, and the timeline drawn from a known history as PNG and SVG.

#include "history_support.h"

#include "app/history.h"
#include "app/report_output.h"
#include "settings/settings.h"

#include <QDateTime>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString Local(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void Record(std::int64_t atMs, const QString& status, const SessionList& sessions)
{
    CheckRecord check;
    check.atMs = atMs;
    check.status = status;
    QString notice, error;
    ASSERT_TRUE(RecordCheck(HistoryPath(), check, sessions, &notice, &error)) << error.toStdString();
}

} // namespace

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
        Record(gQzNowHook(), status, sessions);
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
    SessionList sessions;
    const std::pair<int, SessionResult> hours[] = {{20, SessionResult::Succeeded}, {12, SessionResult::Failed},
        {8, SessionResult::Offline}, {3, SessionResult::Succeeded}};
    for (const auto& [before, result] : hours)
        AddSession(sessions, Local(now - before * h).toStdString(), Local(now - before * h + h).toStdString(), result);
    Record(now, QString(), sessions);
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
