#include "notify_support.h"

#include "monitor/state.h"
#include "notify/dispatch.h"
#include "notify/mail.h"
#include "notify/state.h"
#include "platform/services.h"
#include "settings/state.h"

namespace {

// Sam's two addresses, a problem and a last success; the platform's mail app, its scripts run by the stand-in.
struct World {
    World()
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
    // A dispatch step with a request: the mails and the alerts ("message / informative" lines).
    std::string Dispatch(std::uint8_t request = 1) const
    {
        AlertRecorder alerts;
        gEmailRequested |= request;
        EmailDispatchStep();
        std::string seen = mailbox.Take();
        for (const QzAlertRequest& a : alerts.alerts)
            seen += (a.message + QStringLiteral(" / ") + a.informative).toStdString() + "\n";
        return seen;
    }
    // The same after the latch is cleared.
    std::string Again() const
    {
        gEmailSent = 0;
        return Dispatch();
    }

    Sandbox sandbox;
    TestClock clock;
    mutable Mailbox mailbox {sandbox};
    MailtoApp app {StandInMailtoApp()};
};

std::string Mail(const std::string& to, const std::string& subject, const std::string& body)
{
    return "Mail " + to + "|=?" + subject + " for User sam on Mac, Sam\u2019s iMac|" + body + "\n";
}

const std::string kFailed = "Time Machine Backup Failed";
const std::string kBody = "Backup failed with error: 11";
const std::string kSuccess = "\n\nLast Successful Backup Message:\n2026-03-10 09:00:00 Backup completed";
const std::string kNotSent = "Mail -\nThe notification email could not be sent. / ";

} // namespace

// A dispatch mails every address once until the latch is cleared, each time with the success block appended once more;
// a mail that cannot go out is told once, in the mail system's words; no control character of a log line reaches a mail
// raw.
TEST(Dispatch, EveryAddressOnceUntilTheLatchIsClearedAndFailuresAreToldOnce)
{
    const World w;
    gEmailStepHeld = 1; // the report command without --notify
    EXPECT_EQ(w.Dispatch(), "");
    EXPECT_EQ(gEmailRequested, 1);
    gEmailStepHeld = 0;
    EXPECT_EQ(w.Dispatch(),
        Mail("one@example.com", kFailed, kBody + "\n" + kSuccess)
            + Mail("two@example.com", kFailed, kBody + "\n" + kSuccess));
    EXPECT_EQ(gEmailRequested * 100 + gEmailSent * 10 + gEmailDelivered, 11);
    // While the latch is set requests are dropped; a pass without one does nothing.
    EXPECT_EQ(w.Dispatch() + w.Dispatch(0), "");
    EXPECT_EQ(gEmailRequested, 0);
    gEmailAddress1 = ShortString();
    EXPECT_EQ(w.Again(), Mail("two@example.com", kFailed, kBody + "\n" + kSuccess + "\n" + kSuccess));
    // No address: nothing is sent and the latch stays set.
    gEmailAddress2 = ShortString();
    EXPECT_EQ(w.Again(), "");
    EXPECT_EQ(gEmailSent * 10 + gEmailDelivered, 10);

    // A test goes to the addresses as typed; the test state ends at the first, so the second gets the ordinary
    // body. The subject is cut at 255 bytes.
    gEmailAddress1 = gTestAddress1 = "one@example.com";
    gTestAddress2 = "two@example.com";
    gLastProblem = "Backup failed with error: 11";
    gLastSuccessText = ShortString();
    gTestEmailPending = 1;
    const std::string test = "\"test email from Quillaby\" <one@example.com>";
    EXPECT_EQ(
        w.Again(), Mail(test, "Email Test", "Quillaby Test. Success!") + Mail("two@example.com", "Email Test", kBody));
    EXPECT_EQ(gEmailSent, 0); // cleared by the test email
    gNotifyMinorErrors = 1;
    const std::string minor = "Time Machine Minor Error";
    EXPECT_EQ(w.Dispatch(), Mail("one@example.com", minor, kBody));
    gTestEmailPending = 1;
    EXPECT_EQ(w.Again(), Mail(test, minor, "Quillaby Test. Success!") + Mail("two@example.com", minor, kBody));
    gNotifyMinorErrors = gEmailSent = 0;
    gComputerName = SS(std::string(250, 'c'));
    EXPECT_EQ(QString::fromStdString(w.Dispatch()).section(QLatin1Char('|'), 1, 1).size(), 255);
    gEmailAddress1 = "sam@example.com";
    gComputerName = "Sam\xD5s iMac";
    gLastProblem = "Error: \x1B[2Jgone\x01\tkept\r\nnext";
    EXPECT_EQ(w.Again(), Mail("sam@example.com", kFailed, "Error: \xE2\x90\x9B[2Jgone\xE2\x90\x81\tkept\nnext"));
    // The mail system refuses; a second request for the same problem is dropped by the latch.
    w.sandbox.Stub(QStringLiteral("sendmail"), "cat >/dev/null; echo 'sendmail: cannot connect to relay' >&2; exit 75");
    EXPECT_EQ(w.Again() + w.Dispatch(), kNotSent + "sendmail: cannot connect to relay\n");
    EXPECT_EQ(gEmailDelivered, 0);
    // An address that would add headers of its own is refused before any mail system runs.
    gEmailAddress1 = "sam@example.com\nBcc: x@example.com";
    EXPECT_EQ(w.Again(), kNotSent + "The address \"sam@example.com Bcc: x@example.com\" is not valid.\n");
    // Without any sendmail the user learns how to set one up.
    if (QFileInfo(QStringLiteral("/usr/sbin/sendmail")).isExecutable())
        GTEST_SKIP() << "this machine has /usr/sbin/sendmail";
    QFile::remove(w.sandbox.bin() + QStringLiteral("/sendmail"));
    const std::string path = getenv("PATH");
    setenv("PATH", (w.sandbox.bin().toStdString() + ":/usr/bin:/bin").c_str(), 1);
    gEmailAddress1 = "sam@example.com";
    EXPECT_EQ(w.Again(),
        kNotSent
            + "No mail system is set up on this computer. Install one that provides sendmail: msmtp-mta sends "
              "through your provider's SMTP server (set it up in ~/.msmtprc), postfix is a full mail system.\n");
    setenv("PATH", path.c_str(), 1);
}

// Before 10.13.9 a mail needs the accessibility permission: the alert, the latch released, the pane opened. Step 1
// checks once after start-up, only with notification on.
TEST(Dispatch, AccessibilityOnOldSystems)
{
    const World w;
    w.sandbox.Stub(QStringLiteral("open"), "echo \"$@\" >> '" + w.sandbox.path().toStdString() + "/opened'");
    const QString opened = w.sandbox.path() + QStringLiteral("/opened");
    const std::string pane = "/System/Library/PreferencePanes/Security.prefPane/\n";
    const std::string access = " / System Preferences / Security & Privacy / Privacy Tab / Accessibility / Quillaby\n";
    const std::string needed = "Access for Assistive Devices must be enabled to allow email notification";
    Accessibility denied(false);
    {
        SystemVersion version(w.sandbox, "10.13.6");
        EXPECT_EQ(w.Dispatch(), needed + access);
        EXPECT_EQ(gEmailSent, 0);
        EXPECT_EQ(ReadFile(opened), pane);
        SystemVersion later(w.sandbox, "10.14");
        gLastSuccessText = ShortString();
        EXPECT_EQ(w.Dispatch(), Mail("one@example.com", kFailed, kBody) + Mail("two@example.com", kFailed, kBody));
    }
    AlertRecorder alerts;
    gAccessCheckPending = 1;
    AccessibilityCheckStep();
    EXPECT_EQ(gAccessCheckPending, 0);
    gAccessCheckPending = gEmailNotifyOn = 1;
    AccessibilityCheckStep();
    AccessibilityCheckStep();
    Accessibility granted(true);
    gAccessCheckPending = 1;
    AccessibilityCheckStep();
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ((alerts.alerts[0].message + QStringLiteral(" / ") + alerts.alerts[0].informative).toStdString() + "\n",
        "STOP! " + needed + access);
    EXPECT_EQ(ReadFile(opened), pane + pane);
}

// Each default mail app, for an ordinary and a test email, through the stand-in runner to sendmail; texts that try to
// leave their string literals run nothing and arrive as they were.
TEST(Mail, TheDefaultMailAppGetsItsScriptOrTheUserIsTold)
{
    const World w;
    const QString marker = w.sandbox.path() + QStringLiteral("/X");
    const QString inject = QStringLiteral("\" & (do shell script \"touch ") + marker + QStringLiteral("\") & \"\\");
    const QString address = QStringLiteral("o\"brien") + inject + QStringLiteral("@example.com");
    const QString subject = QStringLiteral("Failed\r\nBcc: x@y on Mac, Sam\u2019s \"Mac\" ") + inject;
    const QString body = QStringLiteral("a\\\"b") + inject + QStringLiteral("\r\n.\r\nLast line\rend");
    const std::string to = address.toStdString(), rest = "|=?" + subject.toStdString() + "|";
    const std::string text
        = QString(body).replace(QRegularExpression(QStringLiteral("\r\n?")), QStringLiteral("\n")).toStdString() + "\n";
    // Per case: DefaultMailAppName and the application the script tells (null: the alert).
    const std::tuple<const char*, const char*, const char*> cases[] = {{"/Applications/Mail.app", "Mail", "Mail"},
        {"/System/Applications/Mail.app", "Mail", "Mail"}, {"Mail.app", "Mail", "Mail"}, // no "/": all of it
        {"/Applications/Microsoft Outlook.app", "Microsoft Outlook", "Microsoft Outlook"},
        {"/Volumes/Apps/Applications/Microsoft Office 2011/Microsoft Outlook.app",
            "Applications/Microsoft Office 2011/Microsoft Outlook", "Microsoft Outlook"},
        {"/Applications/Microsoft Entourage.app", "Microsoft Entourage", "Microsoft Entourage"},
        {"/Applications/Thunderbird.app", "Thunderbird", nullptr}, {"/Applications/mail.app", "mail", nullptr},
        {"/Applications/outlook.app", "outlook", nullptr}, {"/Applications/Mail", "", nullptr}, {"", "", nullptr}};
    for (const auto& [path, app, told] : cases) {
        for (const std::uint8_t test : {0, 1}) {
            SCOPED_TRACE(std::string(path) + (test ? " (test email)" : ""));
            MailtoApp mailto(QString::fromUtf8(path));
            EXPECT_EQ(DefaultMailAppName(), SS(app));
            AlertRecorder alerts;
            gTestEmailPending = gEmailRequested = gEmailSent = 1;
            gTestEmailPending = test;
            EXPECT_EQ(
                SendNotificationEmail(QStringLiteral("Sam \"the\" Owner"), address, subject, body), told != nullptr);
            EXPECT_EQ(gTestEmailPending * 100 + gEmailRequested * 10 + gEmailSent, test ? 0 : 11);
            const std::string name = test ? "\"test email from Quillaby\" <" : "\"Sam \\\"the\\\" Owner\" <";
            const bool mail = told && std::string_view(told) == "Mail";
            EXPECT_EQ(w.mailbox.Take(),
                !told ? ""
                      : told + (" " + (mail ? name + to + ">" : to)) + rest
                        + (test ? "Quillaby Test. Success!\n" : text));
            EXPECT_EQ(alerts.alerts.size(), told ? 0u : 1u);
            for (const QzAlertRequest& a : alerts.alerts)
                EXPECT_EQ(a.message + QLatin1Char('/') + a.informative,
                    QString::fromUtf8(app)
                        + QStringLiteral(
                            " is not supported/Only Apple's Mail app and Microsoft Outlook are supported."));
        }
    }
    EXPECT_FALSE(QFileInfo::exists(marker));
}
