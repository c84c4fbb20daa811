#include "notify/dispatch.h"

#include "monitor/state.h"
#include "notify/mail.h"
#include "notify/runner.h"
#include "notify/state.h"
#include "runtime/events.h"
#include "runtime/hooks.h"
#include "settings/state.h"

namespace {

const char* const kAccessInformative
    = "System Preferences / Security & Privacy / Privacy Tab / Accessibility / Quillaby";
const char* const kOpenSecurityPane = "open /System/Library/PreferencePanes/Security.prefPane/";

} // namespace

void AccessibilityCheckStep()
{
    if (!gAccessCheckPending)
        return;
    gAccessCheckPending = 0;
    if (gEmailNotifyOn && !gQzAccessibilityHook()) {
        QzAlertNote(
            "STOP! Access for Assistive Devices must be enabled to allow email notification", kAccessInformative);
        RunShellCollect(kOpenSecurityPane);
    }
}

void EmailDispatchStep()
{
    if (gEmailStepHeld)
        return;
    if (gEmailRequested)
        gEmailRequested = 0;
    else
        return;
    if (gEmailSent)
        return;
    gEmailSent = 1;

    if (!gQzAccessibilityHook() && !SystemVersionAtLeast("10.13.9")) {
        QzAlertNote("Access for Assistive Devices must be enabled to allow email notification", kAccessInformative);
        gEmailSent = 0;
        RunShellCollect(kOpenSecurityPane);
        return;
    }

    const QString name;
    // The success block is appended at every dispatch, and stays appended.
    if (!gLastSuccessText.empty())
        gLastProblem = gLastProblem + "\r\n" + gLastSuccessText;
    const ShortString user = UserShortName();
    ShortString subject
        = ShortString(gTestEmailPending ? "Email Test for User " : "Time Machine Backup Failed for User ") + user
        + " on Mac, " + gComputerName;
    if (gNotifyMinorErrors == 1)
        subject = ShortString("Time Machine Minor Error for User ") + user + " on Mac, " + gComputerName;
    const QString subjectText = QzStrToCF(subject);
    const QString bodyText = QzStrToCF(gLastProblem);
    if (!gEmailAddress1.empty())
        SendNotificationEmail(name, QzStrToCF(gEmailAddress1), subjectText, bodyText);
    if (!gEmailAddress2.empty())
        SendNotificationEmail(name, QzStrToCF(gEmailAddress2), subjectText, bodyText);
}
