#include "platform/services.h"

// FIXME: the stand-in script runner and mailto handler arrive with email.
void InstallPlatformServices()
{
}
