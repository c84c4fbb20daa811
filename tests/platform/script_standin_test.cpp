#include "../notify/notify_support.h"

#include "monitor/state.h"
#include "notify/dispatch.h"
#include "notify/mail.h"
#include "notify/runner.h"
#include "notify/state.h"
#include "platform/script_standin.h"
#include "platform/services.h"
#include "settings/state.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace {

std::vector<QUrl> gOpened;

std::pair<bool, QString> RunScript(const QString& script)
{
    QString result, error;
    const bool ok = StandInRunScript(script, &result, &error);
    return {ok, ok ? result : error};
}

// The messages a stub sendmail received, each after a line "ARGS <arguments>".
struct Mailbox {
    explicit Mailbox(const Sandbox& sandbox)
        : file(sandbox.path() + QStringLiteral("/mail"))
    {
        sandbox.Stub(
            QStringLiteral("sendmail"), "{ echo \"ARGS $*\"; cat; echo '--END--'; } >> '" + file.toStdString() + "'");
    }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> out;
        const std::string all = ReadFile(file);
        for (std::size_t at = 0, end; (end = all.find("--END--\n", at)) != std::string::npos; at = end + 8)
            out.push_back(all.substr(at, end - at));
        return out;
    }
    QString file;
};

std::string Header(const std::string& message, const std::string& name)
{
    const std::size_t at = message.find("\n" + name + ": ");
    if (at == std::string::npos)
        return "(none)";
    const std::size_t start = at + name.size() + 3;
    return message.substr(start, message.find('\n', start) - start);
}

// "To|subject|body", an encoded subject as "=?" and its text, its words
// each on a line of at most 76 characters.
std::string Summary(const std::string& message)
{
    const std::size_t s = message.find("\nSubject: ") + 1;
    std::string subject = Header(message, "Subject");
    if (subject.starts_with("=?")) {
        subject = "=?";
        for (const QByteArray& line :
            QByteArray::fromStdString(message.substr(s, message.find("\nDate: ") - s)).split('\n')) {
            EXPECT_LE(line.size(), 76) << line.toStdString();
            const QByteArray w = line.startsWith("Subject: ") ? line.mid(9) : line.trimmed();
            EXPECT_TRUE(w.startsWith("=?UTF-8?B?") && w.endsWith("?=")) << line.toStdString();
            subject += QByteArray::fromBase64(w.mid(10, w.size() - 12)).toStdString();
        }
    }
    return Header(message, "To") + "|" + subject + "|" + message.substr(message.find("\n\n") + 2);
}

} // namespace

TEST(StandInScripts, DoShellScriptAndFinderAnswerAsTheMacDoes)
{
    Sandbox sandbox;
    const char* const unknown = "This system's script runner does not understand the script.";
    const std::tuple<const char*, bool, const char*> cases[]
        = {{"do shell script \"printf 'one\\\\ntwo\\\\n\\\\n'\"", true, "one\rtwo\r"},
            {"do shell script \"echo \\\"$LC_ALL\\\"\"", true, "C"}, {"do shell script \"true\"", true, ""},
            {"do shell script \"echo out; echo bad >&2; exit 3\"", false, "bad"},
            {"do shell script \"exit 1\"", false, "The command exited with a non-zero status."},
            {"do shell script \"no-such-command-here\"", false, "/bin/sh: 1: no-such-command-here: not found"},
            {"do shell script \"echo unterminated", false, unknown},
            {"do shell script \"true\" & \"x\"", false, unknown}, {"display dialog \"hi\"", false, unknown},
            {"tell application \"Finder\"\nset startup_Disk to (name of startup disk)\nend tell", true, "Macintosh HD"},
            {"tell application \"Finder\"\nactivate\nend tell", true, ""}};
    for (const auto& [script, ok, text] : cases)
        EXPECT_EQ(RunScript(QString::fromUtf8(script)), std::make_pair(ok, QString::fromUtf8(text))) << script;
    setenv("QUILLABY_STARTUP_DISK", "Data", 1);
    EXPECT_EQ(RunScript(QString::fromUtf8(std::get<0>(cases[9]))).second, QStringLiteral("Data"));
    unsetenv("QUILLABY_STARTUP_DISK");
    // Large output is read to the end without blocking; the caller keeps 255 bytes.
    EXPECT_EQ(
        RunScript(QStringLiteral("do shell script \"head -c 3000000 /dev/zero | tr -c x x\"")).second.size(), 1 << 20);

    for (const auto& [colon, posix] : std::initializer_list<std::pair<const char*, const char*>> {
             {"Macintosh HD:a:b", "/a/b"}, {"Macintosh HD:a:b:", "/a/b"}, {"Macintosh HD:", "/"},
             {"Backup:x/y:z", "/Volumes/Backup/x:y/z"}, {"Macintosh HD", ""}, {":a", ""}})
        EXPECT_EQ(PosixPathOfColonPath(QString::fromUtf8(colon)).toStdString(), posix) << colon;

    // The folder button's path end to end: the runner's script, the
    // stand-in's answer and the opener.
    ResetNotifyState();
    const QzHookGuard<QzOpenUrlFn> opener(gQzOpenUrlHook, [](const QUrl& url) {
        gOpened.push_back(url);
        return true;
    });
    const QzHookGuard<QzScriptFn> runner(gQzScriptHook, StandInRunScript);
    gOpened.clear();
    sandbox.Write(QStringLiteral("Quillaby \"Q\"/file"), "x");
    FinderOpenFile(QzStrFromCF(QStringLiteral("Macintosh HD:")
        + sandbox.path().mid(1).replace(QLatin1Char('/'), QLatin1Char(':')) + QStringLiteral(":Quillaby \"Q\"")));
    EXPECT_TRUE(gOpenFileResult.empty()) << gOpenFileResult;
    ASSERT_EQ(gOpened.size(), 1u);
    EXPECT_EQ(gOpened[0].toLocalFile(), sandbox.path() + QStringLiteral("/Quillaby \"Q\""));
    AlertRecorder alerts;
    FinderOpenFile("Macintosh HD:no:such:thing");
    EXPECT_EQ(gOpenFileResult, SS("ERROR:  File Macintosh HD:no:such:thing wasn\xD5t found."));
    EXPECT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(gOpened.size(), 1u);
}

TEST(StandInScripts, MailAndOutlookScriptsDeliverThroughSendmailAndHostileTextsRunNothing)
{
    ResetNotifyState();
    Sandbox sandbox;
    const Mailbox mailbox(sandbox);
    const QzHookGuard<QzScriptFn> runner(gQzScriptHook, StandInRunScript);
    TestClock clock;
    const QString marker = sandbox.path() + QStringLiteral("/X");
    const QString inject = QStringLiteral("\" & (do shell script \"touch ") + marker + QStringLiteral("\") & \"");
    const QString hostile = QStringLiteral("Failed on Mac, Sam's \"Mac\" \\") + inject + QStringLiteral("\r\nBcc: x@y");
    const QString body = QStringLiteral("a\\\"b") + inject + QStringLiteral("\r\nend");
    {
        MailtoApp app(QStringLiteral("/System/Applications/Mail.app"));
        gTestEmailPending = 1;
        SendNotificationEmail(QString(), QStringLiteral("one@example.com"), QStringLiteral("Email Test for User sam"),
            QStringLiteral("ignored"));
        SendNotificationEmail(QStringLiteral("Sam \"the\" Owner"), QStringLiteral("two@example.com"),
            QStringLiteral("Time Machine Backup Failed for User sam on Mac, Sam\u2019s iMac"),
            QStringLiteral("Backup failed with error: 11\r\n\r\n.\r\nLast line\rend"));
        SendNotificationEmail(QString(), QStringLiteral("sam@example.com"), hostile, body);
        // An address with a line break would add headers of its own: refused.
        SendNotificationEmail(QString(), QStringLiteral("sam@example.com\r\nBcc: evil@example.com"), hostile, body);
        SendNotificationEmail(
            QString(), QStringLiteral("o\"brien") + inject + QStringLiteral("@example.com"), hostile, body);
    }
    {
        MailtoApp app(QStringLiteral("/Applications/Microsoft Outlook.app"));
        SendNotificationEmail(QStringLiteral("unused"), QStringLiteral("three@example.com"), QStringLiteral("Plain"),
            QStringLiteral("Body"));
    }
    EXPECT_FALSE(QFileInfo::exists(marker));
    const std::vector<std::string> m = mailbox.Messages();
    ASSERT_EQ(m.size(), 5u) << ReadFile(mailbox.file);
    for (const std::string& msg : m) {
        EXPECT_EQ(msg.rfind("ARGS -i -t\n", 0), 0u) << msg;
        EXPECT_EQ(Header(msg, "Date"), "Tue, 10 Mar 2026 12:00:00 +0000");
        EXPECT_EQ(Header(msg, "Content-Type") + "|" + Header(msg, "MIME-Version") + "|" + Header(msg, "Bcc"),
            "text/plain; charset=UTF-8|1.0|(none)");
        EXPECT_TRUE(Header(msg, "Message-ID").find('@') != std::string::npos && msg.find('\r') == std::string::npos);
    }
    const std::string hostileBody = QString(body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).toStdString();
    const std::string expected[] = {"\"test email from Quillaby\" <one@example.com>|Email Test for User sam|Quillaby "
                                    "Test. Success!\n",
        "\"Sam \\\"the\\\" Owner\" <two@example.com>|=?Time Machine Backup Failed for User sam on Mac, "
        "Sam\xE2\x80\x99s iMac|Backup failed with error: 11\n\n.\nLast line\nend\n",
        "sam@example.com|=?" + hostile.toStdString() + "|" + hostileBody + "\n",
        (QStringLiteral("o\"brien") + inject).toStdString() + "@example.com|=?" + hostile.toStdString() + "|"
            + hostileBody + "\n",
        "three@example.com|Plain|Body\n"};
    for (std::size_t i = 0; i < m.size(); ++i)
        EXPECT_EQ(Summary(m[i]), expected[i]) << i;
}

// A mail that cannot go out is told once per problem, in the mail system's
// own words; no control character of a log line reaches a mail raw.
TEST(StandInScripts, FailedMailIsToldOnceAndControlsStayVisible)
{
    ResetNotifyState();
    Sandbox sandbox;
    const Mailbox mailbox(sandbox);
    const QzHookGuard<QzScriptFn> runner(gQzScriptHook, StandInRunScript);
    MailtoApp app(StandInMailtoApp());
    TestClock clock;
    AlertRecorder alerts;
    gEmailAddress1 = "sam@example.com";
    const auto dispatch = [](const char* problem) {
        gLastProblem = problem;
        gEmailRequested = 1;
        gEmailSent = 0;
        EmailDispatchStep();
    };
    dispatch("Error: \x1B[2Jgone\x01\tkept\r\nnext");
    ASSERT_EQ(mailbox.Messages().size(), 1u);
    EXPECT_EQ(Summary(mailbox.Messages()[0]).substr(Summary(mailbox.Messages()[0]).rfind('|')),
        "|Error: \xE2\x90\x9B[2Jgone\xE2\x90\x81\tkept\nnext\n");
    EXPECT_EQ(gEmailDelivered, 1);

    // The mail system refuses; a second request for the same problem is dropped by the latch.
    sandbox.Stub(QStringLiteral("sendmail"), "cat >/dev/null; echo 'sendmail: cannot connect to relay' >&2; exit 75");
    dispatch("Backup failed with error: 11");
    gEmailRequested = 1;
    EmailDispatchStep();
    EXPECT_EQ(gEmailDelivered, 0);
    // An address that would add headers of its own is refused before any mail system runs.
    gEmailAddress1 = "sam@example.com\nBcc: x@example.com";
    dispatch("Backup failed with error: 11");
    gEmailAddress1 = "sam@example.com";
    std::string told;
    for (const QzAlertRequest& a : alerts.alerts)
        told += a.message.toStdString() + " / " + a.informative.toStdString() + "\n";
    EXPECT_EQ(told,
        "The notification email could not be sent. / sendmail: cannot connect to relay\n"
        "The notification email could not be sent. / The address \"sam@example.com Bcc: x@example.com\" is not "
        "valid.\n");
    // Without any sendmail, whatever the desktop's mail handler is called, the user learns how to set one up.
    if (QFileInfo(QStringLiteral("/usr/sbin/sendmail")).isExecutable())
        GTEST_SKIP() << "this machine has /usr/sbin/sendmail";
    QFile::remove(sandbox.bin() + QStringLiteral("/sendmail"));
    sandbox.Stub(QStringLiteral("xdg-mime"), "echo outlook-for-linux.desktop");
    const std::string path = getenv("PATH");
    setenv("PATH", (sandbox.bin().toStdString() + ":/usr/bin:/bin").c_str(), 1);
    MailtoApp desktop(StandInMailtoApp());
    dispatch("Backup failed with error: 11");
    setenv("PATH", path.c_str(), 1);
    ASSERT_EQ(alerts.alerts.size(), 3u);
    EXPECT_EQ(alerts.alerts[2].informative.toStdString(),
        "No mail system is set up on this computer. Install one that provides sendmail: msmtp-mta sends through your "
        "provider's SMTP server (set it up in ~/.msmtprc), postfix is a full mail system.");
}
