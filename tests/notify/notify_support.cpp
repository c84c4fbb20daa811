#include "notify_support.h"

#include "monitor/state.h"
#include "notify/state.h"
#include "runtime/macversion.h"
#include "settings/state.h"

namespace {

ScriptRecorder* gScripts = nullptr;
QString gMailtoPath;
QString gSystemVersionPlist; // the plist of the live SystemVersion
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

SystemVersion::SystemVersion(const Sandbox& sandbox, const std::string& version, bool raw)
    : guard(gQzSystemVersionHook,
        [] { return QString::fromStdString(ProductVersionOfPlist(gSystemVersionPlist.toStdString())); })
{
    gSystemVersionPlist = sandbox.Write(QStringLiteral("SystemVersion.plist"),
        raw ? version : "<plist><dict><key>ProductVersion</key><string>" + version + "</string></dict></plist>");
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
