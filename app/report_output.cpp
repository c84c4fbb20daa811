#include "app/report_output.h"

#include "monitor/state.h"
#include "notify/state.h"
#include "runtime/encoding.h"
#include "runtime/hooks.h"
#include "runtime/shortstring.h"
#include "settings/state.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const QString kNoSuccessStatus = QStringLiteral("No successful backups reported in the current log");
constexpr std::string_view kNoBackupForADay = "NO SUCESSFUL BACKUPS FOR MORE THAN A DAY";
constexpr std::string_view kOfflineReport = "Backup drive offline";
const QString kFailedWithError = QStringLiteral("Backup failed with error");

// Label values name a series: a whole log excerpt would make every run a
// new one. Counted in UTF-16 units, the cut marked with an ellipsis.
constexpr qsizetype kLabelMax = 200;

bool IsSuccessLine(std::string_view line)
{
    return line.find("Backup completed successfully") != std::string_view::npos
        || line.find("Completed backup") != std::string_view::npos
        || line.find("Backup succeeded") != std::string_view::npos;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The date and time that open a log line, as the log writes them.
std::optional<QDateTime> LineTime(std::string_view line)
{
    static constexpr std::string_view kShape = "0000-00-00 00:00:00";
    if (line.size() < kShape.size())
        return std::nullopt;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        if (kShape[i] == '0' ? !IsDigit(line[i]) : line[i] != kShape[i])
            return std::nullopt;
    }
    const QDateTime t = QDateTime::fromString(
        QLatin1StringView(line.data(), static_cast<qsizetype>(kShape.size())), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid())
        return std::nullopt;
    return t;
}

// Calls each(line) for every line of the report, where CR LF, CR and LF
// each end a line.
template <typename Each> void ForEachLine(std::string_view report, Each each)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = report.find_first_of("\r\n", start);
        each(report.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return;
        start = end + (report.substr(end, 2) == "\r\n" ? 2 : 1);
    }
}

bool Critical(std::string_view report)
{
    return gDriveOffline == 1 || (gBackupFailed == 1 && gLastFailureLineNo > gLastSuccessLineNo)
        || QzStrToCF(gLastProblem).contains(kFailedWithError)
        || report.find(kNoBackupForADay) != std::string_view::npos;
}

// The report goes out in pieces of about this size, each ending after a
// line end, so that no piece splits a character or a CR LF.
constexpr std::size_t kPiece = 1 << 20;

template <typename Each> bool ForEachPiece(std::string_view report, Each each)
{
    while (!report.empty()) {
        std::size_t end = report.size();
        if (end > kPiece) {
            const std::size_t lf = report.find('\n', kPiece);
            if (lf != std::string_view::npos)
                end = lf + 1;
        }
        if (!each(report.substr(0, end)))
            return false;
        report.remove_prefix(end);
    }
    return true;
}

bool Put(const ReportSink& sink, const QByteArray& bytes)
{
    return sink(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
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

// A remote Mac's samples also name it.
std::vector<prometheus::ClientMetric::Label> Labels(std::vector<prometheus::ClientMetric::Label> labels)
{
    if (!gRemoteHost.empty())
        labels.push_back({"host", gRemoteHost});
    std::sort(labels.begin(), labels.end());
    return labels;
}

prometheus::MetricFamily Gauge(const char* name, const char* help, double value, const std::string& log)
{
    prometheus::MetricFamily family;
    family.name = name;
    family.help = help;
    family.type = prometheus::MetricType::Gauge;
    prometheus::ClientMetric sample;
    sample.label = Labels({{"log", log}});
    sample.gauge.value = value;
    family.metric.push_back(sample);
    return family;
}

// The report's bytes as UTF-8, appended to out with CR LF made LF; a lone
// CR stays. Neither byte is ever part of a UTF-8 sequence, so the pairs are
// the report's own.
void AppendWithLfLineEnds(std::string_view bytes, std::string& out)
{
    const std::size_t from = out.size();
    QzAppendBytesAsUtf8(bytes.data(), bytes.size(), out);
    char* const text = out.data();
    std::size_t kept = from;
    for (std::size_t at = from; at < out.size();) {
        const auto* cr = static_cast<const char*>(std::memchr(text + at, '\r', out.size() - at));
        const std::size_t end = cr ? static_cast<std::size_t>(cr - text) : out.size();
        std::memmove(text + kept, text + at, end - at);
        kept += end - at;
        at = end;
        if (at < out.size()) {
            const bool pair = at + 1 < out.size() && text[at + 1] == '\n';
            text[kept++] = pair ? '\n' : '\r';
            at += pair ? 2 : 1;
        }
    }
    out.resize(kept);
}

QString LfLineEnds(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

int AlertToStandardError(const QzAlertRequest& request)
{
    std::fprintf(stderr, "quillaby-report: %s\n", request.message.toUtf8().constData());
    if (!request.informative.isEmpty())
        std::fprintf(stderr, "quillaby-report: %s\n", request.informative.toUtf8().constData());
    return 0;
}

QString ReportFinalStatus(const QString& statusLine, std::string_view report)
{
    if (!statusLine.isEmpty())
        return statusLine;
    // An LF between two visible ASCII characters survives trimming: such a
    // report has several lines and is no one-line notice.
    const auto visible = [](char c) { return c > 0x20 && c < 0x7F; };
    const auto first = std::find_if(report.begin(), report.end(), visible);
    const auto last = std::find_if(report.rbegin(), report.rend(), visible).base();
    if (first < last && std::find(first, last, '\n') != last)
        return statusLine;
    const QString shown = QzDecodeBytes(report.data(), report.size()).trimmed();
    if (shown.endsWith(QLatin1String(" is not available")) && !shown.contains(QLatin1Char('\n')))
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

int ReportCode(const QString& status)
{
    // The settings file could not be read: the user was told, and the
    // result is not to be trusted by a monitoring system. A save that
    // failed leaves the day of the last backup unrecorded, and the next run
    // would warn without cause: a problem in itself.
    if (gSettingsUnreadable != 0)
        return 2;
    const int code = ReportExitStatus(status);
    return gSettingsSaveFailed != 0 ? std::max(code, 1) : code;
}

std::optional<std::int64_t> LastSuccessSeconds(std::string_view report)
{
    std::optional<std::int64_t> last;
    ForEachLine(report, [&last](std::string_view line) {
        if (IsSuccessLine(line)) {
            if (const auto t = LineTime(line))
                last = t->toSecsSinceEpoch();
        }
    });
    return last;
}

int ProblemLineCount(std::string_view report)
{
    int count = 0;
    ForEachLine(report, [&count](std::string_view line) {
        if (line == kOfflineReport || (LineTime(line) && !IsSuccessLine(line)))
            ++count;
    });
    return count;
}

bool WriteReportPlainText(std::string_view report, const QString& status, const ReportSink& sink)
{
    if (!gRemoteHost.empty() && !sink("=== " + gRemoteHost + " ===\n"))
        return false;
    // The report's own blank lines stay; those that end it go, so that the
    // output ends with one line end (or, with a status, a blank line and
    // the status line).
    const std::size_t end = report.find_last_not_of("\r\n");
    const std::string_view shown = report.substr(0, end == std::string_view::npos ? 0 : end + 1);
    std::string piece;
    const bool written = ForEachPiece(shown, [&piece, &sink](std::string_view bytes) {
        piece.clear();
        AppendWithLfLineEnds(bytes, piece);
        return sink(piece);
    });
    if (!written)
        return false;
    QByteArray tail = shown.empty() ? QByteArray() : QByteArrayLiteral("\n");
    const QString lastLine = LfLineEnds(status).trimmed();
    if (!lastLine.isEmpty())
        tail += ((shown.empty() ? QString() : QStringLiteral("\n")) + lastLine + QLatin1Char('\n')).toUtf8();
    return tail.isEmpty() || Put(sink, tail);
}

bool WriteReportJson(std::string_view report, const QString& status, const ReportSink& sink)
{
    const QString block = LfLineEnds(QzStrToCF(gLastSuccessText));
    const QString head = QStringLiteral("Last Successful Backup Message:\n");
    const qsizetype line = block.indexOf(head);
    QJsonObject o;
    o.insert(QStringLiteral("report"), QString());
    o.insert(QStringLiteral("status"), LfLineEnds(status));
    o.insert(QStringLiteral("lastProblem"), LfLineEnds(QzStrToCF(gLastProblem)));
    o.insert(QStringLiteral("problemFolder"), LfLineEnds(QzStrToCF(gProblemFolder)));
    o.insert(QStringLiteral("lastSuccessText"),
        line < 0 ? QString() : block.mid(line + head.size()).section(QLatin1Char('\n'), 0, 0));
    o.insert(QStringLiteral("lastSuccessBlock"), block);
    o.insert(QStringLiteral("emailRequested"), gEmailRequested != 0);
    o.insert(QStringLiteral("emailSent"), gEmailDelivered != 0);
    o.insert(QStringLiteral("emailError"), gEmailError.isEmpty() ? QJsonValue() : QJsonValue(gEmailError));
    o.insert(QStringLiteral("settingsUnreadable"), gSettingsUnreadable != 0);
    o.insert(QStringLiteral("settingsSaveFailed"), gSettingsSaveFailed != 0);
    o.insert(QStringLiteral("errorFound"), gErrorFound != 0);
    o.insert(QStringLiteral("driveOffline"), gDriveOffline != 0);
    o.insert(QStringLiteral("spotlightConflict"), gSpotlightConflict != 0);
    o.insert(QStringLiteral("successFound"), gSuccessFound != 0);
    // A remote Mac's object names it, in an array as several Macs' are.
    const bool remote = !gRemoteHost.empty();
    if (remote)
        o.insert(QStringLiteral("host"), QString::fromStdString(gRemoteHost));
    const QByteArray document
        = (remote ? QJsonDocument(QJsonArray {o}) : QJsonDocument(o)).toJson(QJsonDocument::Indented);
    // The report's value is written in pieces between the document's two
    // halves, escaped by the same serializer. A line end inside a value is
    // always escaped, so the key's line is found only where it is.
    const QByteArray key = QByteArray(remote ? "\n        " : "\n    ") + "\"report\": \"";
    const qsizetype split = document.indexOf(key) + key.size();
    if (!Put(sink, document.left(split)))
        return false;
    std::string piece;
    const bool written = ForEachPiece(report, [&piece, &sink](std::string_view bytes) {
        piece.clear();
        AppendWithLfLineEnds(bytes, piece);
        const QByteArray array = QJsonDocument(QJsonArray {QString::fromUtf8(piece.data(), qsizetype(piece.size()))})
                                     .toJson(QJsonDocument::Compact);
        // ["…"] without its brackets and quotes.
        return Put(sink, array.mid(2, array.size() - 4));
    });
    return written && Put(sink, document.mid(split));
}

QByteArray ReportPrometheus(const QString& log, std::string_view report, const QString& status)
{
    const std::string l = log.toStdString();
    const int code = ReportCode(status);
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
    families.push_back(Gauge("quillaby_email_failed",
        "The notification email of this check could not be sent (0 or 1).", gEmailError.isEmpty() ? 0 : 1, l));
    families.push_back(Gauge("quillaby_settings_save_failed",
        "The settings file could not be read or saved; the next check may warn without cause (0 or 1).",
        gSettingsSaveFailed, l));
    families.push_back(Gauge("quillaby_run_timestamp_seconds", "Time of this check, seconds since 1970.",
        static_cast<double>(gQzNowHook() / 1000), l));
    const QString problem = gLastProblem.empty() ? status : QzStrToCF(gLastProblem);
    if (code != 0 && !problem.trimmed().isEmpty()) {
        prometheus::MetricFamily info = Gauge("quillaby_problem_info",
            "The last problem and the folder it concerns, when there is a problem; always 1.", 1, l);
        info.metric[0].label
            = Labels({{"folder", LabelValue(QzStrToCF(gProblemFolder))}, {"log", l}, {"problem", LabelValue(problem)}});
        families.push_back(info);
    }
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, families);
    return QByteArray::fromStdString(out.str());
}

int NagiosState(std::string_view report, const QString& status)
{
    if (gSettingsUnreadable != 0)
        return 3;
    int state = 0;
    switch (ReportExitStatus(status)) {
    case 0:
        break;
    case 2:
        return 3;
    default:
        state = Critical(report) ? 2 : 1;
    }
    return gSettingsSaveFailed != 0 ? std::max(state, 1) : state;
}

QByteArray ReportNagios(std::string_view report, const QString& status)
{
    static const char* const kStates[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    // Plugin output is one line, and "|" starts the performance data.
    QString text = status.trimmed().section(QRegularExpression(QStringLiteral("[\r\n]")), 0, 0).trimmed();
    if (text.isEmpty())
        text = QStringLiteral("no Time Machine errors");
    if (gSettingsUnreadable != 0)
        text += QStringLiteral("; the settings file could not be read");
    else if (gSettingsSaveFailed != 0)
        text += QStringLiteral("; the settings could not be saved");
    if (!gEmailError.isEmpty())
        text += QStringLiteral("; the notification email was not sent: ") + gEmailError.simplified();
    if (!gRemoteHost.empty())
        text = QString::fromStdString(gRemoteHost) + QStringLiteral(": ") + text;
    text = QzVisibleControls(text, false);
    text.replace(QLatin1Char('|'), QLatin1Char('/'));
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

namespace {

bool WriteAllTo(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

QString ErrnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Writes into a character device or a FIFO where it is, as a shell
// redirection would.
bool WriteInto(const QByteArray& name, const ReportWriter& produce, QString* error)
{
    const int fd = open(name.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = ErrnoText(errno);
        return false;
    }
    int failed = 0;
    const bool written = produce([fd, &failed](std::string_view bytes) {
        if (WriteAllTo(fd, bytes))
            return true;
        failed = errno;
        return false;
    });
    if (close(fd) != 0 && written)
        failed = errno;
    if (written && failed == 0)
        return true;
    *error = ErrnoText(failed != 0 ? failed : EIO);
    return false;
}

// Replaces a regular file (or makes a new one) through a temporary file
// beside it: each write, the flush to the disk, the close and the rename
// are checked, and on any failure the temporary goes and the old file
// stays as it was. A link to a file stays a link.
bool ReplaceRegular(const QString& path, const struct stat* old, const ReportWriter& produce, QString* error)
{
    const QFileInfo info(path);
    const QFileInfo target(info.isSymLink() ? info.symLinkTarget() : path);
    const QByteArray name = QFile::encodeName(target.absoluteFilePath());
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 8; ++attempt) {
        temporary = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName()
            + QStringLiteral(".tmp-") + QString::number(getpid()) + QLatin1Char('-') + QString::number(attempt));
        fd = open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *error = ErrnoText(errno);
        return false;
    }
    int failed = 0;
    if (old && fchmod(fd, old->st_mode & 07777) != 0)
        failed = errno;
    const bool written = failed == 0 && produce([fd, &failed](std::string_view bytes) {
        if (WriteAllTo(fd, bytes))
            return true;
        failed = errno;
        return false;
    });
    if (written && fsync(fd) != 0)
        failed = errno;
    if (close(fd) != 0 && failed == 0)
        failed = errno;
    if (written && failed == 0 && std::rename(temporary.constData(), name.constData()) != 0)
        failed = errno;
    if (!written || failed != 0) {
        unlink(temporary.constData());
        *error = ErrnoText(failed != 0 ? failed : EIO);
        return false;
    }
    return true;
}

} // namespace

bool WriteOutputFile(const QString& path, const ReportWriter& produce, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st { };
    if (stat(name.constData(), &st) != 0) {
        if (errno != ENOENT) {
            *error = ErrnoText(errno);
            return false;
        }
        return ReplaceRegular(path, nullptr, produce, error);
    }
    if (S_ISREG(st.st_mode))
        return ReplaceRegular(path, &st, produce, error);
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))
        return WriteInto(name, produce, error);
    *error = S_ISDIR(st.st_mode) ? QStringLiteral("it is a folder")
                                 : QStringLiteral("it is neither a file, a character device nor a FIFO");
    return false;
}
