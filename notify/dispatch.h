#pragma once

// The email steps of the main-loop pass: the accessibility check after
// start-up (first in the pass) and the email dispatch (last in the pass).
void AccessibilityCheckStep();
void EmailDispatchStep();
