#include "notify_support.h"

#include "monitor/state.h"
#include "notify/mail.h"
#include "platform/script_standin.h"

#include <gtest/gtest.h>

namespace {

QString Join(const QStringList& pieces, const QStringList& literals)
{
    QString s = pieces.at(0);
    for (qsizetype i = 0; i < literals.size(); ++i)
        s += QLatin1Char('"') + literals.at(i) + QLatin1Char('"') + pieces.at(i + 1);
    return s;
}

void Send()
{
    SendNotificationEmail(
        QStringLiteral("Sam"), QStringLiteral("sam@example.com"), QStringLiteral("Backup"), QStringLiteral("Failed"));
}

} // namespace

TEST(Mail, TheDefaultMailAppNamesTheScriptOrTheAlert)
{
    ResetNotifyState();
    ScriptRecorder recorder;
    struct Case {
        const char* path;
        const char* name; // DefaultMailAppName
        const char* outlook; // the application the Outlook script tells; null: Mail's script or the alert
    };
    const Case cases[] = {
        {"/Applications/Mail.app", "Mail", nullptr},
        {"/System/Applications/Mail.app", "Mail", nullptr},
        {"Mail.app", "Mail", nullptr}, // no "/" at all: the text stays whole
        {"/Applications/Microsoft Outlook.app", "Microsoft Outlook", "Microsoft Outlook"},
        {"/Volumes/Apps/Applications/Microsoft Office 2011/Microsoft Outlook.app",
            "Applications/Microsoft Office 2011/Microsoft Outlook", "Microsoft Outlook"},
        {"/Applications/Microsoft Entourage.app", "Microsoft Entourage", "Microsoft Entourage"},
        {"/Applications/Thunderbird.app", "Thunderbird", nullptr},
        {"/Applications/mail.app", "mail", nullptr},
        {"/Applications/outlook.app", "outlook", nullptr},
        {"/Applications/Mail", "", nullptr}, // no "."
        {"", "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        MailtoApp app(QString::fromUtf8(c.path));
        EXPECT_EQ(DefaultMailAppName(), SS(c.name));
        AlertRecorder alerts;
        recorder.scripts.clear();
        Send();
        if (c.outlook) {
            ASSERT_EQ(recorder.scripts.size(), 1u);
            EXPECT_EQ(recorder.scripts[0],
                Join(kOutlookPieces,
                    {QString::fromUtf8(c.outlook), QStringLiteral("Backup"), QStringLiteral("Failed"),
                        QStringLiteral("sam@example.com")}));
        } else if (std::string(c.name) == "Mail") {
            ASSERT_EQ(recorder.scripts.size(), 1u);
            EXPECT_EQ(recorder.scripts[0],
                Join(kMailPieces,
                    {QStringLiteral("Sam"), QStringLiteral("sam@example.com"), QStringLiteral("Backup"),
                        QStringLiteral("Failed")}));
        } else {
            EXPECT_TRUE(recorder.scripts.empty());
            ASSERT_EQ(alerts.alerts.size(), 1u);
            EXPECT_EQ(alerts.alerts[0].message, QString::fromUtf8(c.name) + QStringLiteral(" is not supported"));
            EXPECT_EQ(alerts.alerts[0].informative,
                QStringLiteral("Only Apple's Mail app and Microsoft Outlook are supported."));
        }
    }
}

TEST(Mail, TestEmailReplacesNameAndBodyAndEndsTheTestState)
{
    ResetNotifyState();
    ScriptRecorder recorder;
    const QString success = QStringLiteral("Quillaby Test. Success!");
    for (const char* path : {"/Applications/Microsoft Outlook.app", "/Applications/Mail.app"}) {
        MailtoApp app(QString::fromUtf8(path));
        gTestEmailPending = gEmailRequested = gEmailSent = 1;
        Send();
        EXPECT_EQ(gTestEmailPending + gEmailRequested + gEmailSent, 0);
    }
    EXPECT_EQ(recorder.scripts.at(0),
        Join(kOutlookPieces,
            {QStringLiteral("Microsoft Outlook"), QStringLiteral("Backup"), success,
                QStringLiteral("sam@example.com")}));
    EXPECT_EQ(recorder.scripts.at(1),
        Join(kMailPieces,
            {QStringLiteral("test email from Quillaby"), QStringLiteral("sam@example.com"), QStringLiteral("Backup"),
                success}));
}

TEST(Mail, HostileTextsStayInsideTheirLiterals)
{
    ResetNotifyState();
    ScriptRecorder recorder;
    MailtoApp app(QStringLiteral("/System/Applications/Mail.app"));
    const QString name = QStringLiteral("Sam's \"Mac\"");
    const QString address = QStringLiteral("a\\\"b\" & (do shell script \"touch X\") & \"@example.com");
    const QString subject = QStringLiteral("Backup \" & (do shell script \"touch X\") & \" \\");
    const QString body = QStringLiteral("line1\r\n\"quoted\"\r\n\\\\server\\share\r\nend\\");
    SendNotificationEmail(name, address, subject, body);
    ASSERT_EQ(recorder.scripts.size(), 1u);
    const QString& s = recorder.scripts[0];
    EXPECT_TRUE(s.startsWith(QStringLiteral("set recipientName to \"Sam's \\\"Mac\\\"\"\n"
                                            "set recipientAddress to \"a\\\\\\\"b\\\" & (do shell script \\\"touch "
                                            "X\\\") & \\\"@example.com\"\n")))
        << s.toStdString();
    EXPECT_TRUE(s.contains(
        QStringLiteral("set theContent to \"line1\r\n\\\"quoted\\\"\r\n\\\\\\\\server\\\\share\r\nend\\\\\"\n")));
    // The script is still the Mail script, with the texts as given.
    QStringList literals;
    ASSERT_TRUE(MatchScript(s, kMailPieces, &literals));
    EXPECT_EQ(literals, QStringList({name, address, subject, body}));

    MailtoApp outlook(QStringLiteral("/Applications/Microsoft Outlook.app"));
    SendNotificationEmail(name, address, subject, body);
    ASSERT_TRUE(MatchScript(recorder.scripts.back(), kOutlookPieces, &literals));
    EXPECT_EQ(literals, QStringList({QStringLiteral("Microsoft Outlook"), subject, body, address}));
}
