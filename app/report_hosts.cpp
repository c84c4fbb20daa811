#include "app/report_hosts.h"

#include "monitor/remote.h"
#include "monitor/state.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Checks at once: a Mac that hangs holds up no more than its own place.
constexpr std::size_t kAtOnce = 4;

struct MacCheck {
    std::string host;
    QByteArray output;
    int code = -1; // the command's exit status; -1 when it did not end by itself
};

int Refuse(const std::string& why)
{
    std::fprintf(stderr, "quillaby-report: %s\n", why.c_str());
    return kReportUsageError;
}

// How bad an exit status is: a problem over a log not had over nothing to
// report, and in the plugins' codes CRITICAL over WARNING over UNKNOWN.
int Severity(int code, bool nagios)
{
    static constexpr int kReport[] = {0, 2, 1, 1};
    static constexpr int kNagios[] = {0, 2, 3, 1};
    return (nagios ? kNagios : kReport)[code < 0 ? 0 : code > 3 ? 3 : code];
}

// What a check that ended without its output stands for: the report of a
// log not had, in the format asked for, naming the Mac.
QByteArray OutputOfNoLog(const std::string& host, std::string_view which, std::string_view format)
{
    const std::string saved = gRemoteHost;
    gRemoteHost = host;
    const QString status = which == "today" ? QStringLiteral("Unable to get today's error log")
                                            : QStringLiteral("Unable to get yesterday's error log");
    QByteArray out;
    const ReportSink sink = [&out](std::string_view bytes) {
        out.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
        return true;
    };
    if (format == "json")
        WriteReportJson({}, status, sink);
    else if (format == "text")
        WriteReportPlainText({}, status, sink);
    else if (format == "nagios")
        out = ReportNagios({}, status);
    else
        out = ReportPrometheus(QString::fromLatin1(which.data(), static_cast<qsizetype>(which.size())), {}, status);
    gRemoteHost = saved;
    return out;
}

QByteArray JoinJson(const std::vector<MacCheck>& checks)
{
    QJsonArray all;
    for (const MacCheck& check : checks)
        for (const QJsonValue& mac : QJsonDocument::fromJson(check.output).array())
            all.append(mac);
    return QJsonDocument(all).toJson(QJsonDocument::Indented);
}

// Each family's HELP and TYPE lines once, then the samples of every Mac.
QByteArray JoinPrometheus(const std::vector<MacCheck>& checks)
{
    struct Family {
        QByteArray name, help, type, samples;
    };
    std::vector<Family> families;
    for (const MacCheck& check : checks) {
        for (const QByteArray& line : check.output.split('\n')) {
            const bool help = line.startsWith("# HELP "), type = line.startsWith("# TYPE ");
            const QByteArray name
                = help || type ? line.mid(7).split(' ').value(0) : line.split('{').value(0).split(' ').value(0);
            if (name.isEmpty() || name.startsWith('#'))
                continue;
            auto f = std::find_if(families.begin(), families.end(), [&](const Family& x) { return x.name == name; });
            if (f == families.end())
                f = families.insert(families.end(), Family {name, {}, {}, {}});
            QByteArray& part = help ? f->help : type ? f->type : f->samples;
            if (part.isEmpty() || !(help || type))
                part += line + '\n';
        }
    }
    QByteArray out;
    for (const Family& f : families)
        out += f.help + f.type + f.samples;
    return out;
}

// The worst state first, with how many Macs are in each state, then every
// Mac's line; each Mac's performance data named after it.
QByteArray JoinNagios(const std::vector<MacCheck>& checks, int worst)
{
    static const char* const kStates[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    static const QRegularExpression kLine(QStringLiteral("^QUILLABY (\\w+) - (.*?)(?: \\| (.*))?$"));
    int count[4] = {};
    QString lines;
    QString perf;
    for (const MacCheck& check : checks) {
        const QRegularExpressionMatch m = kLine.match(QString::fromUtf8(check.output).section(u'\n', 0, 0));
        const QString host = QString::fromStdString(check.host);
        const QString text = m.captured(2).startsWith(host + QStringLiteral(": ")) ? m.captured(2).mid(host.size() + 2)
                                                                                   : m.captured(2);
        ++count[check.code & 3];
        lines += host + QStringLiteral(": ") + m.captured(1) + QStringLiteral(" - ") + text + u'\n';
        QString label = host;
        label.replace(QRegularExpression(QStringLiteral("['=]")), QStringLiteral("_"));
        for (const QString& item : m.captured(3).split(u' ', Qt::SkipEmptyParts))
            perf += QStringLiteral(" '") + label + u' ' + item.section(u'=', 0, 0) + QStringLiteral("'=")
                + item.section(u'=', 1);
    }
    QString summary = QString::number(checks.size()) + QStringLiteral(" Macs:");
    for (const int state : {2, 1, 3, 0})
        if (count[state] != 0)
            summary += QStringLiteral(" %1 %2,").arg(count[state]).arg(QLatin1String(kStates[state]));
    summary.chop(1);
    return (QStringLiteral("QUILLABY %1 - %2 |%3\n").arg(QLatin1String(kStates[worst]), summary, perf) + lines)
        .toUtf8();
}

// Runs each Mac's check in a report command of its own, a few at a time;
// their standard error is passed on as each ends.
void RunChecks(char* program, std::vector<MacCheck>& checks, const QStringList& options)
{
    int qtArgc = 1;
    QCoreApplication application(qtArgc, &program);
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<std::unique_ptr<QProcess>> processes;
    QEventLoop loop;
    std::size_t running = 0;
    std::function<void()> startMore;
    const auto ended = [&](std::size_t i, int code) {
        QProcess& process = *processes[i];
        checks[i].code = code;
        checks[i].output = process.readAllStandardOutput();
        for (const QByteArray& line : process.readAllStandardError().split('\n'))
            if (!line.isEmpty())
                std::fprintf(stderr, "%s: %s\n", checks[i].host.c_str(), line.constData());
        --running;
        startMore();
    };
    startMore = [&] {
        while (running < kAtOnce && processes.size() < checks.size()) {
            const std::size_t i = processes.size();
            QProcess& process = *processes.emplace_back(std::make_unique<QProcess>());
            ++running;
            QObject::connect(&process, &QProcess::finished,
                [&ended, i](int code, QProcess::ExitStatus how) { ended(i, how == QProcess::NormalExit ? code : -1); });
            QObject::connect(&process, &QProcess::errorOccurred, [&ended, i](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    ended(i, -1);
            });
            process.setStandardInputFile(QProcess::nullDevice());
            process.start(
                self, options + QStringList {QStringLiteral("--host"), QString::fromStdString(checks[i].host)});
        }
        if (running == 0)
            loop.quit();
    };
    startMore();
    if (running != 0)
        loop.exec();
}

} // namespace

std::optional<int> ReportOnHosts(char* program, std::string_view which, std::string_view format, bool notify,
    const std::vector<std::string_view>& hosts, const ReportDelivery& deliver)
{
    if (const char* limit = std::getenv("QUILLABY_FETCH_LIMIT")) {
        char* end = nullptr;
        const long seconds = std::strtol(limit, &end, 10);
        if (end == limit || *end != '\0' || seconds < 1 || seconds > 3600)
            return Refuse("QUILLABY_FETCH_LIMIT is not a number of seconds from 1 to 3600: " + std::string(limit));
        gTodayLimitTicks = gYesterdayLimitTicks = seconds * 60;
    }
    for (const std::string_view host : hosts)
        if (const std::string problem = DestinationProblem(host); !problem.empty())
            return Refuse("refusing the destination \"" + std::string(host) + "\": " + problem);
    if (hosts.empty())
        return std::nullopt;
    std::string error;
    if (!WatchRemoteMac(hosts.front(), &error))
        return Refuse(error);
    if (hosts.size() == 1)
        return std::nullopt;

    std::vector<MacCheck> checks;
    for (const std::string_view host : hosts)
        checks.push_back({std::string(host), {}, -1});
    const auto text = [](std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); };
    QStringList options {text(which), QStringLiteral("--format"), text(format)};
    if (notify)
        options << QStringLiteral("--notify");
    RunChecks(program, checks, options);

    const bool nagios = format == "nagios";
    int worst = 0;
    for (MacCheck& check : checks) {
        if (check.code < 0 || check.code > 3 || check.output.isEmpty()) {
            std::fprintf(stderr, "%s: quillaby-report: the check ended without a report\n", check.host.c_str());
            check.output = OutputOfNoLog(check.host, which, format);
            check.code = nagios ? 3 : 2;
        }
        if (Severity(check.code, nagios) > Severity(worst, nagios))
            worst = check.code;
    }
    QByteArray out;
    if (format == "json")
        out = JoinJson(checks);
    else if (format == "prometheus")
        out = JoinPrometheus(checks);
    else if (nagios)
        out = JoinNagios(checks, worst);
    else
        for (const MacCheck& check : checks)
            out += (out.isEmpty() ? "" : "\n") + check.output;
    return deliver(
        [&out](const ReportSink& sink) {
            return sink(std::string_view(out.constData(), static_cast<std::size_t>(out.size())));
        },
        worst);
}
