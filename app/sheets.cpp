#include "app/sheets.h"

#include "app/busy.h"
#include "app/opening.h"
#include "app/poll.h"
#include "app/state.h"
#include "monitor/state.h"
#include "notify/mail.h"
#include "notify/runner.h"
#include "notify/state.h"
#include "runtime/events.h"
#include "runtime/hooks.h"
#include "runtime/windows.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <cstdlib>

namespace {

constexpr std::int64_t kEmailWindow = 4;
constexpr std::int64_t kQuitWindow = 5;
constexpr std::int64_t kAboutWindow = 6;

// Email window tags.
constexpr std::int64_t kOk = 1, kCancel = 2, kNotifyBox = 3, kAddress1 = 4, kAddress2 = 5, kSentLabel = 7,
                       kMinorBox = 8, kDailyBox = 9, kOnOff = 10, kTest = 11;

// Common steps of every sheet. Returns true when the window was made now.
bool BeginSheet(std::int64_t number, std::uint8_t& built, const char* nib, const char* identifier)
{
    // A sheet needs its window on screen (the status icon's menu may ask
    // for one while the window is hidden).
    if (!QzWindowVisible(1))
        QzWindowSet(1);
    bool made = false;
    if (built == 0) {
        QzWindowOpen(-number, QString::fromLatin1(nib), QString::fromLatin1(identifier));
        built = 1;
        made = true;
    }
    QzSheetBegin(1, number);
    QzSetCurrentWindow(number);
    gOpenPanel = static_cast<std::uint16_t>(number);
    return made;
}

// All three of title, title colour and state.
void SetOnOff(bool on)
{
    QzButtonSetTitle(kOnOff, on ? QStringLiteral("ON") : QStringLiteral("OFF"));
    QzButtonTitleColor(kOnOff, on ? QzColorGreen() : QzColorRed());
    QzButtonSetState(kOnOff, on ? 1 : 0);
}

void SetSentLabel(const QString& text)
{
    QzTextField(kSentLabel, QzParamOmitted, &text);
}

bool IsOn(std::int64_t tag)
{
    return QzButtonState(tag) == 1;
}

void EmailOk()
{
    // As typed: Mac Roman where it has the characters, UTF-8 otherwise, as
    // the settings file reads them back.
    gEmailAddress1 = ShortFromText(QzTextFieldString(kAddress1));
    gEmailAddress2 = ShortFromText(QzTextFieldString(kAddress2));
    gDailyEmail = IsOn(kDailyBox) ? 1 : 0;
    gNotifyMinorErrors = IsOn(kMinorBox) ? 1 : 0;
    const bool on = IsOn(kOnOff);
    if (QzTextFieldString(kAddress1).isEmpty() && on)
        QzAlertNote(
            "The 'Send Email To:' field is blank", "Email Notification will fail unless you enter an email address ");
    if (on) {
        if (DefaultMailAppName() == "Thunderbird") {
            QzAlertNote("Thunderbird is not supported", "Only Apple's Mail app and Microsoft Outlook are supported.");
            gEmailNotifyOn = 0;
            gEmailRequested = 0;
            // The window stays open; what OK took from it is stored all the same.
            SaveSettings();
            return;
        }
        gEmailNotifyOn = 1;
    } else {
        gEmailNotifyOn = 0;
    }
    CloseSheet(kEmailWindow);
    SaveSettings();
}

void EmailBoxClicked(std::int64_t tag)
{
    if (IsOn(tag)) {
        SetSentLabel(QString());
        gEmailSent = 0;
        SetOnOff(true);
        if (tag == kMinorBox)
            QzButtonSetState(kNotifyBox, 1);
    }
    if (!IsOn(kNotifyBox) && !IsOn(kMinorBox) && !IsOn(kDailyBox))
        SetOnOff(false);
}

void OnOffClicked()
{
    if (!IsOn(kOnOff)) {
        QzButtonSetState(kMinorBox, 0);
        QzButtonSetState(kNotifyBox, 0);
        QzButtonSetState(kDailyBox, 0);
        SetOnOff(false);
        return;
    }
    if (!SystemVersionAtLeast("10.13.9") && !gQzAccessibilityHook()) {
        QzAlertNote("STOP! Access for Assistive Devices must be enabled to allow email notification",
            "System Preferences / Security & Privacy / Privacy Tab / Accessibility / Quillaby");
        gEmailNotifyOn = 0;
        gEmailRequested = 0;
        gNotifyMinorErrors = 0;
        gDailyEmail = 0;
        OpenWithCommand(101, "/System/Library/PreferencePanes/Security.prefPane/");
    }
    SetSentLabel(QString());
    QzButtonSetState(kNotifyBox, 1);
    SetOnOff(true);
}

// The test email goes to the addresses in the fields as typed, stored or
// not; the pass sends it and the note says how it went.
void TestClicked()
{
    if (QzTextFieldString(kAddress1).trimmed().isEmpty()) {
        SetSentLabel(QStringLiteral("The 'Send Email To:' field is blank"));
        return;
    }
    SetSentLabel(QString());
    gTestAddress1 = ShortFromText(QzTextFieldString(kAddress1).trimmed());
    gTestAddress2 = ShortFromText(QzTextFieldString(kAddress2).trimmed());
    gTestEmailPending = 1;
    gEmailRequested = 1;
    gEmailSent = 0;
    PollTimerFired();
}

} // namespace

void CloseSheet(std::int64_t number)
{
    QzSheetEnd(1, number);
    QzWindowClose(number);
    gOpenPanel = 0;
    QzSetCurrentWindow(1);
}

void ShowEmailWindow()
{
    if (RefuseWhileFetching())
        return;
    BeginSheet(kEmailWindow, gEmailWindowBuilt, "EmailNotificationPrefs", "Email Notification Prefs");
    if (gEmailNotifyOn == 1) {
        QzButtonSetState(kNotifyBox, 1);
        QzButtonSetState(kOnOff, 1);
    }
    if (gNotifyMinorErrors == 1)
        QzButtonSetState(kMinorBox, 1);
    if (gDailyEmail == 1)
        QzButtonSetState(kDailyBox, 1);
    const QString address1 = QzStrToCF(gEmailAddress1);
    const QString address2 = QzStrToCF(gEmailAddress2);
    QzTextField(kAddress1, QzParamOmitted, &address1);
    QzTextField(kAddress2, QzParamOmitted, &address2);
    // The last notification went out, or the mail system said why not.
    const QString sent = gEmailError.isEmpty() ? QStringLiteral("Notification Email Was Sent") : gEmailError;
    SetSentLabel(gEmailSent == 1 ? sent : QString());
    if (IsOn(kNotifyBox) || IsOn(kMinorBox) || IsOn(kDailyBox))
        QzButtonSetState(kOnOff, 1);
    SetOnOff(gEmailNotifyOn == 1);
}

void ShowQuitWindow()
{
    BeginSheet(kQuitWindow, gQuitWindowBuilt, "QuitWindow", "Email Notification");
}

void ShowAboutWindow()
{
    if (RefuseWhileFetching())
        return;
    // The image goes in once, when the window is made (and current).
    if (BeginSheet(kAboutWindow, gAboutWindowBuilt, "AboutQuillaby", "About Quillaby"))
        QzImageViewSetImage(99, QStringLiteral("Quillaby Icon.png"));
    const QString version = QzStrToCF(gVersionText);
    QzTextField(4, QzParamOmitted, &version);
}

void EmailWindowAction(std::int64_t tag)
{
    switch (tag) {
    case kOk:
        EmailOk();
        return;
    case kCancel:
        CloseSheet(kEmailWindow);
        return;
    case kNotifyBox:
    case kMinorBox:
    case kDailyBox:
        EmailBoxClicked(tag);
        return;
    case kOnOff:
        OnOffClicked();
        return;
    case kTest:
        TestClicked();
        return;
    default:
        return;
    }
}

void QuitWindowAction(std::int64_t tag)
{
    if (tag == 1) {
        gNoQuitWarning = QzButtonState(3) == 1 ? 1 : 0;
        CloseSheet(kQuitWindow);
        SaveSettings();
        std::exit(0);
    }
    if (tag == 2)
        CloseSheet(kQuitWindow);
}

void AboutWindowAction(std::int64_t tag)
{
    if (tag == 1)
        CloseSheet(kAboutWindow);
}
