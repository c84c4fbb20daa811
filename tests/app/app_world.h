#pragma once

// The application's windows on the offscreen platform: a bundle holding the
// application's own resources, the application's dialog and menu handlers,
// a temporary HOME with its settings file loaded, and recorders for alerts,
// opened addresses and scripts.

#include "runtime/ui_support.h"
#include "runtime/widgets_p.h"
#include "test_support.h"

#include "app/dialog.h"
#include "app/mainwindow.h"
#include "app/menu.h"
#include "app/settings.h"
#include "app/state.h"
#include "monitor/state.h"

#include <QAbstractButton>
#include <QDirIterator>
#include <QFileInfo>
#include <QPalette>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

inline std::vector<QUrl> gOpenedUrls;
inline std::vector<QString> gScripts;

inline bool RecordOpenUrl(const QUrl& url)
{
    gOpenedUrls.push_back(url);
    return true;
}

// Finder's startup disk answers "Macintosh HD"; every other script succeeds
// with no result.
inline bool RecordScript(const QString& source, QString* result, QString* /*errorMessage*/)
{
    gScripts.push_back(source);
    if (result)
        *result = source.contains(QLatin1String("startup disk")) ? QStringLiteral("Macintosh HD") : QString();
    return true;
}

// The application ends through exit(0), which a test runner would count as
// a pass: outside a death test's child that is a failure.
inline bool gAppTestRunning = false;
inline void ExitDuringAppTest()
{
    if (gAppTestRunning && !::testing::internal::InDeathTestChild()) {
        std::fprintf(stderr, "the program ended in the middle of a test\n");
        std::_Exit(1);
    }
}

class AppTest : public UiTest {
protected:
    void SetUp() override
    {
        static const bool registered = std::atexit(ExitDuringAppTest) == 0;
        gAppTestRunning = registered;
        UiTest::SetUp();
        gOpenedUrls.clear();
        gScripts.clear();
        QDirIterator files(QStringLiteral(QZ_BUNDLE_DIR "/Contents/Resources"), QDir::Files);
        while (files.hasNext())
            UseAppResource(QFileInfo(files.next()).fileName());
        QzInstallAppDelegate();
        QzOnDialog(DoDialog);
        QzOnMenu(MenuCallback);
        ShowMainWindow();
        BuildReportArea();
        LoadSettings();
    }

    void TearDown() override
    {
        gAppTestRunning = false;
        UiTest::TearDown();
    }

    QString SettingsFile() const { return sandbox.path() + QStringLiteral("/.local/share/Quillaby/Settings"); }

    static QAbstractButton* Button(std::int64_t window, std::int64_t tag)
    {
        return qobject_cast<QAbstractButton*>(QzFindView(QzWindowByTag(window), tag));
    }
    // A real click: a checkable control changes its state first.
    static void Click(std::int64_t window, std::int64_t tag)
    {
        QAbstractButton* button = Button(window, tag);
        ASSERT_NE(button, nullptr) << "no button " << tag << " in window " << window;
        button->click();
    }
    static bool On(std::int64_t window, std::int64_t tag) { return Button(window, tag)->isChecked(); }
    static bool Shown(std::int64_t window)
    {
        QWidget* w = QzWindowByTag(window);
        return w && w->isVisible();
    }
    // The ON/OFF button as the user sees it: title, colour and state agree.
    static std::string OnOff()
    {
        QAbstractButton* b = Button(4, 10);
        const QColor colour = b->palette().color(QPalette::ButtonText);
        std::string seen = b->text().toStdString() + (b->isChecked() ? " checked" : " unchecked");
        seen += colour == QColor(QRgb(0xFF000000u | QzColorGreen())) ? " green"
            : colour == QColor(QRgb(0xFF000000u | QzColorRed()))     ? " red"
                                                                     : " other";
        return seen;
    }
    static std::vector<std::string> AlertTexts(const AlertRecorder& recorder)
    {
        std::vector<std::string> texts;
        for (const QzAlertRequest& a : recorder.alerts)
            texts.push_back(a.message.toStdString() + " / " + a.informative.toStdString());
        return texts;
    }

    Sandbox sandbox;
    TestClock clock;
    QzHookGuard<QzOpenUrlFn> urls {gQzOpenUrlHook, RecordOpenUrl};
    QzHookGuard<QzScriptFn> scripts {gQzScriptHook, RecordScript};
};
