#include "notify/runner.h"

#include "notify/state.h"

// FIXME: the runners arrive with the email subsystem; these answers keep
// the callers building until then.
void RunAppleScript(const ShortString& /*script*/)
{
    gScriptResult = ShortString();
}

ShortString StartupDiskName()
{
    gStartupDiskPath = "Macintosh HD:";
    return gStartupDiskPath;
}

void FinderOpenFile(const ShortString& /*path*/)
{
}

void FinderActivate()
{
    gScriptResult = ShortString();
}

ShortString RunShellCollect(const ShortString& /*command*/)
{
    return ShortString();
}

ShortString UserShortName()
{
    return ShortString();
}

bool SystemVersionAtLeast(const ShortString& /*threshold*/)
{
    return true;
}
