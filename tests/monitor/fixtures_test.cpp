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
#include <sstream>
#include <string>

namespace {

// Printable ASCII as it is, "\\" doubled, other bytes as \xHH, a line break after \x0a.
std::string Escape(std::string_view bytes)
{
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", b);
        out += b == '\\' ? "\\\\" : b >= 0x20 && b < 0x7f ? std::string(1, c) : hex + std::string(b == '\n', '\n');
    }
    return out;
}

std::string Outcome()
{
    std::string out = "status: " + Escape(MonitorWorld::Status().toStdString()) + "\n";
    const std::pair<const char*, const ShortString*> texts[]
        = {{"last problem", &gLastProblem}, {"problem folder", &gProblemFolder}, {"success text", &gLastSuccessText},
            {"failure text", &gFailureText}, {"invisible suffix", &gInvisibleSuffix}};
    for (const auto& [name, text] : texts)
        out += std::string(name) + ": " + Escape(text->view()) + "\n";
    char flags[400];
    std::snprintf(flags, sizeof flags,
        "error found %d, drive offline %d, spotlight %d, success found %d, backup failed %d, too few lines %d\n"
        "email requested %d, email sent %d, too many noticed %d, no-backup warning day %d, volumes position %lld\n"
        "last backup day in the file %d\n",
        gErrorFound, gDriveOffline, gSpotlightConflict, gSuccessFound, gBackupFailed, gTooFewLines, gEmailRequested,
        gEmailSent, gTooManyNoticed, gNoBackupWarnDay, static_cast<long long>(gVolumesPos), ReadLastBackupDay());
    return out + flags + "report:\n" + Escape(MonitorWorld::Report()) + "\n";
}

// A case: the fixture below tests/fixtures without ".log", then words for
// what differs from a plain run of today's analysis: "yesterday"; "as:X"
// names the expected file when a fixture runs more than once; left by
// earlier runs: "sent", "requested" (the email latch and request), "daily"
// (the daily email on), "day:N" (the last backup day, else 68, yesterday),
// "offline"; "recent" (the wording of macOS 11 and later counts too), "both"
// (the same outcome with it on and off); "requests:" the email request with
// (notify on, minor errors) = (1,1), (1,0), (0,1), (0,0), and with (0,0)
// when a request was pending.
const char* const kCases[] = {"today-error-free-morning sent requested requests:00000",
    "today-error-free-morning as:-offline-before sent offline", "today-not-starting-benign requests:00000",
    "today-few-lines requests:00000", "today-48-lines-after-grep", "today-49-lines-after-grep",
    "today-drive-offline sent requests:00000", "today-failed-error-19 sent requests:11001",
    "today-failed-error-27 sent requests:11001", "today-failed-error-11-after-success requests:11001",
    "today-success-after-failure sent requested requests:10000", "today-spotlight-importer-failed requests:10000",
    "today-ds-store-problem requested requests:10000", "today-copy-error-to-volumes requests:10000",
    "today-copy-error-to-null requests:10000", "today-copy-error-null-null requests:10000",
    "today-too-many-problems requests:10000", "today-too-many-problems yesterday",
    "today-snapshots-only sent requests:00000", "today-snapshots-only as:-five-days sent daily day:64", "garbled",
    "garbled-without-nul", "yesterday-error-free yesterday", "yesterday-48-lines yesterday",
    "yesterday-49-lines yesterday", "yesterday-with-problems yesterday", "yesterday-snapshots-only yesterday",
    "garbled yesterday", "garbled-without-nul yesterday", "recent/today-network-offline sent recent",
    "recent/today-network-offline as:-classic", "recent/today-disk-image-offline sent recent",
    "recent/today-failure-codes recent", "recent/today-failure-after-success recent",
    "recent/today-success-after-failure sent requested recent", "recent/today-start-clears-offline sent recent offline",
    "recent/yesterday-recent yesterday recent", "recent/yesterday-recent yesterday as:-classic", "cases/empty",
    "cases/empty yesterday", "cases/too-many-25000-bytes", "cases/too-many-25001-bytes",
    "cases/copy-error-past-32767-bytes", "cases/problem-without-backup-start sent offline", "cases/unmount-mid-backup",
    "cases/failure-without-success", "cases/srcerr-no-to-volumes", "cases/copy-without-destination",
    "cases/copy-error-lower-case", "cases/no-slash-before-volumes", "cases/cleaned-and-ignored-lines",
    "cases/long-success-line", "cases/two-success-lines", "cases/long-line-in-two-pieces",
    "cases/recent-near-misses both", "cases/recent-near-misses yesterday both"};

struct Case {
    std::string fixture, variant, requests;
    bool yesterday = false, both = false;
    std::uint8_t sent = 0, requested = 0, daily = 0, recent = 0, offline = 0;
    std::int16_t day = 68;
};

Case Parse(const char* spec)
{
    Case c;
    std::istringstream words(spec);
    words >> c.fixture;
    for (std::string w; words >> w;) {
        const std::string value = w.substr(w.find(':') + 1);
        const std::pair<const char*, std::uint8_t Case::*> flags[]
            = {{"sent", &Case::sent}, {"requested", &Case::requested}, {"daily", &Case::daily},
                {"recent", &Case::recent}, {"offline", &Case::offline}};
        for (const auto& [word, flag] : flags)
            if (w == word)
                c.*flag = 1;
        c.yesterday |= w == "yesterday";
        c.both |= w == "both";
        if (w.rfind("as:", 0) == 0)
            c.variant = value;
        if (w.rfind("day:", 0) == 0)
            c.day = static_cast<std::int16_t>(std::stoi(value));
        if (w.rfind("requests:", 0) == 0)
            c.requests = value;
    }
    return c;
}

void RunFixture(const MonitorWorld& world, const Case& c, std::uint8_t recent, std::uint8_t notifyOn = 1,
    std::uint8_t minorErrors = 0)
{
    world.SetLogOutput(ReadFile(FixturePath(QString::fromStdString(c.fixture) + QStringLiteral(".log"))));
    gLastBackupDay = c.day;
    SaveSettings();
    gRecentWording = recent;
    gEmailNotifyOn = notifyOn;
    gNotifyMinorErrors = minorErrors;
    gDailyEmail = c.daily;
    gEmailSent = c.sent;
    gEmailRequested = c.requested;
    gDriveOffline = c.offline;
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

// The cases of one folder below tests/fixtures ("" for the recorded logs,
// which give the same outcome with the recent wording on).
void ExpectOutcomes(std::string_view folder)
{
    const bool update = std::getenv("QZ_UPDATE_EXPECTED") != nullptr;
    for (const char* spec : kCases) {
        const Case c = Parse(spec);
        if (c.fixture.substr(0, c.fixture.rfind('/') + 1) != folder)
            continue;
        const QString name
            = QString::fromStdString("expected/" + c.fixture + c.variant + (c.yesterday ? ".yesterday" : ".today"));
        for (const std::uint8_t recent : {c.recent, std::uint8_t(c.both || folder.empty() ? 1 : c.recent)}) {
            SCOPED_TRACE(name.toStdString() + (recent ? " (recent wording)" : ""));
            MonitorWorld world;
            RunFixture(world, c, recent);
            // The command was read to its end, its channel closed, the report shown.
            EXPECT_EQ(QzEof(1), -1);
            EXPECT_EQ(gTodayReadNow + gYesterdayReadNow, 0);
            EXPECT_EQ(gPollAllowed, 1);
            EXPECT_EQ(MonitorWorld::ReportShown(), QzContainerToCF(gReport));
            const std::string got = Outcome();
            QFile file(FixturePath(name));
            if (update && file.open(QIODevice::WriteOnly))
                file.write(got.data(), static_cast<qint64>(got.size()));
            else
                EXPECT_EQ(got, ReadFile(FixturePath(name)));
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
    for (const char* spec : kCases) {
        Case c = Parse(spec);
        for (std::size_t i = 0; i < c.requests.size(); ++i) {
            MonitorWorld world;
            c.sent = 0;
            c.requested = i == 4 ? 1 : 0;
            RunFixture(world, c, 0, i < 2 ? 1 : 0, i % 2 == 0 && i < 4 ? 1 : 0);
            EXPECT_EQ(gEmailRequested, c.requests[i] - '0') << spec << " settings " << i;
        }
    }
}
