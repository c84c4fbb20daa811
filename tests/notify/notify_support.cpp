#include "notify_support.h"

#include "app/state.h"
#include "monitor/state.h"
#include "notify/state.h"

namespace {

ScriptRecorder* gScripts = nullptr;
QString gMailtoPath;
bool gGranted = true;

bool RecordScript(const QString& source, QString* result, QString* error)
{
    gScripts->scripts.push_back(source);
    if (result)
        *result = gScripts->ok ? gScripts->result : QString();
    if (error)
        *error = gScripts->ok ? QString() : gScripts->error;
    return gScripts->ok;
}

QString FixedMailtoApp()
{
    return gMailtoPath;
}

bool FixedAccessibility()
{
    return gGranted;
}

} // namespace

ScriptRecorder::ScriptRecorder()
    : guard_(gQzScriptHook, RecordScript)
{
    gScripts = this;
}

ScriptRecorder::~ScriptRecorder()
{
    gScripts = nullptr;
}

MailtoApp::MailtoApp(const QString& path)
    : guard_(gQzMailtoAppHook, FixedMailtoApp)
{
    gMailtoPath = path;
}

MailtoApp::~MailtoApp()
{
    gMailtoPath.clear();
}

Accessibility::Accessibility(bool granted)
    : guard_(gQzAccessibilityHook, FixedAccessibility)
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
{
    const std::string bytes = raw ? version : PlistXml({{"ProductName", "Mac OS X"}, {"ProductVersion", version}});
    gSystemVersionPlist = sandbox.Write(QStringLiteral("SystemVersion.plist"), bytes);
}

SystemVersion::~SystemVersion()
{
    gSystemVersionPlist.clear();
}

void ResetNotifyState()
{
    gScriptResult = ShortString();
    gOpenFileResult = ShortString();
    gStartupDiskPath = ShortString();
    gComputerName = ShortString();
    gEmailStepHeld = 0;
    gEmailNotifyOn = 0;
    gEmailAddress1 = ShortString();
    gEmailAddress2 = ShortString();
    gNotifyMinorErrors = 0;
    gEmailRequested = 0;
    gEmailSent = 0;
    gTestEmailPending = 0;
    gAccessCheckPending = 0;
    gLastProblem = ShortString();
    gLastSuccessText = ShortString();
}
