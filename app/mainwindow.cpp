#include "app/mainwindow.h"

#include "app/state.h"
#include "runtime/desktop.h"
#include "runtime/windows.h"
#include "settings/state.h"

#include <QFileInfo>

void ShowMainWindow(bool show)
{
    if (gMainWindowBuilt != 0)
        return;
    QzLoadMenuNib(QStringLiteral("MainMenu"));
    QzWindowOpen(show ? 1 : -1, QStringLiteral("MainWindow"), QStringLiteral("Quillaby"));
    if (!QzWindowExists(1)) {
        // Without its resource the window is made in code, so the report
        // and the status line still have a home.
        QzWindowSet(show ? 1 : -1, QStringLiteral("Quillaby"), QzParamOmitted, QzRect {0, 0, 605, 652});
        const QString empty;
        QzTextField(8, QzParamOmitted, &empty, 1, QzRect {10, 120, 585, 22});
    }
    QzWindowCenter(1);
    QzSetCurrentWindow(1);
    gMainWindowBuilt = 1;
}

void BuildReportArea()
{
    // The report area sits above the timeline strip (app/history_step.cpp).
    QzScrollView(2, QzParamOmitted, 0, 0, QzRect {10, 267, 585, 325});
    QzTextView(1, 2, 0, QzRect {10, 272, 570, 325});
    QzViewSetAutoresizing(2, 32);
}

void KeepMainWindowGeometry()
{
#ifndef Q_OS_MACOS
    // The report area takes what the window gains; the status line the
    // width; the buttons keep their places below it (their masks are in
    // MainWindow.ui).
    QzViewSetAutoresizing(2, 18);
    QzWindowKeepGeometry(1, QFileInfo(gSettingsPath).absolutePath() + QStringLiteral("/Window.ini"));
#endif
}
