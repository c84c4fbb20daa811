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

std::string Header(const std::string& message, const std::string& name)
{
    const std::size_t at = message.find("\n" + name + ": ");
    const std::size_t start = at + name.size() + 3;
    return at == std::string::npos ? "(none)" : message.substr(start, message.find('\n', start) - start);
}

// "To|subject|body" of a message, its headers checked.
std::string Summary(const std::string& message)
{
    EXPECT_EQ(message.rfind("ARGS -i -t\nTo: ", 0), 0u) << message;
    EXPECT_EQ(Header(message, "Date") + "|" + Header(message, "Content-Type") + "|" + Header(message, "MIME-Version")
            + "|" + Header(message, "Bcc"),
        "Tue, 10 Mar 2026 12:00:00 +0000|text/plain; charset=UTF-8|1.0|(none)");
    EXPECT_TRUE(
        Header(message, "Message-ID").find('@') != std::string::npos && message.find('\r') == std::string::npos);
    const std::size_t s = message.find("\nSubject: ") + 1;
    std::string subject = Header(message, "Subject");
    if (subject.starts_with("=?")) { // words of at most 76 characters a line
        subject = "=?";
        for (const QByteArray& line :
            QByteArray::fromStdString(message.substr(s, message.find("\nDate: ") - s)).split('\n')) {
            const QByteArray w = line.startsWith("Subject: ") ? line.mid(9) : line.trimmed();
            EXPECT_TRUE(line.size() <= 76 && w.startsWith("=?UTF-8?B?") && w.endsWith("?=")) << line.toStdString();
            subject += QByteArray::fromBase64(w.mid(10, w.size() - 12)).toStdString();
        }
    }
    return Header(message, "To") + "|" + subject + "|" + message.substr(message.find("\n\n") + 2);
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
