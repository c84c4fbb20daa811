#include "runtime/platform.h"

#include "runtime/hooks.h"

double QzUptime()
{
    return gQzUptimeHook();
}
