#include "notify_support.h"

#include "app/environment.h"
#include "monitor/state.h"
#include "notify/dispatch.h"
#include "notify/mail.h"
#include "notify/runner.h"
#include "notify/state.h"
#include "platform/script_standin.h"
#include "platform/services.h"
#include "runtime/testing.h"
#include "settings/state.h"

#include <QUrl>

namespace {

QString gMailFile; // what the stub sendmail received
std::string gTaken; // the mails since the last dispatch

// "To|subject|body" of a message with each header a mail reader needs, in order, and no CR; an encoded subject is
// decoded after "=?", its words checked to keep each line within 76 characters.
std::string Summary(const std::string& message)
{
    static const QRegularExpression form(
        QStringLiteral("^ARGS -i -t\nTo: ([^\n]*)\nSubject: ((?:[^\n]*\n )*[^\n]*)\n"
                       "Date: Tue, 10 Mar 2026 12:00:00 \\+0000\nMessage-ID: <[^@\n]+@[^\n]+>\n"
                       "MIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\n"
                       "Content-Transfer-Encoding: 8bit\n\n(.*)\\z"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = form.match(QString::fromStdString(message));
    EXPECT_TRUE(m.hasMatch() && message.find('\r') == std::string::npos) << message;
    QString subject = m.captured(2);
    if (subject.startsWith(QStringLiteral("=?"))) {
        QByteArray decoded;
        for (const QString& word : subject.split(QStringLiteral("\n "))) {
            EXPECT_TRUE((decoded.isEmpty() ? 9 : 1) + word.size() <= 76 && word.startsWith(QStringLiteral("=?UTF-8?B?"))
                && word.endsWith(QStringLiteral("?=")))
                << word.toStdString();
            decoded += QByteArray::fromBase64(word.mid(10, word.size() - 12).toLatin1());
        }
        subject = QStringLiteral("=?") + QString::fromUtf8(decoded);
    }
    return (m.captured(1) + QLatin1Char('|') + subject + QLatin1Char('|') + m.captured(3)).toStdString();
}

bool RunAndRecord(const QString& source, QString* result, QString* error)
{
    const std::size_t before = ReadFile(gMailFile).size();
    const bool ok = StandInRunScript(source, result, error);
    if (source.contains(QLatin1String("outgoing message"))) {
        const std::string message = ReadFile(gMailFile).substr(before);
        gTaken += QRegularExpression(QStringLiteral("tell application \"([^\"]*)\""))
                      .match(source)
                      .captured(1)
                      .toStdString()
            + " " + (message.empty() ? "-\n" : Summary(message));
    }
    return ok;
}

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
        gMailFile = sandbox.path() + QStringLiteral("/mail");
        gTaken.clear();
        sandbox.Stub(QStringLiteral("sendmail"), "{ echo \"ARGS $*\"; cat; } >> '" + gMailFile.toStdString() + "'");
    }
    // A dispatch step with a request: the mails and the alerts ("message / informative" lines).
    std::string Dispatch(std::uint8_t request = 1) const
    {
        AlertRecorder alerts;
        gEmailRequested |= request;
        EmailDispatchStep();
        std::string seen = std::exchange(gTaken, {});
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
    QzHookGuard<QzScriptFn> runner {gQzScriptHook, RunAndRecord}; // the stand-in runner, recording each mail
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

// Each mail carries the success block appended once more; a mail that cannot go out is told once, in the mail
// system's words; no control character of a log line reaches a mail raw.
TEST(Dispatch, EveryAddressOnceUntilTheLatchIsClearedAndFailuresAreToldOnce)
{
    const World w;
    EXPECT_EQ(w.Dispatch(),
        Mail("one@example.com", kFailed, kBody + "\n" + kSuccess)
            + Mail("two@example.com", kFailed, kBody + "\n" + kSuccess));
    EXPECT_EQ(gEmailRequested * 100 + gEmailSent * 10 + gEmailDelivered, 11);
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
            EXPECT_EQ(std::exchange(gTaken, {}),
                !told ? ""
                      : told + (" " + (mail ? name + to + ">" : to)) + rest
                        + (test ? "Quillaby Test. Success!\n" : text));
            EXPECT_EQ(alerts.alerts.size(), told ? 0u : 1u);
            for (const QzAlertRequest& a : alerts.alerts)
                EXPECT_EQ((a.message + QLatin1Char('/') + a.informative).toStdString(),
                    app + std::string(" is not supported/Only Apple's Mail app and Microsoft Outlook are supported."));
        }
    }
    EXPECT_FALSE(QFileInfo::exists(marker));
}

TEST(Runner, ScriptsShellCommandsTheFinderAndTheSystemVersionGiveTheirAnswers)
{
    ResetNotifyState();
    EXPECT_EQ(StartupDiskName(), SS("ERROR:  No script runner is available on this system.:")); // no runner
    ScriptRecorder recorder;
    // Answers cut at 255 bytes; characters Mac Roman lacks stay as UTF-8, one that would not fit whole is left out.
    const std::tuple<bool, QString, std::string> cases[]
        = {{false, QString(), "ERROR:  "}, {true, QString(300, QLatin1Char('x')), std::string(255, 'x')},
            {false, QString(300, QLatin1Char('y')), "ERROR:  " + std::string(247, 'y')},
            {true, QString(253, QLatin1Char('a')) + QStringLiteral("\u20AC\U0001F600"), std::string(253, 'a') + "\xDB"},
            {true, QString(253, QLatin1Char('a')) + QStringLiteral("\U0001F600"), std::string(253, 'a')},
            {true, QStringLiteral("\u0416"), "\xD0\x96"}};
    for (const auto& [ok, answer, want] : cases) {
        recorder.ok = ok;
        (ok ? recorder.result : recorder.error) = answer;
        RunAppleScript("do shell script \"true\"");
        EXPECT_EQ(gScriptResult, SS(want)) << answer.toStdString();
    }
    EXPECT_EQ(recorder.scripts.back(), QStringLiteral("do shell script \"true\""));
    // A shell command's lines joined, cut at 255 bytes; the user is the home folder's name.
    Sandbox sandbox;
    setenv("HOME", (sandbox.path() + QStringLiteral("/Users/s\u00E9verine")).toUtf8().constData(), 1);
    EXPECT_EQ(UserShortName(), SS("s\x8Everine"));
    EXPECT_EQ(RunShellCollect("printf 'first\\nsecond\\n'"), SS("firstsecond"));
    EXPECT_EQ(RunShellCollect("exit 3"), SS(""));
    EXPECT_EQ(RunShellCollect("for i in $(seq 100); do echo 0123456789; done"),
        SS(QByteArray("0123456789").repeated(26).left(255).toStdString()));
    // The Finder's scripts as the stand-in runner answers them: the startup disk, activation, and the folder button's
    // path end to end, with a quote in a folder's name that stays inside the literal. An open that fails, or a path
    // too long for the script's 255 bytes, is told.
    static std::vector<QUrl> opened;
    const QzHookGuard<QzOpenUrlFn> opener(gQzOpenUrlHook, [](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    const QzHookGuard<QzScriptFn> runner(gQzScriptHook, StandInRunScript);
    EXPECT_EQ(StartupDiskName(), SS("Macintosh HD:"));
    EXPECT_EQ(gStartupDiskPath, SS("Macintosh HD:"));
    gScriptResult = "x";
    FinderActivate();
    EXPECT_TRUE(gScriptResult.empty());
    sandbox.Write(QStringLiteral("Quillaby \"Q\\\"/file"), "x");
    const std::string folder = "Macintosh HD"
        + QString(sandbox.path()).replace(QLatin1Char('/'), QLatin1Char(':')).toStdString() + ":Quillaby \"Q\\\"";
    const std::string fits = "Macintosh HD:" + std::string(194, 'p'), cut = fits + "p";
    const std::pair<std::string, std::string> paths[]
        = {{folder, ""}, {"Macintosh HD:no:such:thing", "ERROR:  File Macintosh HD:no:such:thing wasn\xD5t found."},
            {fits, "ERROR:  File " + fits + " wasn\xD5t found."},
            {cut, "ERROR:  This system's script runner does not understand the script."}};
    for (const auto& [path, result] : paths) {
        AlertRecorder alerts;
        FinderOpenFile(SS(path));
        EXPECT_EQ(gOpenFileResult, SS(result));
        ASSERT_EQ(alerts.alerts.size(), result.empty() ? 0u : 1u);
        for (const QzAlertRequest& a : alerts.alerts)
            EXPECT_EQ(a.message + a.informative, QStringLiteral("Unable to open the file at\r") + QzStrToCF(SS(path)));
    }
    EXPECT_EQ(opened, std::vector<QUrl> {QUrl::fromLocalFile(sandbox.path() + QStringLiteral("/Quillaby \"Q\\\""))});
    // The system version from either form of the plist (binary: 10.12.1); without a version nothing is too old.
    const std::string bin
        = std::string("bplist00\xD1\1\2^ProductVersionW10.12.1\b\v\x1A\0\0\0\0\0\0\1\1\0\0\0\0\0\0\0\3", 53)
        + std::string(15, '\0') + "\"";
    const std::tuple<std::string, bool, bool> versions[] = {{bin, true, false},
        {"<plist><dict><key>ProductName</key><string>Mac OS X</string></dict></plist>", true, true},
        {"<plist><dict><key>ProductVersion", true, true}, {"", true, true}};
    for (const auto& [version, raw, atLeast] : versions) {
        SystemVersion plist(sandbox, version, raw);
        EXPECT_EQ(SystemVersionAtLeast("10.13.9"), atLeast) << version;
    }
    // Without a real Mac's file, the simulated Mac of the bundle is 10.15.
    if (QFileInfo::exists(QStringLiteral("/System/Library/CoreServices/SystemVersion.plist")))
        return;
    QzSetBundlePath(QStringLiteral(QZ_BUNDLE_DIR));
    EXPECT_EQ(SimulatedMacPlistPath(),
        QStringLiteral(
            QZ_BUNDLE_DIR "/Contents/Resources/SimulatedMac/System/Library/CoreServices/SystemVersion.plist"));
    QzHookGuard<QzSystemVersionFn> system(gQzSystemVersionHook, QzSystemVersionReal);
    UseSimulatedMacVersion();
    EXPECT_TRUE(SystemVersionAtLeast("10.15.7"));
    EXPECT_FALSE(SystemVersionAtLeast("10.16"));
    QzSetBundlePath(QString());
}
