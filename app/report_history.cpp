#include "app/report_history.h"

#include "app/history.h"
#include "app/report_output.h"
#include "runtime/application.h"
#include "runtime/hooks.h"
#include "runtime/timeline.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

int Usage()
{
    std::fprintf(stderr,
        "usage: quillaby-report history [--since YYYY-MM-DD] [--format text|json|csv]\n"
        "       quillaby-report timeline [--days N] --output FILE.svg|FILE.png\n");
    return kReportUsageError;
}

// Options "--name VALUE" or "--name=VALUE", each once, from argv[2] on.
bool ParseOptions(int argc, char** argv, std::initializer_list<std::pair<std::string_view, QString*>> options)
{
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        QString* target = nullptr;
        std::string_view value;
        for (const auto& [name, slot] : options) {
            if (arg == name && i + 1 < argc) {
                target = slot;
                value = argv[++i];
            } else if (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=') {
                target = slot;
                value = arg.substr(name.size() + 1);
            }
            if (target)
                break;
        }
        if (!target || value.empty() || !target->isEmpty())
            return false;
        *target = QString::fromLocal8Bit(value.data(), static_cast<qsizetype>(value.size()));
    }
    return true;
}

int SilentAlert(const QzAlertRequest&)
{
    return 0;
}

// The history beside the settings file, found as the report finds it. The
// settings' own troubles are the report's to tell, not this command's.
QString FindHistory()
{
    gQzAlertHook = SilentAlert;
    LoadSettings();
    gQzAlertHook = AlertToStandardError;
    return HistoryPath();
}

void Say(const QString& notice, const QString& error)
{
    for (const QString& text : {notice, error})
        if (!text.isEmpty())
            std::fprintf(stderr, "quillaby-report: %s\n", text.toUtf8().constData());
}

// One line of a table cell: controls become blanks.
QString Cell(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("yes") : QString();
    QString text = value.toString();
    for (QChar& c : text)
        if (c.unicode() < 32)
            c = QLatin1Char(' ');
    return text;
}

// A readable table of the chosen columns, each as wide as its widest cell.
QString Table(const HistoryRows& rows, const std::vector<std::pair<QString, QString>>& columns)
{
    std::vector<int> index;
    std::vector<qsizetype> width;
    for (const auto& [name, heading] : columns) {
        index.push_back(static_cast<int>(rows.columns.indexOf(name)));
        width.push_back(heading.size());
    }
    std::vector<QStringList> cells;
    for (const QVariantList& row : rows.rows) {
        QStringList line;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            line << Cell(row.value(index[c]));
            width[c] = std::max(width[c], line.back().size());
        }
        cells.push_back(line);
    }
    QStringList heading;
    for (const auto& [name, title] : columns)
        heading << title;
    cells.insert(cells.begin(), heading);
    QString out;
    for (const QStringList& line : cells) {
        QString text;
        for (std::size_t c = 0; c < columns.size(); ++c)
            text += c + 1 < columns.size() ? line[static_cast<qsizetype>(c)].leftJustified(width[c] + 2)
                                           : line[static_cast<qsizetype>(c)];
        out += text.trimmed() + QLatin1Char('\n');
    }
    return out;
}

bool AnyHost(const History& h)
{
    for (const HistoryRows* rows : {&h.checks, &h.sessions})
        for (const QVariantList& row : rows->rows)
            if (!row.value(static_cast<int>(rows->columns.indexOf(QStringLiteral("host")))).toString().isEmpty())
                return true;
    return false;
}

QByteArray TextForm(const History& h)
{
    std::vector<std::pair<QString, QString>> checks = {{QStringLiteral("checked_at"), QStringLiteral("Checked at")},
        {QStringLiteral("log"), QStringLiteral("Log")},
        {QStringLiteral("last_success"), QStringLiteral("Last success")},
        {QStringLiteral("mail_sent"), QStringLiteral("Mail")}, {QStringLiteral("status"), QStringLiteral("Status")}};
    std::vector<std::pair<QString, QString>> sessions = {{QStringLiteral("started_at"), QStringLiteral("Started")},
        {QStringLiteral("ended_at"), QStringLiteral("Ended")}, {QStringLiteral("kind"), QStringLiteral("Kind")},
        {QStringLiteral("result"), QStringLiteral("Result")}, {QStringLiteral("error_code"), QStringLiteral("Error")},
        {QStringLiteral("error_name"), QStringLiteral("Reason")},
        {QStringLiteral("destination"), QStringLiteral("Destination")}};
    if (AnyHost(h)) {
        checks.insert(checks.begin() + 1, {QStringLiteral("host"), QStringLiteral("Host")});
        sessions.insert(sessions.begin() + 1, {QStringLiteral("host"), QStringLiteral("Host")});
    }
    const QString out = QStringLiteral("Checks, newest first:\n") + Table(h.checks, checks)
        + QStringLiteral("\nBackup sessions, newest first:\n") + Table(h.sessions, sessions);
    return out.toUtf8();
}

QJsonArray JsonRows(const HistoryRows& rows)
{
    QJsonArray array;
    for (const QVariantList& row : rows.rows) {
        QJsonObject o;
        for (qsizetype c = 0; c < rows.columns.size(); ++c)
            o.insert(rows.columns[c], QJsonValue::fromVariant(row.value(static_cast<int>(c))));
        array.append(o);
    }
    return array;
}

QByteArray JsonForm(const History& h)
{
    QJsonObject o;
    o.insert(QStringLiteral("checks"), JsonRows(h.checks));
    o.insert(QStringLiteral("sessions"), JsonRows(h.sessions));
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

// RFC 4180: a field with a comma, a double quote, CR or LF is quoted, its
// quotes doubled; records end CR LF.
QString CsvField(const QVariant& value)
{
    QString text = value.typeId() == QMetaType::Bool ? QString::number(value.toBool() ? 1 : 0) : value.toString();
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\r'))
        && !text.contains(QLatin1Char('\n')))
        return text;
    return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

QByteArray CsvForm(const History& h)
{
    QStringList columns;
    for (const HistoryRows* rows : {&h.checks, &h.sessions})
        for (const QString& c : rows->columns)
            if (!columns.contains(c))
                columns << c;
    QString out = QStringLiteral("record,") + columns.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const auto& [record, rows] :
        {std::pair {QStringLiteral("check"), &h.checks}, std::pair {QStringLiteral("session"), &h.sessions}}) {
        for (const QVariantList& row : rows->rows) {
            QStringList fields {record};
            for (const QString& c : columns)
                fields << CsvField(row.value(static_cast<int>(rows->columns.indexOf(c))));
            out += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
        }
    }
    return out.toUtf8();
}

int HistoryCommand(int argc, char** argv)
{
    QString since;
    QString format;
    if (!ParseOptions(argc, argv, {{"--since", &since}, {"--format", &format}}))
        return Usage();
    if (format.isEmpty())
        format = QStringLiteral("text");
    if ((!since.isEmpty() && (since.size() != 10 || !QDate::fromString(since, Qt::ISODate).isValid()))
        || (format != QLatin1String("text") && format != QLatin1String("json") && format != QLatin1String("csv")))
        return Usage();
    History history;
    QString notice;
    QString error;
    const bool read = ReadHistory(FindHistory(), since, &history, &notice, &error);
    Say(notice, error);
    if (!read)
        return 1;
    const QByteArray out = format == QLatin1String("json") ? JsonForm(history)
        : format == QLatin1String("csv")                   ? CsvForm(history)
                                                           : TextForm(history);
    if (std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout)
            != static_cast<std::size_t>(out.size())
        || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "quillaby-report: write error\n");
        return kReportOutputError;
    }
    return 0;
}

int TimelineCommand(int argc, char** argv)
{
    QString daysText;
    QString output;
    if (!ParseOptions(argc, argv, {{"--days", &daysText}, {"--output", &output}}))
        return Usage();
    bool number = daysText.isEmpty();
    const int days = number ? 1 : daysText.toInt(&number);
    const QString format = output.section(QLatin1Char('.'), -1).toLower();
    if (!number || days < 1 || days > kHistoryKeepDays || output.isEmpty()
        || (format != QLatin1String("svg") && format != QLatin1String("png")))
        return Usage();
    // The picture needs fonts: the offscreen platform has them and needs no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int qtArgc = 1;
    QzApplicationInit(qtArgc, argv);
    const std::int64_t now = gQzNowHook();
    const std::int64_t from = now - std::int64_t {days} * 86400 * 1000;
    QzTimeline timeline;
    QString notice;
    QString error;
    const bool read = ReadTimeline(FindHistory(), from, now, &timeline, &notice, &error);
    Say(notice, error);
    if (!read)
        return 1;
    const QString title
        = QStringLiteral("Time Machine backups, the last %1 to %2")
              .arg(days == 1 ? QStringLiteral("24 hours") : QString::number(days) + QStringLiteral(" days"),
                  QDateTime::fromMSecsSinceEpoch(now).toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    const QByteArray image = QzTimelineImage(timeline, from, now, title, format);
    QString why = QStringLiteral("the image could not be made");
    if (image.isEmpty()
        || !WriteOutputFile(
            output,
            [&image](const ReportSink& sink) { return sink(std::string_view(image.constData(), image.size())); },
            &why)) {
        std::fprintf(stderr, "quillaby-report: cannot write %s: %s\n", output.toLocal8Bit().constData(),
            why.toLocal8Bit().constData());
        return kReportOutputError;
    }
    return 0;
}

} // namespace

bool IsHistoryCommand(int argc, char** argv)
{
    return argc > 1 && (std::string_view(argv[1]) == "history" || std::string_view(argv[1]) == "timeline");
}

int RunHistoryCommand(int argc, char** argv)
{
    // Only the platform plugin is looked for, as for the report.
    setenv("QT_QPA_PLATFORM", "minimal", 1);
    setenv("QT_QPA_PLATFORM_PLUGIN_PATH",
        (QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms")).toLocal8Bit().constData(), 1);
    QCoreApplication::setLibraryPaths({});
    gQzAlertHook = AlertToStandardError;
    return std::string_view(argv[1]) == "history" ? HistoryCommand(argc, argv) : TimelineCommand(argc, argv);
}
