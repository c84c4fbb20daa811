// Every recorded log in tests/fixtures run through the real analyses: the
// stub `log` prints a fixture, and for today's log the real grep and cut
// shorten it as on a Mac. The outcome of each run (report, status line, last
// problem, folder, success text and flags) is compared with its expected
// form in tests/fixtures/expected/, worked out by hand from the analysis
// rules line by line (see the README there). QZ_UPDATE_EXPECTED=1 writes
// the files afresh from the program instead of comparing, for review.

#include "monitor_support.h"

#include "app/settings.h"
#include "app/state.h"
#include "monitor/state.h"
#include "runtime/channels.h"
#include "runtime/textcontainer.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Bytes as readable text: printable ASCII as it is, a backslash doubled,
// every other byte as \xHH, and a real line break after each \x0a so that
// the report reads line by line.
std::string Escape(std::string_view bytes)
{
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\\') {
            out += "\\\\";
        } else if (b >= 0x20 && b < 0x7f) {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            out += hex;
            if (b == '\n')
                out += '\n';
        }
    }
    return out;
}

std::string Field(const char* name, std::string_view value)
{
    return std::string(name) + ": " + Escape(value) + "\n";
}

// Everything an analysis leaves behind that the rules define.
std::string Outcome()
{
    std::string out = Field("status", MonitorWorld::Status().toStdString());
    out += Field("last problem", gLastProblem.view());
    out += Field("problem folder", gProblemFolder.view());
    out += Field("success text", gLastSuccessText.view());
    out += Field("failure text", gFailureText.view());
    out += Field("invisible suffix", gInvisibleSuffix.view());
    char flags[400];
    std::snprintf(flags, sizeof flags,
        "error found %d, drive offline %d, spotlight %d, success found %d, backup failed %d, too few lines %d\n"
        "email requested %d, email sent %d, too many noticed %d, no-backup warning day %d, volumes position %lld\n"
        "last backup day in the file %d\n",
        gErrorFound, gDriveOffline, gSpotlightConflict, gSuccessFound, gBackupFailed, gTooFewLines, gEmailRequested,
        gEmailSent, gTooManyNoticed, gNoBackupWarnDay, static_cast<long long>(gVolumesPos), ReadLastBackupDay());
    out += flags;
    return out + "report:\n" + Escape(MonitorWorld::Report()) + "\n";
}

struct Case {
    const char* fixture;
    bool yesterday = false;
    const char* variant = ""; // names the expected file when a fixture runs more than once
    std::uint8_t emailSent = 0;
    std::uint8_t emailRequested = 0;
    std::uint8_t dailyEmail = 0;
    std::int16_t lastBackupDay = 68; // the default file's: yesterday
};

const Case kCases[] = {
    {"today-error-free-morning", false, "", 1, 1},
    {"today-not-starting-benign"},
    {"today-few-lines"},
    {"today-48-lines-after-grep"},
    {"today-49-lines-after-grep"},
    {"today-drive-offline", false, "", 1},
    {"today-failed-error-19", false, "", 1},
    {"today-failed-error-27", false, "", 1},
    {"today-failed-error-11-after-success"},
    {"today-success-after-failure", false, "", 1, 1},
    {"today-spotlight-importer-failed"},
    {"today-ds-store-problem", false, "", 0, 1},
    {"today-copy-error-to-volumes"},
    {"today-copy-error-to-null"},
    {"today-copy-error-null-null"},
    {"today-too-many-problems"},
    {"today-snapshots-only", false, "", 1},
    // The last backup five days ago: the no-backup warning and the daily email.
    {"today-snapshots-only", false, "-five-days", 1, 0, 1, 64},
    {"garbled"},
    {"garbled-without-nul"},
    {"yesterday-error-free", true},
    {"yesterday-48-lines", true},
    {"yesterday-49-lines", true},
    {"yesterday-with-problems", true},
    {"yesterday-snapshots-only", true},
    {"garbled", true},
    {"garbled-without-nul", true},
};

void RunFixture(const MonitorWorld& world, const Case& c, std::uint8_t notifyOn = 1, std::uint8_t minorErrors = 0)
{
    world.SetLogOutput(ReadFile(FixturePath(QString::fromLatin1(c.fixture) + QStringLiteral(".log"))));
    gLastBackupDay = c.lastBackupDay;
    SaveSettings();
    gEmailNotifyOn = notifyOn;
    gNotifyMinorErrors = minorErrors;
    gDailyEmail = c.dailyEmail;
    gEmailSent = c.emailSent;
    gEmailRequested = c.emailRequested;
    gDriveOffline = 0;
    gSpotlightConflict = 0;
    gTooManyNoticed = 0;
    gNoBackupWarnDay = 0;
    if (c.yesterday) {
        // Left over from an earlier analysis: yesterday's analysis clears them.
        gDriveOffline = 1;
        gSpotlightConflict = 1;
        gProblemFolder = "left over";
        world.FetchYesterday();
    } else {
        world.FetchToday();
    }
}

} // namespace

TEST(Fixtures, EachLogGivesItsExpectedOutcome)
{
    const bool update = std::getenv("QZ_UPDATE_EXPECTED") != nullptr;
    for (const Case& c : kCases) {
        const QString name = QStringLiteral("expected/%1%2.%3")
                                 .arg(QString::fromLatin1(c.fixture), QString::fromLatin1(c.variant),
                                     QString::fromLatin1(c.yesterday ? "yesterday" : "today"));
        SCOPED_TRACE(name.toStdString());
        MonitorWorld world;
        RunFixture(world, c);
        // The command was read to its end, its channel closed, the report shown.
        EXPECT_EQ(QzEof(1), -1);
        EXPECT_EQ(gTodayReadNow + gYesterdayReadNow, 0);
        EXPECT_EQ(gPollAllowed, 1);
        EXPECT_EQ(MonitorWorld::ReportShown(), QzContainerToCF(gReport));
        const std::string got = Outcome();
        if (update) {
            QFile file(FixturePath(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(got.data(), static_cast<qint64>(got.size()));
        } else {
            EXPECT_EQ(got, ReadFile(FixturePath(name)));
        }
    }
}

TEST(Fixtures, EmailRequestForEachSettingsCombination)
{
    struct Row {
        const char* fixture;
        int requested[4]; // (notify on, minor errors) = (1,1), (1,0), (0,1), (0,0)
    };
    const Row rows[] = {
        {"today-error-free-morning", {0, 0, 0, 0}},
        {"today-not-starting-benign", {0, 0, 0, 0}},
        {"today-drive-offline", {0, 0, 0, 0}},
        {"today-failed-error-19", {1, 1, 0, 0}},
        {"today-failed-error-27", {1, 1, 0, 0}},
        {"today-failed-error-11-after-success", {1, 1, 0, 0}},
        {"today-success-after-failure", {1, 0, 0, 0}},
        {"today-spotlight-importer-failed", {1, 0, 0, 0}},
        {"today-ds-store-problem", {1, 0, 0, 0}},
        {"today-copy-error-to-volumes", {1, 0, 0, 0}},
        {"today-copy-error-to-null", {1, 0, 0, 0}},
        {"today-copy-error-null-null", {1, 0, 0, 0}},
        {"today-too-many-problems", {1, 0, 0, 0}},
        {"today-few-lines", {0, 0, 0, 0}},
        {"today-snapshots-only", {0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        int i = 0;
        for (std::uint8_t on : {1, 0}) {
            for (std::uint8_t minor : {1, 0}) {
                MonitorWorld world;
                RunFixture(world, {row.fixture}, on, minor);
                EXPECT_EQ(gEmailRequested, row.requested[i++])
                    << row.fixture << " on=" << int(on) << " minor=" << int(minor);
            }
        }
    }
    // With email off, a request still pending is kept when the failure
    // comes after the last success, and dropped otherwise.
    for (const auto& [fixture, kept] :
        {std::pair {"today-failed-error-11-after-success", 1}, std::pair {"today-failed-error-19", 1},
            std::pair {"today-success-after-failure", 0}, std::pair {"today-error-free-morning", 0}}) {
        MonitorWorld world;
        RunFixture(world, {.fixture = fixture, .emailRequested = 1}, 0);
        EXPECT_EQ(gEmailRequested, kept) << fixture;
    }
}
