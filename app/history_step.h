#pragma once

#include <cstdint>

// The view tag of the timeline strip in window 1.
inline constexpr std::int64_t kTimelineTag = 20;

// After an analysis: its check and sessions go into the history (a
// failure is told once until a record works again, a damaged file moved
// aside each time), and the window's timeline shows them.
void RecordAnalysisStep(bool mailSent);
// The timeline strip below the report area of window 1, filled from the
// history.
void BuildTimelineStrip();
// Fills the strip, when window 1 has one, with the last 30 days.
void ShowTimeline();
