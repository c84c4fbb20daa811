#pragma once

// One pass of the main loop, run every 0.1 s: serves the request flags in
// a fixed order of twelve steps.
void MainLoopTick();
// The current local hour, 0 to 23.
int CurrentLocalHour();
