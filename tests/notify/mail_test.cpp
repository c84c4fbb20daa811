#include "notify_support.h"

#include "monitor/state.h"
#include "notify/mail.h"
#include "platform/script_standin.h"

#include <gtest/gtest.h>

// Each default mail app, for an ordinary and a test email, with texts that
// try to leave their string literals.
TEST(Mail, TheDefaultMailAppNamesTheScriptOrTheAlert)
{
    ResetNotifyState();
    ScriptRecorder recorder;
    const QString name = QStringLiteral("Sam's \"Mac\"");
    const QString address = QStringLiteral("a\\\"b\" & (do shell script \"touch X\") & \"@example.com");
    const QString subject = QStringLiteral("Backup \" & (do shell script \"touch X\") & \" \\");
    const QString body = QStringLiteral("line1\r\n\"quoted\"\r\n\\\\server\\share\r\nend\\");
    struct Case {
        const char* path;
        const char* name; // DefaultMailAppName
        const char* outlook; // the application the Outlook script tells; null: Mail's script or the alert
    };
    const Case cases[] = {{"/Applications/Mail.app", "Mail", nullptr},
        {"/System/Applications/Mail.app", "Mail", nullptr}, {"Mail.app", "Mail", nullptr}, // no "/": all of it
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
            recorder.scripts.clear();
            gTestEmailPending = gEmailRequested = gEmailSent = test;
            SendNotificationEmail(name, address, subject, body);
            EXPECT_EQ(gTestEmailPending + gEmailRequested + gEmailSent, 0);
            const QString content = test ? QStringLiteral("Quillaby Test. Success!") : body;
            const bool mail = std::string_view(c.name) == "Mail";
            QStringList literals;
            if (c.outlook || mail) {
                ASSERT_EQ(recorder.scripts.size(), 1u);
                EXPECT_TRUE(MatchScript(recorder.scripts[0], mail ? kMailPieces : kOutlookPieces, &literals));
                const QStringList want = mail
                    ? QStringList {test ? QStringLiteral("test email from Quillaby") : name, address, subject, content}
                    : QStringList {QString::fromUtf8(c.outlook), subject, content, address};
                EXPECT_EQ(literals, want);
                EXPECT_TRUE(alerts.alerts.empty());
            } else {
                EXPECT_TRUE(recorder.scripts.empty());
                ASSERT_EQ(alerts.alerts.size(), 1u);
                EXPECT_EQ(alerts.alerts[0].message, QString::fromUtf8(c.name) + QStringLiteral(" is not supported"));
                EXPECT_EQ(alerts.alerts[0].informative,
                    QStringLiteral("Only Apple's Mail app and Microsoft Outlook are supported."));
            }
        }
    }
}
