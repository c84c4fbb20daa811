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
    // The events of the given kinds as "kind id window" lines.
    static std::string Seen(std::initializer_list<std::int64_t> kinds)
    {
        std::string seen;
        for (const DialogEvent& e : gDialogEvents)
            if (std::find(kinds.begin(), kinds.end(), e.kind) != kinds.end())
                seen += std::to_string(e.kind) + " " + std::to_string(e.id) + " " + std::to_string(e.window) + "\n";
        return seen;
    }
};

TEST_F(EventsTest, ClicksReachTheHandlerInTheControlsWindowWithTheNewState)
{
    UseAppResource(QStringLiteral("MainWindow.ui"));
    QzWindowOpen(1, QStringLiteral("MainWindow"), QStringLiteral("Quillaby"));
    OpenPanel(-4);
    QzSetCurrentWindow(4);
    auto* current = qobject_cast<QAbstractButton*>(View(6, 1));
    QTest::mouseClick(current, Qt::LeftButton);
    ASSERT_EQ(Seen({1}), "1 6 1\n");
    EXPECT_EQ(gDialogEvents.back().object, current);
    EXPECT_EQ(gDialogEvents.back().current, 1);
    EXPECT_EQ(QzCurrentWindowTag(), 1);

    // A check box and an on/off button: the handler sees the new state. A
    // control with its own action keeps it.
    QzWindowOpen(4, QStringLiteral("TestPanel"), QStringLiteral("Test Panel"));
    static std::vector<std::int64_t> seen;
    seen.clear();
    QzOnDialog([](std::int64_t kind, std::int64_t id, std::int64_t, void*) {
        if (kind == 1)
            seen.push_back(QzButtonState(id));
    });
    QTest::mouseClick(View(3), Qt::LeftButton, {}, QPoint(5, 8));
    QTest::mouseClick(View(10), Qt::LeftButton);
    const QString sent = QStringLiteral("Notification Email Was Sent");
    QzTextField(7, QzParamOmitted, &sent, 4, {});
    QTest::mouseClick(View(20), Qt::LeftButton);
    EXPECT_EQ(seen, (std::vector<std::int64_t> {1, 1}));
    EXPECT_EQ(QzTextFieldString(7), QString());
}

TEST_F(EventsTest, TextFieldEditingAndReturnAndTheRepliesThatRefuseOrTakeThem)
{
    OpenPanel(4);
    auto* field = qobject_cast<QLineEdit*>(View(4));
    QSignalSpy okClicks(qobject_cast<QAbstractButton*>(View(1)), &QAbstractButton::clicked);
    QTest::keyClicks(field, QStringLiteral("ab"));
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Return); // again, with nothing edited: no end of editing
    EXPECT_EQ(field->text(), QStringLiteral("ab"));
    EXPECT_EQ(Seen({1, 1200, 1201, 1202, 1203, 1204, 1205}),
        "1203 4 4\n1200 4 4\n1201 4 4\n1201 4 4\n1205 4 4\n1204 4 4\n1 4 4\n1202 4 4\n1205 4 4\n1 4 4\n");
    EXPECT_EQ(*static_cast<QString*>(EventsOfKind(1205)[0].object), QStringLiteral("insertNewline:"));
    EXPECT_EQ(EventsOfKind(1)[0].object, nullptr);
    EXPECT_EQ(okClicks.count(), 0); // Return belongs to the field, not to the default button

    gDialogEvents.clear();
    QzOnDialog([](std::int64_t kind, std::int64_t id, std::int64_t window, void* object) {
        RecordDialog(kind, id, window, object);
        if (kind == 1203 || kind == 1205)
            QzEventReply().boolVal = kind == 1205;
    });
    field = qobject_cast<QLineEdit*>(View(5));
    QTest::keyClicks(field, QStringLiteral("x"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(field->text(), QString());
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
    QTest::keyClicks(notes, QStringLiteral("xy"));
    QCoreApplication::sendEvent(notes, &out);
    EXPECT_EQ(Seen({2100, 2101, 2102}), "2100 30 4\n2101 30 4\n2101 30 4\n2102 30 4\n");
    EXPECT_NE(QzTextViewString(30), QStringLiteral("set in code"));
    panel->resize(420, 320);
    panel->move(panel->x() + 17, panel->y() + 5);
    const std::string moved = Seen({10004, 10027});
    EXPECT_NE(moved.find("10004 4 4\n"), std::string::npos) << moved;
    EXPECT_NE(moved.find("10027 4 4\n"), std::string::npos) << moved;

    static bool allowClose;
    allowClose = false;
    QzOnDialog([](std::int64_t kind, std::int64_t id, std::int64_t window, void* object) {
        RecordDialog(kind, id, window, object);
        if (kind == 10031)
            QzEventReply().boolVal = allowClose;
    });
    gDialogEvents.clear();
    panel->close(); // as the window's close box does
    EXPECT_TRUE(panel->isVisible());
    allowClose = true;
    panel->close();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(Seen({10031, 10032}), "10031 4 4\n10031 4 4\n10032 4 4\n");

    QzSetCurrentWindow(9);
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(panel, &activate);
    EXPECT_EQ(Seen({10033, 10035}), "10033 4 4\n10035 4 4\n");
    EXPECT_EQ(EventsOfKind(10033)[0].current, 4);
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
    for (const auto& [menu, item] : {std::pair {2, 1}, {1, 2}, {2, 0}, {0, 0}})
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

int gFires[3];
int gBefore = 0;

template <int N, std::int64_t Result> std::int64_t Count(void*)
{
    ++gFires[N];
    return Result;
}

using TimersTest = UiTest;

// A non-zero low byte stops a repeating timer.
TEST_F(TimersTest, NeedTheDelegateAndStopOnANonZeroLowByteOrAfterOneShot)
{
    gFires[0] = gFires[1] = gFires[2] = 0;
    EXPECT_EQ(QzTimer(Count<2, 0>, true, 0.001), nullptr);
    QzAppDelegate(); // made, not installed
    EXPECT_EQ(QzTimer(Count<2, 0>, true, 0.001), nullptr);
    QzInstallAppDelegate();
    EXPECT_NE(QzTimer(Count<0, 0>, false, 0.001), nullptr);
    QzTimer(Count<1, 0x101>, true, 0.001);
    QzTimer(Count<2, 0>, true, 0.001);
    EXPECT_TRUE(WaitFor([] { return gFires[2] >= 10; }));
    EXPECT_EQ(gFires[0], 1);
    EXPECT_EQ(gFires[1], 1);
}

// An alert "shown" while a repeating 0.2 s timer started at 1000 falls due
// twice, answered by the clock 0.15 s into its fourth period.
int AnswerLate(const QzAlertRequest&)
{
    const std::int64_t held = gQzHeldTimerFires;
    WaitFor([held] { return gQzHeldTimerFires >= held + 2; });
    EXPECT_EQ(gFires[0], gBefore); // no timer fires during a modal alert
    TestClock::SetUptime(1000.75);
    return 0;
}

TEST_F(TimersTest, AHeldTimerFiresOnceAfterTheAlertAndKeepsItsOriginalGrid)
{
    TestClock clock;
    gFires[0] = 0;
    QzInstallAppDelegate();
    auto* timer = static_cast<QTimer*>(QzTimer(Count<0, 0>, true, 0.2));
    ASSERT_TRUE(WaitFor([] { return gFires[0] >= 1; }));
    gBefore = gFires[0];
    {
        const QzHookGuard<QzAlertFn> hook(gQzAlertHook, AnswerLate);
        QzAlertNote("Busy getting today's log.", "Please wait until done.");
    }
    EXPECT_EQ(gFires[0], gBefore);
    // The catch-up fire comes once; the next is due at 1000.8, 50 ms on,
    // and from there the timer runs its full period again.
    ASSERT_TRUE(WaitFor([] { return gFires[0] > gBefore; }));
    EXPECT_EQ(gFires[0], gBefore + 1);
    EXPECT_LE(timer->remainingTime(), 50);
    ASSERT_TRUE(WaitFor([] { return gFires[0] > gBefore + 1; }));
    EXPECT_EQ(timer->interval(), 200);
}

// --- Alerts ---------------------------------------------------------------

// Each alert as "tag style message / informative / buttons".
std::string Shown(const AlertRecorder& alerts)
{
    std::string shown;
    for (const QzAlertRequest& a : alerts.alerts)
        shown += std::to_string(a.tag) + " " + std::to_string(a.style) + " "
            + (a.message + QStringLiteral(" / ") + a.informative + QStringLiteral(" / ")
                + a.buttons.join(QLatin1Char(';')) + QLatin1Char('\n'))
                  .toStdString();
    return shown;
}

TEST_F(EventsTest, AlertsReportTheirButtonToTheDialogHandlerAndANonPositiveTagPreparesOrClosesOne)
{
    AlertRecorder alerts({0, 0, 1, 2});
    const QString message = QStringLiteral("Choose");
    const QStringList titles {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    EXPECT_EQ(QzAlertNote("No Problems Found", ""), 0);
    EXPECT_EQ(QzAlertStop("Help.rtfd", " was not found."), 0);
    EXPECT_EQ(QzAlert(7, 1, &message, nullptr, QStringLiteral("First;Second")), 1001);
    EXPECT_EQ(QzAlert(8, QzAlertStyleOmitted, &message, nullptr, &titles), 1002);
    EXPECT_EQ(Shown(alerts),
        "1 0 No Problems Found /  / \n3 2 Help.rtfd /  was not found. / \n7 1 Choose /  / First;Second\n"
        "8 0 Choose /  / A;B;C\n");
    EXPECT_EQ(Seen({1000}), "1000 1000 1\n1000 1000 3\n1000 1001 7\n1000 1002 8\n");
    for (const DialogEvent& e : gDialogEvents)
        EXPECT_EQ(e.object, nullptr);
    EXPECT_TRUE(gQzAlerts.empty());

    // A non-positive tag prepares an alert, or closes it.
    alerts.alerts.clear();
    const QString first = QStringLiteral("Prepared");
    const QString second = QStringLiteral("Shown later");
    EXPECT_EQ(QzAlert(-5, 2, &first, nullptr, QStringLiteral("Yes;No")), 0);
    EXPECT_TRUE(alerts.alerts.empty());
    ASSERT_EQ(gQzAlerts.size(), 1u);
    // Reused: the new message applies, the buttons and style stay.
    EXPECT_EQ(QzAlert(5, QzAlertStyleOmitted, &second, nullptr, QString()), 1000);
    EXPECT_EQ(Shown(alerts), "5 2 Shown later /  / Yes;No\n");
    QzAlert(-6, QzAlertStyleOmitted, &first, nullptr, QString());
    gDialogEvents.clear();
    EXPECT_EQ(QzAlert(-6, QzAlertStyleOmitted, nullptr, nullptr, QString()), 0);
    EXPECT_EQ(Seen({1000}), "1000 0 6\n");
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
        EXPECT_TRUE(WaitFor([] { return !EventsOfKind(1000).empty(); }));
        EXPECT_EQ(alerts.alerts.size(), 1u);
        EXPECT_EQ(Seen({1000}), "1000 1001 9\n");
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
