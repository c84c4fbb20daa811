#include "app/menu.h"

// FIXME: the menu actions arrive with the main window's controls; until then
// a recorded choice stays pending and the pass keeps its place.
void PendingMenuStep()
{
}
