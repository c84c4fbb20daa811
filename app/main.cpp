// Quillaby: watches the Time Machine log and tells its user what went wrong
// with the backups. The program ends only through exit with status 0.

#include "app/startup.h"
#include "app/watched_mac.h"
#include "runtime/application.h"
#include "runtime/events.h"

#if defined(__SANITIZE_ADDRESS__)
// The program ends through exit(0) with Qt's objects alive, as it should;
// what the sanitizer build would still call leaks are the caches that the
// system's fontconfig and D-Bus libraries never free. Only those libraries.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
#endif

int main(int argc, char** argv)
{
    // --host DEST: a Mac watched over ssh, taken before anything runs.
    if (const int refused = TakeHostOption(argc, argv))
        return refused;
    QzApplicationInit(argc, argv);
    StartUp();
    ShowWatchedMacInTitle();
    QzRunLoop();
    return 0;
}
