#include "app/dialog.h"

#include "app/busy.h"
#include "app/menu.h"
#include "app/opening.h"
#include "app/sheets.h"
#include "app/state.h"
#include "monitor/fetch.h"
#include "monitor/state.h"
#include "notify/runner.h"
#include "runtime/channels.h"
#include "runtime/desktop.h"
#include "runtime/events.h"
#include "runtime/platform.h"
#include "runtime/tray.h"
#include "runtime/windows.h"

#include <QFile>

namespace {

constexpr std::int64_t kWindowShouldClose = 10031; // window notification: may the window close?

void OpenSystemItem(int directory, const QString& item)
{
    OpenItem(QzURLAppend(QzDirectoryURL(directory, kQzSystemDomain), item));
}

void OpenTimeMachinePane()
{
    OpenSystemItem(kQzLibraryDirectory, QStringLiteral("PreferencePanes/TimeMachine.prefPane"));
}

// The web address of an "[InternetShortcut]" file, or empty.
QUrl ShortcutAddress(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(4096).trimmed();
        if (line.startsWith("URL=")) {
            const QUrl url(QString::fromUtf8(line.mid(4)), QUrl::StrictMode);
            const QString scheme = url.scheme();
            if (scheme == QLatin1String("https") || scheme == QLatin1String("http"))
                return url;
            return {};
        }
    }
    return {};
}

// The bundle's name of a document on this platform: on a Mac the RTF(D)
// documents, elsewhere the same documents made as HTML (help/help.cmake).
QString DocumentName(const QString& name)
{
#ifdef Q_OS_MACOS
    return name;
#else
    for (const QLatin1String suffix : {QLatin1String(".rtfd"), QLatin1String(".rtf")})
        if (name.endsWith(suffix))
            return name.left(name.size() - suffix.size()) + QStringLiteral(".html");
    return name;
#endif
}

// What the Mac's openURL: does with a document of the bundle. Elsewhere the
// help documents open in the program's help window, and a .url shortcut
// opens its page.
void OpenDocument(const QUrl& url)
{
#ifdef Q_OS_MACOS
    OpenItem(url);
#else
    const QString path = url.toLocalFile();
    if (path.endsWith(QLatin1String(".html"))) {
        QzShowHelpWindow(path);
    } else if (path.endsWith(QLatin1String(".url"))) {
        const QUrl page = ShortcutAddress(path);
        if (page.isEmpty())
            SayNotOpened(QzURLLastComponent(url), QStringLiteral("The file holds no web address."));
        else
            OpenItem(page);
    } else {
        OpenItem(url);
    }
#endif
}

void ShowProblem()
{
    if (gLastProblem == ".DS_Store")
        QzAlertNote("Invisible .DS_Store files are a minor problem that can be ignored. Click the 'Help' button more "
                    "information.",
            "We will now open the folder containing the invisible file.");
    if (gProblemFolder.empty()) {
        if (gDriveOffline == 1 && gSpotlightConflict == 1)
            QzAlertNote("Too many errors. Spotlight indexing conflict. See help for Importer Start Failed.", "");
        else if (gDriveOffline == 1)
            QzAlertNote("Too many errors to list all of them.", "");
        else if (gErrorFound == 1)
            QzAlertNote("Problem found but no folder to open", "");
        else
            QzAlertNote("No Problems Found", "");
        return;
    }
    if (gProblemFolder == "No successful backups reported in the current log and no problems reported.") {
        QzAlertNote(gProblemFolder, "");
        return;
    }
    FinderOpenFile(StartupDiskName() + gProblemFolder);
    FinderActivate();
}

bool IsLocalMacAction(std::int64_t tag)
{
    return tag == 5 || tag == 9 || tag == 12 || tag == 13;
}

void MainWindowAction(std::int64_t tag)
{
    const bool fetching = gTodayPipeOpen == 1 || gYesterdayPipeOpen == 1;
    // A Mac watched over ssh is only read: a backup, its preferences, its
    // disks and its folders are out of reach from here (the tray's menu
    // reaches this even while the window's buttons are off).
    if (!gRemoteHost.empty() && IsLocalMacAction(tag)) {
        QzAlertNote(ShortString("Not for a Mac watched over ssh"),
            ShortString::FromView(gRemoteHost) + " is watched from here; do this on that Mac itself.");
        return;
    }
    switch (tag) {
    case 6:
        if (!fetching) {
            gPollAllowed = 1;
            gPipeStartTicks = TicksNow() + 60;
            gTodayRequested = 1;
            return;
        }
        if (gYesterdayPipeOpen == 1)
            YesterdayBusyAlert();
        if (gTodayPipeOpen == 1)
            TodayBusyAlert();
        return;
    case 7:
        if (!fetching) {
            gYesterdayRequested = 1;
            return;
        }
        if (gTodayPipeOpen == 1)
            TodayBusyAlert();
        if (gYesterdayPipeOpen == 1)
            YesterdayBusyAlert();
        return;
    case 5:
        QzOpenPipe(9, "tmutil startbackup");
        OpenTimeMachinePane();
        QzClose(9);
        return;
    case 13:
        OpenTimeMachinePane();
        return;
    case 12:
        OpenSystemItem(kQzApplicationsDirectory, QStringLiteral("Utilities/Disk Utility.app"));
        return;
    case 3:
        OpenResourceFile("Quillaby WebPage AppStore.url");
        return;
    case 10:
        OpenResourceFile("Quillaby Donations.url");
        return;
    case 11:
        OpenResourceFile("Help.rtfd");
        return;
    case 14:
        OpenResourceFile("ErrorNumbers.rtf");
        return;
    case 16:
        ShowEmailWindow();
        return;
    case 9:
        ShowProblem();
        return;
    default:
        return;
    }
}

} // namespace

int OpenResourceFile(const ShortString& name)
{
    gBundleURL = QzBundleURL();
    gResourcesURL = QzURLAppend(gBundleURL, QStringLiteral("Contents/Resources"));
    const QString document = DocumentName(QzStrToCF(name));
    const QUrl url = QzURLAppend(gResourcesURL, document);
    if (QzFileExists(url)) {
        OpenDocument(url);
        return 0;
    }
    QzAlertStop(QzStrFromCF(document), " was not found.");
    return 1;
}

void DoDialog(std::int64_t kind, std::int64_t id, std::int64_t windowTag, void* /*object*/)
{
    // The main window's close button hides it while the status icon is
    // there, and the watch goes on; without the icon it quits as the menu's
    // Quit does, so the program never runs on unseen. While a sheet is up
    // the sheet's own buttons come first.
    if (kind == kWindowShouldClose && windowTag == 1) {
        QzEventReply().boolVal = false;
        if (gOpenPanel != 0)
            return;
        if (QzTrayVisible())
            QzWindowSet(-1);
        else
            MenuCallback(kAppMenu, kMenuQuit);
        return;
    }
    if (kind != 1)
        return;
    switch (windowTag) {
    case 1:
        MainWindowAction(id);
        return;
    case 4:
        EmailWindowAction(id);
        return;
    case 5:
        QuitWindowAction(id);
        return;
    case 6:
        AboutWindowAction(id);
        return;
    default:
        return;
    }
}
