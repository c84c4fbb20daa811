// Each fixture log through the real pipeline against its hand-derived outcome in
// tests/fixtures/expected/ (QZ_UPDATE_EXPECTED=1 writes them afresh, for review).

#include "monitor_support.h"

#include "monitor/state.h"
#include "runtime/channels.h"
#include "runtime/textcontainer.h"
#include "settings/settings.h"

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
// names the expected file when a fixture runs more than once; "both": the
// same outcome with the recent wording on and off; steps' words (the state
// left by earlier runs, the settings); "requests:" the email request with
// (notify, minor) = (1,1), (1,0), (0,1), (0,0), and with (0,0) when a request
// was pending.
const char* const kCases[] = {"today-error-free-morning sent=1 requested=1 requests:00000",
    "today-error-free-morning as:-offline-before sent=1 offline=1", "today-not-starting-benign requests:00000",
    "today-few-lines requests:00000", "today-48-lines-after-grep", "today-49-lines-after-grep",
    "today-drive-offline sent=1 requests:00000", "today-failed-error-19 sent=1 requests:11001",
    "today-failed-error-27 sent=1 requests:11001", "today-failed-error-11-after-success requests:11001",
    "today-success-after-failure sent=1 requested=1 requests:10000", "today-spotlight-importer-failed requests:10000",
    "today-ds-store-problem requested=1 requests:10000", "today-copy-error-to-volumes requests:10000",
    "today-copy-error-to-null requests:10000", "today-copy-error-null-null requests:10000",
    "today-too-many-problems requests:10000", "today-too-many-problems yesterday",
    "today-snapshots-only sent=1 requests:00000", "today-snapshots-only as:-five-days sent=1 daily=1 backupDay=64",
    "garbled", "garbled-without-nul", "yesterday-error-free yesterday", "yesterday-48-lines yesterday",
    "yesterday-49-lines yesterday", "yesterday-with-problems yesterday", "yesterday-snapshots-only yesterday",
    "garbled yesterday", "garbled-without-nul yesterday", "recent/today-network-offline sent=1 recent=1",
    "recent/today-network-offline as:-classic", "recent/today-disk-image-offline sent=1 recent=1",
    "recent/today-failure-codes recent=1", "recent/today-failure-after-success recent=1",
    "recent/today-success-after-failure sent=1 requested=1 recent=1",
    "recent/today-start-clears-offline sent=1 recent=1 offline=1", "recent/yesterday-recent yesterday recent=1",
    "recent/yesterday-recent yesterday as:-classic", "cases/empty", "cases/empty yesterday",
    "cases/too-many-25000-bytes", "cases/too-many-25001-bytes", "cases/copy-error-past-32767-bytes",
    "cases/problem-without-backup-start sent=1 offline=1", "cases/unmount-mid-backup", "cases/failure-without-success",
    "cases/srcerr-no-to-volumes", "cases/copy-without-destination", "cases/copy-error-lower-case",
    "cases/no-slash-before-volumes", "cases/cleaned-and-ignored-lines", "cases/long-success-line",
    "cases/two-success-lines", "cases/long-line-in-two-pieces", "cases/recent-near-misses both",
    "cases/recent-near-misses yesterday both"};

struct Case {
    std::string fixture, words, variant, requests;
    bool yesterday = false, both = false, recent = false;
};

Case Parse(const char* spec)
{
    Case c;
    std::istringstream words(spec);
    words >> c.fixture;
    for (std::string w; words >> w;) {
        if (w.find('=') != std::string::npos)
            c.words += " " + w;
        else if (w.rfind("as:", 0) == 0)
            c.variant = w.substr(3);
        else if (w.rfind("requests:", 0) == 0)
            c.requests = w.substr(9);
        c.yesterday |= w == "yesterday";
        c.both |= w == "both";
        c.recent |= w == "recent=1";
    }
    return c;
}

// Yesterday's analysis clears what an earlier analysis left.
void RunFixture(const MonitorWorld& world, const Case& c, const std::string& settings)
{
    world.SetLogOutput(ReadFile(FixturePath(QString::fromStdString(c.fixture) + QStringLiteral(".log"))));
    const std::string words = "backupDay=68 daily=0 notify=1 minor=0" + c.words + " " + settings
        + (c.yesterday ? " offline=1 spotlight=1 folder=9 Yesterday() yOpen=0 yReadNow=1 Yesterday()"
                       : " Today() open=0 readNow=1 Today()");
    world.Run({{words.c_str()}});
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
        for (const bool recent : {c.recent, c.recent || c.both || folder.empty()}) {
            SCOPED_TRACE(name.toStdString() + (recent ? " (recent wording)" : ""));
            MonitorWorld world;
            RunFixture(world, c, recent ? "recent=1" : "");
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
    const char* const settings[] = {"notify=1 minor=1 sent=0 requested=0", "notify=1 minor=0 sent=0 requested=0",
        "notify=0 minor=1 sent=0 requested=0", "notify=0 minor=0 sent=0 requested=0",
        "notify=0 minor=0 sent=0 requested=1"};
    for (const char* spec : kCases) {
        const Case c = Parse(spec);
        for (std::size_t i = 0; i < c.requests.size(); ++i) {
            MonitorWorld world;
            RunFixture(world, c, settings[i]);
            EXPECT_EQ(gEmailRequested, c.requests[i] - '0') << spec << " settings " << i;
        }
    }
}
