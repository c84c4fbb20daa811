#pragma once

// The 30-minute poll: requests today's fetch unless a command runs.
void PollTimerFired();
