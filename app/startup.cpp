#include "app/startup.h"

#include "app/desktop.h"
#include "app/dialog.h"
#include "app/environment.h"
#include "app/history_step.h"
#include "app/mainloop.h"
#include "app/mainwindow.h"
#include "app/menu.h"
#include "app/state.h"
#include "app/version.h"
#include "monitor/report.h"
#include "monitor/state.h"
#include "notify/runner.h"
#include "notify/state.h"
#include "platform/services.h"
#include "runtime/desktop.h"
#include "runtime/events.h"
#include "runtime/platform.h"
#include "runtime/textcontainer.h"
#include "runtime/windows.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QLocale>

#include <cstdlib>
#include <random>

namespace {

struct LanguagePrefix {
    const char* prefix;
    const char* name;
};

constexpr LanguagePrefix kLanguages[] = {
    {"en-", "English"},
    {"fr-", "French"},
    {"bn-", "Bangla"},
    {"zh-", "Chinese"},
    {"nl-", "Dutch"},
    {"de-", "German"},
    {"it-", "Italian"},
    {"pt-", "Portuguese"},
    {"es-", "Spanish"},
    {"ta-", "Tamil"},
};

bool IsPlainWordByte(std::uint8_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_'
        || c == '-' || c == '@' || c == '+';
}

// The bytes as one /bin/sh word: as they are when nothing in them means
// anything to the shell, else in single quotes with each quote as '\''.
std::string ShellWord(const ShortString& s)
{
    bool plain = !s.empty();
    for (int i = 1; i <= s.len; ++i)
        plain = plain && IsPlainWordByte(s.at(i));
    if (plain)
        return std::string(s.view());
    std::string word = "'";
    for (const char c : s.view()) {
        if (c == '\'')
            word += "'\\''";
        else
            word += c;
    }
    return word + "'";
}

void BuildIntroText()
{
    TextContainer work;
    QzContainerSetStr(work, "Quillaby will poll the system log every 30 minutes looking for Time Machine Errors.");
    QzContainerAppendStr(work, kCrLf);
    QzContainerAppendStr(work, "You can get the log immediately by clicking 'Current Log'");
    QzContainerAppendStr(work, kCrLf + kCrLf);
    QzContainerAppendStr(work, "You can also send an email when the backup fails. ( Click on 'Email Notification' )");
    QzContainerAppendStr(work, kCrLf + kCrLf);
    QzContainerAppendStr(work, "Click on 'Previous Log' to see yesterday's log");
    QzContainerAssign(gIntroText, work);
}

void AdminCheck()
{
    const ShortString command = AdminCheckCommand(UserShortName());
    const ShortString output = command.empty() ? ShortString() : RunShellCollect(command);
    if (PreferredLanguageName() == "English" && QzInstr(1, output, "is a member of admin") == 0) {
        QzAlertStop("Quillaby requires an Admin Account", "(System Preferences / Users and Groups)");
        std::exit(0);
    }
}

} // namespace

ShortString LanguageNameOf(const ShortString& identifier)
{
    const ShortString head = QzLeft(identifier, 3);
    for (const LanguagePrefix& row : kLanguages)
        if (head == row.prefix)
            return row.name;
    return identifier;
}

ShortString PreferredLanguageName()
{
    return LanguageNameOf(QzStrFromCF(QLocale::system().uiLanguages().value(0)));
}

ShortString AdminCheckCommand(const ShortString& shortName)
{
    const std::string command = "dseditgroup -o checkmember -m " + ShellWord(shortName) + " admin";
    if (command.size() > ShortString::kMax)
        return {};
    return ShortString::FromView(command);
}

void StartUp()
{
    // 1. The application object exists (main made it); its delegate. The
    // stand-in commands, the services and the simulated Mac's version answer
    // before any command or script runs.
    QzInstallAppDelegate();
    QzSetApplicationIdentity(QStringLiteral("Quillaby Icon.png"), QStringLiteral("quillaby"));
    AddStandInsToPath();
    InstallPlatformServices();
    UseSimulatedMacVersion();
    // 2. Case tables are built into the runtime; the random generator is seeded.
    std::srand(std::random_device {}());
    // 3. The menu numbers are constants (app/menu.h). 4. The introduction.
    BuildIntroText();
    // 5, 6. The bundle; the Mac's preferences folder of the maker, which
    // nothing reads, exists only on a Mac.
    gBundleURL = QzBundleURL();
#ifdef Q_OS_MACOS
    QzCreateDirectory(QzURLAppend(
        QzDirectoryURL(kQzLibraryDirectory, kQzUserDomain), QStringLiteral("Preferences:Fernhollow Software Prefs")));
#endif
    // 7. The system version.
    if (!SystemVersionAtLeast("10.11.9")) {
        QzAlertNote("Quillaby requires OS X 10.12 or later.", "");
        std::exit(0);
    }
    // 8, 9.
    gBundleURL = QzBundleURL();
    gResourcesURL = QzURLAppend(gBundleURL, QStringLiteral("Contents/Resources"));
    QzOnDialog(DoDialog);
    QzOnMenu(MenuCallback);
    // 10, 11. The main window, current from here on; control 15 hidden. In
    // the background it stays hidden unless there is no status icon.
    const bool background = QCoreApplication::arguments().contains(QStringLiteral("--background"));
    ShowMainWindow(!background);
    BuildReportArea();
    QzButton(-15);
    // 12-14. Administrator, computer name, startup disk.
    AdminCheck();
    RunAppleScript("do shell script \"scutil --get ComputerName\"");
    gComputerName = gScriptResult;
    StartupDiskName();
    // 15-18.
    gVersionText = ShortString("Version ") + kQuillabyVersion;
    LoadSettings();
    // The timeline below the report, from the history beside the settings.
    BuildTimelineStrip();
    if (!SystemVersionAtLeast("10.13.9"))
        gAccessCheckPending = 1;
    // The analyses also read the wording of macOS 11 and later there.
    ChooseLogWording();
    QzWindowRestore(1);
    KeepMainWindowGeometry();
    // 19, 20. The first pass shows the introduction.
    gIntroPending = 1;
    gOpenPanel = 0;
    gPollAllowed = 1;
    // The status icon; today's log at once where asked for, as the Current
    // Log button asks for it.
    if (StartDesktop(background))
        DoDialog(1, 6, 1, nullptr);
    StartMainLoopTimers();
}
