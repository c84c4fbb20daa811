#include "notify/dispatch.h"

#include "monitor/remote.h"
#include "monitor/state.h"
#include "notify/mail.h"
#include "notify/runner.h"
#include "notify/state.h"
#include "runtime/encoding.h"
#include "runtime/events.h"
#include "runtime/hooks.h"
#include "runtime/windows.h"
#include "settings/state.h"

namespace {

const char* const kAccessInformative
    = "System Preferences / Security & Privacy / Privacy Tab / Accessibility / Quillaby";
const char* const kOpenSecurityPane = "open /System/Library/PreferencePanes/Security.prefPane/";

constexpr std::int64_t kEmailWindow = 4;
constexpr std::int64_t kSentLabel = 7;

// The email window's note after a test email: where it went, or why not.
void ShowTestOutcome(const QString& to1, const QString& to2)
{
    if (!QzWindowExists(kEmailWindow))
        return;
    QStringList to;
    for (const QString& address : {to1, to2})
        if (!address.isEmpty())
            to << address;
    const QString note = !gEmailError.isEmpty() ? gEmailError
        : to.isEmpty()                          ? QStringLiteral("The 'Send Email To:' field is blank")
                       : QStringLiteral("Test email sent to ") + to.join(QStringLiteral(" and "));
    const std::int64_t current = QzCurrentWindowTag();
    QzSetCurrentWindow(kEmailWindow);
    QzTextField(kSentLabel, QzParamOmitted, &note);
    QzSetCurrentWindow(current);
}

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
    const bool test = gTestEmailPending != 0;
    // The subject names the Mac whose log it is.
    const ShortString computer = gRemoteHost.empty() ? gComputerName : RemoteComputerName();
    ShortString subject = ShortString(test ? "Email Test for User " : "Time Machine Backup Failed for User ") + user
        + " on Mac, " + computer;
    if (gNotifyMinorErrors == 1)
        subject = ShortString("Time Machine Minor Error for User ") + user + " on Mac, " + computer;
    // A control character of a log line or a name reaches no mail raw.
    const QString subjectText = QzVisibleControls(QzStrToCF(subject), false);
    const QString bodyText = QzVisibleControls(QzStrToCF(gLastProblem), true);
    // A test goes to the addresses typed in the email window, stored or not.
    const QString to1 = QzStrToCF(test ? gTestAddress1 : gEmailAddress1);
    const QString to2 = QzStrToCF(test ? gTestAddress2 : gEmailAddress2);
    gEmailError.clear();
    gEmailErrorTold = 0;
    bool delivered = !to1.isEmpty() || !to2.isEmpty();
    if (!to1.isEmpty())
        delivered = SendNotificationEmail(name, to1, subjectText, bodyText) && delivered;
    if (!to2.isEmpty())
        delivered = SendNotificationEmail(name, to2, subjectText, bodyText) && delivered;
    gEmailDelivered = delivered ? 1 : 0;
    if (test)
        ShowTestOutcome(to1, to2);
    else if (!gEmailError.isEmpty() && gEmailErrorTold == 0)
        QzAlertNote("The notification email could not be sent.", ShortFromText(gEmailError));
}
