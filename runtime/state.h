#pragma once

// Module-level state of the runtime, main thread only.

#include "runtime/channels.h"
#include "runtime/events.h"
#include "runtime/shortstring.h"
#include "runtime/textcontainer.h"
#include "runtime/windows.h"

#include <QObject>
#include <QPointer>

#include <array>
#include <cstdint>
#include <vector>

// Counted strings.
inline std::int16_t gQzStk = 0; // StringStack slots in use, 0..64
inline std::array<ShortString, kQzStackSlots> gQzStackSlots {}; // slot k (1-based) in use while gQzStk >= k
inline ShortString QzResultStr; // last result of a string-valued operation

// Text containers.
inline TextContainer QzWorkContainer; // piece returned by QzContainerMid; scratch of one statement
inline TextContainer QzCompareContainer; // literal put into a container for QzContainerDiffers

// Channels.
inline std::array<QzFileChannel, kQzMaxFileId + 1> gQzChannels {}; // index = FileID 1..255; 0 unused
inline QzPrestartedPipe gQzPrestarted; // QzPrestartPipe's command until a channel takes it over
inline std::int32_t gQzOutputChannel = 0; // QzSetOutput; 0 writes nothing
inline std::int64_t QzLastFileError = 0; // last code reported to the handler
inline QzFileErrorHandlerFn QzFileErrorHandler = QzFileErrorAlert; // start-up installs one that ignores

// Windows and views.
inline std::int64_t QzCurrentWindow
    = 0; // tag that window tag 0 addresses; QzWindowOpen/Set, QzSetCurrentWindow, events
inline std::vector<QzNibEntry> gQzNibs; // every .ui file loaded so far, one entry per name, never reloaded
inline QPointer<QObject> gQzMenuBar; // the QMenuBar taken from the menu nib; on Linux attached to window 1
inline std::vector<QzSheetLink> gQzSheets; // sheets up now, each with its parent's tag; QzSheetBegin/End
inline bool gQzClosingWindow = false; // QzWindowClose under way: the close asks no should-close question
inline QPointer<QObject> gQzWindowDelegate; // the shared CUI_WindowDelegate event filter, made on first use
inline QPointer<QObject> gQzTextDelegate; // the shared CUI_TextDelegate event filter, made on first use

// Events, alerts, timers and the run loop.
inline QzDialogHandler gQzDialogHandler = nullptr; // QzOnDialog; null drops dialog events
inline QzMenuHandler gQzMenuHandler = nullptr; // QzOnMenu; null drops menu choices
inline QzEventReplySlots gQzEventReply; // reply slots of the "should" event being handled
inline QPointer<QObject> gQzAppDelegate; // installed by QzInstallAppDelegate; owner of timers and windows
inline QPointer<QObject> gQzSpareAppDelegate; // made by QzAppDelegate while none is installed
inline std::vector<QzAlertEntry> gQzAlerts; // alerts prepared or shown, at most one per tag
inline QPointer<QObject> gQzAlertQueue; // parent of queued alerts; deleting it cancels them
inline int gQzModalDepth = 0; // modal alerts up now; timers hold their fires while > 0
inline std::int64_t gQzHeldTimerFires = 0; // timer fires held back by a modal alert since start
inline bool gQzRunLoopEntered = false; // set by the first QzRunLoop; later calls return at once
inline void (*gQzBeforeWaiting)() = nullptr; // QzOnBeforeWaiting: run before the event loop waits
inline bool gQzBeforeWaitingHooked = false; // the event dispatcher's aboutToBlock calls gQzBeforeWaiting
inline QPointer<QObject> gQzWallClock; // QzWallClockTimer's timer and its watchers of clock and zone
inline std::uint32_t gQzTimeZoneGeneration = 0; // the local time zone was read again this many times

// Opening files and web addresses.
inline QString gQzOpenUrlError; // why the URL hook's last open failed, as it said; emptied by QzOpenURL

// The status icon and desktop notifications.
inline QPointer<QObject> gQzTray; // QzTrayShow's QSystemTrayIcon, a child of the application delegate
inline QPointer<QObject> gQzNotificationTarget; // receives the notification service's signals, made on first use
inline std::uint32_t gQzLastNotificationId = 0; // the service's id of the last notification; the next replaces it
inline void (*gQzNotificationClick)() = nullptr; // the last notification's onClick
