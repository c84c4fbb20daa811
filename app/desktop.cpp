#include "app/desktop.h"

#include "app/dialog.h"
#include "app/menu.h"
#include "app/state.h"
#include "monitor/backup_age.h"
#include "monitor/state.h"
#include "notify/notices.h"
#include "notify/state.h"
#include "runtime/hooks.h"
#include "runtime/tray.h"
#include "runtime/windows.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// The status icon's menu, in the order of kTrayShow...kTrayQuit.
enum : std::int16_t { kTrayShow, kTrayCurrentLog, kTrayPreviousLog, kTrayBackUp, kTrayEmail, kTrayQuit };
constexpr std::int64_t kAgeLabel = 17; // the main window's last-backup line, under the status line

bool CheckAtStartup()
{
    return gCheckAtStartupChosen >= 0 ? gCheckAtStartupChosen == 1 : gBackgroundStart == 1;
}

void LoadOptions()
{
    ShortString lines[2];
    if (ReadSmallFile(OptionsPath(), lines, 2) != SmallFileRead::Read)
        return;
    gDesktopNoticesOn = QzVal(lines[0]) == 0 && !lines[0].empty() ? 0 : 1;
    gCheckAtStartupChosen = lines[1].empty() ? -1 : QzVal(lines[1]) != 0 ? 1 : 0;
}

void SaveOptions()
{
    std::string bytes(QzNumberText(gDesktopNoticesOn).view());
    bytes += '\r';
    if (gCheckAtStartupChosen >= 0)
        bytes += QzNumberText(gCheckAtStartupChosen).view();
    WriteSmallFile(OptionsPath(), bytes + '\r');
}

void PutCheckMarks()
{
    QzMenuItemSetCheck(kAppMenu, kMenuStartAtLogin, QFileInfo::exists(AutostartPath()));
    QzMenuItemSetCheck(kAppMenu, kMenuCheckAtStartup, CheckAtStartup());
    QzMenuItemSetCheck(kAppMenu, kMenuDesktopNotices, gDesktopNoticesOn == 1);
}

void ShowWindow()
{
    QzWindowSet(1);
}

// A click on a notice shows the window, through the menu step like a
// choice of the icon's menu.
void NoticeClicked()
{
    MenuCallback(kTrayMenu, kTrayShow);
}

void ToggleStartAtLogin()
{
    const QString path = AutostartPath();
    if (QFileInfo::exists(path)) {
        QFile::remove(path);
        return;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        const std::string entry = AutostartEntry(QCoreApplication::applicationFilePath());
        file.write(entry.data(), static_cast<qint64>(entry.size()));
        file.commit();
    }
}

// One word of a desktop entry's Exec key: quoted when it holds a reserved
// character, then written with the escapes of a string value.
QString ExecWord(const QString& path)
{
    static const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = false;
    for (const QChar c : path)
        quote = quote || kReserved.contains(c);
    QString word;
    for (const QChar c : path) {
        if (quote
            && (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\')))
            word += QLatin1Char('\\');
        word += c == QLatin1Char('%') ? QStringLiteral("%%") : QString(c);
    }
    if (quote)
        word = QLatin1Char('"') + word + QLatin1Char('"');
    return word.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

} // namespace

QString OptionsPath()
{
    return QFileInfo(gSettingsPath).absolutePath() + QStringLiteral("/Options");
}

QString AutostartPath()
{
#ifdef Q_OS_MACOS
    return QDir::homePath() + QStringLiteral("/Library/LaunchAgents/software.fernhollow.quillaby.plist");
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/quillaby.desktop");
#endif
}

std::string AutostartEntry(const QString& program)
{
#ifdef Q_OS_MACOS
    QString path = program.toHtmlEscaped();
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                          "<key>Label</key><string>software.fernhollow.quillaby</string>\n"
                          "<key>ProgramArguments</key><array><string>%1</string><string>--background</string></array>\n"
                          "<key>RunAtLoad</key><true/>\n</dict>\n</plist>\n")
        .arg(path)
        .toStdString();
#else
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=Quillaby\nGenericName=Backup Log Monitor\n"
                          "Comment=Watches the Time Machine log from the status icon\nExec=%1 --background\n"
                          "Icon=quillaby\nTerminal=false\nX-GNOME-Autostart-enabled=true\n")
        .arg(ExecWord(program))
        .toStdString();
#endif
}

bool StartDesktop(bool background)
{
    gBackgroundStart = background ? 1 : 0;
    LoadOptions();
    PutCheckMarks();
    if (gQzNotifyHook == QzNotifyNone)
        gQzNotifyHook = QzNotifyDesktop;
    if (QzTrayAvailable())
        QzTrayShow(kTrayMenu,
            {QStringLiteral("Show Quillaby"), QStringLiteral("Current Log"), QStringLiteral("Previous Log"),
                QStringLiteral("Back Up Now"), QStringLiteral("Email Notification\u2026"), QStringLiteral("Quit")});
    ShowBackupState();
    if (!background || !QzTrayVisible())
        ShowWindow();
    return CheckAtStartup();
}

void DesktopStep()
{
    if (gTodayChecked == 0)
        return;
    DesktopNoticeStep(NoticeClicked);
    ShowBackupState();
}

void ShowBackupState()
{
    const QString age = QStringLiteral("Last backup: ") + QzStrToCF(LastBackupAge());
    const QString status = !gStatusText.isEmpty() ? gStatusText
        : gBackupStatus == kQzTrayUnknown         ? QStringLiteral("Today's log has not been checked yet")
                                                  : QStringLiteral("No Time Machine errors");
    QzTraySetState(gBackupStatus, status + QLatin1Char('\n') + age);
    if (!QzViewVisible(kAgeLabel, 1))
        return;
    const std::int64_t current = QzCurrentWindowTag();
    QzSetCurrentWindow(1);
    QzTextField(kAgeLabel, QzParamOmitted, &age);
    QzSetCurrentWindow(current);
}

bool DesktopMenuChoice(std::int16_t menu, std::int16_t item)
{
    if (menu == kTrayMenu) {
        // The logs and the email window are seen in the window.
        if (item == kTrayShow || item == kTrayCurrentLog || item == kTrayPreviousLog || item == kTrayEmail)
            ShowWindow();
        const std::int64_t button[] = {0, 6, 7, 5, 16};
        if (item > kTrayShow && item < kTrayQuit)
            DoDialog(1, button[item], 1, nullptr);
        else if (item == kTrayQuit)
            QuitRequested();
        return true;
    }
    if (menu != kAppMenu)
        return false;
    if (item == kMenuStartAtLogin) {
        ToggleStartAtLogin();
    } else if (item == kMenuCheckAtStartup) {
        gCheckAtStartupChosen = CheckAtStartup() ? 0 : 1;
        SaveOptions();
    } else if (item == kMenuDesktopNotices) {
        gDesktopNoticesOn = gDesktopNoticesOn == 1 ? 0 : 1;
        SaveOptions();
    } else {
        return false;
    }
    PutCheckMarks();
    return true;
}
