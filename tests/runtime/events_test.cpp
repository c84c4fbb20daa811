#include "runtime/widgets_p.h"
#include "test_support.h"
#include "ui_support.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFocusEvent>
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
    QWidget* View(std::int64_t tag, std::int64_t window = 4) { return QzFindView(QzWindowByTag(window), tag); }
};

TEST_F(EventsTest, ClicksReachTheHandlerInTheControlsWindowWithTheNewState)
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

    // A check box and an on/off button: the handler sees the new state.
    QzWindowOpen(4, QStringLiteral("TestPanel"), QStringLiteral("Test Panel"));
    static std::vector<std::int64_t> seen;
    seen.clear();
    QzOnDialog([](std::int64_t kind, std::int64_t id, std::int64_t, void*) {
        if (kind == 1)
            seen.push_back(QzButtonState(id));
    });
    QTest::mouseClick(View(3), Qt::LeftButton, {}, QPoint(5, 8));
    QTest::mouseClick(View(10), Qt::LeftButton);
    EXPECT_EQ(seen, (std::vector<std::int64_t> {1, 1}));
    // A control with its own action keeps it.
    const QString sent = QStringLiteral("Notification Email Was Sent");
    QzTextField(7, QzParamOmitted, &sent, 4, {});
    QTest::mouseClick(View(20), Qt::LeftButton);
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(QzTextFieldString(7), QString());
}

TEST_F(EventsTest, TextFieldEditingAndReturnAndTheRepliesThatRefuseOrTakeThem)
{
    OpenPanel(4);
    auto* field = qobject_cast<QLineEdit*>(View(4));
    QSignalSpy okClicks(qobject_cast<QAbstractButton*>(View(1)), &QAbstractButton::clicked);
    QTest::keyClicks(field, QStringLiteral("ab"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(field->text(), QStringLiteral("ab"));
    for (const auto& [kind, count] : std::initializer_list<std::pair<int, std::size_t>> {
             {1203, 1}, {1200, 1}, {1201, 2}, {1205, 1}, {1204, 1}, {1, 1}, {1202, 1}})
        EXPECT_EQ(EventsOfKind(kind).size(), count) << kind;
    EXPECT_EQ(EventsOfKind(1200)[0].id, 4);
    EXPECT_EQ(EventsOfKind(1200)[0].window, 4);
    EXPECT_EQ(*static_cast<QString*>(EventsOfKind(1205)[0].object), QStringLiteral("insertNewline:"));
    EXPECT_EQ(EventsOfKind(1)[0].id, 4);
    EXPECT_EQ(EventsOfKind(1)[0].object, nullptr);
    EXPECT_EQ(okClicks.count(), 0); // Return belongs to the field, not to the default button
    QTest::keyClick(field, Qt::Key_Return); // again, with nothing edited: no end of editing
    EXPECT_EQ(EventsOfKind(1202).size(), 1u);

    gDialogEvents.clear();
    QzOnDialog([](std::int64_t kind, std::int64_t id, std::int64_t window, void* object) {
        RecordDialog(kind, id, window, object);
        if (kind == 1203 || kind == 1205)
            QzEventReply().boolVal = kind == 1205;
    });
    field = qobject_cast<QLineEdit*>(View(5));
    QTest::keyClicks(field, QStringLiteral("x"));
    EXPECT_EQ(field->text(), QString());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(EventsOfKind(1205).size(), 1u);
    EXPECT_TRUE(EventsOfKind(1).empty());
}

TEST_F(EventsTest, TextViewEditingAndWindowNotificationsAndTheShouldCloseReply)
{
    QWidget* panel = OpenPanel(4);
    auto* notes = qobject_cast<QPlainTextEdit*>(View(30));
    QzTextViewSetText(30, QStringLiteral("set in code"));
    QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(notes, &out); // not edited: nothing to end
    EXPECT_TRUE(EventsOfKind(2102).empty());
    QTest::keyClicks(notes, QStringLiteral("xy"));
    EXPECT_EQ(EventsOfKind(2100).size(), 1u);
    EXPECT_EQ(EventsOfKind(2101).size(), 2u);
    EXPECT_EQ(EventsOfKind(2100)[0].id, 30);
    EXPECT_NE(QzTextViewString(30), QStringLiteral("set in code"));
    QCoreApplication::sendEvent(notes, &out);
    EXPECT_EQ(EventsOfKind(2102).size(), 1u);

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

TEST_F(EventsTest, MenuChoicesReportTheMenusTagElseItsPositionAndTheMenuBarJoinsWindowOne)
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
    const std::vector<std::pair<std::int64_t, std::int64_t>> clicked = {{2, 1}, {1, 2}, {2, 0}, {0, 0}};
    for (const auto& [menu, item] : clicked)
        bar->actions().at(menu)->menu()->actions().at(item)->trigger();
    EXPECT_EQ(choices, (std::vector<std::pair<std::int64_t, std::int64_t>> {{2, 1}, {7, 2}, {2, 0}, {0, 0}}));

#ifndef Q_OS_MACOS
    QzResetWindowState();
    UseAppResource(QStringLiteral("MainMenu.ui"));
    QzWindowSet(1, QStringLiteral("Quillaby"), QzParamOmitted, QzRect {0, 0, 605, 540});
    QzLoadMenuNib(QStringLiteral("MainMenu"));
    bar = qobject_cast<QMenuBar*>(gQzMenuBar.data());
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->window(), QzWindowByTag(1));
#endif
}

TEST_F(EventsTest, RunLoopRunsOnceAndASecondCallReturnsAtOnce)
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
    QzRunLoop();
}

// --- Timers -------------------------------------------------------------

int gFires = 0;
int gOnceFires = 0;
int gOtherFires = 0;
int gBefore = 0;

std::int64_t Count(void*)
{
    ++gFires;
    return 0;
}

std::int64_t CountOnce(void*)
{
    ++gOnceFires;
    return 0x101; // low byte non-zero: stop
}

std::int64_t CountOther(void*)
{
    ++gOtherFires;
    return 0;
}

using TimersTest = UiTest;

TEST_F(TimersTest, NeedTheDelegateAndStopOnANonZeroLowByteOrAfterOneShot)
{
    gFires = gOnceFires = gOtherFires = 0;
    EXPECT_EQ(QzTimer(CountOther, true, 0.001), nullptr);
    QzAppDelegate(); // made, not installed
    EXPECT_EQ(QzTimer(CountOther, true, 0.001), nullptr);
    QzInstallAppDelegate();
    EXPECT_NE(QzTimer(Count, false, 0.001), nullptr);
    QzTimer(CountOnce, true, 0.001);
    QzTimer(CountOther, true, 0.001);
    EXPECT_TRUE(WaitFor([] { return gOtherFires >= 10; }));
    EXPECT_EQ(gFires, 1);
    EXPECT_EQ(gOnceFires, 1);
}

// An alert "shown" while a repeating 0.2 s timer started at 1000 falls due
// twice, answered by the clock 0.15 s into its fourth period.
int AnswerLate(const QzAlertRequest&)
{
    const std::int64_t held = gQzHeldTimerFires;
    WaitFor([held] { return gQzHeldTimerFires >= held + 2; });
    EXPECT_EQ(gFires, gBefore); // no timer fires during a modal alert
    TestClock::SetUptime(1000.75);
    return 0;
}

TEST_F(TimersTest, AHeldTimerFiresOnceAfterTheAlertAndKeepsItsOriginalGrid)
{
    TestClock clock;
    gFires = 0;
    QzInstallAppDelegate();
    auto* timer = static_cast<QTimer*>(QzTimer(Count, true, 0.2));
    ASSERT_TRUE(WaitFor([] { return gFires >= 1; }));
    gBefore = gFires;
    {
        const QzHookGuard<QzAlertFn> hook(gQzAlertHook, AnswerLate);
        QzAlertNote("Busy getting today's log.", "Please wait until done.");
    }
    EXPECT_EQ(gFires, gBefore);
    // The catch-up fire comes once; the next is due at 1000.8, 50 ms on,
    // and from there the timer runs its full period again.
    ASSERT_TRUE(WaitFor([] { return gFires > gBefore; }));
    EXPECT_EQ(gFires, gBefore + 1);
    EXPECT_LE(timer->remainingTime(), 50);
    ASSERT_TRUE(WaitFor([] { return gFires > gBefore + 1; }));
    EXPECT_EQ(timer->interval(), 200);
}

// --- Alerts ---------------------------------------------------------------

TEST_F(EventsTest, AlertsReportTheirButtonToTheDialogHandler)
{
    AlertRecorder alerts({0, 0, 1, 2});
    EXPECT_EQ(QzAlertNote("No Problems Found", ""), 0);
    EXPECT_EQ(QzAlertStop("Help.rtfd", " was not found."), 0);
    const QString message = QStringLiteral("Choose");
    EXPECT_EQ(QzAlert(7, 1, &message, nullptr, QStringLiteral("First;Second")), 1001);
    const QStringList titles {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    EXPECT_EQ(QzAlert(8, QzAlertStyleOmitted, &message, nullptr, &titles), 1002);
    ASSERT_EQ(alerts.alerts.size(), 4u);
    const std::tuple<int, int, QStringList> shown[]
        = {{1, 0, {}}, {3, 2, {}}, {7, 1, {QStringLiteral("First"), QStringLiteral("Second")}}, {8, 0, titles}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(alerts.alerts[i].tag, std::get<0>(shown[i])) << i;
        if (i < 3) { // the omitted style is the alert's own
            EXPECT_EQ(alerts.alerts[i].style, std::get<1>(shown[i])) << i;
        }
        EXPECT_EQ(alerts.alerts[i].buttons, std::get<2>(shown[i])) << i;
    }
    EXPECT_EQ(alerts.alerts[0].message, QStringLiteral("No Problems Found"));
    EXPECT_EQ(alerts.alerts[1].informative, QStringLiteral(" was not found."));
    const std::pair<std::int64_t, std::int64_t> ended[] = {{1000, 1}, {1000, 3}, {1001, 7}, {1002, 8}};
    ASSERT_EQ(EventsOfKind(1000).size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(EventsOfKind(1000)[i].id, ended[i].first) << i;
        EXPECT_EQ(EventsOfKind(1000)[i].window, ended[i].second) << i;
        EXPECT_EQ(EventsOfKind(1000)[i].object, nullptr) << i;
    }
    EXPECT_TRUE(gQzAlerts.empty());
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

TEST_F(EventsTest, ASheetAlertReturnsAtOnceAndReportsLaterFromAWindowModalBox)
{
    QzWindowSet(1, QStringLiteral("Main"), QzParamOmitted, QzRect {0, 0, 300, 200});
    const QString message = QStringLiteral("Sheet");
    {
        AlertRecorder alerts({1});
        EXPECT_EQ(QzAlert(9, 0, &message, nullptr, QStringLiteral("OK;Cancel"), 1), 0);
        EXPECT_TRUE(alerts.alerts.empty());
        EXPECT_TRUE(EventsOfKind(1000).empty());
        EXPECT_TRUE(WaitFor([] { return !EventsOfKind(1000).empty(); }));
        EXPECT_EQ(alerts.alerts.size(), 1u);
        EXPECT_EQ(EventsOfKind(1000)[0].id, 1001);
        EXPECT_EQ(EventsOfKind(1000)[0].window, 9);
        EXPECT_TRUE(gQzAlerts.empty());
    }
    gDialogEvents.clear();
    const QzHookGuard<QzAlertFn> real(gQzAlertHook, QzAlertPresent);
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

} // namespace
