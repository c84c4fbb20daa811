#include "notify_support.h"

#include "monitor/state.h"
#include "notify/dispatch.h"
#include "notify/state.h"
#include "platform/script_standin.h"
#include "settings/state.h"

#include <gtest/gtest.h>

#include <QDir>

namespace {

using Mails = std::vector<QStringList>;

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

    // One dispatch step: name, address, subject and body of each Mail script it ran.
    Mails Dispatch()
    {
        recorder.scripts.clear();
        EmailDispatchStep();
        Mails sent;
        for (const QString& s : recorder.scripts)
            EXPECT_TRUE(MatchScript(s, kMailPieces, &sent.emplace_back())) << s.toStdString();
        return sent;
    }

    Sandbox sandbox;
    ScriptRecorder recorder;
    MailtoApp app;
};

const QString kOne = QStringLiteral("one@example.com");
const QString kTwo = QStringLiteral("two@example.com");
const QString kFailed = QStringLiteral("Time Machine Backup Failed for User sam on Mac, Sam\u2019s iMac");
const QString kBody = QStringLiteral(
    "Backup failed with error: 11\r\n\r\n\r\nLast Successful Backup Message:\r\n2026-03-10 09:00:00 Backup completed");

} // namespace

TEST(Dispatch, TwoAddressesOneDispatchUntilTheLatchIsCleared)
{
    World w;
    gEmailStepHeld = 1; // the report command without --notify
    gEmailRequested = 1;
    EXPECT_EQ(w.Dispatch(), Mails {});
    EXPECT_EQ(gEmailRequested, 1);
    gEmailStepHeld = 0;
    EXPECT_EQ(w.Dispatch(), (Mails {{QString(), kOne, kFailed, kBody}, {QString(), kTwo, kFailed, kBody}}));
    EXPECT_EQ(gEmailRequested, 0);
    EXPECT_EQ(gEmailSent, 1);
    EXPECT_EQ(QzStrToCF(gLastProblem), kBody); // the appended block stays
    // While the latch is set requests are dropped; a pass without one does nothing.
    gEmailRequested = 1;
    EXPECT_EQ(w.Dispatch(), Mails {});
    EXPECT_EQ(w.Dispatch(), Mails {});
    EXPECT_EQ(gEmailRequested, 0);
    // The next dispatch appends the success block once more.
    gEmailSent = 0;
    gEmailRequested = 1;
    gEmailAddress1 = ShortString();
    EXPECT_EQ(w.Dispatch(),
        (Mails {{QString(), kTwo, kFailed, kBody + QStringLiteral("\r\n") + QzStrToCF(gLastSuccessText)}}));
    // No address: nothing is sent and the latch stays set.
    gEmailSent = 0;
    gEmailRequested = 1;
    gEmailAddress2 = ShortString();
    EXPECT_EQ(w.Dispatch(), Mails {});
    EXPECT_EQ(gEmailSent, 1);
}

TEST(Dispatch, SubjectsForTestsAndMinorErrors)
{
    World w;
    gLastSuccessText = ShortString();
    // A test goes to the addresses as typed; the test state ends at the first: the second gets the ordinary body.
    gTestAddress1 = gEmailAddress1;
    gTestAddress2 = gEmailAddress2;
    gEmailAddress1 = gEmailAddress2 = ShortString();
    gTestEmailPending = gEmailRequested = 1;
    const QString testSubject = QStringLiteral("Email Test for User sam on Mac, Sam\u2019s iMac");
    EXPECT_EQ(w.Dispatch(),
        (Mails {
            {QStringLiteral("test email from Quillaby"), kOne, testSubject, QStringLiteral("Quillaby Test. Success!")},
            {QString(), kTwo, testSubject, QStringLiteral("Backup failed with error: 11")}}));
    EXPECT_EQ(gEmailSent, 0); // cleared by the test email
    gEmailAddress1 = gTestAddress1;
    const QString minor = QStringLiteral("Time Machine Minor Error for User sam on Mac, Sam\u2019s iMac");
    gNotifyMinorErrors = 1;
    for (const std::uint8_t test : {0, 1}) {
        gTestEmailPending = test;
        gEmailRequested = 1;
        gEmailSent = 0;
        for (const QStringList& m : w.Dispatch())
            EXPECT_EQ(m.at(2), minor);
    }
    // The subject is cut at 255 bytes.
    gNotifyMinorErrors = gEmailSent = 0;
    gComputerName = SS(std::string(250, 'c'));
    gEmailRequested = 1;
    EXPECT_EQ(w.Dispatch().at(0).at(2).size(), 255);
}

TEST(Dispatch, AccessibilityOnOldSystems)
{
    World w;
    w.sandbox.Stub(QStringLiteral("open"), "echo \"$@\" >> '" + w.sandbox.path().toStdString() + "/opened'");
    const QString opened = w.sandbox.path() + QStringLiteral("/opened");
    const std::string pane = "/System/Library/PreferencePanes/Security.prefPane/\n";
    const QString access
        = QStringLiteral("System Preferences / Security & Privacy / Privacy Tab / Accessibility / Quillaby");
    Accessibility denied(false);
    AlertRecorder alerts;
    {
        // Before 10.13.9: the alert, the latch released, the pane opened; from 10.14 on no permission is needed.
        SystemVersion version(w.sandbox, "10.13.6");
        gEmailRequested = 1;
        EXPECT_EQ(w.Dispatch(), Mails {});
        EXPECT_EQ(gEmailSent, 0);
        EXPECT_EQ(ReadFile(opened), pane);
        SystemVersion later(w.sandbox, "10.14");
        gEmailRequested = 1;
        EXPECT_EQ(w.Dispatch().size(), 2u);
    }
    // Step 1, once after start-up, only with notification on.
    gAccessCheckPending = 1;
    AccessibilityCheckStep();
    EXPECT_EQ(gAccessCheckPending, 0);
    gAccessCheckPending = gEmailNotifyOn = 1;
    AccessibilityCheckStep();
    AccessibilityCheckStep();
    Accessibility granted(true);
    gAccessCheckPending = 1;
    AccessibilityCheckStep();
    ASSERT_EQ(alerts.alerts.size(), 2u);
    EXPECT_EQ(alerts.alerts[0].message,
        QStringLiteral("Access for Assistive Devices must be enabled to allow email notification"));
    EXPECT_EQ(alerts.alerts[1].message,
        QStringLiteral("STOP! Access for Assistive Devices must be enabled to allow email notification"));
    EXPECT_EQ(alerts.alerts[0].informative, access);
    EXPECT_EQ(alerts.alerts[1].informative, access);
    EXPECT_EQ(ReadFile(opened), pane + pane);
}
