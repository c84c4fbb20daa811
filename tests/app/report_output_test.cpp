#include "../monitor/monitor_support.h"
#include "exposition_support.h"

#include "app/report_output.h"
#include "monitor/state.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

namespace {

const std::string kT = "2026-03-10 10:15:03";
constexpr double kSuccessSeconds = 1773137703; // kT in UTC, the tests' time zone
constexpr double kNowSeconds = 1773144000; // the test clock: 2026-03-10 12:00:00 UTC

// A line of the monitoring-plugins guidelines: state, text without "|",
// then space-separated 'label'=value[UOM];[warn];[crit];[min];[max].
const QRegularExpression kNagiosLine(
    QStringLiteral("^QUILLABY (OK|WARNING|CRITICAL|UNKNOWN) - [^|\\n]+ \\| "
                   "(('[^'=]+'|[^'= ]+)=-?\\d+(\\.\\d+)?(s|ms|us|%|B|KB|MB|TB|c)?(;(-?\\d+(\\.\\d+)?)?){0,4})"
                   "( ('[^'=]+'|[^'= ]+)=-?\\d+(\\.\\d+)?(s|ms|us|%|B|KB|MB|TB|c)?(;(-?\\d+(\\.\\d+)?)?){0,4})*\\n$"));

QJsonObject Today()
{
    return {{QStringLiteral("log"), QStringLiteral("today")}};
}

} // namespace

TEST(ReportOutput, EachOutcomeInPrometheusAndNagios)
{
    const std::string success = LogEntry(kT, "Backup completed successfully.");
    const std::string later = "2026-03-10 11:00:00";
    const auto log = [](int filler, const std::vector<std::string>& entries) {
        std::vector<std::string> all = Filler(filler);
        all.insert(all.end(), entries.begin(), entries.end());
        return all;
    };
    struct Case {
        const char* name;
        std::vector<std::string> entries;
        int exit;
        const char* nagios;
        int nagiosCode;
        const char* problem; // nullptr: no problem_info sample
        double offline;
        bool success;
        int problemLines;
    };
    const Case cases[] = {
        {"nothing", log(60, {success}), 0, "OK - no Time Machine errors", 0, nullptr, 0, true, 0},
        {"problem",
            log(60,
                {success, LogEntry(later, "Error: (-36) SrcErr:NO Copying /Users/a/.DS_Store to /Volumes/Backup/x")}),
            1, "WARNING - The last problem was '.DS_Store' (Invisible)", 1, ".DS_Store", 0, true, 1},
        {"offline", log(60, {success, LogEntry(later, "Backup failed with error: 19")}), 1,
            "CRITICAL - Backup drive offline", 2, "Backup drive offline", 1, true, 1},
        {"failed",
            log(60,
                {success, LogEntry(later, "Error: (-8084) Copying failed"),
                    LogEntry(later, "Backup failed with error: 11")}),
            1, "CRITICAL - Error: (-8084) Copying failed", 2, nullptr, 0, true, 3},
        {"no success line", log(60, {}), 1, "WARNING - No successful backups reported in the current log", 1,
            "No successful backups reported in the current log", 0, false, 0},
        {"log unavailable", log(10, {}), 2, "UNKNOWN - No successful backups reported in the current log", 3,
            "No successful backups reported in the current log", 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MonitorWorld world;
        gDriveOffline = 0; // carried from the previous analysis
        world.SetLogOutput(LogOutput(c.entries));
        world.FetchToday();
        const std::string report = gReport.bytes;
        const QString status = ReportFinalStatus(MonitorWorld::Status(), report);
        EXPECT_EQ(ReportExitStatus(status), c.exit) << status.toStdString();

        const QString nagios = QString::fromUtf8(ReportNagios(report, status));
        EXPECT_TRUE(kNagiosLine.match(nagios).hasMatch()) << nagios.toStdString();
        EXPECT_TRUE(nagios.startsWith(QStringLiteral("QUILLABY ") + QLatin1String(c.nagios) + QStringLiteral(" | ")))
            << nagios.toStdString();
        EXPECT_EQ(NagiosState(report, status), c.nagiosCode);
        EXPECT_TRUE(nagios.contains(QStringLiteral("problem_lines=%1;;;0").arg(c.problemLines)))
            << nagios.toStdString();
        EXPECT_EQ(nagios.contains(QStringLiteral("last_success_age=6297s;;;0 ")), c.success) << nagios.toStdString();

        const QJsonArray families = ParseExposition(ReportPrometheus(QStringLiteral("today"), report, status));
        EXPECT_EQ(SampleValue(families, QStringLiteral("quillaby_status"), Today()), c.exit);
        EXPECT_EQ(SampleValue(families, QStringLiteral("quillaby_drive_offline"), Today()), c.offline);
        EXPECT_EQ(SampleValue(families, QStringLiteral("quillaby_success_found"), Today()), c.success ? 1 : 0);
        EXPECT_EQ(SampleValue(families, QStringLiteral("quillaby_error_found"), Today()), gErrorFound);
        EXPECT_EQ(SampleValue(families, QStringLiteral("quillaby_spotlight_conflict"), Today()), 0);
        EXPECT_EQ(
            SampleValue(families, QStringLiteral("quillaby_last_backup_day_of_year"), Today()), c.success ? 69 : 68);
        EXPECT_EQ(SampleValue(families, QStringLiteral("quillaby_run_timestamp_seconds"), Today()), kNowSeconds);
        EXPECT_EQ(SampleValue(families, QStringLiteral("quillaby_last_success_timestamp_seconds"), Today()),
            c.success ? std::optional<double>(kSuccessSeconds) : std::nullopt);
        if (c.problem) {
            EXPECT_EQ(SampleValue(families, QStringLiteral("quillaby_problem_info"),
                          {{QStringLiteral("problem"), QLatin1String(c.problem)},
                              {QStringLiteral("log"), QStringLiteral("today")}}),
                1);
        } else if (c.exit == 0) {
            EXPECT_FALSE(SampleValue(families, QStringLiteral("quillaby_problem_info")));
        }
        for (const auto& family : families) {
            EXPECT_EQ(family.toObject().value(QStringLiteral("type")).toString(), QStringLiteral("gauge"));
            EXPECT_FALSE(family.toObject().value(QStringLiteral("help")).toString().isEmpty());
        }
    }
}

TEST(ReportOutput, ExitStatusFollowsTheFinalStatus)
{
    struct Case {
        const char* status;
        std::uint8_t tooFew;
        int exit;
    };
    const Case cases[] = {
        {"", 1, 0},
        {"Unable to get today's error log", 0, 2},
        {"Yesterday's log is not available", 0, 2},
        {"No successful backups reported in the current log", 1, 2},
        {"No successful backups reported in the current log", 0, 1},
        {"Backup drive offline", 1, 1},
        {"The last problem yesterday was 'Error: 5'", 0, 1},
    };
    for (const Case& c : cases) {
        gTooFewLines = c.tooFew;
        EXPECT_EQ(ReportExitStatus(QLatin1String(c.status)), c.exit) << c.status;
    }
    EXPECT_EQ(ReportFinalStatus({}, "\r\nYesterday's log is not available\r\n"),
        QStringLiteral("Yesterday's log is not available"));
    EXPECT_EQ(ReportFinalStatus(QStringLiteral("x"), "\r\nYesterday's log is not available\r\n"), QStringLiteral("x"));
}

TEST(ReportOutput, HostileProblemTextIsEscapedAndCut)
{
    TestClock clock;
    gTooFewLines = 0;
    gLastProblem = SS("Error: \"quoted\" C:\\dir\\ end\\\r\n\r\nsecond | line\\n");
    gProblemFolder = SS("Users:a\"b:c\\d");
    const QString status = QzStrToCF(gLastProblem);
    const QByteArray text = ReportPrometheus(QStringLiteral("yesterday"), {}, status);
    // Every line is a comment or a sample: nothing broke out of a label.
    for (const QByteArray& line : text.split('\n'))
        EXPECT_TRUE(line.isEmpty() || line.startsWith("# ") || line.startsWith("quillaby_")) << line.toStdString();
    const QJsonObject labels = SampleLabels(ParseExposition(text), QStringLiteral("quillaby_problem_info"));
    EXPECT_EQ(labels.value(QStringLiteral("problem")).toString(),
        QStringLiteral("Error: \"quoted\" C:\\dir\\ end\\\n\nsecond | line\\n"));
    EXPECT_EQ(labels.value(QStringLiteral("folder")).toString(), QStringLiteral("Users:a\"b:c\\d"));
    EXPECT_EQ(labels.value(QStringLiteral("log")).toString(), QStringLiteral("yesterday"));
    EXPECT_EQ(ReportNagios({}, status), "QUILLABY WARNING - Error: \"quoted\" C:\\dir\\ end\\ | problem_lines=0;;;0\n");

    // Cut to 200 UTF-16 units with an ellipsis, never inside a surrogate pair.
    const std::pair<std::string, QString> cuts[] = {
        {std::string(255, 'x'), QString(199, QLatin1Char('x')) + QChar(0x2026)},
        {std::string(198, 'x') + "\xF0\x9F\x98\x80" + std::string(10, 'y'),
            QString(198, QLatin1Char('x')) + QChar(0x2026)},
    };
    for (const auto& [bytes, label] : cuts) {
        gLastProblem = SS(bytes);
        const QJsonArray families = ParseExposition(ReportPrometheus(QStringLiteral("today"), {}, QStringLiteral("x")));
        EXPECT_EQ(
            SampleLabels(families, QStringLiteral("quillaby_problem_info")).value(QStringLiteral("problem")).toString(),
            label);
    }
}
