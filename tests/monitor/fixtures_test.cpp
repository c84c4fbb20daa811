// Each fixture log through the real pipeline against its hand-derived outcome in
// tests/fixtures/expected/ (QZ_UPDATE_EXPECTED=1 writes them afresh, for review).

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

// Printable ASCII as it is, "\\" doubled, other bytes as \xHH, a line break after \x0a.
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
    const char* fixture; // below tests/fixtures, without ".log"
    bool yesterday = false;
    const char* variant = ""; // names the expected file when a fixture runs more than once
    std::uint8_t emailSent = 0;
    std::uint8_t emailRequested = 0;
    std::uint8_t dailyEmail = 0;
    std::int16_t lastBackupDay = 68; // yesterday
    std::uint8_t recent = 0; // the wording of macOS 11 and later counts too
    std::uint8_t driveOffline = 0; // left by the analysis before
    bool bothWordings = false; // the same outcome with the recent wording on
    // The email request with (notify on, minor errors) = (1,1), (1,0), (0,1),
    // (0,0), and with (0,0) when a request was pending.
    const char* requests = nullptr;
};

const Case kCases[] = {
    {.fixture = "today-error-free-morning", .emailSent = 1, .emailRequested = 1, .requests = "00000"},
    {.fixture = "today-error-free-morning", .variant = "-offline-before", .emailSent = 1, .driveOffline = 1},
    {.fixture = "today-not-starting-benign", .requests = "00000"},
    {.fixture = "today-few-lines", .requests = "00000"},
    {"today-48-lines-after-grep"},
    {"today-49-lines-after-grep"},
    {.fixture = "today-drive-offline", .emailSent = 1, .requests = "00000"},
    {.fixture = "today-failed-error-19", .emailSent = 1, .requests = "11001"},
    {.fixture = "today-failed-error-27", .emailSent = 1, .requests = "11001"},
    {.fixture = "today-failed-error-11-after-success", .requests = "11001"},
    {.fixture = "today-success-after-failure", .emailSent = 1, .emailRequested = 1, .requests = "10000"},
    {.fixture = "today-spotlight-importer-failed", .requests = "10000"},
    {.fixture = "today-ds-store-problem", .emailRequested = 1, .requests = "10000"},
    {.fixture = "today-copy-error-to-volumes", .requests = "10000"},
    {.fixture = "today-copy-error-to-null", .requests = "10000"},
    {.fixture = "today-copy-error-null-null", .requests = "10000"},
    {.fixture = "today-too-many-problems", .requests = "10000"},
    {"today-too-many-problems", true},
    {.fixture = "today-snapshots-only", .emailSent = 1, .requests = "00000"},
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
    {.fixture = "recent/today-network-offline", .emailSent = 1, .recent = 1},
    {"recent/today-network-offline", false, "-classic"},
    {.fixture = "recent/today-disk-image-offline", .emailSent = 1, .recent = 1},
    {.fixture = "recent/today-failure-codes", .recent = 1},
    {.fixture = "recent/today-failure-after-success", .recent = 1},
    {.fixture = "recent/today-success-after-failure", .emailSent = 1, .emailRequested = 1, .recent = 1},
    {.fixture = "recent/today-start-clears-offline", .emailSent = 1, .recent = 1, .driveOffline = 1},
    {.fixture = "recent/yesterday-recent", .yesterday = true, .recent = 1},
    {"recent/yesterday-recent", true, "-classic"},
    {"cases/empty"},
    {"cases/empty", true},
    {"cases/too-many-25000-bytes"},
    {"cases/too-many-25001-bytes"},
    {"cases/copy-error-past-32767-bytes"},
    {.fixture = "cases/problem-without-backup-start", .emailSent = 1, .driveOffline = 1},
    {"cases/unmount-mid-backup"},
    {"cases/failure-without-success"},
    {"cases/srcerr-no-to-volumes"},
    {"cases/copy-without-destination"},
    {"cases/copy-error-lower-case"},
    {"cases/no-slash-before-volumes"},
    {"cases/cleaned-and-ignored-lines"},
    {"cases/long-success-line"},
    {"cases/two-success-lines"},
    {"cases/long-line-in-two-pieces"},
    {.fixture = "cases/recent-near-misses", .bothWordings = true},
    {.fixture = "cases/recent-near-misses", .yesterday = true, .bothWordings = true},
};

void RunFixture(const MonitorWorld& world, const Case& c, std::uint8_t recent, std::uint8_t notifyOn = 1,
    std::uint8_t minorErrors = 0)
{
    world.SetLogOutput(ReadFile(FixturePath(QString::fromLatin1(c.fixture) + QStringLiteral(".log"))));
    gLastBackupDay = c.lastBackupDay;
    SaveSettings();
    gRecentWording = recent;
    gEmailNotifyOn = notifyOn;
    gNotifyMinorErrors = minorErrors;
    gDailyEmail = c.dailyEmail;
    gEmailSent = c.emailSent;
    gEmailRequested = c.emailRequested;
    gDriveOffline = c.driveOffline;
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

// The cases of one folder below tests/fixtures ("" for the recorded logs).
void ExpectOutcomes(std::string_view folder)
{
    const bool update = std::getenv("QZ_UPDATE_EXPECTED") != nullptr;
    for (const Case& c : kCases) {
        const std::string_view fixture = c.fixture;
        if (fixture.substr(0, fixture.rfind('/') + 1) != folder)
            continue;
        const QString name = QStringLiteral("expected/%1%2.%3")
                                 .arg(QString::fromLatin1(c.fixture), QString::fromLatin1(c.variant),
                                     QString::fromLatin1(c.yesterday ? "yesterday" : "today"));
        for (const std::uint8_t recent : {c.recent, std::uint8_t(c.bothWordings ? 1 : c.recent)}) {
            SCOPED_TRACE(name.toStdString() + (recent ? " (recent wording)" : ""));
            MonitorWorld world;
            RunFixture(world, c, recent);
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
}

} // namespace

TEST(Fixtures, EachRecordedLogGivesItsExpectedOutcome)
{
    ExpectOutcomes("");
}

TEST(Fixtures, EachLogOfTheRecentWordingGivesItsExpectedOutcome)
{
    ExpectOutcomes("recent/");
}

TEST(Fixtures, EachCaseGivesItsExpectedOutcome)
{
    ExpectOutcomes("cases/");
}

TEST(Fixtures, EmailRequestForEachSettingsCombination)
{
    for (const Case& c : kCases) {
        for (int i = 0; c.requests && i < 5; ++i) {
            MonitorWorld world;
            Case start = c;
            start.emailSent = 0;
            start.emailRequested = i == 4 ? 1 : 0;
            RunFixture(world, start, 0, i < 2 ? 1 : 0, i % 2 == 0 && i < 4 ? 1 : 0);
            EXPECT_EQ(gEmailRequested, c.requests[i] - '0') << c.fixture << " settings " << i;
        }
    }
}
