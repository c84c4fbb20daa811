#include "../monitor/monitor_support.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

Outcome Report(const QStringList& args)
{
    QProcess p;
    p.setProgram(QStringLiteral(QZ_REPORT_EXE));
    p.setArguments(args);
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

} // namespace

TEST(ReportCommand, ExitCodesTellNothingAProblemOrNoLog)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'");
    auto good = Filler(60);
    good.push_back(LogEntry(kT, "Backup completed successfully."));
    StubLog(sandbox, good);
    Outcome r = Report({QStringLiteral("today")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Current Time Machine Log for last 4 hours:\n\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("No Time Machine Errors to report in the current log."), std::string::npos);
    EXPECT_EQ(r.out.find('\r'), std::string::npos);

    auto offline = Filler(60);
    offline.push_back(LogEntry(kT, "Backup failed with error: 19"));
    StubLog(sandbox, offline);
    r = Report({QStringLiteral("today")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out.substr(r.out.size() - 21), "Backup drive offline\n");

    StubLog(sandbox, {});
    r = Report({QStringLiteral("today")});
    EXPECT_EQ(r.code, 2);
    r = Report({QStringLiteral("yesterday")});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.out.find("Unable to get yesterday's error log"), std::string::npos);

    StubLog(sandbox, good);
    r = Report({QStringLiteral("yesterday")});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("Yesterday's Time Machine Log:\n\n", 0), 0u);

    for (const QStringList& bad : {QStringList {}, QStringList {QStringLiteral("tomorrow")},
             QStringList {QStringLiteral("today"), QStringLiteral("yesterday")},
             QStringList {QStringLiteral("--json")}}) {
        r = Report(bad);
        EXPECT_EQ(r.code, 64);
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
