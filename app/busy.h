#pragma once

// The busy alerts of a log fetch under way, for the main window's buttons
// and the sheets.
void TodayBusyAlert();
void YesterdayBusyAlert();
// Busy rule: when a log fetch is under way, shows the busy alert (today's
// first) and returns true.
bool RefuseWhileFetching();
