// The timeline strip of the main window: between the report area and the buttons, which keep their places
// relative to each other in the grown window; the pass's check fills it, and hovering names a session.

#include "../monitor/monitor_support.h"
#include "runtime/ui_support.h"
#include "runtime/widgets_p.h"

#include "app/history.h"
#include "app/history_step.h"
#include "app/state.h"

#include <QHelpEvent>
#include <QToolTip>

class TimelineStrip : public UiTest {
protected:
    void TearDown() override
    {
        UiTest::TearDown();
        gMainWindowBuilt = 0; // the next test builds its own window
    }
};

TEST_F(TimelineStrip, SitsBelowTheReportAndShowsEachCheckWithItsSessions)
{
    for (const char* nib : {"MainWindow.ui", "MainMenu.ui"})
        UseAppResource(QString::fromLatin1(nib));
    gMainWindowBuilt = 0;
    MonitorWorld world;
    BuildTimelineStrip();
    QWidget* window = QzWindowByTag(1);
    const auto frame = [&](std::int64_t tag) { return QzFindView(window, tag)->geometry(); };
    EXPECT_EQ(QzContentView(window)->height(), 652);
    EXPECT_EQ(frame(2), QRect(10, 60, 585, 325)); // the report area, where it was
    EXPECT_EQ(frame(kTimelineTag), QRect(10, 391, 585, 104));
    EXPECT_EQ(frame(6).topLeft(), QPoint(10, 510)); // Current Log, and the buttons beside and below it, 112 lower
    EXPECT_EQ(frame(15).topLeft() - frame(6).topLeft(), QPoint(444, 80));

    world.SetLogOutput(ReadFile(FixturePath(QStringLiteral("today-failed-error-19.log"))));
    world.Run({{"today=1 Tick() Tick() Tick() success==1"}});
    QWidget* strip = QzFindView(window, kTimelineTag);
    QStringList tips;
    for (int x = 0; x < strip->width(); x += 2) {
        QHelpEvent hover(QEvent::ToolTip, QPoint(x, 50), strip->mapToGlobal(QPoint(x, 50)));
        QCoreApplication::sendEvent(strip, &hover);
        if (!tips.contains(QToolTip::text()) && !QToolTip::text().isEmpty())
            tips << QToolTip::text();
    }
    QToolTip::hideText();
    const QString tip = QStringLiteral("Automatic backup\nStarted 2026-03-10 08:12:20, ended 08:15:01 (2 min 41 s)\n"
                                       "To /dev/disk3s2: /Volumes/Backup Plus/Backups.backupdb\nSucceeded");
    EXPECT_TRUE(tips.contains(tip)) << tips.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(tips.contains(QStringLiteral("Check at 2026-03-10 12:00:00 (today's log)\nBackup drive offline")))
        << tips.join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(tips.filter(QStringLiteral("Backup drive offline: error 19")).size(), 3);
}
