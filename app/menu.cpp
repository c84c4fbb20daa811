#include "app/menu.h"

#include "app/pages.h"
#include "app/sheets.h"
#include "monitor/state.h"
#include "runtime/channels.h"
#include "runtime/windows.h"
#include "settings/settings.h"
#include "settings/state.h"

#include <cstdlib>

namespace {

void OpenPage(const char* address)
{
    QzOpenPipe(12, ShortString("open ") + ShortString(address));
    QzClose(12);
}

} // namespace

void MenuCallback(std::int64_t menuNumber, std::int64_t itemNumber)
{
    gMenuNumber = static_cast<std::int16_t>(menuNumber);
    gMenuItem = static_cast<std::int16_t>(itemNumber);
    gMenuPending = 1;
}

void QuitRequested()
{
    if (gEmailNotifyOn == 0 || gNoQuitWarning != 0) {
        SaveSettings();
        std::exit(0);
    }
    ShowQuitWindow();
}

void DoMenu()
{
    if (gMenuNumber != kAppMenu)
        return;
    if (gMenuItem == kMenuAbout) {
        ShowAboutWindow();
    } else if (gMenuItem == kMenuUpgradePage) {
        OpenPage(kUpgradePageURL);
    } else if (gMenuItem == kMenuPurchasePage) {
        OpenPage(kPurchasePageURL);
    } else if (gMenuItem == kMenuHideDonate) {
        if (gDonateHidden == 0) {
            const std::int64_t current = QzCurrentWindowTag();
            QzSetCurrentWindow(1);
            QzButtonRemove(10);
            QzSetCurrentWindow(current);
        }
        gDonateHidden = 1;
    } else if (gMenuItem == kMenuQuit) {
        QuitRequested();
    }
}

void PendingMenuStep()
{
    if (gMenuPending == 0)
        return;
    gMenuPending = 0;
    DoMenu();
}
