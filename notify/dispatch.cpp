#include "notify/dispatch.h"

// FIXME: the accessibility check and the email dispatch arrive with the
// email subsystem; until then the pass keeps their places and does nothing.
void AccessibilityCheckStep()
{
}

void EmailDispatchStep()
{
}
