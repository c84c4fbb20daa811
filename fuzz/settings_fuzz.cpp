// The settings file load on any file, then a save and a second load that
// must read back what the first one held.

#include "fuzz_support.h"

#include "app/mainwindow.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInit();
    ShowMainWindow(false);
    LoadSettings(); // makes the folder and sets gSettingsPath
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!FuzzWriteFile(gSettingsPath.toStdString(), data, size))
        std::abort();
    LoadSettings();
    const auto notify = gEmailNotifyOn;
    const auto address1 = gEmailAddress1;
    const auto address2 = gEmailAddress2;
    const auto day = gLastBackupDay;
    SaveSettings();
    LoadSettings();
    if (gEmailNotifyOn != notify || !(gEmailAddress1 == address1) || !(gEmailAddress2 == address2)
        || gLastBackupDay != day)
        std::abort();
    ReadLastBackupDay();
    return 0;
}
