#include "runtime/widgets_p.h"
#include "test_support.h"
#include "ui_support.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

class EventsTest : public UiTest {
protected:
    QWidget* OpenPanel(std::int64_t tag)
    {
        UseFixtureNib(QStringLiteral("TestPanel"));
        QzWindowOpen(tag, QStringLiteral("TestPanel"), QStringLiteral("Test Panel"));
        gDialogEvents.clear();
        return QzWindowByTag(tag);
    }
    QWidget* View(std::int64_t tag, std::int64_t window) { return QzFindView(QzWindowByTag(window), tag); }
};

TEST_F(EventsTest, ClicksReachTheHandlerWithTheControlsWindowMadeCurrent)
{
    UseAppResource(QStringLiteral("MainWindow.ui"));
    QzWindowOpen(1, QStringLiteral("MainWindow"), QStringLiteral("Quillaby"));
    OpenPanel(-4);
    QzSetCurrentWindow(4);
    auto* current = qobject_cast<QAbstractButton*>(View(6, 1));
    QTest::mouseClick(current, Qt::LeftButton);
    ASSERT_EQ(EventsOfKind(1).size(), 1u);
    const DialogEvent click = EventsOfKind(1)[0];
    EXPECT_EQ(click.id, 6);
    EXPECT_EQ(click.window, 1);
    EXPECT_EQ(click.object, current);
    EXPECT_EQ(click.current, 1);
    EXPECT_EQ(QzCurrentWindowTag(), 1);
}

TEST_F(EventsTest, CheckBoxesAndOnOffButtonsHaveTheirNewStateWhenTheHandlerRuns)
{
    OpenPanel(4);
    static std::int64_t seenBox;
    static std::int64_t seenOnOff;
    seenBox = seenOnOff = -5;
    QzOnDialog([](std::int64_t kind, std::int64_t id, std::int64_t, void*) {
        if (kind == 1 && id == 3)
            seenBox = QzButtonState(3);
        if (kind == 1 && id == 10)
            seenOnOff = QzButtonState(10);
    });
    QTest::mouseClick(View(3, 4), Qt::LeftButton, {}, QPoint(5, 8));
    QTest::mouseClick(View(10, 4), Qt::LeftButton);
    EXPECT_EQ(seenBox, 1);
    EXPECT_EQ(seenOnOff, 1);
}

TEST_F(EventsTest, AControlWithItsOwnActionKeepsIt)
{
    OpenPanel(4);
    const QString sent = QStringLiteral("Notification Email Was Sent");
    QzTextField(7, QzParamOmitted, &sent, 4, {});
    QTest::mouseClick(View(20, 4), Qt::LeftButton);
    EXPECT_TRUE(EventsOfKind(1).empty());
    EXPECT_EQ(QzTextFieldString(7), QString());
}

TEST_F(EventsTest, TextFieldEditingAndReturn)
{
    QWidget* panel = OpenPanel(4);
    auto* field = qobject_cast<QLineEdit*>(View(4, 4));
    auto* ok = qobject_cast<QAbstractButton*>(View(1, 4));
    QSignalSpy okClicks(ok, &QAbstractButton::clicked);
    QTest::keyClicks(field, QStringLiteral("ab"));
    ASSERT_EQ(EventsOfKind(1203).size(), 1u);
    ASSERT_EQ(EventsOfKind(1200).size(), 1u);
    EXPECT_EQ(EventsOfKind(1201).size(), 2u);
    EXPECT_EQ(EventsOfKind(1200)[0].id, 4);
    EXPECT_EQ(EventsOfKind(1200)[0].window, 4);
    EXPECT_EQ(field->text(), QStringLiteral("ab"));

    QTest::keyClick(field, Qt::Key_Return);
    const auto commands = EventsOfKind(1205);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(*static_cast<QString*>(commands[0].object), QStringLiteral("insertNewline:"));
    EXPECT_EQ(EventsOfKind(1204).size(), 1u);
    ASSERT_EQ(EventsOfKind(1).size(), 1u);
    EXPECT_EQ(EventsOfKind(1)[0].id, 4);
    EXPECT_EQ(EventsOfKind(1)[0].object, nullptr);
    EXPECT_EQ(EventsOfKind(1202).size(), 1u);
    // Return belongs to the field: the dialog's default button stays put.
    EXPECT_EQ(okClicks.count(), 0);
    Q_UNUSED(panel);
}

TEST_F(EventsTest, TextFieldRepliesCanRefuseEditingAndTakeCommands)
{
    OpenPanel(4);
    auto* field = qobject_cast<QLineEdit*>(View(5, 4));
    QzOnDialog([](std::int64_t kind, std::int64_t id, std::int64_t window, void* object) {
        RecordDialog(kind, id, window, object);
        if (kind == 1203)
            QzEventReply().boolVal = false;
        if (kind == 1205)
            QzEventReply().boolVal = true;
    });
    QTest::keyClicks(field, QStringLiteral("x"));
    EXPECT_EQ(field->text(), QString());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(EventsOfKind(1205).size(), 1u);
    EXPECT_TRUE(EventsOfKind(1).empty());
}

TEST_F(EventsTest, TextViewEditingNotifications)
{
    OpenPanel(4);
    auto* notes = qobject_cast<QPlainTextEdit*>(View(30, 4));
    QzTextViewSetText(30, QStringLiteral("set in code"));
    EXPECT_TRUE(EventsOfKind(2101).empty());
    QTest::keyClicks(notes, QStringLiteral("xy"));
    EXPECT_EQ(EventsOfKind(2100).size(), 1u);
    EXPECT_EQ(EventsOfKind(2101).size(), 2u);
    EXPECT_EQ(EventsOfKind(2100)[0].id, 30);
    EXPECT_NE(QzTextViewString(30), QStringLiteral("set in code"));
    QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(notes, &out);
    EXPECT_EQ(EventsOfKind(2102).size(), 1u);
}

TEST_F(EventsTest, WindowNotificationsAndTheShouldCloseReply)
{
    QWidget* panel = OpenPanel(4);
    panel->resize(420, 320);
    ASSERT_FALSE(EventsOfKind(10004).empty());
    EXPECT_EQ(EventsOfKind(10004).back().id, 4);
    EXPECT_EQ(EventsOfKind(10004).back().window, 4);
    panel->move(panel->x() + 17, panel->y() + 5);
    EXPECT_FALSE(EventsOfKind(10027).empty());

    static bool allowClose;
    allowClose = false;
    QzOnDialog([](std::int64_t kind, std::int64_t id, std::int64_t window, void* object) {
        RecordDialog(kind, id, window, object);
        if (kind == 10031)
            QzEventReply().boolVal = allowClose;
    });
    panel->close(); // as the window's close box does
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(EventsOfKind(10031).size(), 1u);
    EXPECT_TRUE(EventsOfKind(10032).empty());
    allowClose = true;
    panel->close();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(EventsOfKind(10032).size(), 1u);

    QzSetCurrentWindow(9);
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(panel, &activate);
    ASSERT_EQ(EventsOfKind(10033).size(), 1u);
    EXPECT_EQ(EventsOfKind(10033)[0].current, 4);
    EXPECT_EQ(EventsOfKind(10035).size(), 1u);
}

TEST_F(EventsTest, MenuChoicesReportTheMenusTagElseItsPositionAndTheItemIndex)
{
    static std::vector<std::pair<std::int64_t, std::int64_t>> choices;
    choices.clear();
    QzOnMenu([](std::int64_t menu, std::int64_t item) { choices.emplace_back(menu, item); });
    UseFixtureNib(QStringLiteral("TaggedMenu"));
    QzLoadMenuNib(QStringLiteral("TaggedMenu"));
    QzLoadMenuNib(QStringLiteral("TaggedMenu")); // a nib loads once
    ASSERT_EQ(gQzNibs.size(), 1u);
    auto* bar = qobject_cast<QMenuBar*>(gQzMenuBar.data());
    ASSERT_NE(bar, nullptr);
    // Menus: "First" (no tag), "Tagged" (tag 7; a separator at item 1), "Third" (no tag).
    for (const auto& [menu, item] : {std::pair {2, 1}, std::pair {1, 2}, std::pair {2, 0}, std::pair {0, 0}})
        bar->actions().at(menu)->menu()->actions().at(item)->trigger();
    const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {{2, 1}, {7, 2}, {2, 0}, {0, 0}};
    EXPECT_EQ(choices, expected);
}

TEST_F(EventsTest, TheMenuBarJoinsWindowOneWhenThatExists)
{
#ifndef Q_OS_MACOS
    UseAppResource(QStringLiteral("MainMenu.ui"));
    QzWindowSet(1, QStringLiteral("Quillaby"), QzParamOmitted, QzRect {0, 0, 605, 540});
    QzLoadMenuNib(QStringLiteral("MainMenu"));
    auto* bar = qobject_cast<QMenuBar*>(gQzMenuBar.data());
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->window(), QzWindowByTag(1));
#endif
}

// --- Timers -------------------------------------------------------------

int gFires = 0;
int gOtherFires = 0;

std::int64_t CountAndKeepGoing(void*)
{
    ++gFires;
    return 0;
}

std::int64_t CountOnceOnly(void*)
{
    ++gFires;
    return 0x101; // low byte non-zero: stop
}

std::int64_t CountOther(void*)
{
    ++gOtherFires;
    return 0;
}

class TimersTest : public UiTest {
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        gFires = 0;
        gOtherFires = 0;
    }
};

TEST_F(TimersTest, NoDelegateNoTimer)
{
    EXPECT_EQ(QzTimer(CountAndKeepGoing, true, 0.001), nullptr);
    QzAppDelegate(); // made, not installed
    EXPECT_EQ(QzTimer(CountAndKeepGoing, true, 0.001), nullptr);
    QzInstallAppDelegate();
    EXPECT_NE(QzTimer(CountAndKeepGoing, true, 0.001), nullptr);
    EXPECT_TRUE(WaitFor([] { return gFires >= 3; }));
}

TEST_F(TimersTest, AResultWithANonZeroLowByteStopsTheTimer)
{
    QzInstallAppDelegate();
    QzTimer(CountOnceOnly, true, 0.001);
    QzTimer(CountOther, true, 0.001);
    EXPECT_TRUE(WaitFor([] { return gOtherFires >= 10; }));
    EXPECT_EQ(gFires, 1);
}

TEST_F(TimersTest, AOneShotTimerFiresOnce)
{
    QzInstallAppDelegate();
    QzTimer(CountAndKeepGoing, false, 0.001);
    QzTimer(CountOther, true, 0.001);
    EXPECT_TRUE(WaitFor([] { return gOtherFires >= 10; }));
    EXPECT_EQ(gFires, 1);
}

// An alert "shown" for as long as a repeating timer falls due three times.
int gFiresDuringAlert = -1;
int SpinWhileShowing(const QzAlertRequest&)
{
    const int before = gFires;
    const std::int64_t held = gQzHeldTimerFires;
    WaitFor([held] { return gQzHeldTimerFires >= held + 3; });
    gFiresDuringAlert = gFires - before;
    return 0;
}

TEST_F(TimersTest, NoTimerFiresDuringAModalAlertAndAHeldOneFiresOnceAfter)
{
    QzInstallAppDelegate();
    QzTimer(CountAndKeepGoing, true, 0.05);
    ASSERT_TRUE(WaitFor([] { return gFires >= 1; }));
    const QzHookGuard<QzAlertFn> hook(gQzAlertHook, SpinWhileShowing);
    const std::int64_t heldBefore = gQzHeldTimerFires;
    const int before = gFires;
    QzAlertNote("Busy getting today's log.", "Please wait until done.");
    EXPECT_GE(gQzHeldTimerFires, heldBefore + 3);
    EXPECT_EQ(gFiresDuringAlert, 0);
    EXPECT_EQ(gFires, before);
    ASSERT_TRUE(WaitFor([before] { return gFires > before; }));
    EXPECT_EQ(gFires, before + 1);
}

// --- Alerts ---------------------------------------------------------------

TEST_F(EventsTest, NoteAndStopAlertsReportToTheDialogHandler)
{
    AlertRecorder alerts;
    EXPECT_EQ(QzAlertNote("No Problems Found", ""), 0);
    EXPECT_EQ(QzAlertStop("Help.rtfd", " was not found."), 0);
    ASSERT_EQ(alerts.alerts.size(), 2u);
    EXPECT_EQ(alerts.alerts[0].tag, 1);
    EXPECT_EQ(alerts.alerts[0].style, 0);
    EXPECT_EQ(alerts.alerts[0].message, QStringLiteral("No Problems Found"));
    EXPECT_TRUE(alerts.alerts[0].buttons.isEmpty());
    EXPECT_EQ(alerts.alerts[1].tag, 3);
    EXPECT_EQ(alerts.alerts[1].style, 2);
    EXPECT_EQ(alerts.alerts[1].informative, QStringLiteral(" was not found."));
    const auto ended = EventsOfKind(1000);
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(ended[0].id, 1000);
    EXPECT_EQ(ended[0].window, 1);
    EXPECT_EQ(ended[0].object, nullptr);
    EXPECT_EQ(ended[1].id, 1000);
    EXPECT_EQ(ended[1].window, 3);
    EXPECT_TRUE(gQzAlerts.empty());
}

TEST_F(EventsTest, AlertButtonsComeInOrderAndTheCodeCountsFrom1000)
{
    AlertRecorder alerts({1});
    const QString message = QStringLiteral("Choose");
    EXPECT_EQ(QzAlert(7, 1, &message, nullptr, QStringLiteral("First;Second")), 1001);
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].buttons, (QStringList {QStringLiteral("First"), QStringLiteral("Second")}));
    EXPECT_EQ(alerts.alerts[0].style, 1);
    ASSERT_EQ(EventsOfKind(1000).size(), 1u);
    EXPECT_EQ(EventsOfKind(1000)[0].id, 1001);
    EXPECT_EQ(EventsOfKind(1000)[0].window, 7);
    const QStringList titles {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    alerts.answers = {2};
    EXPECT_EQ(QzAlert(8, QzAlertStyleOmitted, &message, nullptr, &titles), 1002);
}

TEST_F(EventsTest, ANonPositiveTagPreparesOrClosesAnAlert)
{
    AlertRecorder alerts;
    const QString first = QStringLiteral("Prepared");
    const QString second = QStringLiteral("Shown later");
    EXPECT_EQ(QzAlert(-5, 2, &first, nullptr, QStringLiteral("Yes;No")), 0);
    EXPECT_TRUE(alerts.alerts.empty());
    ASSERT_EQ(gQzAlerts.size(), 1u);
    // Reused: the new message applies, the buttons and style stay.
    EXPECT_EQ(QzAlert(5, QzAlertStyleOmitted, &second, nullptr, QString()), 1000);
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].message, second);
    EXPECT_EQ(alerts.alerts[0].style, 2);
    EXPECT_EQ(alerts.alerts[0].buttons, (QStringList {QStringLiteral("Yes"), QStringLiteral("No")}));

    QzAlert(-6, QzAlertStyleOmitted, &first, nullptr, QString());
    gDialogEvents.clear();
    EXPECT_EQ(QzAlert(-6, QzAlertStyleOmitted, nullptr, nullptr, QString()), 0);
    ASSERT_EQ(EventsOfKind(1000).size(), 1u);
    EXPECT_EQ(EventsOfKind(1000)[0].id, 0);
    EXPECT_EQ(EventsOfKind(1000)[0].window, 6);
    EXPECT_TRUE(gQzAlerts.empty());
}

TEST_F(EventsTest, ASheetAlertReturnsAtOnceAndReportsLater)
{
    QzWindowSet(1, QStringLiteral("Main"), QzParamOmitted, QzRect {0, 0, 300, 200});
    AlertRecorder alerts({1});
    const QString message = QStringLiteral("Sheet");
    EXPECT_EQ(QzAlert(9, 0, &message, nullptr, QStringLiteral("OK;Cancel"), 1), 0);
    EXPECT_TRUE(alerts.alerts.empty());
    EXPECT_TRUE(EventsOfKind(1000).empty());
    EXPECT_TRUE(WaitFor([] { return !EventsOfKind(1000).empty(); }));
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(EventsOfKind(1000)[0].id, 1001);
    EXPECT_EQ(EventsOfKind(1000)[0].window, 9);
    EXPECT_TRUE(gQzAlerts.empty());
}

TEST_F(EventsTest, ASheetAlertOnTheRealPresenterIsAWindowModalBox)
{
    QzWindowSet(1, QStringLiteral("Main"), QzParamOmitted, QzRect {0, 0, 300, 200});
    const QzHookGuard<QzAlertFn> real(gQzAlertHook, QzAlertPresent);
    const QString message = QStringLiteral("Sheet");
    EXPECT_EQ(QzAlert(9, 0, &message, nullptr, QStringLiteral("OK;Cancel"), 1), 0);
    ASSERT_EQ(gQzAlerts.size(), 1u);
    auto* box = qobject_cast<QDialog*>(gQzAlerts[0].box.data());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->parentWidget(), QzWindowByTag(1));
    box->reject();
    EXPECT_TRUE(WaitFor([] { return !EventsOfKind(1000).empty(); }));
    EXPECT_EQ(EventsOfKind(1000)[0].window, 9);
    EXPECT_TRUE(gQzAlerts.empty());
}

// --- Run loop ---------------------------------------------------------------

TEST_F(EventsTest, TheRunLoopRunsOnceAndASecondCallReturnsAtOnce)
{
    static bool returnedInside = false;
    returnedInside = false;
    QTimer::singleShot(0, [] {
        QzRunLoop();
        returnedInside = true;
        QCoreApplication::quit();
    });
    QzRunLoop();
    EXPECT_TRUE(returnedInside);
    EXPECT_TRUE(gQzRunLoopEntered);
    QzRunLoop(); // entered before: returns at once
}

} // namespace
