#include "runtime/widgets_p.h"
#include "ui_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFocusEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

namespace {

class PanelTest : public UiTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(Shown(alerts), "");
        UiTest::TearDown();
    }
    QWidget* OpenPanel(std::int64_t tag = 4)
    {
        UseFixtureNib(QStringLiteral("TestPanel"));
        QzWindowOpen(tag, QStringLiteral("TestPanel"), QStringLiteral("Test Panel"));
        gDialogEvents.clear();
        return QzWindowByTag(tag);
    }
    static QWidget* View(std::int64_t tag, std::int64_t window = 0) { return QzFindView(QzTargetWindow(window), tag); }
    // Widgets as "text[ hidden][ disabled] [x,y ]WxH" joined by " | " (a window: its title, no position), or "none".
    static std::string States(std::initializer_list<const QWidget*> widgets)
    {
        QStringList states;
        for (const QWidget* w : widgets) {
            const QRect g = w ? w->geometry() : QRect();
            states << (!w ? QStringLiteral("none")
                          : (w->isWindow() ? w->windowTitle() : w->property("text").toString())
                        + QLatin1String(w->isVisible() ? "" : " hidden")
                        + QLatin1String(w->isEnabled() ? " " : " disabled ")
                        + (w->isWindow() ? QString() : QStringLiteral("%1,%2 ").arg(g.x()).arg(g.y()))
                        + QStringLiteral("%1x%2").arg(g.width()).arg(g.height()));
        }
        return states.join(QStringLiteral(" | ")).toStdString();
    }
    // The alerts as "tag style message / informative / buttons" lines, once queued ones have run; then forgets them.
    static std::string Shown(AlertRecorder& alerts)
    {
        Drain();
        std::string shown;
        for (const QzAlertRequest& a : std::exchange(alerts.alerts, {}))
            shown += std::to_string(a.tag) + " " + std::to_string(a.style) + " "
                + (a.message + QStringLiteral(" / ") + a.informative + QStringLiteral(" / ")
                    + a.buttons.join(QLatin1Char(';')) + QLatin1Char('\n'))
                      .toStdString();
        return shown;
    }
    // The events of the given kinds as "kind id window" lines, with " *" for an object.
    static std::string Seen(std::initializer_list<std::int64_t> kinds)
    {
        std::string seen;
        for (const DialogEvent& e : gDialogEvents)
            if (std::find(kinds.begin(), kinds.end(), e.kind) != kinds.end())
                seen += std::to_string(e.kind) + " " + std::to_string(e.id) + " " + std::to_string(e.window)
                    + (e.object ? " *\n" : "\n");
        return seen;
    }

    AlertRecorder alerts; // the test's alerts, none unless it looks at them
};
using WindowsTest = PanelTest;
using EventsTest = PanelTest;

// Opening again shows the same window, focus on its first field; an unknown identifier or nib shows nothing but
// sets the current window. Views: depth first in the current window, by live widget value anywhere, else frontmost.
TEST_F(WindowsTest, OpenLoadsANibOnceAndViewsAreFoundByTagOrObjectValue)
{
    UseFixtureNib(QStringLiteral("TestPanel"));
    QzWindowOpen(-4, QStringLiteral("TestPanel")); // no identifier: the nib's window
    QWidget* window = QzWindowByTag(4);
    EXPECT_EQ(States({window, View(50)}), "Test Panel hidden 400x300 | inner hidden 10,25 150x20");
    const QString typed = QStringLiteral("someone@example.com");
    QzTextField(4, QzParamOmitted, &typed, 4, {});
    QzSetCurrentWindow(1);
    QzWindowOpen(4, QStringLiteral("TestPanel"), QStringLiteral("Test Panel"));
    EXPECT_EQ(
        States({QzWindowByTag(4), window->focusWidget()}), "Test Panel 400x300 | someone@example.com 120,10 200x24");
    EXPECT_TRUE(QzWindowByTag(4) == window && View(4) == window->focusWidget()
        && View(10)->property("wndTag").toLongLong() == 4);
    for (const auto& [tag, nib, id] : {std::tuple {6, "TestPanel", "About Quillaby"}, {7, "NoSuchNib", ""}}) {
        QzWindowOpen(tag, QString::fromLatin1(nib), *id != 0 ? QString::fromLatin1(id) : QString());
        EXPECT_EQ(
            std::to_string(QzWindowExists(tag)) + std::to_string(QzCurrentWindowTag()), "0" + std::to_string(tag));
    }
    EXPECT_EQ(gQzNibs.size(), 1u);
    QzWindowSet(2, QStringLiteral("Other"), QzParamOmitted, QzRect {0, 0, 200, 100});
    const QString text = QStringLiteral("in window 2");
    QzTextField(7, QzParamOmitted, &text, 0, {});
    QWidget* field = View(7, 2);
    const auto value = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(field));
    ASSERT_GE(value, 1000001);
    QzSetCurrentWindow(4); // with a view 7 of its own
    EXPECT_EQ(States({View(7, 4)}) + "/" + QzTextFieldString(value).toStdString(), " 10,100 200x20/in window 2");
    const QString changed = QStringLiteral("changed");
    QzTextField(value, QzParamOmitted, &changed);
    // A view is no window; a window is found by its object value.
    const auto other = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(QzWindowByTag(2)));
    EXPECT_TRUE(qobject_cast<QLineEdit*>(field)->text() == changed && QzWindowByTag(value) == nullptr
        && QzWindowByTag(other) == QzWindowByTag(2));
    delete field;
    QzTextFieldString(value);
    EXPECT_EQ(Shown(alerts).find("0 0 Tag error. / Can't find view " + std::to_string(value) + " in window "), 0u);
    QzTextViewSetText(77, QStringLiteral("nobody home")); // quiet where there is no such view
    EXPECT_EQ(QzTextViewString(77), QString());
    QzSetCurrentWindow(33);
    QzWindowByTag(4)->raise();
    QzWindowByTag(4)->activateWindow();
    QzWindowByTag(4)->setProperty(kQzOrderProperty, QVariant::fromValue(std::int64_t(1000)));
    EXPECT_EQ(QzTargetWindow(0), QzWindowByTag(4));
}

// Menus "First" (no tag), "Tagged" (tag 7; a separator at item 1), "Third" (no tag): a nib loads once, its bar joins
// window 1. Only its buttons end a sheet: not Escape, not the window manager; closing in code asks nothing.
TEST_F(WindowsTest, MenusReportTheirTagElseTheirPlaceAndSheetsBeginOnlyBetweenTwoWindowsAndEnd)
{
    QzWindowSet(1, QStringLiteral("Main"), QzParamOmitted, QzRect {0, 0, 605, 540});
    static std::vector<std::pair<std::int64_t, std::int64_t>> choices;
    choices.clear();
    QzOnMenu([](std::int64_t menu, std::int64_t item) { choices.emplace_back(menu, item); });
    UseFixtureNib(QStringLiteral("TaggedMenu"));
    QzLoadMenuNib(QStringLiteral("TaggedMenu"));
    QzLoadMenuNib(QStringLiteral("TaggedMenu"));
    ASSERT_EQ(gQzNibs.size(), 1u);
    auto* bar = qobject_cast<QMenuBar*>(gQzMenuBar.data());
    ASSERT_TRUE(bar && bar->window() == QzWindowByTag(1));
    EXPECT_EQ(States({bar->window()}), "Main 605x559");
    for (const auto& [menu, item] : {std::pair {2, 1}, {1, 2}, {2, 0}, {0, 0}})
        bar->actions().at(menu)->menu()->actions().at(item)->trigger();
    EXPECT_EQ(choices, (std::vector<std::pair<std::int64_t, std::int64_t>> {{2, 1}, {7, 2}, {2, 0}, {0, 0}}));
    QWidget* sheet = OpenPanel(-4);
    QWidget* main = QzWindowByTag(1);
    for (const auto& [window, shown] : {std::pair {4, 4}, {4, -4}, {1, 9}, {1, 4}, {1, 4}})
        QzSheetBegin(window, shown);
    EXPECT_TRUE(sheet->isVisible() && sheet->parentWidget() == main && sheet->windowModality() == Qt::WindowModal);
    // The sheet's views are not the parent's.
    EXPECT_TRUE(EventsOfKind(10001).at(0).current == 1 && QzFindView(main, 10) == nullptr);
    QTest::keyClick(QzFindView(sheet, 5), Qt::Key_Escape);
    sheet->close();
    EXPECT_TRUE(sheet->isVisible());
    QzSheetEnd(1, 4);
    QzWindowClose(4);
    EXPECT_TRUE(!sheet->isVisible() && !EventsOfKind(10032).empty());
    EXPECT_EQ(Seen({10001, 10002, 10031}), "10001 1 1 *\n10002 1 1 *\n");
}

// Saved control values keyed by title or in a dictionary; states and a title with an ampersand; a missing image
// keeps the one shown. Addressing errors are shown after the current event and leave everything as it was.
TEST_F(WindowsTest, ButtonsRestoreSetReadRemoveAndAddressingErrorsAreShownAfterTheEvent)
{
    EXPECT_EQ(QzTextFieldString(8), QString()); // no window at all
    QzScrollView(2, QzParamOmitted, 0, 0, QzRect {10, 155, 585, 325});
    const QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    {
        QSettings settings(
            QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillaby"), QStringLiteral("Quillaby"));
        settings.setValue(QStringLiteral("Test Panel/Button3State"), 1);
        settings.setValue(QStringLiteral("Test Panel/TextField4StringValue"), QStringLiteral("restored@example.com"));
        settings.setValue(QStringLiteral("Other Key"),
            QVariantMap {{QStringLiteral("TextField5StringValue"), QStringLiteral("from a dictionary")}});
    }
    OpenPanel(4);
    EXPECT_EQ(QzButtonState(42), 0);
    QzButtonSetState(7, 1);
    QzTextField(10, QzParamOmitted, nullptr, 0, {});
    QzTextField(8, QzParamOmitted, nullptr, 9, {});
    EXPECT_TRUE(alerts.alerts.empty());
    EXPECT_EQ(Shown(alerts),
        "0 0 Error. / Can't find any windows. / OK;Quit\n"
        "0 0 Window error. / Window 0 does not exist. / OK;Quit\n"
        "0 0 Tag error. / Can't find view 42 in window 4. / OK;Quit\n"
        "0 0 Class error. / View 7 (QLabel), in window 4, cannot respond to QAbstractButton messages. / OK;Quit\n"
        "0 0 Class error. / View 10 (QPushButton), in window 4, expected QLineEdit class. / OK;Quit\n"
        "0 0 Window error. / Window 9 does not exist. / OK;Quit\n");
    EXPECT_EQ(QzButtonState(10), 0); // untouched by the failed calls
    const auto values = [] {
        return std::to_string(QzButtonState(3))
            + (QzTextFieldString(4) + QLatin1Char('|') + QzTextFieldString(5)).toStdString();
    };
    QzWindowRestore(4);
    EXPECT_EQ(values(), "1restored@example.com|");
    QzWindowRestore(4, QStringLiteral("Other Key"));
    QzWindowRestore(4, QStringLiteral("Nothing Saved"));
    EXPECT_EQ(values(), "1restored@example.com|from a dictionary");
    QImage icon(128, 128, QImage::Format_ARGB32);
    icon.fill(Qt::blue);
    ASSERT_TRUE(icon.save(Resources() + QStringLiteral("/Quillaby Icon.png")));
    QzImageViewSetImage(99, QStringLiteral("Quillaby Icon.png"));
    QzImageViewSetImage(99, QStringLiteral("Missing.png"));
    const QPixmap image = qobject_cast<QLabel*>(View(99))->pixmap();
    EXPECT_TRUE(!image.isNull() && image.width() <= 64);
    for (const auto& [tag, state, checked] : {std::tuple {3, 1, true}, {10, 1, true}, {3, -1, true}, {10, 0, false}}) {
        QzButtonSetState(tag, state);
        EXPECT_EQ(QzButtonState(tag) * 2 + qobject_cast<QAbstractButton*>(View(tag))->isChecked(), state * 2 + checked);
    }
    QzButtonSetTitle(10, QStringLiteral("ON & up"));
    EXPECT_EQ(QzTextFieldString(10), QStringLiteral("ON & up"));
    QzButtonRemove(10);
    QzButtonRemove(10);
    EXPECT_EQ(Shown(alerts), "0 0 Tag error. / Can't find view 10 in window 4. / OK;Quit\n");
    alerts.answers = {1}; // Quit in an addressing alert ends the program
    EXPECT_EXIT(
        {
            QzButtonRemove(10);
            Drain();
        },
        ::testing::ExitedWithCode(0), "");
}

// A control keeps its own action, a push button a state set in code. Return twice in field 4 ends editing once; in
// field 5 a handler refuses to end editing and takes Return itself.
TEST_F(EventsTest, ClicksEditingEventsAndWindowNotificationsAndTheRepliesThatRefuseThem)
{
    OpenPanel(4);
    QzButtonSetState(1, 2); // a push button keeps the state it is given
    EXPECT_EQ(QzButtonState(1), 2);
    const QString sent = QStringLiteral("Notification Email Was Sent");
    QzTextField(7, QzParamOmitted, &sent, 4, {});
    QTest::mouseClick(View(20, 4), Qt::LeftButton);
    EXPECT_EQ(View(7, 4)->property("text").toString(), QString());
    QSignalSpy okClicks(qobject_cast<QAbstractButton*>(View(1)), &QAbstractButton::clicked);
    const std::string kinds[] = {"1203 4 4 *\n1200 4 4 *\n1201 4 4 *\n1201 4 4 *\n1205 4 4 *\n1204 4 4 *\n"
                                 "1 4 4\n1202 4 4 *\n1205 4 4 *\n1 4 4\n",
        "1203 5 4 *\n1203 5 4 *\n1205 5 4 *\n1205 5 4 *\n"};
    for (const std::int64_t tag : {4, 5}) {
        auto* field = qobject_cast<QLineEdit*>(View(tag));
        gDialogEvents.clear();
        QTest::keyClicks(field, QStringLiteral("ab"));
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(Seen({1, 1200, 1201, 1202, 1203, 1204, 1205}), kinds[tag - 4]);
        EXPECT_EQ(*static_cast<QString*>(EventsOfKind(1205).at(0).object), QStringLiteral("insertNewline:"));
        gDialogReplies = {{1203, false}, {1205, true}};
    }
    // Return belongs to the field, not to the default button.
    EXPECT_EQ(QzTextFieldString(4) + QLatin1Char('|') + QzTextFieldString(5) + QString::number(okClicks.count()),
        QStringLiteral("ab|0"));
    // Text view editing ends on leaving it only when edited; a close box asks whether to close.
    QWidget* panel = QzWindowByTag(4);
    gDialogEvents.clear();
    gDialogReplies.clear();
    auto* notes = qobject_cast<QPlainTextEdit*>(View(30));
    QzTextViewSetText(30, QStringLiteral("set in code"));
    QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(notes, &out);
    QTest::keyClicks(notes, QStringLiteral("xy"));
    QCoreApplication::sendEvent(notes, &out);
    EXPECT_EQ(Seen({2100, 2101, 2102}), "2100 30 4\n2101 30 4\n2101 30 4\n2102 30 4\n");
    EXPECT_NE(QzTextViewString(30), QStringLiteral("set in code"));
    panel->resize(420, 320);
    panel->move(panel->x() + 17, panel->y() + 5);
    const std::string moved = Seen({10004, 10027});
    EXPECT_TRUE(moved.find("10004 4 4 *\n") != std::string::npos && moved.find("10027 4 4 *\n") != std::string::npos)
        << moved;
    gDialogEvents.clear();
    for (const bool allow : {false, true}) {
        gDialogReplies[10031] = allow;
        panel->close();
        EXPECT_EQ(panel->isVisible(), !allow);
    }
    QzSetCurrentWindow(9);
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(panel, &activate);
    EXPECT_EQ(Seen({10031, 10032, 10033, 10035}) + std::to_string(EventsOfKind(10033)[0].current),
        "10031 4 4 *\n10031 4 4 *\n10032 4 4 *\n10033 4 4 *\n10035 4 4 *\n4");
}

int gFires[3];
int gBefore = 0;

template <int N, std::int64_t Result> std::int64_t Count(void*)
{
    ++gFires[N];
    return Result;
}

using TimersTest = UiTest;

// An alert "shown" while a repeating 0.2 s timer started at 1000 falls due twice, answered 0.15 s into its 4th period.
int AnswerLate(const QzAlertRequest&)
{
    const std::int64_t held = gQzHeldTimerFires;
    WaitFor([held] { return gQzHeldTimerFires >= held + 2; });
    EXPECT_EQ(gFires[0], gBefore); // no timer fires during a modal alert
    TestClock::SetUptime(1000.75);
    return 0;
}

// No timer without an installed delegate; a non-zero low byte stops a repeating one. A held timer's catch-up fire
// comes once, the next at 1000.8, then the full period again. The run loop runs once: a second call returns at once.
TEST_F(TimersTest, NeedTheDelegateStopOnANonZeroLowByteAndKeepTheirGridAfterAnAlert)
{
    static bool returnedInside = false;
    QTimer::singleShot(0, [] {
        QzRunLoop();
        returnedInside = true;
        QCoreApplication::quit();
    });
    QzRunLoop();
    EXPECT_TRUE(returnedInside && gQzRunLoopEntered);
    QzRunLoop();
    gFires[0] = gFires[1] = gFires[2] = 0;
    EXPECT_EQ(QzTimer(Count<2, 0>, true, 0.001), nullptr);
    QzAppDelegate();
    EXPECT_EQ(QzTimer(Count<2, 0>, true, 0.001), nullptr);
    QzInstallAppDelegate();
    EXPECT_NE(QzTimer(Count<0, 0>, false, 0.001), nullptr);
    QzTimer(Count<1, 0x101>, true, 0.001);
    auto* fast = static_cast<QTimer*>(QzTimer(Count<2, 0>, true, 0.001));
    EXPECT_TRUE(WaitFor([] { return gFires[2] >= 10; }));
    EXPECT_EQ(gFires[0] * 10 + gFires[1], 11);
    fast->stop();
    TestClock clock;
    gFires[0] = 0;
    auto* timer = static_cast<QTimer*>(QzTimer(Count<0, 0>, true, 0.2));
    ASSERT_TRUE(WaitFor([] { return gFires[0] >= 1; }));
    gBefore = gFires[0];
    {
        const QzHookGuard<QzAlertFn> hook(gQzAlertHook, AnswerLate);
        QzAlertNote("Busy getting today's log.", "Please wait until done.");
    }
    EXPECT_EQ(gFires[0], gBefore);
    ASSERT_TRUE(WaitFor([] { return gFires[0] > gBefore; }));
    EXPECT_TRUE(gFires[0] == gBefore + 1 && timer->remainingTime() <= 50) << timer->remainingTime();
    ASSERT_TRUE(WaitFor([] { return gFires[0] > gBefore + 1; }));
    EXPECT_EQ(timer->interval(), 200);
}

// A non-positive tag prepares an alert (reused later with a new message, keeping buttons and style) or closes it.
TEST_F(EventsTest, AlertsReportTheirButtonToTheDialogHandlerAndANonPositiveTagPreparesOrClosesOne)
{
    alerts.answers = {0, 0, 1, 2};
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
    const QString first = QStringLiteral("Prepared");
    const QString second = QStringLiteral("Shown later");
    EXPECT_TRUE(QzAlert(-5, 2, &first, nullptr, QStringLiteral("Yes;No")) == 0 && gQzAlerts.size() == 1);
    EXPECT_EQ(QzAlert(5, QzAlertStyleOmitted, &second, nullptr, QString()), 1000);
    EXPECT_EQ(Shown(alerts), "5 2 Shown later /  / Yes;No\n");
    QzAlert(-6, QzAlertStyleOmitted, &first, nullptr, QString());
    gDialogEvents.clear();
    EXPECT_EQ(QzAlert(-6, QzAlertStyleOmitted, nullptr, nullptr, QString()), 0);
    EXPECT_EQ(Seen({1000}) + std::to_string(gQzAlerts.size()), "1000 0 6\n0");
    // A sheet's alert returns at once and reports later: recorded first, then from a real window-modal box.
    QzWindowSet(1, QStringLiteral("Main"), QzParamOmitted, QzRect {0, 0, 300, 200});
    const QString sheetMessage = QStringLiteral("Sheet");
    alerts.answers = {1};
    for (const bool real : {false, true}) {
        const QzHookGuard<QzAlertFn> hook(gQzAlertHook, real ? QzAlertPresent : gQzAlertHook);
        gDialogEvents.clear();
        EXPECT_TRUE(
            QzAlert(9, 0, &sheetMessage, nullptr, QStringLiteral("OK;Cancel"), 1) == 0 && alerts.alerts.empty());
        if (real) {
            ASSERT_EQ(gQzAlerts.size(), 1u);
            auto* box = qobject_cast<QDialog*>(gQzAlerts[0].box.data());
            ASSERT_TRUE(box && box->windowModality() == Qt::WindowModal && box->parentWidget() == QzWindowByTag(1));
            box->reject();
        }
        EXPECT_TRUE(WaitFor([] { return !EventsOfKind(1000).empty(); }));
        EXPECT_EQ(Seen({1000}) + Shown(alerts), real ? "1000 1000 9\n" : "1000 1001 9\n9 0 Sheet /  / OK;Cancel\n");
        EXPECT_TRUE(gQzAlerts.empty());
    }
    // The real box shows the request's icon, texts and buttons (the default last), and answers with the button pressed
    // (none: the box is closed).
    const std::tuple<int, QStringList, QString, QString> rows[] = {
        {0, {}, QStringLiteral("OK"), QStringLiteral("2 Disk full|Free some space|OK >OK 0")},
        {1, {QStringLiteral("Yes"), QStringLiteral("No")}, QStringLiteral("No"),
            QStringLiteral("1 Disk full|Free some space|Yes No >Yes 1")},
        {2, {QStringLiteral("Quit"), QStringLiteral("Go on"), QStringLiteral("Crash")}, {},
            QStringLiteral("3 Disk full|Free some space|Quit Go on Crash >Quit 0")},
    };
    for (const auto& [style, buttons, press, shown] : rows) {
        QString seen;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            seen = QString::number(box->icon()) + u' ' + box->text() + u'|' + box->informativeText() + u'|';
            QAbstractButton* pressed = nullptr;
            for (QAbstractButton* button : box->buttons()) {
                seen += button->text() + u' ';
                if (button->text() == press)
                    pressed = button;
            }
            seen += u'>' + box->defaultButton()->text();
            pressed ? pressed->click() : box->reject();
        });
        const int answer = QzAlertPresent(
            {0, style, QStringLiteral("Disk full"), QStringLiteral("Free some space"), buttons, false});
        EXPECT_EQ(seen + u' ' + QString::number(answer), shown);
    }
}

} // namespace
