// The program on the Linux desktop: what the buttons open through the simulated Mac's `open`, the help
// window, the keys of the sheets and the main window that grows, with the bundle's resources on the
// offscreen platform.

#include "../notify/notify_support.h"
#include "runtime/ui_support.h"

#include "app/dialog.h"
#include "app/mainwindow.h"
#include "app/menu.h"
#include "app/sheets.h"
#include "app/state.h"
#include "monitor/state.h"
#include "platform/url_opener.h"
#include "runtime/widgets_p.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDirIterator>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>

namespace {

class Desktop : public UiTest {
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        for (QDirIterator files(QStringLiteral(QZ_BUNDLE_DIR "/Contents/Resources"), QDir::Files); files.hasNext();)
            UseAppResource(QFileInfo(files.next()).fileName());
        ResetNotifyState();
        gEmailWindowBuilt = gQuitWindowBuilt = gAboutWindowBuilt = gMainWindowBuilt = 0;
        gTodayPipeOpen = gYesterdayPipeOpen = gMenuPending = 0;
        gOpenPanel = 0;
        QzInstallAppDelegate();
        QzOnDialog(DoDialog);
        QzOnMenu(MenuCallback);
        ShowMainWindow();
        BuildReportArea();
        LoadSettings();
    }
    static QWidget* View(std::int64_t window, std::int64_t tag) { return QzFindView(QzWindowByTag(window), tag); }
    // The keyboard is back in the main window.
    static bool FocusInMainWindow()
    {
        return QApplication::activeWindow() == QzWindowByTag(1) && QApplication::focusWidget()
            && QApplication::focusWidget()->window() == QzWindowByTag(1);
    }

    Sandbox sandbox;
};

// Each Mac item opens its Linux counterpart when one is on PATH; without one, an alert names what `open` looked
// for. PATH holds the stubs and the stand-ins alone, so that nothing installed here takes part.
TEST_F(Desktop, OpenMapsMacItemsToLinuxCounterpartsOrSaysWhatItLookedFor)
{
    const QzHookGuard<QzOpenUrlFn> opener(gQzOpenUrlHook, StandInOpenURL);
    setenv("PATH", (sandbox.bin() + QStringLiteral(":" QZ_STANDIN_DIR)).toUtf8().constData(), 1);
    const std::string diskUtility = "The file /Applications/Utilities/Disk Utility.app does not exist.\nOn this "
                                    "computer it opens GNOME Disks (gnome-disks) or KDE Partition Manager "
                                    "(partitionmanager); none of them is installed.";
    const std::string noXdgOpen = "\nOn this computer xdg-open opens it, and it is not installed (Debian's package "
                                  "xdg-utils).";
    const std::string upgrade = "https://fernhollow.software/quillaby/upgrade";
    struct Case {
        const char* stub; // installed before the click, empty for none
        std::int64_t tag; // a main window button, or 0 for the menu's upgrade page
        std::string seen; // what the stub was given, or the alert
    };
    const Case cases[] = {{"", 12, "Unable to open Disk Utility.app / " + diskUtility},
        {"partitionmanager", 12, "partitionmanager"},
        {"", 13,
            "Unable to open TimeMachine.prefPane / The file /System/Library/PreferencePanes/TimeMachine.prefPane does "
            "not exist.\nOn this computer it opens the desktop's backup tool: Deja Dup (deja-dup), Back In Time "
            "(backintime-qt) or Timeshift (timeshift-launcher); none of them is installed."},
        {"deja-dup", 5, "deja-dup"},
        {"", 0, "Unable to open " + upgrade + " / No application knows how to open URL " + upgrade + "." + noXdgOpen},
        {"xdg-open", 0, "xdg-open " + upgrade}};
    sandbox.Stub(QStringLiteral("tmutil"), "true");
    const QString given = sandbox.path() + QStringLiteral("/given");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seen);
        if (*c.stub)
            sandbox.Stub(QString::fromLatin1(c.stub), "echo \"${0##*/}\" \"$@\" > '" + given.toStdString() + "'");
        AlertRecorder recorder;
        if (c.tag != 0) {
            DoDialog(1, c.tag, 1, nullptr);
        } else {
            MenuCallback(kAppMenu, kMenuUpgradePage);
            PendingMenuStep();
        }
        std::string seen;
        for (const QzAlertRequest& a : recorder.alerts)
            seen += a.message.toStdString() + " / " + a.informative.toStdString();
        if (seen.empty()) {
            EXPECT_TRUE(WaitFor([&given] { return ReadFile(given).ends_with("\n"); }));
            seen = ReadFile(given);
            seen = seen.substr(0, seen.size() - 1);
            QFile::remove(given);
        }
        EXPECT_EQ(seen, c.seen);
    }
}

// Help and Error Numbers open in windows of the program's own, whose contents link to their sections; a
// missing document is named.
TEST_F(Desktop, HelpOpensInTheHelpWindowWithWorkingSectionLinks)
{
    DoDialog(1, 11, 1, nullptr);
    DoDialog(1, 14, 1, nullptr);
    const auto browser = [](const char* document) -> QTextBrowser* {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* b = top->findChild<QTextBrowser*>();
                b && top->isVisible() && b->source().path().endsWith(QLatin1String(document)))
                return b;
        return nullptr;
    };
    QTextBrowser* help = browser("/Help.html");
    ASSERT_NE(help, nullptr);
    ASSERT_NE(browser("/ErrorNumbers.html"), nullptr);
    EXPECT_EQ(help->window()->windowTitle(), QStringLiteral("Quillaby Help"));
    EXPECT_TRUE(help->toPlainText().contains(QStringLiteral("Quillaby on Linux")));
    EXPECT_FALSE(help->toPlainText().contains(QStringLiteral("On a Mac")));
    // The contents' eighth link, chosen with the keyboard, leads to its section further down.
    help->setFocus();
    for (int i = 0; i < 8; ++i)
        QTest::keyClick(help, Qt::Key_Tab);
    QTest::keyClick(help, Qt::Key_Return);
    EXPECT_EQ(help->source().fragment(), QStringLiteral("importer-start-failed"));
    EXPECT_GT(help->verticalScrollBar()->value(), 0);
    AlertRecorder recorder;
    QFile::remove(Resources() + QStringLiteral("/Help.html"));
    DoDialog(1, 11, 1, nullptr);
    ASSERT_EQ(recorder.alerts.size(), 1u);
    EXPECT_EQ(recorder.alerts[0].message + recorder.alerts[0].informative, QStringLiteral("Help.html was not found."));
}

// Return presses the default button and Escape Cancel (Keep Running) in the email and quit sheets; the
// keyboard then goes back to the main window.
TEST_F(Desktop, SheetsAnswerReturnAndEscapeAndGiveTheKeyboardBack)
{
    QzWindowByTag(1)->activateWindow();
    ASSERT_TRUE(WaitFor(FocusInMainWindow));
    gEmailAddress1 = "sam@example.com";
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        ShowEmailWindow();
        auto* field = qobject_cast<QLineEdit*>(View(4, 4));
        field->setFocus();
        field->setText(QStringLiteral("pat@example.com"));
        QTest::keyClick(field, key);
        EXPECT_EQ(gOpenPanel, 0);
        EXPECT_EQ(
            QzStrToCF(gEmailAddress1), QLatin1String(key == Qt::Key_Return ? "pat@example.com" : "sam@example.com"));
        EXPECT_TRUE(WaitFor(FocusInMainWindow)) << key;
    }
    gEmailNotifyOn = 1;
    QuitRequested();
    ASSERT_EQ(gOpenPanel, 5);
    QTest::keyClick(QzWindowByTag(5), Qt::Key_Escape);
    EXPECT_EQ(gOpenPanel, 0);
    EXPECT_TRUE(WaitFor(FocusInMainWindow));
    QuitRequested();
    EXPECT_EXIT(QTest::keyClick(QzWindowByTag(5), Qt::Key_Return), ::testing::ExitedWithCode(0), "");
}

// The report area takes what the window gains, the status line the width; the buttons keep their places
// under the report. The window's size and place come back at the next start; a broken file changes nothing.
TEST_F(Desktop, MainWindowGrowsTheReportAreaAndKeepsItsGeometry)
{
    QWidget* window = QzWindowByTag(1);
    const QSize initial = window->size();
    const QRect report = View(1, 2)->geometry(), status = View(1, 8)->geometry(), button = View(1, 6)->geometry();
    KeepMainWindowGeometry();
    window->resize(initial + QSize(300, 200));
    EXPECT_EQ(View(1, 2)->geometry(), report.adjusted(0, 0, 300, 200));
    EXPECT_EQ(View(1, 8)->geometry(), status.adjusted(0, 0, 300, 0));
    EXPECT_EQ(View(1, 6)->geometry(), button.translated(0, 200));
    window->resize(initial - QSize(50, 50));
    EXPECT_EQ(window->size(), initial);
    window->resize(initial + QSize(120, 80));
    window->move(40, 30);
    const QString file = sandbox.path() + QStringLiteral("/.local/share/Quillaby/Window.ini");
    const QRect kept = window->geometry();
    for (const std::string& contents : {std::string(), std::string("[General]\ngeometry=@ByteArray(\\0\\x1\\xff)\n")}) {
        if (!contents.empty())
            sandbox.Write(QStringLiteral(".local/share/Quillaby/Window.ini"), contents);
        QzResetWindowState();
        QzInstallAppDelegate();
        gMainWindowBuilt = 0;
        ShowMainWindow();
        BuildReportArea();
        KeepMainWindowGeometry();
        EXPECT_EQ(QzWindowByTag(1)->geometry().size(), contents.empty() ? kept.size() : initial);
        EXPECT_EQ(View(1, 2)->height() - report.height(), QzWindowByTag(1)->height() - initial.height());
    }
    EXPECT_TRUE(QFileInfo::exists(file));
}

} // namespace
