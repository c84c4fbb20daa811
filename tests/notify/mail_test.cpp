#include "notify_support.h"

#include "monitor/state.h"
#include "notify/mail.h"
#include "platform/script_standin.h"

#include <gtest/gtest.h>

namespace {

// The fixed pieces of the two scripts, with a string literal between each two.
const QStringList kMailPieces = {
    QStringLiteral("set recipientName to "),
    QStringLiteral("\nset recipientAddress to "),
    QStringLiteral("\nset theSubject to "),
    QStringLiteral("\nset theContent to "),
    QStringLiteral("\ntell application \"Mail\"\n"
                   "set theMessage to make new outgoing message with properties {subject:theSubject, "
                   "content:theContent, visible:true}\n"
                   "tell theMessage\n"
                   "make new to recipient with properties {name:recipientName, address:recipientAddress}\n"
                   "send\n"
                   "end tell\n"
                   "end tell\n"),
};
const QStringList kOutlookPieces = {
    QStringLiteral("tell application "),
    QStringLiteral("\nactivate\n"
                   "set w to make new outgoing message with properties {account:(default account),subject:"),
    QStringLiteral(", plain text content:"),
    QStringLiteral("}\nmake new recipient at w with properties {email address:{address:"),
    QStringLiteral("}}\nsend w\nend tell\n"),
};

QString Join(const QStringList& pieces, const QStringList& literals)
{
    QString s = pieces.at(0);
    for (qsizetype i = 0; i < literals.size(); ++i)
        s += QLatin1Char('"') + literals.at(i) + QLatin1Char('"') + pieces.at(i + 1);
    return s;
}

const QString kMailScript = Join(kMailPieces,
    {QStringLiteral("Sam"), QStringLiteral("sam@example.com"), QStringLiteral("Backup"),
        QStringLiteral("Failed\r\nLast")});

QString OutlookScript(const QString& app, const QString& body = QStringLiteral("Failed\r\nLast"))
{
    return Join(kOutlookPieces, {app, QStringLiteral("Backup"), body, QStringLiteral("sam@example.com")});
}

void Send(const QString& name = QStringLiteral("Sam"))
{
    SendNotificationEmail(
        name, QStringLiteral("sam@example.com"), QStringLiteral("Backup"), QStringLiteral("Failed\r\nLast"));
}

} // namespace

TEST(Mail, DefaultMailAppNameReducesThePath)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/Applications/Mail.app", "Mail"},
        {"/System/Applications/Mail.app", "Mail"},
        {"/Applications/Microsoft Outlook.app", "Microsoft Outlook"},
        {"/Volumes/Apps/Applications/Microsoft Office 2011/Microsoft Outlook.app",
            "Applications/Microsoft Office 2011/Microsoft Outlook"},
        {"/Applications/Thunderbird.app", "Thunderbird"},
        {"Mail.app", "Mail"}, // no "/" at all: the text stays whole
        {"/Applications/Mail", ""}, // no "."
        {"", ""},
    };
    for (const auto& [path, name] : cases) {
        MailtoApp app(QString::fromUtf8(path));
        EXPECT_EQ(DefaultMailAppName(), SS(name)) << path;
    }
}

TEST(Mail, ScriptForEachMailApplication)
{
    ResetNotifyState();
    ScriptRecorder recorder;
    struct Case {
        const char* path;
        QString script; // empty: the alert instead
        const char* alert;
    };
    const Case cases[] = {
        {"/System/Applications/Mail.app", kMailScript, ""},
        {"/Applications/Microsoft Outlook.app", OutlookScript(QStringLiteral("Microsoft Outlook")), ""},
        {"/Volumes/Apps/Applications/Microsoft Office 2011/Microsoft Outlook.app",
            OutlookScript(QStringLiteral("Microsoft Outlook")), ""},
        {"/Applications/Microsoft Entourage.app", OutlookScript(QStringLiteral("Microsoft Entourage")), ""},
        {"/Applications/Thunderbird.app", QString(), "Thunderbird is not supported"},
        {"/Applications/mail.app", QString(), "mail is not supported"},
        {"/Applications/outlook.app", QString(), "outlook is not supported"},
        {"", QString(), " is not supported"},
    };
    for (const Case& c : cases) {
        MailtoApp app(QString::fromUtf8(c.path));
        AlertRecorder alerts;
        recorder.scripts.clear();
        Send();
        if (c.script.isEmpty()) {
            EXPECT_TRUE(recorder.scripts.empty()) << c.path;
            ASSERT_EQ(alerts.alerts.size(), 1u) << c.path;
            EXPECT_EQ(alerts.alerts[0].message, QString::fromUtf8(c.alert));
            EXPECT_EQ(alerts.alerts[0].informative,
                QStringLiteral("Only Apple's Mail app and Microsoft Outlook are supported."));
        } else {
            EXPECT_TRUE(alerts.alerts.empty()) << c.path;
            ASSERT_EQ(recorder.scripts.size(), 1u) << c.path;
            EXPECT_EQ(recorder.scripts[0], c.script) << c.path;
        }
    }
}

TEST(Mail, TestEmailReplacesNameAndBodyAndEndsTheTestState)
{
    ResetNotifyState();
    ScriptRecorder recorder;
    {
        MailtoApp app(QStringLiteral("/Applications/Microsoft Outlook.app"));
        gTestEmailPending = 1;
        gEmailRequested = 1;
        gEmailSent = 1;
        Send();
        EXPECT_EQ(recorder.scripts.back(),
            OutlookScript(QStringLiteral("Microsoft Outlook"), QStringLiteral("Quillaby Test. Success!")));
        EXPECT_EQ(gTestEmailPending + gEmailRequested + gEmailSent, 0);
    }
    MailtoApp app(QStringLiteral("/Applications/Mail.app"));
    gTestEmailPending = 1;
    Send();
    QStringList literals;
    ASSERT_TRUE(MatchScript(recorder.scripts.back(), kMailPieces, &literals)) << recorder.scripts.back().toStdString();
    EXPECT_EQ(literals,
        QStringList({QStringLiteral("test email from Quillaby"), QStringLiteral("sam@example.com"),
            QStringLiteral("Backup"), QStringLiteral("Quillaby Test. Success!")}));
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
