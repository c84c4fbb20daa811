#pragma once

#include <cstdint>

// One pass of the main loop, run every 0.1 s while there is work: serves
// the request flags in a fixed order of twelve steps.
void MainLoopTick();
// The current local hour, 0 to 23.
int CurrentLocalHour();

// Whether a pass would act now: a request or a launch pending (while no
// sheet is open), a command's output waiting, the introduction or the
// report to show, a menu choice, the accessibility check, an email to send.
bool MainLoopHasWork();
// Starts the pass's 0.1 s timer when a pass has work and the timer is not
// running. The timer stops itself after a pass that leaves no work.
void ArmMainLoop();
// The next start or end of the local hour 1 after nowMs.
std::int64_t NextHourOneEdge(std::int64_t nowMs);
// The window program's timers: the pass's (now, when there is work, and
// whenever the event loop is about to wait with work pending), one pass at
// each start and end of the local hour 1 for the daily reset, whatever the
// clock and time zone do meanwhile, and the 30-minute poll.
void StartMainLoopTimers();
