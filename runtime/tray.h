#pragma once

// The status icon in the desktop's tray (a StatusNotifierItem, the XEmbed
// tray, or the menu bar on macOS), drawn from the application icon. Only Qt
// Core types appear here so that every layer can call these.

#include <QString>
#include <QStringList>

#include <cstdint>

// What the icon shows: no check yet or no log, all well, a problem, a
// serious problem (drive offline, failed backup, no backup for a day).
inline constexpr int kQzTrayUnknown = 0;
inline constexpr int kQzTrayWell = 1;
inline constexpr int kQzTrayProblem = 2;
inline constexpr int kQzTraySerious = 3;

// Whether the desktop has a tray to show the icon in.
bool QzTrayAvailable();
// Shows the icon (once; later calls change nothing) with a menu of these
// items. A choice reaches the menu handler as menu `menuId` and the item's
// index; a click on the icon reports item 0.
void QzTrayShow(std::int64_t menuId, const QStringList& items);
// Whether the icon is shown.
bool QzTrayVisible();
// The icon's look and its tooltip.
void QzTraySetState(int state, const QString& toolTip);
// The tooltip the icon has now (empty when it is not shown).
QString QzTrayToolTip();
// The icon of a state drawn at pixels x pixels, saved as a PNG file; false
// when it could not be written.
bool QzTraySaveIcon(int state, int pixels, const QString& path);
