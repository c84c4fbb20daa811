#include "runtime/widgets_p.h"
#include "test_support.h"
#include "ui_support.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDialog>
#include <QFocusEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

class PanelTest : public UiTest {
protected:
    QWidget* OpenPanel(std::int64_t tag = 4)
    {
        UseFixtureNib(QStringLiteral("TestPanel"));
        QzWindowOpen(tag, QStringLiteral("TestPanel"), QStringLiteral("Test Panel"));
        gDialogEvents.clear();
        return QzWindowByTag(tag);
    }
    QWidget* View(std::int64_t tag, std::int64_t window = 0) { return QzFindView(QzTargetWindow(window), tag); }
    // The alerts as "message / informative" lines, once queued ones have run.
    static std::string AlertTexts(const AlertRecorder& alerts)
    {
        Drain();
        std::string texts;
        for (const QzAlertRequest& a : alerts.alerts)
            texts += (a.message + QStringLiteral(" / ") + a.informative + QLatin1Char('\n')).toStdString();
        return texts;
    }
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
using WindowsTest = PanelTest;
using EventsTest = PanelTest;

// The report area sits where the Mac frame puts it in a 540-high content
// view, menu bar or not, and the text view fills its scroll view.
TEST_F(WindowsTest, MainWindowLoadsWithItsControlsWhereTheMacFramePutsThem)
{
    UseAppResource(QStringLiteral("MainWindow.ui"));
    UseAppResource(QStringLiteral("MainMenu.ui"));
    QzLoadMenuNib(QStringLiteral("MainMenu"));
    QzWindowOpen(1, QStringLiteral("MainWindow"), QStringLiteral("Quillaby"));
    QzWindowCenter(1);
    QzScrollView(2, QzParamOmitted, 0, 0, QzRect {10, 155, 585, 325});
    QzTextView(1, 2, 0, QzRect {10, 160, 570, 325});
    QzViewSetAutoresizing(2, 32);
    QWidget* window = QzWindowByTag(1);
    ASSERT_TRUE(window && window->isVisible());
    EXPECT_EQ(qobject_cast<QAbstractButton*>(View(6))->text(), QStringLiteral("Current Log"));
    EXPECT_EQ(QzContentView(window)->size(), QSize(605, 540));
    EXPECT_EQ(View(2)->geometry(), QRect(10, 60, 585, 325));
    EXPECT_EQ(View(1)->parentWidget(), View(2));
#ifndef Q_OS_MACOS
    EXPECT_EQ(qobject_cast<QMainWindow*>(window)->menuWidget()->actions().size(), 2);
#endif
}

TEST_F(WindowsTest, OpenLoadsANibOnceAndShowsTheSameWindowOrNothingForAnUnknownOne)
{
    AlertRecorder alerts;
    UseFixtureNib(QStringLiteral("TestPanel"));
    QzWindowOpen(-5, QStringLiteral("TestPanel")); // no identifier: the nib's window
    QWidget* window = QzWindowByTag(5);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isVisible());
    const QString typed = QStringLiteral("someone@example.com");
    QzTextField(4, QzParamOmitted, &typed, 5, {});
    QzSetCurrentWindow(1);
    QzWindowOpen(5, QStringLiteral("TestPanel"), QStringLiteral("Test Panel"));
    EXPECT_EQ(QzWindowByTag(5), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(QzTextFieldString(4), typed);
    // Adoption: the views know their window, and focus goes to the first field.
    EXPECT_EQ(View(10)->property("wndTag").toLongLong(), 5);
    EXPECT_EQ(window->focusWidget(), View(4));
    // An unknown identifier or nib shows nothing and still sets the current window.
    QzWindowOpen(6, QStringLiteral("TestPanel"), QStringLiteral("About Quillaby"));
    EXPECT_FALSE(QzWindowExists(6));
    EXPECT_EQ(QzCurrentWindowTag(), 6);
    QzWindowOpen(7, QStringLiteral("NoSuchNib"), QString());
    EXPECT_FALSE(QzWindowExists(7));
    EXPECT_EQ(QzCurrentWindowTag(), 7);
    EXPECT_EQ(gQzNibs.size(), 1u);
    EXPECT_EQ(AlertTexts(alerts), "");
}

TEST_F(WindowsTest, WindowSetMakesWindowsAndTextFieldsAndViewsAreMadeInThem)
{
    AlertRecorder alerts;
    QzWindowSet(-3, QString(), QzParamOmitted, QzRect {100, 100, 300, 200});
    QWidget* window = QzWindowByTag(3);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Untitled"));
    EXPECT_EQ(window->property("identifier").toString(), QStringLiteral("3"));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(QzCurrentWindowTag(), 3);
    QzSetCurrentWindow(0);
    QzWindowSet(3, QStringLiteral("Renamed"), QzParamOmitted, QzRect {50, 60, 320, 240});
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->size(), QSize(320, 240));
    EXPECT_EQ(QzCurrentWindowTag(), 3);
    QzWindowSet(-3);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Renamed"));

    // A text field made where there is none, hidden by a negative tag.
    QzWindowSet(-1, QStringLiteral("Quillaby"), QzParamOmitted, QzRect {0, 0, 605, 540});
    const QString text = QStringLiteral("Backup failed");
    QzTextField(8, QzParamOmitted, &text, 1, QzRect {10, 120, 585, 22});
    auto* field = qobject_cast<QLineEdit*>(View(8, 1));
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->geometry(), QRect(10, 540 - 120 - 22, 585, 22));
    QzTextField(-8, QzParamOmitted, nullptr, 1, {});
    EXPECT_EQ(View(8, 1), field);
    EXPECT_FALSE(QzViewVisible(8, 1));
    EXPECT_EQ(QzTextFieldString(8), text);
    QzTextField(8, 0, nullptr, 0, {});
    EXPECT_TRUE(QzViewVisible(8, 1));
    EXPECT_FALSE(field->isEnabled());

    // A text view keeps the exact text; before it exists, setting is quiet.
    QzTextViewSetText(1, QStringLiteral("nobody home"));
    EXPECT_EQ(QzTextViewString(1), QString());
    QzScrollView(2, QzParamOmitted, 0, 1, QzRect {10, 155, 585, 325});
    QzTextView(1, 2, 1, QzRect {10, 160, 570, 325});
    const QString report = QStringLiteral("Line one\r\nLine two\r\n");
    QzTextViewSetText(1, report);
    EXPECT_EQ(QzTextViewString(1), report);
    auto* view = qobject_cast<QPlainTextEdit*>(View(1, 1));
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isReadOnly());
    EXPECT_EQ(view->document()->blockCount(), 3);
    EXPECT_EQ(AlertTexts(alerts), "");
}

TEST_F(WindowsTest, AddressingErrorsAreShownAfterTheCurrentEvent)
{
    AlertRecorder alerts;
    EXPECT_EQ(QzTextFieldString(8), QString()); // no window at all
    QzScrollView(2, QzParamOmitted, 0, 0, QzRect {10, 155, 585, 325});
    OpenPanel(1);
    EXPECT_EQ(QzButtonState(42), 0);
    QzButtonSetState(7, 1);
    QzTextField(10, QzParamOmitted, nullptr, 0, {});
    QzTextField(8, QzParamOmitted, nullptr, 9, {});
    EXPECT_TRUE(alerts.alerts.empty());
    EXPECT_EQ(AlertTexts(alerts),
        "Error. / Can't find any windows.\n"
        "Window error. / Window 0 does not exist.\n"
        "Tag error. / Can't find view 42 in window 1.\n"
        "Class error. / View 7 (QLabel), in window 1, cannot respond to QAbstractButton messages.\n"
        "Class error. / View 10 (QPushButton), in window 1, expected QLineEdit class.\n"
        "Window error. / Window 9 does not exist.\n");
    EXPECT_EQ(alerts.alerts[2].buttons, (QStringList {QStringLiteral("OK"), QStringLiteral("Quit")}));
    EXPECT_EQ(alerts.alerts[2].style, 0);
    EXPECT_EQ(QzButtonState(10), 0); // untouched by the failed calls
}

TEST(WindowsDeathTest, QuitInAnAddressingAlertEndsTheProgram)
{
    EXPECT_EXIT(
        {
            QzResetWindowState();
            AlertRecorder alerts({1});
            QzButtonState(3);
            Drain();
            std::_Exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(WindowsTest, LookupIsByTagInTheCurrentWindowElseTheFrontmostOrByObjectValueInAny)
{
    AlertRecorder alerts;
    OpenPanel(4);
    EXPECT_EQ(qobject_cast<QLabel*>(View(50))->text(), QStringLiteral("inner")); // depth first
    QzWindowSet(2, QStringLiteral("Other"), QzParamOmitted, QzRect {0, 0, 200, 100});
    const QString text = QStringLiteral("in window 2");
    QzTextField(7, QzParamOmitted, &text, 0, {});
    QWidget* field = View(7, 2);
    const auto value = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(field));
    ASSERT_GE(value, 1000001);
    QzSetCurrentWindow(4); // with a view 7 of its own
    EXPECT_EQ(qobject_cast<QLabel*>(View(7, 4))->text(), QString());
    EXPECT_EQ(QzTextFieldString(value), text);
    const QString changed = QStringLiteral("changed");
    QzTextField(value, QzParamOmitted, &changed);
    EXPECT_EQ(qobject_cast<QLineEdit*>(field)->text(), changed);
    EXPECT_EQ(QzWindowByTag(value), nullptr); // a view is no window
    const auto window = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(QzWindowByTag(2)));
    EXPECT_EQ(QzWindowByTag(window), QzWindowByTag(2));
    EXPECT_EQ(AlertTexts(alerts), "");
    // A value that is no live widget is an unknown tag.
    delete field;
    QzTextFieldString(value);
    Drain();
    EXPECT_EQ(alerts.alerts.size(), 1u);

    // A current window that does not exist: the frontmost window is used.
    QzSetCurrentWindow(33);
    QzWindowByTag(4)->raise();
    QzWindowByTag(4)->activateWindow();
    QzWindowByTag(4)->setProperty(kQzOrderProperty, QVariant::fromValue(std::int64_t(1000)));
    EXPECT_EQ(QzTargetWindow(0), QzWindowByTag(4));
}

TEST_F(WindowsTest, SheetsBeginOnlyBetweenTwoExistingWindowsAndEnd)
{
    QzWindowSet(1, QStringLiteral("Main"), QzParamOmitted, QzRect {0, 0, 605, 540});
    OpenPanel(-4);
    QWidget* main = QzWindowByTag(1);
    QWidget* sheet = QzWindowByTag(4);
    QzSheetBegin(4, 4);
    QzSheetBegin(4, -4);
    QzSheetBegin(1, 9);
    EXPECT_FALSE(sheet->isVisible());
    gDialogEvents.clear();
    QzSheetBegin(1, 4);
    QzSheetBegin(1, 4); // already shown: nothing more
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->parentWidget(), main);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    ASSERT_EQ(EventsOfKind(10001).size(), 1u);
    EXPECT_EQ(EventsOfKind(10001)[0].current, 1);
    EXPECT_EQ(QzFindView(main, 10), nullptr); // the sheet's views are not the parent's
    // Only its buttons end a sheet: not Escape, not the window manager.
    QTest::keyClick(QzFindView(sheet, 5), Qt::Key_Escape);
    sheet->close();
    EXPECT_TRUE(sheet->isVisible());
    QzSheetEnd(1, 4);
    QzWindowClose(4);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(EventsOfKind(10002).size(), 1u);
    EXPECT_EQ(EventsOfKind(10031).size(), 0u); // closing in code asks nothing
    EXPECT_GE(EventsOfKind(10032).size(), 1u);
    QzSheetBegin(1, 4); // and again, as the application does on the next opening
    EXPECT_TRUE(sheet->isVisible());
}

TEST_F(WindowsTest, AutoresizingMasksFollowTheMacRules)
{
    QzWindowSet(1, QStringLiteral("Resizable"), QzParamOmitted, QzRect {0, 0, 400, 300});
    QzScrollView(2, QzParamOmitted, 0, 1, QzRect {10, 100, 380, 150});
    QzScrollView(3, QzParamOmitted, 0, 1, QzRect {10, 10, 100, 50});
    QzButton(4, QzParamOmitted, QzParamOmitted, nullptr, QzParamOmitted, QzParamOmitted, QzRect {10, 10, 80, 30}, 1);
    QzViewSetAutoresizing(2, 32); // top margin flexible: keeps its distance from the bottom
    QzViewSetAutoresizing(3, 18); // width and height flexible
    const QRect fixed = View(4)->geometry(); // no mask: Qt's top-left anchoring
    QzWindowByTag(1)->resize(500, 400);
    EXPECT_EQ(View(2)->geometry(), QRect(10, 400 - 100 - 150, 380, 150));
    EXPECT_EQ(View(3)->geometry(), QRect(10, 400 - 10 - 150, 200, 150));
    EXPECT_EQ(View(4)->geometry(), fixed);
}

TEST_F(WindowsTest, ButtonsSetReadRemoveAndColourAndImagesComeFromTheResources)
{
    OpenPanel(4);
    QImage icon(128, 128, QImage::Format_ARGB32);
    icon.fill(Qt::blue);
    ASSERT_TRUE(icon.save(Resources() + QStringLiteral("/Quillaby Icon.png")));
    QzImageViewSetImage(99, QStringLiteral("Quillaby Icon.png"));
    QzImageViewSetImage(99, QStringLiteral("Missing.png")); // keeps the image
    const QPixmap image = qobject_cast<QLabel*>(View(99))->pixmap();
    EXPECT_TRUE(!image.isNull() && image.width() <= 64);

    // Check box 3 and on/off button 10: state, then a title and a colour.
    for (const auto& [tag, state, checked] : {std::tuple {3, 1, true}, {10, 1, true}, {3, -1, true}, {10, 0, false}}) {
        QzButtonSetState(tag, state);
        EXPECT_EQ(QzButtonState(tag), state) << tag;
        EXPECT_EQ(qobject_cast<QAbstractButton*>(View(tag))->isChecked(), checked) << tag;
    }
    QzButtonSetTitle(10, QStringLiteral("ON & up"));
    EXPECT_EQ(QzTextFieldString(10), QStringLiteral("ON & up"));
    for (const auto& [colour, shown] : {std::pair {QzColorGreen(), Qt::green}, {QzColorRed(), Qt::red}}) {
        QzButtonTitleColor(10, colour);
        EXPECT_EQ(View(10)->palette().color(QPalette::ButtonText), QColor(shown));
    }
    QzButton(-20); // hidden by a negative tag with everything else omitted
    EXPECT_FALSE(QzViewVisible(20));

    AlertRecorder alerts;
    QzButtonRemove(10);
    EXPECT_EQ(View(10), nullptr);
    QzButtonRemove(10);
    EXPECT_EQ(AlertTexts(alerts), "Tag error. / Can't find view 10 in window 4.\n");
}

TEST_F(WindowsTest, RestoreReadsSavedControlValuesKeyedByTitle)
{
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
    QzWindowRestore(4);
    EXPECT_EQ(QzButtonState(3), 1);
    EXPECT_EQ(QzTextFieldString(4), QStringLiteral("restored@example.com"));
    EXPECT_EQ(QzTextFieldString(5), QString());
    QzWindowRestore(4, QStringLiteral("Other Key"));
    QzWindowRestore(4, QStringLiteral("Nothing Saved"));
    EXPECT_EQ(QzTextFieldString(5), QStringLiteral("from a dictionary"));
    EXPECT_EQ(QzTextFieldString(4), QStringLiteral("restored@example.com"));
}

// --- Events -------------------------------------------------------------

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
