#include "runtime/widgets_p.h"
#include "test_support.h"
#include "ui_support.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTest>

namespace {

class WindowsTest : public UiTest {
protected:
    void OpenPanel(std::int64_t tag = 4)
    {
        UseFixtureNib(QStringLiteral("TestPanel"));
        QzWindowOpen(tag, QStringLiteral("TestPanel"), QStringLiteral("Test Panel"));
    }
    QWidget* View(std::int64_t tag, std::int64_t window = 0) { return QzFindView(QzTargetWindow(window), tag); }
    std::string AlertTexts(const AlertRecorder& alerts)
    {
        Drain();
        std::string texts;
        for (const QzAlertRequest& a : alerts.alerts)
            texts += (a.message + QStringLiteral(" / ") + a.informative + QLatin1Char('\n')).toStdString();
        return texts;
    }
};

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

} // namespace
