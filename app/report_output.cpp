#include "app/report_output.h"

#include "app/state.h"
#include "monitor/state.h"
#include "runtime/hooks.h"
#include "runtime/shortstring.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>

#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>

#include <algorithm>
#include <sstream>
#include <vector>

namespace {

const QString kNoSuccessStatus = QStringLiteral("No successful backups reported in the current log");
const QString kNoBackupForADay = QStringLiteral("NO SUCESSFUL BACKUPS FOR MORE THAN A DAY");
const QString kOfflineReport = QStringLiteral("Backup drive offline");
const QString kFailedWithError = QStringLiteral("Backup failed with error");

// Label values name a series: a whole log excerpt would make every run a
// new one. Counted in UTF-16 units, the cut marked with an ellipsis.
constexpr qsizetype kLabelMax = 200;

bool IsSuccessLine(const QString& line)
{
    return line.contains(QLatin1String("Backup completed successfully"))
        || line.contains(QLatin1String("Completed backup")) || line.contains(QLatin1String("Backup succeeded"));
}

// The date and time that open a log line, as the log writes them.
std::optional<QDateTime> LineTime(const QString& line)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"));
    if (!stamp.match(line).hasMatch())
        return std::nullopt;
    const QDateTime t = QDateTime::fromString(line.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid())
        return std::nullopt;
    return t;
}

QStringList ReportLines(const QString& report)
{
    QString text = report;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text.split(QLatin1Char('\n'));
}

bool Critical(const QString& report)
{
    return gDriveOffline == 1 || (gBackupFailed == 1 && gLastFailureLineNo > gLastSuccessLineNo)
        || QzStrToCF(gLastProblem).contains(kFailedWithError) || report.contains(kNoBackupForADay);
}

// Line ends become LF (the format escapes it), the text is trimmed and cut.
std::string LabelValue(const QString& text)
{
    QString v = text;
    v.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    v.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    v = v.trimmed();
    if (v.size() > kLabelMax) {
        qsizetype keep = kLabelMax - 1;
        if (v.at(keep - 1).isHighSurrogate())
            --keep;
        v = v.left(keep) + QChar(0x2026);
    }
    return v.toStdString();
}

prometheus::MetricFamily Gauge(const char* name, const char* help, double value, const std::string& log)
{
    prometheus::MetricFamily family;
    family.name = name;
    family.help = help;
    family.type = prometheus::MetricType::Gauge;
    prometheus::ClientMetric sample;
    sample.label = {{"log", log}};
    sample.gauge.value = value;
    family.metric.push_back(sample);
    return family;
}

} // namespace

QString ReportFinalStatus(const QString& statusLine, const QString& report)
{
    const QString shown = report.trimmed();
    if (statusLine.isEmpty() && shown.endsWith(QLatin1String(" is not available"))
        && !shown.contains(QLatin1Char('\n')))
        return shown;
    return statusLine;
}

int ReportExitStatus(const QString& status)
{
    if (status.isEmpty())
        return 0;
    if (status.startsWith(QLatin1String("Unable to get")) || status.endsWith(QLatin1String("is not available")))
        return 2;
    if (status == kNoSuccessStatus && gTooFewLines == 1)
        return 2;
    return 1;
}

std::optional<std::int64_t> LastSuccessSeconds(const QString& report)
{
    const QStringList lines = ReportLines(report);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (!IsSuccessLine(*line))
            continue;
        if (const auto t = LineTime(*line))
            return t->toSecsSinceEpoch();
    }
    return std::nullopt;
}

int ProblemLineCount(const QString& report)
{
    int count = 0;
    for (const QString& line : ReportLines(report)) {
        if (line == kOfflineReport || (LineTime(line) && !IsSuccessLine(line)))
            ++count;
    }
    return count;
}

QByteArray ReportPlainText(const QString& report, const QString& status)
{
    QString text = report;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    text += status + QLatin1Char('\n');
    return text.toUtf8();
}

QByteArray ReportJson(const QString& report, const QString& status)
{
    QJsonObject o;
    o.insert(QStringLiteral("report"), report);
    o.insert(QStringLiteral("status"), status);
    o.insert(QStringLiteral("lastProblem"), QzStrToCF(gLastProblem));
    o.insert(QStringLiteral("problemFolder"), QzStrToCF(gProblemFolder));
    o.insert(QStringLiteral("lastSuccessText"), QzStrToCF(gLastSuccessText));
    o.insert(QStringLiteral("emailRequested"), gEmailRequested != 0);
    o.insert(QStringLiteral("emailSent"), gEmailSent != 0);
    o.insert(QStringLiteral("errorFound"), gErrorFound != 0);
    o.insert(QStringLiteral("driveOffline"), gDriveOffline != 0);
    o.insert(QStringLiteral("spotlightConflict"), gSpotlightConflict != 0);
    o.insert(QStringLiteral("successFound"), gSuccessFound != 0);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QByteArray ReportPrometheus(const QString& log, const QString& report, const QString& status)
{
    const std::string l = log.toStdString();
    const int code = ReportExitStatus(status);
    std::vector<prometheus::MetricFamily> families;
    families.push_back(Gauge("quillaby_status",
        "Outcome of the Time Machine log check: 0 nothing to report, 1 a problem, 2 the log could not be had.", code,
        l));
    families.push_back(
        Gauge("quillaby_drive_offline", "The backup drive was reported offline (0 or 1).", gDriveOffline, l));
    families.push_back(Gauge("quillaby_spotlight_conflict",
        "Time Machine's importer failed to start, a conflict with Spotlight indexing (0 or 1).", gSpotlightConflict,
        l));
    families.push_back(Gauge("quillaby_error_found", "A problem line was found in the log (0 or 1).", gErrorFound, l));
    families.push_back(
        Gauge("quillaby_success_found", "A successful backup was found in the log (0 or 1).", gSuccessFound, l));
    if (const auto last = LastSuccessSeconds(report)) {
        families.push_back(Gauge("quillaby_last_success_timestamp_seconds",
            "Time of the last successful backup in the log, seconds since 1970.", static_cast<double>(*last), l));
    }
    families.push_back(Gauge("quillaby_last_backup_day_of_year",
        "Day of the year of the last successful backup Quillaby has recorded.", gLastBackupDay, l));
    families.push_back(Gauge("quillaby_run_timestamp_seconds", "Time of this check, seconds since 1970.",
        static_cast<double>(gQzNowHook() / 1000), l));
    const QString problem = gLastProblem.empty() ? status : QzStrToCF(gLastProblem);
    if (code != 0 && !problem.trimmed().isEmpty()) {
        prometheus::MetricFamily info = Gauge("quillaby_problem_info",
            "The last problem and the folder it concerns, when there is a problem; always 1.", 1, l);
        info.metric[0].label
            = {{"folder", LabelValue(QzStrToCF(gProblemFolder))}, {"log", l}, {"problem", LabelValue(problem)}};
        families.push_back(info);
    }
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, families);
    return QByteArray::fromStdString(out.str());
}

int NagiosState(const QString& report, const QString& status)
{
    switch (ReportExitStatus(status)) {
    case 0:
        return 0;
    case 2:
        return 3;
    default:
        return Critical(report) ? 2 : 1;
    }
}

QByteArray ReportNagios(const QString& report, const QString& status)
{
    static const char* const kStates[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    // Plugin output is one line, and "|" starts the performance data.
    QString text = status.trimmed().section(QRegularExpression(QStringLiteral("[\r\n]")), 0, 0).trimmed();
    text.replace(QLatin1Char('|'), QLatin1Char('/'));
    if (text.isEmpty())
        text = QStringLiteral("no Time Machine errors");
    QString perf;
    if (const auto last = LastSuccessSeconds(report)) {
        const std::int64_t age = std::max<std::int64_t>(0, gQzNowHook() / 1000 - *last);
        perf += QStringLiteral("last_success_age=%1s;;;0 ").arg(age);
    }
    perf += QStringLiteral("problem_lines=%1;;;0").arg(ProblemLineCount(report));
    const QString line = QStringLiteral("QUILLABY %1 - %2 | %3\n")
                             .arg(QLatin1String(kStates[NagiosState(report, status)]), text, perf);
    return line.toUtf8();
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
