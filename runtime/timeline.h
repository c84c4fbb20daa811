#pragma once

// The timeline of backups: each session a bar from its start to its end,
// green when it succeeded, red when it failed, grey spans while the drive
// was offline, and a mark for each check. Drawn by a strip in a window and
// into an SVG or PNG file. Only Qt Core types appear here.

#include "runtime/windows.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

enum class QzTimelineResult : std::uint8_t { Unknown, Succeeded, Failed, Offline };

// Times in ms since 1970.
struct QzTimelineSession {
    std::int64_t startMs = 0;
    std::int64_t endMs = 0; // startMs when the end is not known
    QzTimelineResult result = QzTimelineResult::Unknown;
    QString tip; // what hovering shows: times, destination, result
};

struct QzTimelineSpan {
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    QString tip;
};

struct QzTimelineCheck {
    std::int64_t atMs = 0;
    bool problem = false; // the check found a problem
    QString tip;
};

struct QzTimeline {
    std::vector<QzTimelineSession> sessions; // in time order
    std::vector<QzTimelineSpan> offline;
    std::vector<QzTimelineCheck> checks;
};

// The periods the strip can show, in days; it starts with the first.
inline constexpr int kQzTimelineDays[] = {1, 7, 30};

// Timeline view `tag` of window windowTag (0: the current one), made when
// missing, at frame (Mac coordinates). It shows the period that ends at
// the wall clock's now, with buttons for the three periods.
void QzTimelineView(std::int64_t tag, std::int64_t windowTag, QzRect frame);
// Gives the view of the current window what to show (quietly nothing when
// there is no such view); it keeps it until the next call.
void QzTimelineSetData(std::int64_t tag, const QzTimeline& timeline);
// The timeline from fromMs to toMs drawn for a report or a web page, with
// a title and a legend, light on white: SVG when format is "svg", else PNG
// (at twice the size, for screens of 2x scale). Needs no display; an empty
// result when it could not be made.
QByteArray QzTimelineImage(
    const QzTimeline& timeline, std::int64_t fromMs, std::int64_t toMs, const QString& title, const QString& format);
