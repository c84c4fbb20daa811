#include "notify_support.h"

#include "app/state.h"
#include "monitor/state.h"
#include "notify/dispatch.h"
#include "notify/state.h"
#include "platform/script_standin.h"

#include <gtest/gtest.h>

#include <QDir>

namespace {

// Name, address, subject and body of each Mail script run.
std::vector<QStringList> Sent(const ScriptRecorder& recorder)
{
    std::vector<QStringList> sent;
    for (const QString& s : recorder.scripts) {
        QStringList literals;
        EXPECT_TRUE(MatchScript(s, kMailPieces, &literals)) << s.toStdString();
        sent.push_back(literals);
    }
    return sent;
}

struct World {
    World()
        : app(QStringLiteral("/System/Applications/Mail.app"))
    {
        ResetNotifyState();
        const QString home = sandbox.path() + QStringLiteral("/sam");
        QDir().mkpath(home);
        setenv("HOME", home.toUtf8().constData(), 1);
        gComputerName = "Sam\xD5s iMac";
        gEmailAddress1 = "one@example.com";
        gEmailAddress2 = "two@example.com";
        gLastProblem = "Backup failed with error: 11";
        gLastSuccessText = "\r\n\r\nLast Successful Backup Message:\r\n2026-03-10 09:00:00 Backup completed";
    }
    Sandbox sandbox;
    ScriptRecorder recorder;
    MailtoApp app;
};

const QString kFailed = QStringLiteral("Time Machine Backup Failed for User sam on Mac, Sam\u2019s iMac");
const QString kBody = QStringLiteral(
    "Backup failed with error: 11\r\n\r\n\r\nLast Successful Backup Message:\r\n2026-03-10 09:00:00 Backup completed");

} // namespace

TEST(Dispatch, TwoAddressesOneDispatchUntilTheLatchIsCleared)
{
    World w;
    gEmailStepHeld = 1; // the report command without --notify
    gEmailRequested = 1;
    EmailDispatchStep();
    EXPECT_TRUE(w.recorder.scripts.empty());
    EXPECT_EQ(gEmailRequested, 1);
    gEmailStepHeld = 0;
    EmailDispatchStep();
    EXPECT_EQ(gEmailRequested, 0);
    EXPECT_EQ(gEmailSent, 1);
    const std::vector<QStringList> want = {{QString(), QStringLiteral("one@example.com"), kFailed, kBody},
        {QString(), QStringLiteral("two@example.com"), kFailed, kBody}};
    EXPECT_EQ(Sent(w.recorder), want);
    EXPECT_EQ(QzStrToCF(gLastProblem), kBody); // the appended block stays

    // While the latch is set requests are dropped; a pass without one does nothing.
    gEmailRequested = 1;
    EmailDispatchStep();
    EmailDispatchStep();
    EXPECT_EQ(w.recorder.scripts.size(), 2u);
    EXPECT_EQ(gEmailRequested, 0);

    // The next dispatch appends the success block once more.
    gEmailSent = 0;
    gEmailRequested = 1;
    gEmailAddress1 = ShortString();
    EmailDispatchStep();
    ASSERT_EQ(w.recorder.scripts.size(), 3u);
    const QStringList last = Sent(w.recorder).back();
    EXPECT_EQ(last.at(1), QStringLiteral("two@example.com"));
    EXPECT_EQ(last.at(3), kBody + QStringLiteral("\r\n") + QzStrToCF(gLastSuccessText));

    // No address: nothing is sent and the latch stays set.
    gEmailSent = 0;
    gEmailRequested = 1;
    gEmailAddress2 = ShortString();
    EmailDispatchStep();
    EXPECT_EQ(w.recorder.scripts.size(), 3u);
    EXPECT_EQ(gEmailSent, 1);
}

TEST(Dispatch, SubjectsForTestsAndMinorErrors)
{
    World w;
    gLastSuccessText = ShortString();
    // The test state ends at the first address: the second gets the ordinary body.
    gEmailNotifyOn = 0;
    gTestEmailPending = 1;
    gEmailRequested = 1;
    EmailDispatchStep();
    const QString testSubject = QStringLiteral("Email Test for User sam on Mac, Sam\u2019s iMac");
    const std::vector<QStringList> want = {
        {QStringLiteral("test email from Quillaby"), QStringLiteral("one@example.com"), testSubject,
            QStringLiteral("Quillaby Test. Success!")},
        {QString(), QStringLiteral("two@example.com"), testSubject, QStringLiteral("Backup failed with error: 11")}};
    EXPECT_EQ(Sent(w.recorder), want);
    EXPECT_EQ(gEmailSent, 0); // cleared by the test email

    for (const std::uint8_t test : {0, 1}) {
        w.recorder.scripts.clear();
        gNotifyMinorErrors = 1;
        gTestEmailPending = test;
        gEmailRequested = 1;
        gEmailSent = 0;
        EmailDispatchStep();
        for (const QStringList& m : Sent(w.recorder))
            EXPECT_EQ(m.at(2), QStringLiteral("Time Machine Minor Error for User sam on Mac, Sam\u2019s iMac"));
    }

    // The subject is cut at 255 bytes.
    w.recorder.scripts.clear();
    gNotifyMinorErrors = 0;
    gComputerName = SS(std::string(250, 'c'));
    gEmailSent = 0;
    gEmailRequested = 1;
    EmailDispatchStep();
    EXPECT_EQ(Sent(w.recorder).at(0).at(2).size(), 255);
}

TEST(Dispatch, AccessibilityOnOldSystems)
{
    World w;
    w.sandbox.Stub(QStringLiteral("open"), "echo \"$@\" >> '" + w.sandbox.path().toStdString() + "/opened'");
    const QString opened = w.sandbox.path() + QStringLiteral("/opened");
    const QString access
        = QStringLiteral("System Preferences / Security & Privacy / Privacy Tab / Accessibility / Quillaby");
    Accessibility denied(false);
    {
        // Before 10.13.9: the alert, the latch released, the pane opened.
        SystemVersion version(w.sandbox, "10.13.6");
        AlertRecorder alerts;
        gEmailRequested = 1;
        EmailDispatchStep();
        ASSERT_EQ(alerts.alerts.size(), 1u);
        EXPECT_EQ(alerts.alerts[0].message,
            QStringLiteral("Access for Assistive Devices must be enabled to allow email notification"));
        EXPECT_EQ(alerts.alerts[0].informative, access);
        EXPECT_EQ(gEmailSent, 0);
        EXPECT_TRUE(w.recorder.scripts.empty());
        EXPECT_EQ(ReadFile(opened), "/System/Library/PreferencePanes/Security.prefPane/\n");
    }
    {
        // From 10.14 on the permission is not needed.
        SystemVersion version(w.sandbox, "10.14");
        gEmailRequested = 1;
        EmailDispatchStep();
        EXPECT_EQ(w.recorder.scripts.size(), 2u);
    }

    // Step 1, once after start-up, only with notification on.
    AlertRecorder alerts;
    gAccessCheckPending = 1;
    gEmailNotifyOn = 0;
    AccessibilityCheckStep();
    EXPECT_EQ(gAccessCheckPending, 0);
    EXPECT_TRUE(alerts.alerts.empty());
    gAccessCheckPending = 1;
    gEmailNotifyOn = 1;
    AccessibilityCheckStep();
    AccessibilityCheckStep();
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].message,
        QStringLiteral("STOP! Access for Assistive Devices must be enabled to allow email notification"));
    EXPECT_EQ(alerts.alerts[0].informative, access);
    EXPECT_EQ(ReadFile(opened),
        "/System/Library/PreferencePanes/Security.prefPane/\n"
        "/System/Library/PreferencePanes/Security.prefPane/\n");
    Accessibility granted(true);
    gAccessCheckPending = 1;
    AccessibilityCheckStep();
    EXPECT_EQ(alerts.alerts.size(), 1u);
}
