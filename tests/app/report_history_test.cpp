// quillaby-report history and timeline: the three forms (the CSV read back by Python's csv module), --since, bad
// command lines, a damaged history said on standard error, and the timeline drawn from a known history as PNG and SVG.

#include "history_support.h"
#include "test_support.h"

#include "app/history.h"
#include "app/report_output.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

struct Outcome {
    int code = -1;
    QByteArray out, err;
};

Outcome Command(
    const QStringList& args, const QByteArray& input = {}, const QString& program = QStringLiteral(QZ_REPORT_EXE))
{
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
        p.readAllStandardError()};
}

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

TEST(ReportHistory, FormsSinceBadCommandLinesAndADamagedFile)
{
    Sandbox sandbox;
    TestClock clock;
    LoadSettings();
    const QString status = QStringLiteral("say \"a, b\"\nnext");
    for (const char* at : {"2026-03-09 12:00:00", "2026-03-10 12:00:00"}) {
        TestClock::SetLocal(at);
        SessionList sessions;
        AddSession(sessions, at, at, SessionResult::Succeeded, "Disk, \"One\"");
        Record(gQzNowHook(), status, sessions);
    }
    // CSV: one header, every record as wide, the fields as written.
    const Outcome csv = Command({QStringLiteral("history"), QStringLiteral("--format"), QStringLiteral("csv")});
    ASSERT_EQ(csv.code, 0) << csv.err.toStdString();
    EXPECT_TRUE(csv.out.endsWith("\r\n"));
    const QJsonArray rows
        = QJsonDocument::fromJson(Command({QStringLiteral("-c"),
                                              QStringLiteral("import csv, io, json, sys; print(json.dumps("
                                                             "list(csv.reader(io.TextIOWrapper(sys.stdin."
                                                             "buffer, newline='')))))")},
                                      csv.out, QStringLiteral("/usr/bin/python3"))
                                      .out)
              .array();
    ASSERT_EQ(rows.size(), 5);
    const QVariantList header = rows[0].toArray().toVariantList();
    for (const QJsonValue& row : rows)
        EXPECT_EQ(row.toArray().size(), header.size());
    EXPECT_EQ(rows[1].toArray()[header.indexOf(QStringLiteral("status"))].toString(), status);
    EXPECT_EQ(
        rows[4].toArray()[header.indexOf(QStringLiteral("destination"))].toString(), QStringLiteral("Disk, \"One\""));
    EXPECT_EQ(rows[4].toArray()[0].toString(), QStringLiteral("session"));
    // JSON since a day: that day's check and session.
    const QJsonObject json = QJsonDocument::fromJson(
        Command({QStringLiteral("history"), QStringLiteral("--since=2026-03-10"), QStringLiteral("--format=json")}).out)
                                 .object();
    EXPECT_EQ(json[QStringLiteral("checks")].toArray().size(), 1);
    EXPECT_EQ(json[QStringLiteral("sessions")].toArray()[0][QStringLiteral("started_at")].toString(),
        QStringLiteral("2026-03-10 12:00:00"));
    const Outcome text = Command({QStringLiteral("history")});
    EXPECT_TRUE(text.out.startsWith("Checks, newest first:\nChecked at ")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains("say \"a, b\" next")) << text.out.toStdString();
    for (const char* bad : {"history --since 2026-3-10", "history --since", "history --format xml", "history now",
             "timeline", "timeline --days 0 --output x.png", "timeline --output x.gif"})
        EXPECT_EQ(Command(QString::fromLatin1(bad).split(QLatin1Char(' '))).code, kReportUsageError) << bad;
    // A damaged file: said, moved aside, and a new history started.
    sandbox.Write(QStringLiteral(".local/share/Quillaby/history.sqlite"), std::string(4096, 'x'));
    const Outcome moved = Command({QStringLiteral("history")});
    EXPECT_EQ(moved.code, 0);
    EXPECT_TRUE(moved.err.contains("It was moved to ")) << moved.err.toStdString();
    EXPECT_TRUE(moved.out.contains("Backup sessions, newest first:\nStarted ")) << moved.out.toStdString();
}

TEST(ReportHistory, TimelineFromAKnownHistoryAsPngAndSvg)
{
    Sandbox sandbox;
    LoadSettings();
    // The command draws the day that ends at its own now, a moment after this one.
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
    ASSERT_EQ(Command({QStringLiteral("timeline"), QStringLiteral("--output"), png}).code, 0);
    ASSERT_EQ(Command({QStringLiteral("timeline"), QStringLiteral("--days"), QStringLiteral("7"),
                          QStringLiteral("--output"), svg})
                  .code,
        0);
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
