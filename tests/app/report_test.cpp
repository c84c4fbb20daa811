// quillaby-report as scripts and monitoring systems see it: exit statuses
// and the text, JSON, Prometheus and monitoring-plugins outputs.

#include "../monitor/monitor_support.h"

#include "app/report_output.h"
#include "monitor/state.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Outcome {
    int code = -1;
    std::string out, err;
};

// The command with these space-separated arguments, through the shell so
// that a redirection can apply to it.
Outcome Report(const std::string& args, const std::string& redirection = {},
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("/bin/sh"),
        QStringList {QStringLiteral("-c"), QString::fromStdString("exec \"$0\" \"$@\" " + redirection),
            QStringLiteral(QZ_REPORT_EXE)}
            + QString::fromStdString(args).split(QLatin1Char(' '), Qt::SkipEmptyParts));
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
        p.readAllStandardError().toStdString()};
}

// Prometheus text (or what a GET of the URL returns) through Debian's
// prometheus_client parser, which also requires every family of ours to be
// a gauge with help: every sample as [name, labels, value].
QJsonArray Samples(const std::string& text, const QString& url = {})
{
    static const char* const kParser = R"(import json, sys, urllib.request
from prometheus_client.parser import text_string_to_metric_families
text = urllib.request.urlopen(sys.argv[1], timeout=20).read().decode() if len(sys.argv) > 1 else sys.stdin.read()
families = list(text_string_to_metric_families(text))
assert all(f.type == 'gauge' and f.documentation for f in families if f.name.startswith('quillaby_'))
print(json.dumps([[s.name, s.labels, s.value] for f in families for s in f.samples])))";
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
        QStringList {QStringLiteral("-c"), QString::fromUtf8(kParser)}
            + (url.isEmpty() ? QStringList() : QStringList {url}));
    p.write(text.data(), static_cast<qint64>(text.size()));
    p.closeWriteChannel();
    p.waitForFinished(60000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString() << text;
    return QJsonDocument::fromJson(p.readAllStandardOutput()).array();
}

// The value of the first sample called name that has these labels.
std::optional<double> Sample(
    const QJsonArray& samples, const char* name, const std::vector<std::pair<const char*, std::string>>& labels = {})
{
    for (const auto& s : samples) {
        bool all = s[0].toString() == QLatin1String(name);
        for (const auto& [key, value] : labels)
            all = all && s[1][QLatin1String(key)].toString().toStdString() == value;
        if (all)
            return s[2].toDouble();
    }
    return std::nullopt;
}

const std::string kT = "2026-03-10 10:15:03";
constexpr double kSuccessSeconds = 1773137703; // kT in UTC, the tests' time zone
const std::string kSuccess = LogEntry(kT, "Backup completed successfully.");
const std::string kOffline = LogEntry("2026-03-10 11:00:00", "Backup failed with error: 19");

std::vector<std::string> Log(int filler, const std::vector<std::string>& entries)
{
    std::vector<std::string> all = Filler(filler);
    all.insert(all.end(), entries.begin(), entries.end());
    return all;
}

// The stub `log` prints these entries; `ps` lists no other test's command.
void StubLog(const Sandbox& sandbox, const std::vector<std::string>& entries)
{
    sandbox.Stub(QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'");
    sandbox.Stub(QStringLiteral("log"),
        "cat '" + sandbox.Write(QStringLiteral("log-output"), LogOutput(entries)).toStdString() + "'");
}

// A line of the monitoring-plugins guidelines: state, text without "|",
// then space-separated 'label'=value[UOM];[warn];[crit];[min];[max].
const QRegularExpression kNagiosLine(
    QStringLiteral("^QUILLABY (OK|WARNING|CRITICAL|UNKNOWN) - [^|\\n]+ \\| "
                   "(('[^'=]+'|[^'= ]+)=-?\\d+(\\.\\d+)?(s|ms|us|%|B|KB|MB|TB|c)?(;(-?\\d+(\\.\\d+)?)?){0,4})"
                   "( ('[^'=]+'|[^'= ]+)=-?\\d+(\\.\\d+)?(s|ms|us|%|B|KB|MB|TB|c)?(;(-?\\d+(\\.\\d+)?)?){0,4})*\\n$"));

// Every third outcome, from the first, second or third, in every format.
void EachOutcome(std::size_t third)
{
    const std::string later = "2026-03-10 11:00:00";
    const char* const noSuccess = "No successful backups reported in the current log";
    const char* const noSuccessFolder = "No successful backups reported in the current log and no problems reported.";
    struct Case {
        const char* name;
        std::string which;
        std::vector<std::string> entries;
        int code;
        const char* shown; // in the text output
        const char* nagios;
        int nagiosCode;
        const char* problem; // the problem_info label; nullptr: none expected
        const char* folder;
        bool offline, successFound;
        int problemLines;
    };
    const Case cases[] = {
        {"nothing", "today", Log(60, {kSuccess}), 0, "No Time Machine Errors to report in the current log.",
            "OK - no Time Machine errors", 0, nullptr, "", false, true, 0},
        {"invisible file", "today",
            Log(60,
                {kSuccess,
                    LogEntry(
                        later, "Error: (-36) SrcErr:NO Copying /Users/s\xC3\xA9verine/.DS_Store to /Volumes/B/x")}),
            1, "Copying /Users/s\xC3\xA9verine/.DS_Store", "WARNING - The last problem was '.DS_Store' (Invisible)", 1,
            ".DS_Store", "Users:s\xC3\xA9verine", false, true, 1},
        {"offline", "today", Log(60, {kSuccess, kOffline}), 1, "Backup drive offline\n",
            "CRITICAL - Backup drive offline", 2, "Backup drive offline", "", true, true, 1},
        {"offline in a short log", "today", Log(5, {kSuccess, kOffline}), 1, "Backup drive offline\n",
            "CRITICAL - Backup drive offline", 2, "Backup drive offline", "", true, true, 1},
        {"failed", "today",
            Log(60,
                {kSuccess, LogEntry(later, "Error: (-8084) Copying failed"),
                    LogEntry(later, "Backup failed with error: 11")}),
            1, "al] Error: (-8084) Copying failed\n", "CRITICAL - Error: (-8084) Copying failed", 2,
            "Error: (-8084) Copying failed\n\n2026-03-10 11:00:00al] Backup failed with error: 11\n\n2026-03-10 "
            "11:00:00al] Backup failed with error: 11",
            "", false, true, 3},
        {"no success line", "today", Log(60, {}), 1, noSuccess,
            "WARNING - No successful backups reported in the current log", 1, noSuccess, noSuccessFolder, false, false,
            0},
        {"short log", "today", Log(5, {}), 2, noSuccess, "UNKNOWN - No successful backups reported in the current log",
            3, noSuccess, noSuccessFolder, false, false, 0},
        {"no log", "today", {}, 2, noSuccess, "UNKNOWN - No successful backups reported in the current log", 3,
            noSuccess, noSuccessFolder, false, false, 0},
        {"yesterday", "yesterday", Log(60, {kSuccess}), 0, "No Time Machine errors to report in yesterday's log.",
            "OK - no Time Machine errors", 0, nullptr, "", false, false, 0},
        {"no log yesterday", "yesterday", {}, 2, "Unable to get yesterday's error log",
            "UNKNOWN - Unable to get yesterday's error log", 3, "Unable to get yesterday's error log.", "", false,
            false, 0},
    };
    Sandbox sandbox;
    for (std::size_t i = third; i < std::size(cases); i += 3) {
        const Case& c = cases[i];
        const bool successLine = std::count(c.entries.begin(), c.entries.end(), kSuccess) > 0;
        SCOPED_TRACE(c.name);
        StubLog(sandbox, c.entries);

        const Outcome json = Report("--json " + c.which);
        EXPECT_EQ(json.code, c.code);
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
        EXPECT_EQ(o.keys().join(QLatin1Char(' ')),
            QStringLiteral("driveOffline emailRequested emailSent errorFound lastProblem lastSuccessText "
                           "problemFolder report spotlightConflict status successFound"));
        EXPECT_EQ(o[QStringLiteral("driveOffline")], c.offline);
        EXPECT_EQ(o[QStringLiteral("successFound")], c.successFound);
        EXPECT_EQ(o[QStringLiteral("problemFolder")], QString::fromUtf8(c.folder));

        // The report's and the status line's lines end LF, the status last.
        const Outcome text = Report(c.which);
        const std::string status
            = o[QStringLiteral("status")].toString().replace(QStringLiteral("\r\n"), QStringLiteral("\n")).toStdString()
            + "\n";
        EXPECT_EQ(text.code, c.code) << text.err;
        EXPECT_NE(text.out.find(c.shown), std::string::npos) << text.out;
        EXPECT_EQ(text.out.rfind(status), text.out.size() - status.size());
        EXPECT_EQ(text.out.find('\r'), std::string::npos);
        EXPECT_EQ(text.out.rfind(c.offline     ? "Backup drive offline\n\n"
                          : c.which == "today" ? "Current Time Machine Log for last 4 hours:\n\n"
                                               : "Yesterday's Time Machine Log:\n\n",
                      0),
            0u)
            << text.out;

        const Outcome nagios = Report(c.which + " --format=nagios");
        const QString line = QString::fromStdString(nagios.out);
        EXPECT_EQ(nagios.code, c.nagiosCode);
        EXPECT_TRUE(kNagiosLine.match(line).hasMatch()) << nagios.out;
        EXPECT_EQ(nagios.out.rfind("QUILLABY " + std::string(c.nagios) + " | ", 0), 0u) << nagios.out;
        EXPECT_TRUE(line.contains(QStringLiteral("problem_lines=%1;;;0").arg(c.problemLines))) << nagios.out;
        EXPECT_EQ(line.contains(QRegularExpression(QStringLiteral("last_success_age=\\d+s;;;0 "))), successLine);

        const double now = static_cast<double>(QDateTime::currentSecsSinceEpoch());
        const Outcome prom = Report(c.which + " --format prometheus");
        EXPECT_EQ(prom.code, c.code);
        const QJsonArray samples = Samples(prom.out);
        const std::pair<const char*, std::string> log {"log", c.which};
        EXPECT_EQ(Sample(samples, "quillaby_status", {log}), c.code);
        EXPECT_EQ(Sample(samples, "quillaby_drive_offline", {log}), c.offline ? 1 : 0);
        EXPECT_EQ(Sample(samples, "quillaby_success_found", {log}), c.successFound ? 1 : 0);
        EXPECT_EQ(Sample(samples, "quillaby_error_found", {log}), o[QStringLiteral("errorFound")].toBool());
        EXPECT_EQ(Sample(samples, "quillaby_spotlight_conflict", {log}), 0);
        EXPECT_TRUE(Sample(samples, "quillaby_last_backup_day_of_year", {log}));
        EXPECT_NEAR(Sample(samples, "quillaby_run_timestamp_seconds", {log}).value_or(0), now, 600);
        EXPECT_EQ(Sample(samples, "quillaby_last_success_timestamp_seconds", {log}),
            successLine ? std::optional<double>(kSuccessSeconds) : std::nullopt);
        EXPECT_EQ(Sample(samples, "quillaby_problem_info",
                      {log, {"problem", c.problem ? c.problem : ""}, {"folder", c.folder}}),
            c.problem ? std::optional<double>(1) : std::nullopt)
            << prom.out;
    }
}

} // namespace

// In three parts, for the time limit of a test in the sanitizer build.
TEST(ReportCommand, EachOutcomeInEveryFormat1)
{
    EachOutcome(0);
}

TEST(ReportCommand, EachOutcomeInEveryFormat2)
{
    EachOutcome(1);
}

TEST(ReportCommand, EachOutcomeInEveryFormat3)
{
    EachOutcome(2);
}

TEST(ReportCommand, PrometheusLabelsAreEscapedCutAndServedByNodeExporter)
{
    Sandbox sandbox;
    // Cut to 200 UTF-16 units with an ellipsis, never inside a surrogate pair.
    const std::size_t head = LogEntry(kT, "Error: ").size();
    for (const std::string& tail : {std::string(100, 'x'), std::string(198 - head, 'x') + "\xF0\x9F\x98\x80yyyy"}) {
        const QString entry = QString::fromStdString(LogEntry(kT, "Error: " + tail));
        StubLog(sandbox, Log(60, {kSuccess, entry.toStdString()}));
        const QString label = entry.left(entry.at(198).isHighSurrogate() ? 198 : 199) + QChar(0x2026);
        EXPECT_EQ(Sample(Samples(Report("yesterday --format=prometheus").out), "quillaby_problem_info",
                      {{"problem", label.toStdString()}}),
            1);
    }
    // node_exporter's textfile collector serves what the command wrote:
    // the file appears whole, and standard output stays empty.
    const QString folder = sandbox.path() + QStringLiteral("/textfile");
    QDir().mkpath(folder);
    StubLog(sandbox, Log(60, {kSuccess, kOffline}));
    Outcome r = Report("today --format prometheus --output " + folder.toStdString() + "/quillaby.prom");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(r.out.empty());
    const std::string hostile = LogEntry(kT, "Error: \"quoted\" C:\\dir\\ | ends\\");
    StubLog(sandbox, Log(60, {kSuccess, hostile}));
    r = Report("yesterday --format=prometheus --output=" + folder.toStdString() + "/quillaby-yesterday.prom");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).join(QLatin1Char(' ')),
        QStringLiteral("quillaby-yesterday.prom quillaby.prom"));
    // The plugin line is one line, and "|" starts its performance data.
    EXPECT_EQ(Report("yesterday --format=nagios")
                  .out.rfind("QUILLABY WARNING - The last problem yesterday was '"
                          + LogEntry(kT, "Error: \"quoted\" C:\\dir\\ / ends\\") + " | ",
                      0),
        0u);

    QProcess exporter;
    exporter.setProcessChannelMode(QProcess::MergedChannels);
    int port = 0;
    for (int attempt = 0; attempt < 5 && port == 0; ++attempt) {
        // A loopback port that was free a moment ago.
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof a;
        bind(fd, reinterpret_cast<sockaddr*>(&a), size);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
        close(fd);
        exporter.start(QStringLiteral("prometheus-node-exporter"),
            {QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(ntohs(a.sin_port)),
                QStringLiteral("--collector.disable-defaults"), QStringLiteral("--collector.textfile"),
                QStringLiteral("--collector.textfile.directory=") + folder});
        QByteArray said;
        for (QDeadlineTimer deadline(20000);
             !deadline.hasExpired() && exporter.state() != QProcess::NotRunning && !said.contains("Listening on");)
            said += exporter.waitForReadyRead(200) ? exporter.readAll() : QByteArray();
        if (said.contains("Listening on"))
            port = ntohs(a.sin_port);
        else
            exporter.kill(), exporter.waitForFinished(5000);
    }
    ASSERT_NE(port, 0) << "node_exporter did not start";
    const QJsonArray samples = Samples({}, QStringLiteral("http://127.0.0.1:%1/metrics").arg(port));
    exporter.terminate();
    EXPECT_TRUE(exporter.waitForFinished(10000));
    EXPECT_EQ(Sample(samples, "quillaby_drive_offline", {{"log", "today"}}), 1);
    EXPECT_EQ(Sample(samples, "quillaby_problem_info", {{"log", "today"}, {"problem", "Backup drive offline"}}), 1);
    EXPECT_EQ(Sample(samples, "quillaby_problem_info", {{"log", "yesterday"}, {"problem", hostile}}), 1);
    EXPECT_EQ(Sample(samples, "node_textfile_scrape_error"), 0);
}

TEST(ReportCommand, BadCommandLinesAndUnwritableOutputs)
{
    Sandbox sandbox;
    StubLog(sandbox, Log(60, {kSuccess}));
    for (const char* bad : {"", "tomorrow", "today yesterday", "--json", "today --format xml", "today --output",
             "today --output=", "today --json --format=nagios"}) {
        const Outcome r = Report(bad);
        EXPECT_EQ(r.code, 64) << bad;
        EXPECT_NE(r.err.find("usage: quillaby-report"), std::string::npos);
        EXPECT_TRUE(r.out.empty());
    }
    const std::string file = sandbox.path().toStdString() + "/report.txt";
    const std::tuple<std::string, const char*, int, const char*> cases[]
        = {{"today", ">/dev/full", 74, "quillaby-report: write error: No space left on device\n"},
            {"today --format=nagios", ">&-", 74, "quillaby-report: write error: Bad file descriptor\n"},
            {"today --output " + file, ">&-", 0, ""},
            {"today --output=" + sandbox.path().toStdString() + "/missing/x.prom", "", 74,
                "quillaby-report: cannot write "}};
    for (const auto& [args, redirection, code, err] : cases) {
        const Outcome r = Report(args, redirection);
        EXPECT_EQ(r.code, code) << args << redirection << r.err;
        EXPECT_NE(r.err.find(err), std::string::npos) << r.err;
    }
    EXPECT_NE(ReadFile(QString::fromStdString(file)).find("No Time Machine Errors"), std::string::npos);
    // A report longer than the output's buffer fails part way, in either format.
    std::vector<std::string> errors;
    for (int i = 0; i < 300; ++i)
        errors.push_back(LogEntry(kT, "Error: (-36) SrcErr:NO Copying /Users/a/" + std::to_string(i) + " to /B"));
    StubLog(sandbox, Log(60, errors));
    for (const char* args : {"today", "--json today"})
        EXPECT_EQ(Report(args, ">/dev/full").code, 74) << args;

    // A folder where the settings file should be: told on standard error
    // alone (no login session, so Qt has nothing to say), and status 2.
    const QString settings = sandbox.path() + QStringLiteral("/.local/share/Quillaby/Settings");
    QFile::remove(settings);
    QDir().mkpath(settings);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    const Outcome r = Report("today", {}, env);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err.rfind("quillaby-report: The settings file could not be read.\n", 0), 0u) << r.err;
}

// On the simulated Mac the bundle's stand-in `log` words its entries as the
// system named does, and the command reads either wording.
TEST(ReportCommand, SimulatedMacsOfEitherWording)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'");
    const std::tuple<const char*, const char*, std::string, int, const char*> cases[]
        = {{"26.1", "2026-03-10 12:00:00", "today", 0,
               "Current Time Machine Log for last 4 hours:\n\n2026-03-10 08:30:06al] Completed backup: "
               "2026-03-10-082759\n"},
            // The NAS cannot be reached since 15:42.
            {"26.1", "2026-03-01 16:00:00", "today", 1, "\nBackup drive offline\n"},
            {"26.1", "2026-03-09 18:50:00", "today", 1,
                "2026-03-09 18:21:33al] Backup failed (304: BACKUP_FAILED_PREFLIGHT_STAGE_SNAPSHOT_DIFFING)\n\n"},
            {"26.1", "2026-03-02 12:00:00", "yesterday", 1,
                "Failing backup with BACKUP_FAILED_DISCONNECTED_DISK_IMAGE (70)"},
            {nullptr, "2026-03-10 12:00:00", "yesterday", 0, "Backup completed successfully."}};
    for (const auto& [version, now, which, code, shown] : cases) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QUILLABY_LOG_REPLAY"));
        env.insert(QStringLiteral("QUILLABY_LOG_NOW"), QLatin1String(now));
        if (version)
            env.insert(QStringLiteral("QUILLABY_SIMULATED_MACOS"), QLatin1String(version));
        else
            env.remove(QStringLiteral("QUILLABY_SIMULATED_MACOS"));
        const Outcome r = Report(which, {}, env);
        EXPECT_EQ(r.code, code) << now;
        EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find(version ? "Backup completed successfully." : "Completed backup:"), std::string::npos);
    }
}

// The status of a log that never came, which only a stalled command gives.
TEST(ReportCommand, ExitStatusFollowsTheFinalStatus)
{
    const char* const notAvailable = "\r\nYesterday's log is not available\r\n";
    EXPECT_EQ(ReportFinalStatus({}, notAvailable), QStringLiteral("Yesterday's log is not available"));
    EXPECT_EQ(ReportFinalStatus(QStringLiteral("x"), notAvailable), QStringLiteral("x"));
    EXPECT_EQ(ReportFinalStatus({}, "\r\nSomething else\r\n"), QString());
    gTooFewLines = 0;
    EXPECT_EQ(ReportExitStatus(QStringLiteral("Yesterday's log is not available")), 2);
}
