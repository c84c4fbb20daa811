#include "../monitor/monitor_support.h"
#include "exposition_support.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs the command; with a redirection, through the shell with it.
Outcome Report(const QStringList& args, const QString& redirection = {})
{
    QProcess p;
    if (redirection.isEmpty()) {
        p.setProgram(QStringLiteral(QZ_REPORT_EXE));
        p.setArguments(args);
    } else {
        p.setProgram(QStringLiteral("/bin/sh"));
        p.setArguments(
            {QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$@\" ") + redirection, QStringLiteral(QZ_REPORT_EXE)});
        p.setArguments(p.arguments() + args);
    }
    p.start();
    p.waitForFinished(60000);
    Outcome r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

const std::string kT = "2026-03-10 10:15:03";

void StubLog(const Sandbox& sandbox, const std::vector<std::string>& entries)
{
    const QString file = sandbox.Write(QStringLiteral("log-output"), LogOutput(entries));
    sandbox.Stub(QStringLiteral("log"), "cat '" + file.toStdString() + "'");
}

std::vector<std::string> Log(int filler, const std::vector<std::string>& entries)
{
    std::vector<std::string> all = Filler(filler);
    all.insert(all.end(), entries.begin(), entries.end());
    return all;
}

// A loopback port that was free a moment ago.
int FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), size);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    close(fd);
    return ntohs(a.sin_port);
}

const std::string kSuccess = LogEntry(kT, "Backup completed successfully.");
const std::string kOffline = LogEntry("2026-03-10 11:00:00", "Backup failed with error: 19");

} // namespace

TEST(ReportCommand, ExitCodesTellNothingAProblemOrNoLog)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'");
    StubLog(sandbox, Log(60, {kSuccess}));
    Outcome r = Report({QStringLiteral("today")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Current Time Machine Log for last 4 hours:\n\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("No Time Machine Errors to report in the current log."), std::string::npos);
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    r = Report({QStringLiteral("yesterday")});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("Yesterday's Time Machine Log:\n\n", 0), 0u);

    // A finding in a short log is a problem, not a missing log; a short log
    // without any success line gave nothing to go on.
    struct Case {
        const char* which;
        std::vector<std::string> entries;
        int code;
        const char* lastLine;
    };
    const Case cases[] = {
        {"today", Log(60, {kSuccess, kOffline}), 1, "Backup drive offline\n"},
        {"today", Log(5, {kSuccess, kOffline}), 1, "Backup drive offline\n"},
        {"today", Log(60, {}), 1, "No successful backups reported in the current log\n"},
        {"today", Log(5, {}), 2, "No successful backups reported in the current log\n"},
        {"today", {}, 2, "No successful backups reported in the current log\n"},
        {"yesterday", {}, 2, "Unable to get yesterday's error log\n"},
    };
    for (const Case& c : cases) {
        StubLog(sandbox, c.entries);
        r = Report({QLatin1String(c.which)});
        EXPECT_EQ(r.code, c.code) << c.which << " " << c.entries.size() << "\n" << r.out;
        EXPECT_TRUE(QByteArray::fromStdString(r.out).endsWith(c.lastLine)) << r.out;
    }

    for (const QStringList& bad : {QStringList {}, QStringList {QStringLiteral("tomorrow")},
             QStringList {QStringLiteral("today"), QStringLiteral("yesterday")}, QStringList {QStringLiteral("--json")},
             QStringList {QStringLiteral("today"), QStringLiteral("--format"), QStringLiteral("xml")},
             QStringList {QStringLiteral("today"), QStringLiteral("--output")},
             QStringList {QStringLiteral("today"), QStringLiteral("--output=")},
             QStringList {QStringLiteral("today"), QStringLiteral("--json"), QStringLiteral("--format=nagios")}}) {
        r = Report(bad);
        EXPECT_EQ(r.code, 64) << bad.join(QLatin1Char(' ')).toStdString();
        EXPECT_NE(r.err.find("usage: quillaby-report"), std::string::npos);
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(ReportCommand, JsonCarriesTheReportStatusAndFlags)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'");
    auto entries = Filler(60);
    entries.push_back(LogEntry(kT, "Backup completed successfully."));
    entries.push_back(
        LogEntry(kT, "Error: (-36) SrcErr:NO Copying /Users/s\xC3\xA9verine/.DS_Store to /Volumes/Backup/x"));
    StubLog(sandbox, entries);
    const Outcome r = Report({QStringLiteral("--json"), QStringLiteral("today")});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(Report({QStringLiteral("today"), QStringLiteral("--format"), QStringLiteral("json")}).out, r.out);
    QJsonParseError error {};
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out;
    for (const char* key : {"report", "status", "lastProblem", "problemFolder", "lastSuccessText"})
        EXPECT_TRUE(o.value(QLatin1String(key)).isString()) << key;
    for (const char* key :
        {"emailRequested", "emailSent", "errorFound", "driveOffline", "spotlightConflict", "successFound"})
        EXPECT_TRUE(o.value(QLatin1String(key)).isBool()) << key;
    EXPECT_EQ(o.size(), 11);
    EXPECT_EQ(
        o.value(QStringLiteral("status")).toString(), QStringLiteral("The last problem was '.DS_Store' (Invisible)"));
    EXPECT_EQ(o.value(QStringLiteral("problemFolder")).toString(), QStringLiteral("Users:s\u00E9verine"));
    EXPECT_TRUE(
        o.value(QStringLiteral("report")).toString().contains(QStringLiteral("/Users/s\u00E9verine/.DS_Store")));
    EXPECT_TRUE(o.value(QStringLiteral("successFound")).toBool());
    EXPECT_TRUE(o.value(QStringLiteral("errorFound")).toBool());
    EXPECT_FALSE(o.value(QStringLiteral("driveOffline")).toBool());
    // The settings file was made in the sandboxed home.
    EXPECT_FALSE(ReadFile(sandbox.path() + QStringLiteral("/.local/share/Quillaby/Settings")).empty());
}

TEST(ReportCommand, NagiosAndPrometheusOutputs)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'");
    StubLog(sandbox, Log(60, {kSuccess, kOffline}));
    Outcome r = Report({QStringLiteral("today"), QStringLiteral("--format=nagios")});
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_EQ(r.out.rfind("QUILLABY CRITICAL - Backup drive offline | last_success_age=", 0), 0u) << r.out;
    StubLog(sandbox, {});
    EXPECT_EQ(Report({QStringLiteral("today"), QStringLiteral("--format=nagios")}).code, 3);

    // The file appears whole, without a temporary left beside it; standard
    // output stays empty.
    const QString folder = sandbox.path() + QStringLiteral("/textfile");
    QDir().mkpath(folder);
    const QString file = folder + QStringLiteral("/quillaby.prom");
    r = Report({QStringLiteral("yesterday"), QStringLiteral("--format"), QStringLiteral("prometheus"),
        QStringLiteral("--output"), file});
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList {QStringLiteral("quillaby.prom")});
    const QJsonArray families = ParseExposition(QByteArray::fromStdString(ReadFile(file)));
    EXPECT_EQ(SampleValue(
                  families, QStringLiteral("quillaby_status"), {{QStringLiteral("log"), QStringLiteral("yesterday")}}),
        2);
    EXPECT_EQ(SampleLabels(families, QStringLiteral("quillaby_problem_info")).value(QStringLiteral("problem")),
        QStringLiteral("Unable to get yesterday's error log."));

    r = Report({QStringLiteral("today"), QStringLiteral("--format=prometheus"),
        QStringLiteral("--output=") + sandbox.path() + QStringLiteral("/missing/quillaby.prom")});
    EXPECT_EQ(r.code, 74);
    EXPECT_NE(r.err.find("quillaby-report: cannot write "), std::string::npos) << r.err;
}

TEST(ReportCommand, FullOrClosedStandardOutputIsAnError)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'");
    StubLog(sandbox, Log(60, {kSuccess}));
    Outcome r = Report({QStringLiteral("today")}, QStringLiteral(">/dev/full"));
    EXPECT_EQ(r.code, 74);
    EXPECT_NE(r.err.find("quillaby-report: write error: No space left on device\n"), std::string::npos) << r.err;
    r = Report({QStringLiteral("today"), QStringLiteral("--format=nagios")}, QStringLiteral(">&-"));
    EXPECT_EQ(r.code, 74);
    EXPECT_NE(r.err.find("quillaby-report: write error: Bad file descriptor\n"), std::string::npos) << r.err;
    // Nothing goes to a closed standard output when the output is a file.
    r = Report({QStringLiteral("today"), QStringLiteral("--output"), sandbox.path() + QStringLiteral("/report.txt")},
        QStringLiteral(">&-"));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(
        ReadFile(sandbox.path() + QStringLiteral("/report.txt")).find("No Time Machine Errors"), std::string::npos);
}

// node_exporter's textfile collector serves what the command wrote: today's
// offline drive, and yesterday's problem with quotes and backslashes.
TEST(ReportCommand, NodeExporterServesTheTextfile)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'");
    const QString folder = sandbox.path() + QStringLiteral("/textfile");
    QDir().mkpath(folder);
    StubLog(sandbox, Log(60, {kSuccess, kOffline}));
    Outcome r = Report({QStringLiteral("today"), QStringLiteral("--format"), QStringLiteral("prometheus"),
        QStringLiteral("--output"), folder + QStringLiteral("/quillaby.prom")});
    ASSERT_EQ(r.code, 1) << r.err;
    const std::string hostile = LogEntry(kT, "Error: \"quoted\" C:\\dir\\ ends\\");
    StubLog(sandbox, Log(60, {kSuccess, hostile}));
    r = Report({QStringLiteral("yesterday"), QStringLiteral("--format=prometheus"),
        QStringLiteral("--output=") + folder + QStringLiteral("/quillaby-yesterday.prom")});
    ASSERT_EQ(r.code, 1) << r.err;

    QProcess exporter;
    exporter.setProcessChannelMode(QProcess::MergedChannels);
    int port = 0;
    for (int attempt = 0; attempt < 5 && port == 0; ++attempt) {
        const int candidate = FreePort();
        exporter.start(QStringLiteral("prometheus-node-exporter"),
            {QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(candidate),
                QStringLiteral("--collector.disable-defaults"), QStringLiteral("--collector.textfile"),
                QStringLiteral("--collector.textfile.directory=") + folder});
        QByteArray log;
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && exporter.state() != QProcess::NotRunning && !log.contains("Listening on")) {
            exporter.waitForReadyRead(200);
            log += exporter.readAll();
        }
        if (log.contains("Listening on"))
            port = candidate;
        else
            exporter.kill(), exporter.waitForFinished(5000);
    }
    ASSERT_NE(port, 0) << "node_exporter did not start";

    const QJsonArray families = ScrapeExposition(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port));
    exporter.terminate();
    EXPECT_TRUE(exporter.waitForFinished(10000));
    const QJsonObject today {{QStringLiteral("log"), QStringLiteral("today")}};
    EXPECT_EQ(SampleValue(families, QStringLiteral("quillaby_drive_offline"), today), 1);
    EXPECT_EQ(SampleValue(families, QStringLiteral("quillaby_problem_info"),
                  {{QStringLiteral("log"), QStringLiteral("today")},
                      {QStringLiteral("problem"), QStringLiteral("Backup drive offline")}}),
        1);
    EXPECT_EQ(SampleValue(families, QStringLiteral("quillaby_problem_info"),
                  {{QStringLiteral("log"), QStringLiteral("yesterday")},
                      {QStringLiteral("problem"), QString::fromStdString(hostile)}}),
        1);
    EXPECT_EQ(SampleValue(families, QStringLiteral("node_textfile_scrape_error")), 0);
}
