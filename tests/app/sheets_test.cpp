#include "app_world.h"

#include "app/sheets.h"
#include "notify/notify_support.h"
#include "notify/state.h"

#include <QLineEdit>

namespace {

using SheetsTest = AppTest;

QString gMailtoApp;
QString FixedMailtoApp()
{
    return gMailtoApp;
}

QString Field(std::int64_t window, std::int64_t tag)
{
    QzSetCurrentWindow(window);
    const QString text = QzTextFieldString(tag);
    QzSetCurrentWindow(gOpenPanel != 0 ? gOpenPanel : 1);
    return text;
}

void Type(std::int64_t tag, const QString& text)
{
    qobject_cast<QLineEdit*>(QzFindView(QzWindowByTag(4), tag))->setText(text);
}

} // namespace

TEST_F(SheetsTest, EmailWindowShowsTheSettingsAndKeepsItsControls)
{
    gEmailAddress1 = "sam@example.com";
    gEmailAddress2 = "pat@example.com";
    gNotifyMinorErrors = 1; // box 8 on, but notification OFF: the button says OFF
    Click(1, 16);
    ASSERT_TRUE(Shown(4));
    EXPECT_EQ(gOpenPanel, 4);
    EXPECT_EQ(QzCurrentWindowTag(), 4);
    EXPECT_EQ(OnOff(), "OFF unchecked red");
    EXPECT_TRUE(On(4, 8));
    EXPECT_FALSE(On(4, 3));
    EXPECT_EQ(Field(4, 4), QStringLiteral("sam@example.com"));
    EXPECT_EQ(Field(4, 5), QStringLiteral("pat@example.com"));
    EXPECT_EQ(Field(4, 7), QString());

    // Box 8 on turns box 3 on and the button ON; box 8 off leaves box 3 on
    // and the button ON; box 3 off as well turns it OFF.
    Click(4, 8); // off
    EXPECT_EQ(OnOff(), "OFF unchecked red");
    Click(4, 8); // on
    EXPECT_TRUE(On(4, 3));
    EXPECT_EQ(OnOff(), "ON checked green");
    Click(4, 8);
    EXPECT_TRUE(On(4, 3));
    EXPECT_EQ(OnOff(), "ON checked green");
    Click(4, 3);
    EXPECT_EQ(OnOff(), "OFF unchecked red");

    // Cancel keeps the variables; the box keeps its state for next time.
    Click(4, 8);
    Click(4, 2);
    EXPECT_FALSE(Shown(4));
    EXPECT_EQ(gOpenPanel, 0);
    EXPECT_EQ(QzCurrentWindowTag(), 1);
    EXPECT_EQ(gNotifyMinorErrors, 1);
    gNotifyMinorErrors = 0;
    gEmailSent = 1;
    Click(1, 16);
    EXPECT_TRUE(On(4, 8));
    EXPECT_TRUE(On(4, 3));
    EXPECT_EQ(Field(4, 7), QStringLiteral("Notification Email Was Sent"));
    EXPECT_EQ(OnOff(), "OFF unchecked red"); // step 8: notification is OFF

    // Switching a box on clears the sent note and the latch.
    Click(4, 9);
    EXPECT_EQ(gEmailSent, 0);
    EXPECT_EQ(Field(4, 7), QString());
    EXPECT_EQ(OnOff(), "ON checked green");
}

TEST_F(SheetsTest, OnOffAndOkStoreTheSettings)
{
    gEmailAddress1 = "sam@example.com";
    gEmailAddress2 = "pat@example.com";
    gEmailNotifyOn = gNotifyMinorErrors = gDailyEmail = 1;
    Click(1, 16);
    EXPECT_EQ(OnOff(), "ON checked green");
    EXPECT_TRUE(On(4, 3) && On(4, 8) && On(4, 9));

    // OFF clears all three boxes; OK then stores it all and saves.
    Click(4, 10);
    EXPECT_EQ(OnOff(), "OFF unchecked red");
    EXPECT_FALSE(On(4, 3) || On(4, 8) || On(4, 9));
    Click(4, 1);
    EXPECT_FALSE(Shown(4));
    EXPECT_EQ(gEmailNotifyOn + gNotifyMinorErrors + gDailyEmail, 0);
    EXPECT_EQ(gEmailAddress1, ShortString("sam@example.com"));
    EXPECT_EQ(gEmailAddress2, ShortString("pat@example.com"));
    EXPECT_EQ(ReadFile(SettingsFile()).substr(0, 38), " 0\rsam@example.com\rpat@example.com\r 0\r");

    // ON with the first address blank: warned, closed, ON, saved.
    Click(1, 16);
    Click(4, 10);
    EXPECT_EQ(OnOff(), "ON checked green");
    EXPECT_TRUE(On(4, 3));
    Type(4, QString());
    Type(5, QStringLiteral("j\u00FCrgen@example.com"));
    {
        AlertRecorder recorder;
        Click(4, 1);
        EXPECT_EQ(AlertTexts(recorder),
            std::vector<std::string> {"The 'Send Email To:' field is blank / Email Notification will fail unless you "
                                      "enter an email address "});
    }
    EXPECT_FALSE(Shown(4));
    EXPECT_EQ(gEmailNotifyOn, 1);
    EXPECT_EQ(ReadFile(SettingsFile()).substr(0, 23), " 1\r\rj\x9Frgen@example.com\r");
}

TEST_F(SheetsTest, ThunderbirdIsRefusedAndTheWindowStaysOpen)
{
    QzHookGuard<QzMailtoAppFn> mailto(gQzMailtoAppHook, FixedMailtoApp);
    gMailtoApp = QStringLiteral("/Applications/Thunderbird.app");
    gEmailRequested = 1;
    Click(1, 16);
    Type(4, QStringLiteral("sam@example.com"));
    Click(4, 10);
    AlertRecorder recorder;
    Click(4, 1);
    EXPECT_EQ(AlertTexts(recorder),
        std::vector<std::string> {
            "Thunderbird is not supported / Only Apple's Mail app and Microsoft Outlook are supported."});
    EXPECT_TRUE(Shown(4));
    EXPECT_EQ(gOpenPanel, 4);
    EXPECT_EQ(gEmailNotifyOn, 0);
    EXPECT_EQ(gEmailRequested, 0);
    EXPECT_EQ(gEmailAddress1, ShortString("sam@example.com"));

    // Mail is accepted; clicking ON never asks for accessibility on a
    // system this new.
    gMailtoApp = QStringLiteral("/Applications/Mail.app");
    Click(4, 10);
    Click(4, 10);
    Click(4, 1);
    EXPECT_EQ(recorder.alerts.size(), 1u);
    EXPECT_FALSE(Shown(4));
    EXPECT_EQ(gEmailNotifyOn, 1);
}

TEST_F(SheetsTest, TestButtonRequestsTheTestEmailThroughThePoll)
{
    gEmailSent = 1;
    gPollAllowed = 1;
    Click(1, 16);
    Click(4, 11);
    EXPECT_EQ(gTestEmailPending, 1);
    EXPECT_EQ(gEmailRequested, 1);
    EXPECT_EQ(gEmailSent, 0);
    EXPECT_EQ(gTodayRequested, 1);
    EXPECT_TRUE(Shown(4));
    // Events of other kinds and tags change nothing.
    DoDialog(1, 6, 4, nullptr);
    DoDialog(1200, 4, 4, nullptr);
    EXPECT_TRUE(Shown(4));
}

TEST_F(SheetsTest, AboutWindowShowsTheVersionUnlessAFetchRuns)
{
    gVersionText = "Version 8.0.2";
    gYesterdayPipeOpen = 1;
    {
        AlertRecorder recorder;
        MenuCallback(kAppMenu, kMenuAbout);
        PendingMenuStep();
        EXPECT_EQ(recorder.alerts.size(), 1u);
        EXPECT_FALSE(Shown(6));
    }
    gYesterdayPipeOpen = 0;
    MenuCallback(kAppMenu, kMenuAbout);
    PendingMenuStep();
    ASSERT_TRUE(Shown(6));
    EXPECT_EQ(gOpenPanel, 6);
    EXPECT_EQ(Field(6, 4), QStringLiteral("Version 8.0.2"));
    Click(6, 1);
    EXPECT_FALSE(Shown(6));
    EXPECT_EQ(gOpenPanel, 0);
    EXPECT_EQ(QzCurrentWindowTag(), 1);
}

TEST_F(SheetsTest, OnWithoutAccessibilityOnAnOldSystemIsRefusedButShownOn)
{
    QzHookGuard<QzAccessibilityFn> denied(gQzAccessibilityHook, [] { return false; });
    sandbox.Stub(QStringLiteral("open"), "echo \"$@\" >> \"$HOME/open.args\"");
    gEmailRequested = gNotifyMinorErrors = gDailyEmail = 1;
    gEmailSent = 1;
    {
        SystemVersion version(sandbox, "10.14");
        Click(1, 16);
        Click(4, 10); // no alert on 10.14
        Click(4, 2);
    }
    SystemVersion version(sandbox, "10.13.6");
    Click(1, 16); // shown OFF: notification is off
    AlertRecorder recorder;
    Click(4, 10); // ON
    EXPECT_EQ(AlertTexts(recorder),
        std::vector<std::string> {"STOP! Access for Assistive Devices must be enabled to allow email notification / "
                                  "System Preferences / Security & Privacy / Privacy Tab / Accessibility / Quillaby"});
    EXPECT_EQ(gEmailNotifyOn + gEmailRequested + gNotifyMinorErrors + gDailyEmail, 0);
    EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/open.args")),
        "/System/Library/PreferencePanes/Security.prefPane/\n");
    EXPECT_EQ(OnOff(), "ON checked green");
    EXPECT_TRUE(On(4, 3));
    EXPECT_EQ(Field(4, 7), QString());
}
