#pragma once

// Windows and views addressed by integer tag. Only Qt Core types appear
// here so that every layer can call these; the widgets stay inside
// runtime/. All operations run on the main thread.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>

// A numeric argument with this value leaves the property unchanged.
inline constexpr std::int64_t QzParamOmitted = -1999999999;

// A rectangle in window coordinates (origin bottom-left as on the Mac,
// converted by the runtime); all zero means "not given".
struct QzRect {
    double x = 0, y = 0, width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};

// An opaque colour for QzButtonTitleColor (0xRRGGBB).
using QzColor = std::uint32_t;

// --- Windows ---------------------------------------------------------------
// Loads window `identifier` (any window when empty) from the bundle's
// resource "<nibName>.ui", at most once per run; shows it (tag > 0) or keeps
// it hidden (tag < 0) and makes |tag| the current window.
void QzWindowOpen(std::int64_t tag, const QString& nibName, const QString& identifier = QString());
// Changes window |tag|, or creates it in code; shows (tag > 0) or hides it.
void QzWindowSet(std::int64_t tag, const QString& title = QString(), std::int64_t styleMask = QzParamOmitted,
    QzRect contentRect = {});
bool QzWindowExists(std::int64_t tag);
// Whether window |tag| exists and is shown.
bool QzWindowVisible(std::int64_t tag);
void QzWindowCenter(std::int64_t tag);
void QzWindowClose(std::int64_t tag);
void QzSheetBegin(std::int64_t parentTag, std::int64_t sheetTag);
void QzSheetEnd(std::int64_t parentTag, std::int64_t sheetTag);
void QzSetCurrentWindow(std::int64_t tag);
std::int64_t QzCurrentWindowTag();
// Restores saved control values of window |tag| from the user defaults
// entry `key` (the window's title when empty).
void QzWindowRestore(std::int64_t tag, const QString& key = QString());
// Loads the menu bar from the bundle's resource "<nibName>.ui", once.
void QzLoadMenuNib(const QString& nibName);
// Puts a check mark at item `item` of menu `menuId` of the menu bar (the
// numbers the menu handler reports), or takes it away.
void QzMenuItemSetCheck(std::int64_t menuId, std::int64_t item, bool checked);

// --- Views (window tag 0: the current window, else the frontmost) ----------
void QzTextField(std::int64_t tag, std::int64_t enabled = QzParamOmitted, const QString* text = nullptr,
    std::int64_t windowTag = 0, QzRect frame = {});
// The text of control `tag` in the current window; empty when missing.
QString QzTextFieldString(std::int64_t tag);
void QzButton(std::int64_t tag, std::int64_t enabled = QzParamOmitted, std::int64_t state = QzParamOmitted,
    const QString* title = nullptr, std::int64_t buttonType = QzParamOmitted, std::int64_t bezelStyle = QzParamOmitted,
    QzRect frame = {}, std::int64_t windowTag = 0);
void QzButtonSetTitle(std::int64_t tag, const QString& title);
void QzButtonSetState(std::int64_t tag, std::int64_t state);
std::int64_t QzButtonState(std::int64_t tag);
void QzButtonRemove(std::int64_t tag);
void QzButtonTitleColor(std::int64_t tag, QzColor color);
void QzScrollView(std::int64_t tag, std::int64_t borderType = QzParamOmitted, std::int64_t documentViewTag = 0,
    std::int64_t windowTag = 0, QzRect frame = {});
void QzTextView(std::int64_t tag, std::int64_t scrollViewTag = 0, std::int64_t windowTag = 0, QzRect frame = {});
// Replaces the whole text of text view `tag` in the current window; nothing
// (and no alert) when there is no such view.
void QzTextViewSetText(std::int64_t tag, const QString& text);
// The whole text of text view `tag` in the current window; empty when missing.
QString QzTextViewString(std::int64_t tag);
void QzViewSetAutoresizing(std::int64_t tag, std::int64_t mask);
void QzImageViewSetImage(std::int64_t tag, const QString& imageName);
// Whether view `tag` of window `windowTag` exists and is not hidden.
bool QzViewVisible(std::int64_t tag, std::int64_t windowTag = 0);

QzColor QzColorGreen();
QzColor QzColorRed();

// One loaded .ui file of the nib registry: its name and the objects it made
// (the root widget, and for a menu nib the menu bar taken from it).
struct QzNibEntry {
    QString name;
    QList<QPointer<QObject>> objects;
};

// A window shown as a sheet, and the tag of the window it hangs on.
struct QzSheetLink {
    QPointer<QObject> sheet;
    std::int64_t parentTag = 0;
};
