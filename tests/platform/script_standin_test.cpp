#include "../notify/notify_support.h"

#include "monitor/state.h"
#include "notify/mail.h"
#include "notify/runner.h"
#include "notify/state.h"
#include "platform/mail_delivery.h"
#include "platform/script_standin.h"
#include "platform/services.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace {

std::vector<QUrl> gOpened;

bool RecordOpen(const QUrl& url)
{
    gOpened.push_back(url);
    return true;
}

struct Answer {
    bool ok;
    QString result;
    QString error;
};

Answer RunScript(const QString& script)
{
    Answer a {};
    a.ok = StandInRunScript(script, &a.result, &a.error);
    return a;
}

// A stub sendmail that appends its arguments and each message to a file.
QString StubSendmail(const Sandbox& sandbox)
{
    const QString file = sandbox.path() + QStringLiteral("/mail");
    sandbox.Stub(
        QStringLiteral("sendmail"), "{ echo \"ARGS $*\"; cat; echo '--END--'; } >> '" + file.toStdString() + "'");
    return file;
}

std::vector<std::string> Messages(const QString& file)
{
    std::vector<std::string> out;
    std::string all = ReadFile(file);
    for (std::size_t at = 0, end; (end = all.find("--END--\n", at)) != std::string::npos; at = end + 8)
        out.push_back(all.substr(at, end - at));
    return out;
}

std::string Header(const std::string& message, const std::string& name)
{
    const std::size_t at = message.find("\n" + name + ": ");
    if (at == std::string::npos)
        return "(none)";
    const std::size_t start = at + name.size() + 3;
    return message.substr(start, message.find('\n', start) - start);
}

std::string Body(const std::string& message)
{
    return message.substr(message.find("\n\n") + 2);
}

} // namespace

TEST(StandInScripts, DoShellScriptAnswersAsTheMacDoes)
{
    Sandbox sandbox;
    struct Case {
        const char* script;
        bool ok;
        const char* text; // result, or error message
    };
    const Case cases[] = {
        {"do shell script \"printf 'one\\\\ntwo\\\\n\\\\n'\"", true, "one\rtwo\r"},
        {"do shell script \"echo \\\"$LC_ALL\\\"\"", true, "C"},
        {"do shell script \"true\"", true, ""},
        {"do shell script \"echo out; echo bad >&2; exit 3\"", false, "bad"},
        {"do shell script \"exit 1\"", false, "The command exited with a non-zero status."},
        {"do shell script \"no-such-command-here\"", false, "/bin/sh: 1: no-such-command-here: not found"},
        {"do shell script \"echo unterminated", false, "This system's script runner does not understand the script."},
        {"do shell script \"true\" & \"x\"", false, "This system's script runner does not understand the script."},
        {"display dialog \"hi\"", false, "This system's script runner does not understand the script."},
    };
    for (const Case& c : cases) {
        const Answer a = RunScript(QString::fromUtf8(c.script));
        EXPECT_EQ(a.ok, c.ok) << c.script;
        EXPECT_EQ((c.ok ? a.result : a.error).toStdString(), c.text) << c.script;
    }
    // Large output is read to the end without blocking; the caller keeps 255 bytes.
    const Answer big = RunScript(QStringLiteral("do shell script \"head -c 3000000 /dev/zero | tr -c x x\""));
    EXPECT_TRUE(big.ok);
    EXPECT_EQ(big.result.size(), 1 << 20);
}

TEST(StandInScripts, FinderStartupDiskOpenAndActivate)
{
    Sandbox sandbox;
    QzHookGuard<QzOpenUrlFn> opener(gQzOpenUrlHook, RecordOpen);
    gOpened.clear();
    const QString finder = QStringLiteral("tell application \"Finder\"\n");
    Answer a = RunScript(finder + QStringLiteral("set startup_Disk to (name of startup disk)\nend tell"));
    EXPECT_EQ(a.result, QStringLiteral("Macintosh HD"));
    setenv("QUILLABY_STARTUP_DISK", "Data", 1);
    EXPECT_EQ(RunScript(finder + QStringLiteral("set startup_Disk to (name of startup disk)\nend tell")).result,
        QStringLiteral("Data"));
    unsetenv("QUILLABY_STARTUP_DISK");
    a = RunScript(finder + QStringLiteral("activate\nend tell"));
    EXPECT_TRUE(a.ok && a.result.isEmpty());

    const std::pair<const char*, const char*> paths[] = {
        {"Macintosh HD:a:b", "/a/b"},
        {"Macintosh HD:a:b:", "/a/b"},
        {"Macintosh HD:", "/"},
        {"Backup:x/y:z", "/Volumes/Backup/x:y/z"},
        {"Macintosh HD", ""},
        {":a", ""},
    };
    for (const auto& [colon, posix] : paths)
        EXPECT_EQ(PosixPathOfColonPath(QString::fromUtf8(colon)).toStdString(), posix) << colon;

    // The folder button's path end to end: the runner's script, the
    // stand-in's answer and the opener.
    ResetNotifyState();
    QzHookGuard<QzScriptFn> runner(gQzScriptHook, StandInRunScript);
    sandbox.Write(QStringLiteral("Quillaby \"Q\"/file"), "x");
    const ShortString folder = QzStrFromCF(QStringLiteral("Macintosh HD:")
        + sandbox.path().mid(1).replace(QLatin1Char('/'), QLatin1Char(':')) + QStringLiteral(":Quillaby \"Q\""));
    FinderOpenFile(folder);
    EXPECT_TRUE(gOpenFileResult.empty()) << gOpenFileResult;
    ASSERT_EQ(gOpened.size(), 1u);
    EXPECT_EQ(gOpened[0].toLocalFile(), sandbox.path() + QStringLiteral("/Quillaby \"Q\""));

    AlertRecorder alerts;
    FinderOpenFile("Macintosh HD:no:such:thing");
    EXPECT_EQ(gOpenFileResult, SS("ERROR:  File Macintosh HD:no:such:thing wasn\xD5t found."));
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(gOpened.size(), 1u);
}

TEST(StandInScripts, MailAndOutlookScriptsDeliverThroughSendmail)
{
    ResetNotifyState();
    Sandbox sandbox;
    const QString file = StubSendmail(sandbox);
    QzHookGuard<QzScriptFn> runner(gQzScriptHook, StandInRunScript);
    TestClock clock;
    {
        MailtoApp app(QStringLiteral("/System/Applications/Mail.app"));
        gTestEmailPending = 1;
        SendNotificationEmail(QString(), QStringLiteral("one@example.com"), QStringLiteral("Email Test for User sam"),
            QStringLiteral("ignored"));
        SendNotificationEmail(QStringLiteral("Sam \"the\" Owner"), QStringLiteral("two@example.com"),
            QStringLiteral("Time Machine Backup Failed for User sam on Mac, Sam\u2019s iMac"),
            QStringLiteral("Backup failed with error: 11\r\n\r\n.\r\nLast line\rend"));
    }
    {
        MailtoApp app(QStringLiteral("/Applications/Microsoft Outlook.app"));
        SendNotificationEmail(QStringLiteral("unused"), QStringLiteral("three@example.com"), QStringLiteral("Plain"),
            QStringLiteral("Body"));
    }
    const std::vector<std::string> m = Messages(file);
    ASSERT_EQ(m.size(), 3u) << ReadFile(file);
    for (const std::string& msg : m) {
        EXPECT_EQ(msg.rfind("ARGS -i -t\n", 0), 0u) << msg;
        EXPECT_EQ(Header(msg, "Date"), "Tue, 10 Mar 2026 12:00:00 +0000");
        EXPECT_EQ(Header(msg, "Content-Type"), "text/plain; charset=UTF-8");
        EXPECT_EQ(Header(msg, "MIME-Version"), "1.0");
        EXPECT_NE(Header(msg, "Message-ID").find('@'), std::string::npos);
        EXPECT_EQ(msg.find('\r'), std::string::npos);
    }
    EXPECT_EQ(Header(m[0], "To"), "\"test email from Quillaby\" <one@example.com>");
    EXPECT_EQ(Header(m[0], "Subject"), "Email Test for User sam");
    EXPECT_EQ(Body(m[0]), "Quillaby Test. Success!\n");

    EXPECT_EQ(Header(m[1], "To"), "\"Sam \\\"the\\\" Owner\" <two@example.com>");
    // The subject is not ASCII: encoded words, on lines of at most 76
    // characters, the first of them included.
    const std::size_t s = m[1].find("\nSubject: ") + 1;
    const std::string folded = m[1].substr(s, m[1].find("\nDate: ") - s);
    std::string decoded;
    for (const QByteArray& line : QByteArray::fromStdString(folded).split('\n')) {
        EXPECT_LE(line.size(), 76) << line.toStdString();
        const QByteArray w = line.startsWith("Subject: ") ? line.mid(9) : line.trimmed();
        ASSERT_TRUE(w.startsWith("=?UTF-8?B?") && w.endsWith("?=")) << folded;
        decoded += QByteArray::fromBase64(w.mid(10, w.size() - 12)).toStdString();
    }
    EXPECT_EQ(decoded, "Time Machine Backup Failed for User sam on Mac, Sam\xE2\x80\x99s iMac");
    EXPECT_EQ(Body(m[1]), "Backup failed with error: 11\n\n.\nLast line\nend\n");

    EXPECT_EQ(Header(m[2], "To"), "three@example.com");
    EXPECT_EQ(Header(m[2], "Subject"), "Plain");
}

TEST(StandInScripts, HostileTextsRunNothingAndArriveIntact)
{
    ResetNotifyState();
    Sandbox sandbox;
    const QString file = StubSendmail(sandbox);
    QzHookGuard<QzScriptFn> runner(gQzScriptHook, StandInRunScript);
    MailtoApp app(QStringLiteral("/System/Applications/Mail.app"));
    const QString marker = sandbox.path() + QStringLiteral("/X");
    const QString inject = QStringLiteral("\" & (do shell script \"touch ") + marker + QStringLiteral("\") & \"");
    const QString subject = QStringLiteral("Failed on Mac, Sam's \"Mac\" \\") + inject + QStringLiteral("\r\nBcc: x@y");
    const QString body = QStringLiteral("a\\\"b") + inject + QStringLiteral("\r\nend");
    SendNotificationEmail(QString(), QStringLiteral("sam@example.com"), subject, body);
    // An address with a line break would add headers of its own: refused.
    SendNotificationEmail(QString(), QStringLiteral("sam@example.com\r\nBcc: evil@example.com"), subject, body);
    SendNotificationEmail(
        QString(), QStringLiteral("o\"brien") + inject + QStringLiteral("@example.com"), subject, body);
    EXPECT_FALSE(QFileInfo::exists(marker));

    const std::vector<std::string> m = Messages(file);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(Header(m[0], "To"), "sam@example.com");
    EXPECT_EQ(Header(m[0], "Bcc"), "(none)");
    EXPECT_EQ(Body(m[0]), QString(body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).toStdString() + "\n");
    std::string decoded;
    const std::size_t s = m[0].find("\nSubject: ") + 10;
    for (const QByteArray& word : QByteArray::fromStdString(m[0].substr(s, m[0].find("\nDate: ") - s)).split('\n'))
        decoded += QByteArray::fromBase64(word.trimmed().mid(10, word.trimmed().size() - 12)).toStdString();
    EXPECT_EQ(decoded, subject.toStdString());
    EXPECT_EQ(Header(m[1], "To"), (QStringLiteral("o\"brien") + inject + QStringLiteral("@example.com")).toStdString());
}

TEST(StandInScripts, MailtoApplicationOfTheDesktop)
{
    const std::pair<const char*, const char*> ids[] = {
        {"thunderbird.desktop", "Thunderbird"},
        {"org.mozilla.Thunderbird.desktop", "Thunderbird"},
        {"org.gnome.Evolution.desktop\n", "Evolution"},
        {"userapp-Claws Mail-ABC123.desktop", "Claws Mail"},
        {"", ""},
    };
    for (const auto& [id, name] : ids)
        EXPECT_EQ(AppNameOfDesktopId(QString::fromUtf8(id)).toStdString(), name) << id;

    Sandbox sandbox;
    StubSendmail(sandbox);
    EXPECT_EQ(StandInMailtoApp(), QStringLiteral("/System/Applications/Mail.app"));
    if (QFileInfo(QStringLiteral("/usr/sbin/sendmail")).isExecutable())
        GTEST_SKIP() << "this machine has /usr/sbin/sendmail";
    // Without sendmail: the desktop's handler, or a name for none at all.
    QFile::remove(sandbox.bin() + QStringLiteral("/sendmail"));
    const std::string path = getenv("PATH");
    setenv("PATH", (sandbox.bin().toStdString() + ":/usr/bin:/bin").c_str(), 1);
    sandbox.Stub(QStringLiteral("xdg-mime"), "echo thunderbird.desktop");
    EXPECT_EQ(StandInMailtoApp(), QStringLiteral("/Applications/Thunderbird.app"));
    {
        MailtoApp app(StandInMailtoApp());
        AlertRecorder alerts;
        SendNotificationEmail(QString(), QStringLiteral("a@b"), QStringLiteral("s"), QStringLiteral("b"));
        ASSERT_EQ(alerts.alerts.size(), 1u);
        EXPECT_EQ(alerts.alerts[0].message, QStringLiteral("Thunderbird is not supported"));
    }
    sandbox.Stub(QStringLiteral("xdg-mime"), "exit 0");
    MailtoApp app(StandInMailtoApp());
    AlertRecorder alerts;
    SendNotificationEmail(QString(), QStringLiteral("a@b"), QStringLiteral("s"), QStringLiteral("b"));
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].message, QStringLiteral("Sending email without a mail application is not supported"));
    setenv("PATH", path.c_str(), 1);
}
