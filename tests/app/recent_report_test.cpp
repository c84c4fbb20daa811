// quillaby-report on the simulated Mac of a recent system: the stand-in
// `log` of the bundle words its entries as macOS 11 and later do, and the
// report command recognises them.

#include "test_support.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <string>

namespace {

struct Outcome {
    int code = -1;
    std::string out;
    QJsonObject json;
};

// version: the simulated Mac's, or null for none; now: local "YYYY-MM-DD HH:MM:SS".
Outcome Report(const char* version, const char* now, const QString& which, bool json = false)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QUILLABY_LOG_REPLAY"));
    if (version)
        env.insert(QStringLiteral("QUILLABY_SIMULATED_MACOS"), QString::fromLatin1(version));
    else
        env.remove(QStringLiteral("QUILLABY_SIMULATED_MACOS"));
    env.insert(QStringLiteral("QUILLABY_LOG_NOW"), QString::fromLatin1(now));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProgram(QStringLiteral(QZ_REPORT_EXE));
    p.setArguments(json ? QStringList {which, QStringLiteral("--json")} : QStringList {which});
    p.start();
    p.waitForFinished(60000);
    Outcome r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    const QByteArray out = p.readAllStandardOutput();
    r.out = out.toStdString();
    if (json)
        r.json = QJsonDocument::fromJson(out).object();
    return r;
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class RecentReport : public ::testing::Test {
protected:
    RecentReport()
    {
        // The real ps could list another test's log command, which the
        // report command would stop.
        sandbox.Stub(QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'");
    }
    Sandbox sandbox;
};

} // namespace

TEST_F(RecentReport, AnOrdinaryMorningOnMacOS26)
{
    const Outcome r = Report("26.1", "2026-03-10 12:00:00", QStringLiteral("today"));
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out.rfind("Current Time Machine Log for last 4 hours:\n\n2026-03-10 08:30:06al] Completed backup: "
                          "2026-03-10-082759\n",
                  0),
        0u)
        << r.out;
    EXPECT_EQ(Count(r.out, "al] Completed backup: 2026-03-10-"), 5u); // four backups and the last-success block
    EXPECT_NE(r.out.find("No Time Machine Errors to report in the current log."), std::string::npos);
    EXPECT_EQ(r.out.find("Backup completed successfully."), std::string::npos);
}

TEST_F(RecentReport, RecentFailuresAreNamed)
{
    // The NAS cannot be reached since 15:42: the drive is offline.
    Outcome r = Report("26.1", "2026-03-01 16:00:00", QStringLiteral("today"), true);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.json.value(QStringLiteral("status")).toString(), QStringLiteral("Backup drive offline"));
    EXPECT_TRUE(r.json.value(QStringLiteral("driveOffline")).toBool());
    EXPECT_TRUE(
        r.json.value(QStringLiteral("report")).toString().startsWith(QStringLiteral("Backup drive offline\r\n")));
    EXPECT_TRUE(r.json.value(QStringLiteral("lastSuccessText"))
                    .toString()
                    .contains(QStringLiteral("al] Completed backup: 2026-03-01-14")));

    // A failed preflight after the last success: the line stands in the
    // report and ends the last problem.
    r = Report("26.1", "2026-03-09 18:50:00", QStringLiteral("today"), true);
    EXPECT_EQ(r.code, 1);
    const QString failed
        = QStringLiteral("2026-03-09 18:21:33al] Backup failed (304: BACKUP_FAILED_PREFLIGHT_STAGE_SNAPSHOT_DIFFING)");
    EXPECT_TRUE(r.json.value(QStringLiteral("report")).toString().contains(failed + QStringLiteral("\r\n\r\n")));
    EXPECT_TRUE(r.json.value(QStringLiteral("status")).toString().endsWith(failed + QStringLiteral("\r\n\r\n")));
    EXPECT_FALSE(r.json.value(QStringLiteral("driveOffline")).toBool());

    // Yesterday's list holds the lost disk image and the unreachable NAS.
    r = Report("26.1", "2026-03-02 12:00:00", QStringLiteral("yesterday"));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(Count(r.out, "Failing backup with BACKUP_FAILED_DISCONNECTED_DISK_IMAGE (70)"), 1u);
    EXPECT_EQ(Count(r.out, "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)"), 6u); // five and the status
    EXPECT_GE(Count(r.out, "] Completed backup: 2026-03-01-"), 15u);
    EXPECT_NE(r.out.find("\nThe last problem yesterday was '2026-03-01 19:42:49"), std::string::npos);
}

TEST_F(RecentReport, TheDefaultMacIsA1015System)
{
    const Outcome plain = Report(nullptr, "2026-03-10 12:00:00", QStringLiteral("yesterday"));
    EXPECT_EQ(plain.code, 0);
    EXPECT_GE(Count(plain.out, "Backup completed successfully."), 20u);
    EXPECT_EQ(plain.out.find("Completed backup:"), std::string::npos);
    for (const char* version : {"10.15.7", "10.15.8", "", "banana", "26..1"}) {
        SCOPED_TRACE(version);
        EXPECT_EQ(Report(version, "2026-03-10 12:00:00", QStringLiteral("yesterday")).out, plain.out);
    }
    EXPECT_NE(Report("11.0", "2026-03-10 12:00:00", QStringLiteral("yesterday")).out, plain.out);
}
