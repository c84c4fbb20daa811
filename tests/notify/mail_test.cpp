#include "notify_support.h"

#include "monitor/state.h"
#include "notify/mail.h"
#include "notify/state.h"

// Each default mail app, for an ordinary and a test email, through the
// stand-in runner to sendmail; texts that try to leave their string literals
// run nothing and arrive as they were.
TEST(Mail, TheDefaultMailAppGetsItsScriptOrTheUserIsTold)
{
    ResetNotifyState();
    Sandbox sandbox;
    TestClock clock;
    Mailbox mailbox(sandbox);
    const QString marker = sandbox.path() + QStringLiteral("/X");
    const QString inject = QStringLiteral("\" & (do shell script \"touch ") + marker + QStringLiteral("\") & \"\\");
    const QString address = QStringLiteral("o\"brien") + inject + QStringLiteral("@example.com");
    const QString subject = QStringLiteral("Failed\r\nBcc: x@y on Mac, Sam\u2019s \"Mac\" ") + inject;
    const QString body = QStringLiteral("a\\\"b") + inject + QStringLiteral("\r\n.\r\nLast line\rend");
    const std::string to = address.toStdString(), rest = "|=?" + subject.toStdString() + "|";
    const std::string text
        = QString(body).replace(QRegularExpression(QStringLiteral("\r\n?")), QStringLiteral("\n")).toStdString() + "\n";
    struct Case {
        const char* path;
        const char* name; // DefaultMailAppName
        const char* told; // the application the script tells; null: the alert
    };
    const Case cases[] = {{"/Applications/Mail.app", "Mail", "Mail"}, {"/System/Applications/Mail.app", "Mail", "Mail"},
        {"Mail.app", "Mail", "Mail"}, // no "/": all of it
        {"/Applications/Microsoft Outlook.app", "Microsoft Outlook", "Microsoft Outlook"},
        {"/Volumes/Apps/Applications/Microsoft Office 2011/Microsoft Outlook.app",
            "Applications/Microsoft Office 2011/Microsoft Outlook", "Microsoft Outlook"},
        {"/Applications/Microsoft Entourage.app", "Microsoft Entourage", "Microsoft Entourage"},
        {"/Applications/Thunderbird.app", "Thunderbird", nullptr}, {"/Applications/mail.app", "mail", nullptr},
        {"/Applications/outlook.app", "outlook", nullptr}, {"/Applications/Mail", "", nullptr}, {"", "", nullptr}};
    for (const Case& c : cases) {
        for (const std::uint8_t test : {0, 1}) {
            SCOPED_TRACE(std::string(c.path) + (test ? " (test email)" : ""));
            MailtoApp app(QString::fromUtf8(c.path));
            EXPECT_EQ(DefaultMailAppName(), SS(c.name));
            AlertRecorder alerts;
            gTestEmailPending = gEmailRequested = gEmailSent = 1;
            gTestEmailPending = test;
            EXPECT_EQ(
                SendNotificationEmail(QStringLiteral("Sam \"the\" Owner"), address, subject, body), c.told != nullptr);
            EXPECT_EQ(gTestEmailPending * 100 + gEmailRequested * 10 + gEmailSent, test ? 0 : 11);
            const std::string name = test ? "\"test email from Quillaby\" <" : "\"Sam \\\"the\\\" Owner\" <";
            const bool mail = c.told && std::string_view(c.told) == "Mail";
            EXPECT_EQ(mailbox.Take(),
                !c.told ? ""
                        : c.told + (" " + (mail ? name + to + ">" : to)) + rest
                        + (test ? "Quillaby Test. Success!\n" : text));
            EXPECT_EQ(alerts.alerts.size(), c.told ? 0u : 1u);
            for (const QzAlertRequest& a : alerts.alerts)
                EXPECT_EQ(a.message + QLatin1Char('/') + a.informative,
                    QString::fromUtf8(c.name)
                        + QStringLiteral(
                            " is not supported/Only Apple's Mail app and Microsoft Outlook are supported."));
        }
    }
    EXPECT_FALSE(QFileInfo::exists(marker));
}
