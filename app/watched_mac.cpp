#include "app/watched_mac.h"

#include "monitor/remote.h"
#include "monitor/state.h"
#include "runtime/windows.h"

#include <cstdio>
#include <string>
#include <string_view>

int TakeHostOption(int& argc, char** argv)
{
    int kept = 1;
    bool taken = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg != "--host" && !arg.starts_with("--host=")) {
            argv[kept++] = argv[i];
            continue;
        }
        std::string error = "--host needs one destination";
        if (taken || (arg == "--host" && i + 1 == argc)
            || !WatchRemoteMac(arg == "--host" ? std::string_view(argv[++i]) : arg.substr(7), &error)) {
            std::fprintf(stderr, "Quillaby: %s\n", error.c_str());
            return 64;
        }
        taken = true;
    }
    argc = kept;
    argv[argc] = nullptr;
    return 0;
}

void ShowWatchedMacInTitle()
{
    if (gRemoteHost.empty())
        return;
    QzWindowSet(1, QString::fromStdString(gRemoteHost) + QStringLiteral(" \u2014 Quillaby"));
    // Back Up Now, Show Problem, Disk Utility and Time Machine Preferences
    // act on the Mac the program runs on, not on the one it watches.
    for (const std::int64_t tag : {5, 9, 12, 13})
        if (QzViewVisible(tag, 1))
            QzButton(tag, 0, QzParamOmitted, nullptr, QzParamOmitted, QzParamOmitted, {}, 1);
}
