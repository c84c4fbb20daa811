// quillaby-report's exit statuses and outputs in every format; the installed tree and the bundle as tools see them.

#include "../monitor/monitor_support.h"

#include "app/environment.h"
#include "app/report_output.h"
#include "monitor/state.h"
#include "runtime/testing.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/mount.h>
#include <sys/sysmacros.h>

namespace {

QJsonObject Json(const std::string& text)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

// Prometheus text through prometheus_client's parser (ours all gauges with help): "name label=value ..." -> value.
QJsonObject Samples(const std::string& text)
{
    static const char* const kParser = R"(import json, sys
from prometheus_client.parser import text_string_to_metric_families
families = list(text_string_to_metric_families(sys.stdin.read()))
assert all(f.type == 'gauge' and f.documentation for f in families if f.name.startswith('quillaby_'))
print(json.dumps({' '.join([s.name] + ['%s=%s' % l for l in sorted(s.labels.items())]): s.value
                  for f in families for s in f.samples})))";
    const ShResult r = Sh(std::string("/usr/bin/python3 -c \"") + kParser + "\"", text);
    EXPECT_EQ(r.code, 0) << r.err << text;
    return Json(r.out);
}

const std::string kT = "2026-03-10 10:15:03";
const std::string kSuccess = LogEntry(kT, "Backup completed successfully.");
const std::string kOffline = LogEntry("2026-03-10 11:00:00", "Backup failed with error: 19");

std::vector<std::string> Log(int filler, const std::vector<std::string>& entries)
{
    std::vector<std::string> all = Filler(filler);
    all.insert(all.end(), entries.begin(), entries.end());
    return all;
}

// The stub `log` prints these entries and counts its runs in log-runs; `ps` lists no other test's command.
void StubLog(const Sandbox& sandbox, const std::vector<std::string>& entries)
{
    sandbox.Stub(QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'");
    sandbox.Stub(QStringLiteral("log"),
        "echo >> '" + sandbox.path().toStdString() + "/log-runs'; cat '"
            + sandbox.Write(QStringLiteral("log-output"), LogOutput(entries)).toStdString() + "'");
}

// Monitoring plugins: state, text without "|", then 'label'=value[UOM];[warn];[crit];[min];[max] ...
const QRegularExpression kNagiosLine(
    QStringLiteral("^QUILLABY (OK|WARNING|CRITICAL|UNKNOWN) - [^|\\n]+ \\| "
                   "(('[^'=]+'|[^'= ]+)=-?\\d+(\\.\\d+)?(s|ms|us|%|B|KB|MB|TB|c)?(;(-?\\d+(\\.\\d+)?)?){0,4})"
                   "( ('[^'=]+'|[^'= ]+)=-?\\d+(\\.\\d+)?(s|ms|us|%|B|KB|MB|TB|c)?(;(-?\\d+(\\.\\d+)?)?){0,4})*\\n$"));

} // namespace

// Each outcome in every format: a case shows the exit status, the JSON's flags, the plugin line ("age" for the last
// success's), the problem's labels and " yesterday" for that log; the rest agree. Then labels are escaped and cut.
TEST(ReportCommand, EachOutcomeInEveryFormatAndPrometheusLabelsEscapedAndCut)
{
    const std::string later = "2026-03-10 11:00:00";
    const std::string noSuccess = "No successful backups reported in the current log";
    const std::string noSuccessLabels
        = " | folder=" + noSuccess + " and no problems reported. log=today problem=" + noSuccess;
    const std::string offline
        = "1 driveOffline errorFound successFound | CRITICAL - Backup drive offline | age problem_lines=1 "
          "| folder= log=today problem=Backup drive offline";
    // The expected outcome, the log, and a settings file made read-only (the next run would warn without cause).
    struct Case {
        std::string expected;
        std::vector<std::string> entries;
        std::string settings = {};
    };
    const Case cases[] = {
        {"0 successFound | OK - no Time Machine errors | age problem_lines=0", Log(60, {kSuccess})},
        {"1 errorFound successFound | WARNING - The last problem was '.DS_Store' (Invisible) | age problem_lines=1 | "
         "folder=Users:s\xC3\xA9verine log=today problem=.DS_Store",
            Log(60,
                {kSuccess,
                    LogEntry(
                        later, "Error: (-36) SrcErr:NO Copying /Users/s\xC3\xA9verine/.DS_Store to /Volumes/B/x")})},
        {offline, Log(60, {kSuccess, kOffline})},
        {offline, Log(5, {kSuccess, kOffline})},
        {"1 errorFound successFound | CRITICAL - Error: (-8084) Copying failed | age problem_lines=3 | folder= "
         "log=today problem=Error: (-8084) Copying failed\n\n2026-03-10 11:00:00al] Backup failed with error: "
         "11\n\n2026-03-10 11:00:00al] Backup failed with error: 11",
            Log(60,
                {kSuccess, LogEntry(later, "Error: (-8084) Copying failed"),
                    LogEntry(later, "Backup failed with error: 11")})},
        {"1 | WARNING - " + noSuccess + " | problem_lines=0" + noSuccessLabels, Log(60, {})},
        {"2 | UNKNOWN - " + noSuccess + " | problem_lines=0" + noSuccessLabels, Log(5, {})},
        {"2 | UNKNOWN - " + noSuccess + " | problem_lines=0" + noSuccessLabels, {}},
        {"0 | OK - no Time Machine errors | age problem_lines=0 yesterday", Log(60, {kSuccess})},
        {"2 | UNKNOWN - Unable to get yesterday's error log | problem_lines=0 | folder= log=yesterday "
         "problem=Unable to get yesterday's error log. yesterday",
            {}},
        {"2 settingsSaveFailed settingsUnreadable successFound | UNKNOWN - no Time Machine errors; the settings file "
         "could not be read | age problem_lines=0",
            Log(60, {kSuccess}), std::string(" 1\r\0\r", 5)},
        {"1 settingsSaveFailed successFound | WARNING - no Time Machine errors; the settings could not be saved | age "
         "problem_lines=0",
            Log(60, {kSuccess}), " 0\r\r\r 0\r 0\r 0\r 1\r\r"},
    };
    const std::pair<const char*, const char*> flags[] = {{"driveOffline", "drive_offline"},
        {"errorFound", "error_found"}, {"settingsSaveFailed", "settings_save_failed"}, {"settingsUnreadable", nullptr},
        {"spotlightConflict", "spotlight_conflict"}, {"successFound", "success_found"}};
    Sandbox sandbox;
    for (const auto& [expected, entries, settings] : cases) {
        SCOPED_TRACE(expected);
        const std::string which = expected.ends_with(" yesterday") ? "yesterday" : "today";
        StubLog(sandbox, entries);
        const QString file = sandbox.Write(QStringLiteral(".local/share/Quillaby/Settings"), settings);
        chmod(QFile::encodeName(file).constData(), 0444);
        if (settings.empty())
            QFile::remove(file); // a first start's
        const ShResult json = Report("--json " + which), text = Report(which),
                       nagios = Report(which + " --format=nagios"), prom = Report(which + " --format prometheus");
        const QJsonObject o = Json(json.out), samples = Samples(prom.out);
        const auto sample = [&](const std::string& name) {
            return samples[QString::fromStdString("quillaby_" + name + " log=" + which)];
        };
        std::string seen = std::to_string(json.code);
        for (const auto& [key, metric] : flags) {
            seen += o[QLatin1String(key)].toBool() ? std::string(" ") + key : "";
            EXPECT_TRUE(!metric || sample(metric).toDouble(-1) == (o[QLatin1String(key)].toBool() ? 1 : 0)) << key;
        }
        QString line = QString::fromStdString(nagios.out);
        EXPECT_TRUE(kNagiosLine.match(line).hasMatch()) << nagios.out;
        line.replace(QRegularExpression(QStringLiteral("last_success_age=\\d+s;;;0 ")), QStringLiteral("age "));
        seen += " | " + line.remove(QStringLiteral(";;;0")).trimmed().mid(9).toStdString();
        for (const QString& key : samples.keys())
            seen += key.startsWith(QLatin1String("quillaby_problem_info ")) ? " | " + key.mid(22).toStdString() : "";
        EXPECT_EQ(seen + (which == "today" ? "" : " yesterday"), expected);
        EXPECT_EQ(o.keys().join(QLatin1Char(' ')),
            QStringLiteral("driveOffline emailError emailRequested emailSent errorFound lastProblem lastSuccessBlock "
                           "lastSuccessText problemFolder report settingsSaveFailed settingsUnreadable "
                           "spotlightConflict status successFound"));
        // The other formats' statuses (the plain text's bytes are WriteReportPlainText's, below).
        EXPECT_EQ(std::vector<double>({double(text.code), sample("status").toDouble(-1), double(nagios.code)}),
            std::vector<double>({double(json.code), double(json.code),
                double(QStringList({QStringLiteral("OK"), QStringLiteral("WARNING"), QStringLiteral("CRITICAL"),
                                       QStringLiteral("UNKNOWN")})
                           .indexOf(line.section(QLatin1Char(' '), 1, 1)))}));
        EXPECT_FALSE((o[QStringLiteral("report")].toString() + o[QStringLiteral("status")].toString())
                         .contains(QLatin1Char('\r')));
        EXPECT_NE(
            text.out.find(o[QStringLiteral("status")].toString().trimmed().toStdString() + "\n"), std::string::npos);
        EXPECT_EQ(o[QStringLiteral("lastSuccessText")].toString().toStdString(),
            which == "today" && expected.find("| age") != std::string::npos ? kT + "al] Backup completed successfully."
                                                                            : "");
        // The command started ahead of the window is the one read: one run a report.
        EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/log-runs")), std::string(4, '\n'));
        QFile::remove(sandbox.path() + QStringLiteral("/log-runs"));
        EXPECT_TRUE(sample("last_backup_day_of_year").isDouble());
        EXPECT_NEAR(sample("run_timestamp_seconds").toDouble(), QDateTime::currentSecsSinceEpoch(), 600);
        // kT in UTC, the tests' time zone, when the plugin line has an age.
        EXPECT_EQ(sample("last_success_timestamp_seconds").toDouble(),
            expected.find("| age") != std::string::npos ? 1773137703 : 0);
        EXPECT_TRUE(settings.empty() || ReadFile(file) == settings);
        QFile::remove(file);
    }

    // Prometheus labels are escaped and cut to 200 UTF-16 units with an ellipsis, never inside a surrogate pair.
    const std::size_t head = LogEntry(kT, "Error: ").size();
    for (const std::string& tail : {std::string(100, 'x'), std::string(198 - head, 'x') + "\xF0\x9F\x98\x80yyyy"}) {
        const QString entry = QString::fromStdString(LogEntry(kT, "Error: " + tail));
        StubLog(sandbox, Log(60, {kSuccess, entry.toStdString()}));
        const QString label = entry.left(entry.at(198).isHighSurrogate() ? 198 : 199) + QChar(0x2026);
        EXPECT_TRUE(Samples(Report("yesterday --format=prometheus").out)
                        .contains(QStringLiteral("quillaby_problem_info folder= log=yesterday problem=") + label));
    }
    // Textfiles for a collector; standard output stays empty.
    const QString folder = sandbox.path() + QStringLiteral("/textfile");
    QDir().mkpath(folder);
    StubLog(sandbox, Log(60, {kSuccess, kOffline}));
    EXPECT_EQ(Report("today --format prometheus --output " + folder.toStdString() + "/quillaby.prom").out, "");
    const std::string hostile = LogEntry(kT, "Error: \"quoted\" C:\\dir\\ | ends\\");
    StubLog(sandbox, Log(60, {kSuccess, hostile}));
    const ShResult r
        = Report("yesterday --format=prometheus --output=" + folder.toStdString() + "/quillaby-yesterday.prom");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).join(QLatin1Char(' ')),
        QStringLiteral("quillaby-yesterday.prom quillaby.prom"));
    // The plugin line is one line, and "|" starts its performance data.
    EXPECT_EQ(Report("yesterday --format=nagios")
                  .out.rfind("QUILLABY WARNING - The last problem yesterday was '"
                          + LogEntry(kT, "Error: \"quoted\" C:\\dir\\ / ends\\") + " | ",
                      0),
        0u);
    for (const auto& [file, key] : {std::pair {"quillaby.prom", std::string("quillaby_drive_offline log=today")},
             {"quillaby-yesterday.prom", "quillaby_problem_info folder= log=yesterday problem=" + hostile}})
        EXPECT_EQ(Samples(ReadFile(folder + QLatin1Char('/') + QLatin1String(file)))[QString::fromStdString(key)], 1)
            << file;
}

// The text output's line ends and encoding; the status of a log never had; bad command lines, unwritable outputs, a
// settings folder; the stand-in `log` words entries as the simulated Mac does, and either wording is read.
TEST(ReportCommand, PlainTextBadCommandLinesUnwritableOutputsAndSimulatedMacs)
{
    std::string many;
    for (int i = 0; i < 300'000; ++i)
        many += "line " + std::to_string(i) + "\r\n";
    std::string manyOut = many;
    manyOut.erase(std::remove(manyOut.begin(), manyOut.end(), '\r'), manyOut.end());
    const std::tuple<std::string, const char*, std::string> texts[]
        = {{"a\r\n\r\nb\rc\r\n\r\n", "S", "a\n\nb\rc\n\nS\n"},
            {"\x8Et\xC3\xA9\r\r\n", "S\r\n", "\xC3\xA9t\xC3\xA9\n\nS\n"}, {"x\r", "", "x\n"}, {"\r\n\r", "S", "S\n"},
            {"", "", ""}, {many, "", manyOut}};
    for (const auto& [report, status, text] : texts) {
        std::string out;
        EXPECT_TRUE(WriteReportPlainText(report, QString::fromLatin1(status), [&out](std::string_view bytes) {
            out += bytes;
            return true;
        }));
        EXPECT_TRUE(out == text) << report.substr(0, 40) << " gave " << out.substr(0, 40);
    }
    const char* const notAvailable = "\r\nYesterday's log is not available\r\n";
    EXPECT_EQ(ReportFinalStatus({}, notAvailable), QStringLiteral("Yesterday's log is not available"));
    EXPECT_EQ(ReportFinalStatus(QStringLiteral("x"), notAvailable), QStringLiteral("x"));
    EXPECT_EQ(ReportFinalStatus({}, "\r\nSomething else\r\n"), QString());
    gTooFewLines = 0;
    EXPECT_EQ(ReportExitStatus(QStringLiteral("Yesterday's log is not available")), 2);

    Sandbox sandbox;
    const std::string base = sandbox.path().toStdString(), file = base + "/report.txt";
    std::vector<std::string> errors;
    for (int i = 0; i < 300; ++i)
        errors.push_back(LogEntry(kT, "Error: (-36) SrcErr:NO Copying /Users/a/" + std::to_string(i) + " to /B"));
    const std::string full = "quillaby-report: write error: No space left on device\n";
    const std::tuple<bool, std::string, int, std::string> cases[] = {
        {false, "", 64, "quillaby-report: no command: today or yesterday\nTry 'quillaby-report --help'"},
        {false, "tomorrow", 64, "unknown command 'tomorrow'"}, {false, "today --bogus", 64, "unknown option '--bogus'"},
        {false, "today yesterday", 64, "one command only"}, {false, "--json", 64, "no command"},
        {false, "today --format xml", 64, "unknown format 'xml'"},
        {false, "today --output", 64, "option '--output' needs a value"},
        {false, "today --output=", 64, "option '--output' needs a value"},
        {false, "today --json --format=nagios", 64, "option '--format' given twice"},
        {false, "today >/dev/full", 74, full},
        {false, "today --format=nagios >&-", 74, "quillaby-report: write error: Bad file descriptor\n"},
        {false, "today --output " + file + " >&-", 0, ""},
        {false, "today --output=" + base + "/missing/x.prom", 74, "quillaby-report: cannot write "},
        {false, "today --output " + base, 74, "quillaby-report: cannot write " + base + ": it is a folder\n"},
        {true, "today >/dev/full", 74, full}, {true, "--json today >/dev/full", 74, full}};
    for (const auto& [big, args, code, err] : cases) {
        StubLog(sandbox, Log(60, big ? errors : std::vector<std::string> {kSuccess}));
        const ShResult r = Report(args);
        EXPECT_EQ(r.code, code) << args << r.err;
        EXPECT_NE(r.err.find(err), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_NE(ReadFile(QString::fromStdString(file)).find("No Time Machine Errors"), std::string::npos);
    // --help prints the usage and --version the version, to standard output, whatever else is given.
    for (const char* args : {"--help", "today --help", "--version tomorrow"}) {
        const ShResult h = Report(args);
        EXPECT_EQ(std::to_string(h.code) + h.err, "0") << args;
        EXPECT_EQ(h.out.rfind(args[2] == 'v' ? "quillaby-report 8.0.2\n" : "usage: quillaby-report COMMAND", 0), 0u)
            << h.out;
    }
    const QString settings = sandbox.path() + QStringLiteral("/.local/share/Quillaby/Settings");
    QFile::remove(settings);
    QDir().mkpath(settings);
    const ShResult r = Report("today", "unset XDG_RUNTIME_DIR;");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err.rfind("quillaby-report: The settings file could not be read.\n", 0), 0u) << r.err;

    QDir(settings).removeRecursively();
    QFile::remove(sandbox.bin() + QStringLiteral("/log"));
    const std::tuple<const char*, const char*, std::string, int, const char*> macs[]
        = {{"26.1", "2026-03-10 12:00:00", "today", 0,
               "Current Time Machine Log for last 4 hours:\n\n2026-03-10 08:30:06al] Completed backup: "
               "2026-03-10-082759\n"},
            // The NAS cannot be reached since 15:42.
            {"26.1", "2026-03-01 16:00:00", "today", 1, "\nBackup drive offline\n"},
            {"26.1", "2026-03-09 18:50:00", "today", 1,
                "2026-03-09 18:21:33al] Backup failed (304: BACKUP_FAILED_PREFLIGHT_STAGE_SNAPSHOT_DIFFING)\n\n"},
            {"26.1", "2026-03-02 12:00:00", "yesterday", 1,
                "Failing backup with BACKUP_FAILED_DISCONNECTED_DISK_IMAGE (70)"},
            // The bundle's own version writes the older wording.
            {"", "2026-03-10 12:00:00", "yesterday", 0, "Backup completed successfully."}};
    for (const auto& [version, now, which, code, shown] : macs) {
        const ShResult mac
            = Report(which, "QUILLABY_LOG_NOW='" + std::string(now) + "' QUILLABY_SIMULATED_MACOS='" + version + "'");
        EXPECT_EQ(mac.code, code) << now;
        EXPECT_NE(mac.out.find(shown), std::string::npos) << mac.out;
        EXPECT_EQ(mac.out.find(*version ? "Backup completed successfully." : "Completed backup:"), std::string::npos);
    }
}

// Prints its free loopback port, then each message, decoded, as a line of JSON.
const char* const kSink = R"PY(
import asyncio, email, email.policy, json, socket
from aiosmtpd.smtp import SMTP

class Sink:
    async def handle_DATA(self, server, session, envelope):
        m = email.message_from_bytes(envelope.original_content, policy=email.policy.default)
        print(json.dumps({"rcpt": envelope.rcpt_tos, "to": str(m["To"]), "subject": str(m["Subject"]),
                          "body": m.get_content(), "raw": envelope.original_content.decode("utf-8", "replace")}),
              flush=True)
        return "250 OK"

async def main():
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    sock.listen()
    await asyncio.get_running_loop().create_server(lambda: SMTP(Sink()), sock=sock)
    print(sock.getsockname()[1], flush=True)
    await asyncio.Event().wait()

asyncio.run(main())
)PY";

// Scheduled runs mail once per problem (again after it came back), the no-backup mail once a day, via msmtp to an SMTP
// sink on loopback; a failed mail is said in every format; no control character reaches a mail or plugin line raw.
TEST(ReportCommand, ScheduledRunsMailOncePerProblemAndSayWhenMailFails)
{
    Sandbox sandbox;
    QProcess sink; // killed when it goes
    sink.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sink.start(QStringLiteral("/usr/bin/python3"), {sandbox.Write(QStringLiteral("sink.py"), kSink)});
    for (QDeadlineTimer deadline(30000); !sink.canReadLine() && !deadline.hasExpired();)
        sink.waitForReadyRead(100);
    ASSERT_TRUE(sink.canReadLine()) << "the SMTP sink did not start (python3-aiosmtpd)";
    const std::string port = sink.readLine().trimmed().toStdString();
    // msmtp as the sendmail interface, configured only through its own file.
    const QString rc = sandbox.Write(QStringLiteral("msmtprc"),
        "account default\nhost 127.0.0.1\nport " + port + "\nauth off\ntls off\nfrom quillaby@localhost\n");
    QFile::setPermissions(rc, QFile::ReadOwner | QFile::WriteOwner);
    sandbox.Stub(QStringLiteral("sendmail"), "exec msmtp -C '" + rc.toStdString() + "' \"$@\"");
    sandbox.Stub(QStringLiteral("scutil"), "printf '%s\\n' 'Sam\xE2\x80\x99s \"Mac\"'");
    const QString settings = QStringLiteral(".local/share/Quillaby/Settings");
    sandbox.Write(settings, " 1\rsam@example.com\rpat@example.org\r 0\r 0\r 0\r 1\r\r");
    const auto failing = Log(60,
        {kSuccess, LogEntry("2026-03-10 11:00:00", "Error: \x1B[2Jwiped\x01"),
            LogEntry("2026-03-10 11:00:00", "Backup failed with error: 11")});
    const auto fine = Log(60, {kSuccess});
    std::vector<QJsonObject> mails;
    const auto received = [&sink, &mails] {
        sink.waitForReadyRead(200); // each message was printed whole before the report ended
        while (sink.canReadLine())
            mails.push_back(Json(sink.readLine().toStdString()));
        return mails.size();
    };
    const std::tuple<const std::vector<std::string>*, const char*, std::size_t> runs[] = {
        {&failing, "--notify --json", 2}, {&failing, "--notify", 2}, {&failing, "--notify", 2}, {&fine, "--notify", 2},
        {&failing, "--json", 2}, {&failing, "--notify", 4}, {&failing, "", 4}, {&failing, "--notify", 4}};
    for (const auto& [log, args, sent] : runs) {
        StubLog(sandbox, *log);
        const ShResult r = Report(std::string("today ") + args);
        EXPECT_EQ(received(), sent) << args << r.err;
        if (std::string_view(args) != "--notify --json")
            continue;
        // Both addresses, each its own message, CR LF on the wire and the body as the report has it.
        const QJsonObject o = Json(r.out);
        EXPECT_EQ(r.code * 10 + o[QStringLiteral("emailSent")].toBool(), 11) << r.err;
        // The JSON's texts have LF line ends; the mail's body has the report's CR LF.
        QString body = o[QStringLiteral("lastProblem")].toString();
        EXPECT_TRUE(body.contains(QStringLiteral("\n\n\nLast Successful Backup Message:"))) << body.toStdString();
        body.replace(QChar(0x1B), QChar(0x241B))
            .replace(QChar(1), QChar(0x2401))
            .replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
        QStringList to;
        for (const QJsonObject& m : mails) {
            to << m[QStringLiteral("to")].toString();
            EXPECT_EQ(m[QStringLiteral("rcpt")].toArray(), QJsonArray({to.back()}));
            EXPECT_EQ(m[QStringLiteral("subject")].toString(),
                QStringLiteral("Time Machine Backup Failed for User ") + QDir(sandbox.path()).dirName()
                    + QStringLiteral(" on Mac, Sam\u2019s \"Mac\""));
            EXPECT_TRUE(m[QStringLiteral("raw")].toString().contains(
                QStringLiteral("\r\nContent-Type: text/plain; charset=UTF-8\r\n")));
            EXPECT_EQ(m[QStringLiteral("body")].toString().toStdString(), body.toStdString());
        }
        EXPECT_EQ(to.join(QLatin1Char(' ')), QStringLiteral("sam@example.com pat@example.org"));
    }
    // The history tells which checks sent the mail.
    EXPECT_EQ(Sql(sandbox.path() + QStringLiteral("/.local/share/Quillaby/history.sqlite"),
                  "SELECT mail_sent FROM checks ORDER BY id"),
        "10000100");
    // No backup for more than a day, with the daily mail on: once a day.
    const int today = QDate::currentDate().dayOfYear();
    if (today > 3) {
        sandbox.Write(settings, " 1\rsam@example.com\r\r 0\r 0\r 1\r " + std::to_string(today - 3) + "\r\r");
        StubLog(sandbox, Log(60, {}));
        for (int i = 0; i < 2; ++i)
            Report("today --notify");
        EXPECT_EQ(received(), 5u);
    }
    // The mail system refuses: standard error, JSON, the plugin line and Prometheus say so.
    sandbox.Stub(QStringLiteral("sendmail"), "echo 'sendmail: cannot connect to relay' >&2; exit 75");
    StubLog(sandbox, failing);
    std::string seen;
    for (const char* format : {"json", "nagios", "prometheus"}) {
        QFile::remove(sandbox.path() + QStringLiteral("/.local/share/Quillaby/State"));
        const ShResult r = Report(std::string("today --notify --format ") + format);
        EXPECT_NE(r.err.find("quillaby-report: The notification email could not be sent.\n"
                             "quillaby-report: sendmail: cannot connect to relay\n"),
            std::string::npos)
            << r.err;
        const QJsonObject o = Json(r.out);
        if (*format == 'j')
            seen += o[QStringLiteral("emailError")].toString().toStdString()
                + " sent=" + (o[QStringLiteral("emailSent")].toBool() ? "1" : "0") + "\n";
        else if (*format == 'n')
            seen += r.out.substr(0, r.out.find(" | ")) + "\n";
        else
            seen += "failed="
                + std::to_string(Samples(r.out)[QStringLiteral("quillaby_email_failed log=today")].toInt()) + "\n";
    }
    EXPECT_EQ(seen,
        "sendmail: cannot connect to relay sent=0\n"
        "QUILLABY CRITICAL - Error: \xE2\x90\x9B[2Jwiped\xE2\x90\x81; the notification email was not sent: sendmail: "
        "cannot connect to relay\n"
        "failed=1\n");
}

// Two reports at once, one's clean-up running while the other's log command waits: each leaves the other's alone.
TEST(ReportCommand, OverlappingRunsLeaveEachOthersLogCommandAloneAndOutputsKeepTheOldFile)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ps"),
        "/bin/ps -ax -o pid=,ppid= > \"$HOME/tree\"\n/bin/ps \"$@\" | awk -v root=" + std::to_string(getpid())
            + " 'NR == FNR { up[$1] = $2; next } { p = $2; while (p > 1 && p != root) p = up[p]; if (p == root) print "
              "}'"
              " \"$HOME/tree\" -");
    const std::string day = LogOutput(Log(60, {kSuccess}));
    QProcess runs[2];
    int writers[2] = {-1, -1};
    for (int i = 0; i < 2; ++i) {
        const QString fifo = sandbox.path() + QStringLiteral("/replay%1").arg(i);
        ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLABY_LOG_REPLAY"), fifo);
        runs[i].setProcessEnvironment(env);
        runs[i].start(QStringLiteral(QZ_REPORT_EXE), {QStringLiteral("yesterday")});
        // The stand-in log of this run is reading its recording once the FIFO takes a writer.
        for (QDeadlineTimer deadline(30000); writers[i] < 0 && !deadline.hasExpired(); QThread::msleep(10))
            writers[i] = open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(writers[i], 0);
    }
    // The second run ends first: its clean-up has run by then, while the first's command still waits.
    for (const int i : {1, 0}) {
        fcntl(writers[i], F_SETFL, 0);
        EXPECT_EQ(write(writers[i], day.data(), day.size()), static_cast<ssize_t>(day.size())) << "run " << i;
        close(writers[i]);
        ASSERT_TRUE(runs[i].waitForFinished(60000));
        const std::string out = runs[i].readAllStandardOutput().toStdString();
        EXPECT_EQ(runs[i].exitCode(), 0) << "run " << i << ": " << out;
        EXPECT_NE(out.find("No Time Machine errors to report in yesterday's log."), std::string::npos) << out;
    }

    // --output: a FIFO or character device is written into and stays; a full disk keeps the old file in every format.
    StubLog(sandbox, Log(60, {kSuccess}));
    const std::string base = sandbox.path().toStdString(), fifo = base + "/fifo", device = base + "/null";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const bool devices = mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    for (const std::string& path : {fifo, device}) {
        if (path == device && !devices)
            continue;
        QProcess reader;
        reader.start(QStringLiteral("cat"), {QString::fromStdString(path)});
        const ShResult r = Report("today --format nagios --output " + path);
        reader.waitForFinished(30000);
        struct stat st { };
        stat(path.c_str(), &st);
        EXPECT_EQ(r.code * 10 + (path == fifo ? S_ISFIFO(st.st_mode) : S_ISCHR(st.st_mode)), 1) << path << r.err;
        EXPECT_EQ(reader.readAllStandardOutput().left(12).toStdString(), path == fifo ? "QUILLABY OK " : "");
    }
    // A tmpfs with no room left.
    const std::string full = base + "/full", old = full + "/quillaby.out";
    QDir().mkpath(QString::fromStdString(full));
    if (mount("tmpfs", full.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0)
        GTEST_SKIP() << "a tmpfs cannot be mounted here (" << std::strerror(errno)
                     << "): the full-disk case is not run";
    const std::unique_ptr<const char, void (*)(const char*)> mounted(
        full.c_str(), [](const char* at) { umount2(at, MNT_DETACH); });
    sandbox.Write(QStringLiteral("full/quillaby.out"), "old\n");
    Sh("cat /dev/zero > '" + full + "/filler'");
    for (const char* format : {"text", "json", "prometheus", "nagios"}) {
        const ShResult r = Report(std::string("today --format ") + format + " --output " + old);
        EXPECT_EQ(r.code, 74) << format;
        EXPECT_EQ(r.err, "quillaby-report: cannot write " + old + ": No space left on device\n");
        EXPECT_EQ(ReadFile(QString::fromStdString(old)), "old\n");
    }
    EXPECT_EQ(QDir(QString::fromStdString(full)).entryList(QDir::Files | QDir::Hidden).join(QLatin1Char(' ')),
        QStringLiteral("filler quillaby.out"));
}

TEST(Install, TheDesktopsToolsAcceptTheInstalledFiles)
{
    Sandbox sandbox;
    const std::string prefix = sandbox.path().toStdString() + "/prefix";
    const ShResult install = Sh("cmake --install '"
        + QFileInfo(QStringLiteral(QZ_BUNDLE_DIR)).absolutePath().toStdString() + "' --prefix '" + prefix + "'");
    ASSERT_EQ(install.code, 0) << install.err;
    for (const char* file : {"bin/quillaby", "bin/quillaby-report", "share/icons/hicolor/256x256/apps/quillaby.png"})
        EXPECT_TRUE(QFileInfo(QString::fromStdString(prefix + "/" + file)).isFile()) << file;
    // Each tool's command line in the prefix, and what it shows. (The tests' own locale may not be installed; man
    // would warn of it.)
    const std::pair<std::string, const char*> checks[] = {
        {"desktop-file-validate share/applications/quillaby.desktop", ""},
        {"appstreamcli validate --no-net share/metainfo/software.fernhollow.quillaby.metainfo.xml",
            "Validation was successful"},
        {"man -l share/man/man1/quillaby-report.1", "QUILLABY-REPORT(1)"},
        {"bin/quillaby-report --version", "quillaby-report 8.0.2\n"},
        {"bash -c '. /usr/share/bash-completion/bash_completion; . share/bash-completion/completions/quillaby-report; "
         "COMP_WORDS=(quillaby-report --format \"\"); COMP_CWORD=2; COMP_LINE=\"quillaby-report --format \"; "
         "COMP_POINT=${#COMP_LINE}; _quillaby_report; echo \"${COMPREPLY[*]}\"'",
            "text json prometheus nagios\n"}};
    for (const auto& [command, shown] : checks) {
        const ShResult r = Sh("cd '" + prefix + "' && LC_ALL=C.UTF-8 " + command);
        EXPECT_EQ(r.code, 0) << command << ": " << r.out << r.err;
        EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
        for (const char* section :
            {"SYNOPSIS", "COMMANDS", "OPTIONS", "FORMATS", "EXIT STATUS", "ENVIRONMENT", "FILES"})
            EXPECT_TRUE(!command.starts_with("man") || r.out.find(section) != std::string::npos) << section;
        EXPECT_TRUE(!command.starts_with("man") || r.err.empty()) << r.err;
    }
}

TEST(Environment, StandInsFollowThePathOrTheSystemDefaultAndSurviveAColonInTheBundlePath)
{
    Sandbox sandbox;
    const std::pair<const char*, bool> cases[] = {{"/plain.app", true}, {"/plain.app", false}, {"/odd:name.app", true}};
    for (const auto& [bundle, pathSet] : cases) {
        const QString probe
            = sandbox.Write(QString::fromUtf8(bundle).mid(1) + QStringLiteral("/Contents/StandIns/standin-probe"),
                "#!/bin/sh\necho stand-in\n");
        QFile::setPermissions(probe, QFile::ReadOwner | QFile::ExeOwner);
        QzSetBundlePath(sandbox.path() + QString::fromUtf8(bundle));
        const std::string saved = std::getenv("PATH");
        if (!pathSet)
            unsetenv("PATH");
        AddStandInsToPath();
        const std::string path = std::getenv("PATH");
        // The shell's answer with the program's PATH.
        EXPECT_EQ(Sh("standin-probe; for c in grep cut ps; do command -v $c; done | wc -l").out, "stand-in\n3\n")
            << path;
        EXPECT_TRUE(pathSet || path.starts_with("/bin:/usr/bin:")) << path;
        setenv("PATH", saved.c_str(), 1);
    }
    QzSetBundlePath(QString());
}

// The Mac bundle's Info.plist, as Python's plistlib reads it: each key the system and the program need, with its value.
TEST(MacBundle, InfoPlistIconAndExecutablesAreWhereAndWhatTheMacNeeds)
{
    const ShResult plist
        = Sh("python3 -c 'import plistlib, sys\nd = plistlib.load(open(sys.argv[1], \"rb\"))\nfor k in "
             "sys.argv[2:]: print(k, d.get(k), sep=\"=\")' '" QZ_INFO_PLIST "' CFBundleExecutable "
             "CFBundleIdentifier CFBundleName CFBundlePackageType CFBundleInfoDictionaryVersion "
             "CFBundleShortVersionString CFBundleVersion CFBundleIconFile LSMinimumSystemVersion "
             "NSAppleEventsUsageDescription LSUIElement NSHighResolutionCapable");
    const std::string version = QZ_PROJECT_VERSION;
    EXPECT_EQ(plist.out,
        "CFBundleExecutable=Quillaby\nCFBundleIdentifier=software.fernhollow.quillaby\nCFBundleName=Quillaby\n"
        "CFBundlePackageType=APPL\nCFBundleInfoDictionaryVersion=6.0\nCFBundleShortVersionString="
            + version + "\nCFBundleVersion=" + version
            + "\nCFBundleIconFile=" + QFileInfo(QStringLiteral(QZ_ICNS)).completeBaseName().toStdString()
            + "\nLSMinimumSystemVersion=10.13\nNSAppleEventsUsageDescription=Quillaby asks to control Mail (or "
              "Microsoft Outlook) to send you an email when a Time Machine backup fails, and the Finder to show you "
              "the folder of a file that could not be backed up.\nLSUIElement=False\nNSHighResolutionCapable=True\n")
        << plist.err;
    // The .icns holds each size a Mac draws, 16 to 1024 pixels, in elements that fill the file as its header says.
    const std::string icns = ReadFile(QStringLiteral(QZ_ICNS));
    const auto bigEndian32 = [&icns](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < 4 && at + k < icns.size(); ++k)
            value = value << 8 | static_cast<std::uint8_t>(icns[at + k]);
        return value;
    };
    EXPECT_EQ(icns.substr(0, 4) + std::to_string(bigEndian32(4)), "icns" + std::to_string(icns.size()));
    QString types;
    for (std::size_t at = 8, length = 0; at < icns.size(); at += length) {
        length = bigEndian32(at + 4);
        ASSERT_TRUE(length >= 8 && at + length <= icns.size()) << at;
        types += QString::fromStdString(icns.substr(at, 4)) + QLatin1Char(' ');
    }
    // The image types of each size by pixels on a side ("@2x" ones too); masks and the table of contents hold none.
    for (const char* size : {"is32|icp4|ic04", "il32|icp5|ic05|ic11", "it32|ic07", "ic08|ic13", "ic09|ic14", "ic10"})
        EXPECT_TRUE(types.contains(QRegularExpression(QLatin1String(size)))) << size << " in " << types.toStdString();

    const QString contents = QStringLiteral(QZ_BUNDLE_DIR "/Contents");
    // The simulated Mac only off the Mac, where the icon stays in the build tree (other tests run the executables).
#ifdef Q_OS_MACOS
    EXPECT_FALSE(QFileInfo::exists(contents + QStringLiteral("/StandIns"))
        || QFileInfo::exists(contents + QStringLiteral("/Resources/SimulatedMac")));
    EXPECT_TRUE(QFileInfo::exists(contents + QStringLiteral("/Resources/Quillaby.icns")));
#else
    EXPECT_FALSE(QFileInfo::exists(contents + QStringLiteral("/Resources/Quillaby.icns")));
#endif
}
