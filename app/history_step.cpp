#include "app/history_step.h"

#include "app/history.h"
#include "app/state.h"
#include "monitor/state.h"
#include "runtime/events.h"
#include "runtime/hooks.h"
#include "runtime/timeline.h"
#include "runtime/windows.h"

namespace {

void Tell(const QString& message, const QString& detail)
{
    QzAlert(1, QzAlertStyleOmitted, &message, &detail, static_cast<const QStringList*>(nullptr));
}

void TellOutcome(const QString& notice, const QString& error)
{
    if (!notice.isEmpty())
        Tell(QStringLiteral("The history file was damaged and has been set aside."), notice);
    if (!error.isEmpty() && gHistoryFailureTold == 0) {
        gHistoryFailureTold = 1;
        Tell(QStringLiteral("The history could not be kept."), error);
    }
}

} // namespace

void RecordAnalysisStep(bool mailSent)
{
    const QString path = HistoryPath();
    if (path.isEmpty())
        return;
    QString notice;
    QString error;
    if (RecordCheck(path, LastAnalysisCheck(mailSent), gSessions, &notice, &error))
        gHistoryFailureTold = 0;
    TellOutcome(notice, error);
    ShowTimeline();
}

void BuildTimelineStrip()
{
    QzTimelineView(kTimelineTag, 1, QzRect {10, 157, 585, 104});
    ShowTimeline();
}

void ShowTimeline()
{
    const QString path = HistoryPath();
    if (path.isEmpty() || !QzViewVisible(kTimelineTag, 1))
        return;
    const std::int64_t now = gQzNowHook();
    const std::int64_t days = kQzTimelineDays[std::size(kQzTimelineDays) - 1];
    QzTimeline timeline;
    QString notice;
    QString error;
    ReadTimeline(path, now - days * 86400 * 1000, now, &timeline, &notice, &error);
    TellOutcome(notice, error);
    const std::int64_t current = QzCurrentWindowTag();
    QzSetCurrentWindow(1);
    QzTimelineSetData(kTimelineTag, timeline);
    QzSetCurrentWindow(current);
}
