#pragma once

// What the desktop expects of a program besides its windows' contents: its
// icon and name for task bars, documents shown in a help window of its own,
// and a main window that can be resized and remembers its size and place.

#include <QString>

#include <cstdint>

// Gives every window the bundle's image as its icon (_NET_WM_ICON on X11)
// and names the desktop entry the windows belong to ("quillaby" for
// quillaby.desktop), which Wayland compositors match.
void QzSetApplicationIdentity(const QString& iconImage, const QString& desktopEntry);

// Shows an HTML document in a window of its own (one per document, made on
// first use and raised later): links to its sections scroll to them, other
// web addresses go to the URL hook. False when the file does not exist.
bool QzShowHelpWindow(const QString& path);

// Lets window |tag| grow from its present size, which becomes its smallest,
// and keeps its size and place in the INI file at geometryFile: restored
// now, saved whenever it is moved or resized. A file that cannot be read or
// holds nothing usable leaves the window as it is.
void QzWindowKeepGeometry(std::int64_t tag, const QString& geometryFile);
