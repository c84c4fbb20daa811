#pragma once

// Widget-level helpers shared by the window, view, event and alert code of
// the runtime. Nothing outside runtime/ includes this header.

#include "runtime/windows.h"

#include <QFrame>
#include <QList>
#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <cstdint>

class QAbstractButton;

// Dynamic property names. A window carries its tag in "windowTag"; a view
// carries its own tag in "tag" (set in Designer) and the tag of its window in
// "wndTag". "autoresizingMask" holds the Mac springs-and-struts mask of a
// view; views without it keep Qt's top-left anchoring.
inline constexpr char kQzWindowTagProperty[] = "windowTag";
inline constexpr char kQzViewTagProperty[] = "tag";
inline constexpr char kQzWndTagProperty[] = "wndTag";
inline constexpr char kQzIdentifierProperty[] = "identifier";
inline constexpr char kQzAutoresizingProperty[] = "autoresizingMask";
// A button's key equivalent: pressing that key in its window clicks it.
inline constexpr char kQzKeyEquivalentProperty[] = "keyEquivalent";

// Properties the runtime keeps on Qt objects for itself.
inline constexpr char kQzTextProperty[] = "qzText"; // the exact text last set into a text view
inline constexpr char kQzSettingTextProperty[] = "qzSettingText"; // text being set by the runtime, not typed
inline constexpr char kQzEditingProperty[] = "qzEditing"; // began-editing sent in this editing session
inline constexpr char kQzEditAskedProperty[] = "qzEditAsked"; // should-begin answered yes in this session
inline constexpr char kQzStateProperty[] = "qzState"; // state of a button that Qt cannot check
inline constexpr char kQzOwnActionProperty[] = "qzOwnAction"; // the .ui file connects it: not wired to the handler
inline constexpr char kQzWiredProperty[] = "qzWired"; // already wired to the dialog or menu handler
inline constexpr char kQzOrderProperty[] = "qzOrder"; // window: raised each time it comes to the front

// The application delegate: owns the list of windows the runtime created or
// adopted (in that order) and is the parent of every QzTimer.
class CUI_AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit CUI_AppDelegate(QObject* parent = nullptr);
    ~CUI_AppDelegate() override;

    QList<QPointer<QWidget>> windows;
    std::int64_t orderCounter = 0; // raised each time a window comes to the front
};

// The shared window delegate: an event filter on every runtime window that
// turns Qt window events into window notifications, and on every content
// view to apply autoresizing masks.
class CUI_WindowDelegate : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Text-field and text-view delegate: editing notifications, the Return key
// and the field editor's commands.
class CUI_TextDelegate : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// A scroll view: a frame whose single document view fills it. Text views
// scroll themselves, so the frame only draws the border and lays out.
class ScrollViewSC : public QFrame {
    Q_OBJECT
public:
    explicit ScrollViewSC(QWidget* parent = nullptr);
    QWidget* documentView() const;
    void setDocumentView(QWidget* view);
};

// The text view created in code: read-only for the user (selectable and
// copyable), no undo, and it hands back exactly the text it was given.
class TextViewSC : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TextViewSC(QWidget* parent = nullptr);
};

// A window created in code (QzWindowSet). Its content view is a child that
// fills it, so that a menu bar can sit above the content.
class WindowSC : public QWidget {
    Q_OBJECT
public:
    explicit WindowSC(QWidget* parent = nullptr);
    QWidget* contentView() const { return content_; }

private:
    QWidget* content_;
};

// --- Windows ---------------------------------------------------------------
CUI_AppDelegate* QzDelegateObject(); // the installed or the spare delegate, created when missing
QWidget* QzWindowByTag(std::int64_t tag); // nullptr for 0 and for unknown tags
std::int64_t QzWindowTagOf(const QWidget* window); // 0 when not a runtime window
QWidget* QzContentView(QWidget* window); // central widget of a QMainWindow, else the window
QWidget* QzFrontmostWindow(); // the visible runtime window most recently brought forward
// Window tag 0: the current window, else the frontmost; otherwise that window.
QWidget* QzTargetWindow(std::int64_t windowTag);
void QzAdoptWindow(QWidget* window, std::int64_t tag);
void QzAttachMenuBar();
// Mac content rectangle (origin bottom-left) to the content view's Qt geometry.
QRect QzFromMacRect(QWidget* content, const QzRect& r);
int QzContentHeight(QWidget* content);

// --- Views -----------------------------------------------------------------
// Depth-first search of the window's views for `tag`; child windows (sheets,
// alerts) are not searched into. Values of 1000001 and more are widgets
// passed directly and are returned when they are live widgets.
QWidget* QzFindView(QWidget* window, std::int64_t tag);
QWidget* QzWidgetFromTag(std::int64_t value);
std::int64_t QzViewTagOf(const QObject* view);
// Records the window tag on the view and wires it so that its actions and
// editing notifications reach the dialog handler.
void QzWireView(QWidget* view, std::int64_t windowTag);
void QzApplyAutoresizing(QWidget* content, QSize oldSize);
// Button state as the Mac has it: 1 on, 0 off, -1 mixed.
std::int64_t QzButtonStateOf(const QAbstractButton* button);
void QzButtonSetStateOf(QAbstractButton* button, std::int64_t state);

// --- Events ----------------------------------------------------------------
// Calls the dialog handler, if one is set.
void QzDispatchDialog(std::int64_t kind, std::int64_t id, std::int64_t windowTag, void* object);
// A control, text-field or text-view event: makes the source's window
// current, then dispatches with the source's tag.
void QzDispatchViewEvent(std::int64_t kind, QWidget* source, void* object);
void QzDispatchWindowEvent(std::int64_t kind, QWidget* window, bool makeCurrent);
// The tag of the window a sheet hangs on, 0 when `window` is no sheet now.
std::int64_t QzSheetParentTag(const QWidget* window);
// Raised while a modal alert is up; timers hold their fires meanwhile.
void QzBeginModal();
void QzEndModal();

// --- Alerts ----------------------------------------------------------------
// An addressing error: shown after the current event with "OK" and "Quit".
void QzAddressingAlert(const QString& message, const QString& informative);
void QzWindowErrorAlert(std::int64_t tag);
void QzNoWindowAlert();
void QzTagErrorAlert(std::int64_t viewTag, std::int64_t windowTag);
void QzClassErrorAlert(QWidget* view, std::int64_t viewTag, std::int64_t windowTag, const char* wanted, bool expected);
