#pragma once

// The main-loop step that serves a menu choice recorded by MenuCallback.
void PendingMenuStep();
