#include "notify_support.h"

#include "monitor/state.h"
#include "notify/state.h"
#include "platform/script_standin.h"
#include "runtime/macversion.h"
#include "settings/state.h"

namespace {

ScriptRecorder* gScripts = nullptr;
QString gMailtoPath;
QString gSystemVersionPlist; // the plist of the live SystemVersion
bool gGranted = true;
QString gMailFile; // what the stub sendmail received
std::string gTaken; // Mailbox::Take's lines since the last call

bool RecordScript(const QString& source, QString* result, QString* error)
{
    gScripts->scripts.push_back(source);
    if (result)
        *result = gScripts->ok ? gScripts->result : QString();
    if (error)
        *error = gScripts->ok ? QString() : gScripts->error;
    return gScripts->ok;
}

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

} // namespace

ScriptRecorder::ScriptRecorder()
    : guard(gQzScriptHook, RecordScript)
{
    gScripts = this;
}

MailtoApp::MailtoApp(const QString& path)
    : guard(gQzMailtoAppHook, [] { return gMailtoPath; })
{
    gMailtoPath = path;
}

Accessibility::Accessibility(bool granted)
    : guard(gQzAccessibilityHook, [] { return gGranted; })
{
    gGranted = granted;
}

std::string PlistXml(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : entries)
        s += "\t<key>" + key + "</key>\n\t<string>" + value + "</string>\n";
    return s + "</dict>\n</plist>\n";
}

SystemVersion::SystemVersion(const Sandbox& sandbox, const std::string& version, bool raw)
    : path(sandbox.Write(QStringLiteral("SystemVersion.plist"),
        raw ? version : PlistXml({{"ProductName", "Mac OS X"}, {"ProductVersion", version}})))
    , guard(gQzSystemVersionHook,
          [] { return QString::fromStdString(ProductVersionOfPlist(gSystemVersionPlist.toStdString())); })
{
    gSystemVersionPlist = path;
}

void ResetNotifyState()
{
    gScriptResult = gOpenFileResult = gStartupDiskPath = gComputerName = ShortString();
    gEmailAddress1 = gEmailAddress2 = gLastProblem = gLastSuccessText = ShortString();
    gEmailStepHeld = gEmailNotifyOn = gNotifyMinorErrors = gEmailRequested = gEmailSent = 0;
    gTestEmailPending = gAccessCheckPending = gEmailDelivered = gEmailErrorTold = 0;
    gTestAddress1 = gTestAddress2 = ShortString();
    gEmailError.clear();
}

Mailbox::Mailbox(const Sandbox& sandbox)
    : runner_(gQzScriptHook, RunAndRecord)
{
    gMailFile = sandbox.path() + QStringLiteral("/mail");
    gTaken.clear();
    sandbox.Stub(QStringLiteral("sendmail"), "{ echo \"ARGS $*\"; cat; } >> '" + gMailFile.toStdString() + "'");
}

std::string Mailbox::Take()
{
    return std::exchange(gTaken, {});
}
