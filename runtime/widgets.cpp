// The runtime's widget classes and delegates: what a Qt event becomes on
// its way to the dialog handler, and how views are wired when a window is
// adopted or a view is created.

#include "runtime/widgets_p.h"

#include "runtime/events.h"
#include "runtime/state.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QResizeEvent>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include <cmath>
#include <cstdlib>

namespace {

QObject* TextDelegate()
{
    if (!gQzTextDelegate)
        gQzTextDelegate = new CUI_TextDelegate;
    return gQzTextDelegate.data();
}

bool AskShould(std::int64_t kind, QWidget* source, bool defaultAnswer, void* object)
{
    gQzEventReply.boolVal = defaultAnswer;
    QzDispatchViewEvent(kind, source, object);
    return gQzEventReply.boolVal;
}

// The field editor command a key stands for, or null.
const char* CommandFor(const QKeyEvent* key)
{
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return "insertNewline:";
    case Qt::Key_Tab:
        return "insertTab:";
    case Qt::Key_Backtab:
        return "insertBacktab:";
    case Qt::Key_Escape:
        return "cancelOperation:";
    case Qt::Key_Up:
        return "moveUp:";
    case Qt::Key_Down:
        return "moveDown:";
    default:
        return nullptr;
    }
}

bool ChangesText(const QKeyEvent* key)
{
    return !key->text().isEmpty() || key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete
        || key->matches(QKeySequence::Paste) || key->matches(QKeySequence::Cut);
}

// The enabled, visible button of the window whose "keyEquivalent" (a key
// sequence in Qt's portable text: "Return", "Esc") is the key pressed, or
// null.
QAbstractButton* KeyEquivalentButton(QWidget* window, const QKeyEvent* key)
{
    // The keypad's Enter counts as Return.
    const QString pressed = key->key() == Qt::Key_Enter
        ? QStringLiteral("Return")
        : QKeySequence(key->keyCombination()).toString(QKeySequence::PortableText);
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        const QVariant equivalent = button->property(kQzKeyEquivalentProperty);
        if (equivalent.isValid() && equivalent.toString() == pressed && button->isEnabled() && button->isVisible())
            return button;
    }
    return nullptr;
}

bool FieldKeyPress(QLineEdit* field, QKeyEvent* key)
{
    // Key equivalents come first, as on a Mac: a button's Return is pressed
    // before the field sees the key.
    if (QAbstractButton* button = KeyEquivalentButton(field->window(), key)) {
        button->click();
        return true;
    }
    if (const char* command = CommandFor(key)) {
        gQzEventReply.stringObj = QString::fromLatin1(command);
        if (AskShould(1205, field, false, &gQzEventReply.stringObj))
            return true;
    }
    const bool isReturn = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (isReturn) {
        if (field->property(kQzEditingProperty).toBool() && !AskShould(1204, field, true, field))
            return true;
        // Handled here so that the key does not travel on to a dialog's
        // default button: Return belongs to the field's own action.
        field->event(key);
        key->accept();
        return true;
    }
    if (!field->isReadOnly() && !field->property(kQzEditAskedProperty).toBool() && ChangesText(key)) {
        if (!AskShould(1203, field, true, field))
            return true;
        field->setProperty(kQzEditAskedProperty, true);
    }
    return false;
}

void FieldEdited(QLineEdit* field)
{
    if (!field->property(kQzEditingProperty).toBool()) {
        field->setProperty(kQzEditingProperty, true);
        field->setProperty(kQzEditAskedProperty, true);
        QzDispatchViewEvent(1200, field, field);
    }
    QzDispatchViewEvent(1201, field, field);
}

void FieldEditingFinished(QLineEdit* field)
{
    field->setProperty(kQzEditAskedProperty, false);
    if (!field->property(kQzEditingProperty).toBool())
        return;
    field->setProperty(kQzEditingProperty, false);
    QzDispatchViewEvent(1202, field, field);
}

void TextViewChanged(QWidget* view)
{
    if (view->property(kQzSettingTextProperty).toBool())
        return;
    view->setProperty(kQzTextProperty, QVariant()); // typed text: the set text no longer holds
    if (!view->property(kQzEditingProperty).toBool()) {
        view->setProperty(kQzEditingProperty, true);
        QzDispatchViewEvent(2100, view, nullptr);
    }
    QzDispatchViewEvent(2101, view, nullptr);
}

double Share(double part, double total, int flexibleCount, double delta)
{
    if (total > 0)
        return delta * part / total;
    return delta / flexibleCount;
}

// Springs and struts along one axis: `low` is the margin at the origin side
// in Mac terms (left, or bottom), `size` the extent. Returns the new low
// margin and size.
std::pair<double, double> Resize1D(
    double low, double size, double high, double delta, bool lowFlex, bool sizeFlex, bool highFlex)
{
    const int count = int(lowFlex) + int(sizeFlex) + int(highFlex);
    if (count == 0)
        return {low, size};
    const double total = (lowFlex ? low : 0) + (sizeFlex ? size : 0) + (highFlex ? high : 0);
    const double newLow = lowFlex ? low + Share(low, total, count, delta) : low;
    const double newSize = sizeFlex ? std::max(0.0, size + Share(size, total, count, delta)) : size;
    return {newLow, newSize};
}

} // namespace

CUI_AppDelegate::CUI_AppDelegate(QObject* parent)
    : QObject(parent)
{
}

CUI_AppDelegate::~CUI_AppDelegate()
{
    for (const QPointer<QWidget>& window : windows)
        delete window.data();
}

ScrollViewSC::ScrollViewSC(QWidget* parent)
    : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
}

QWidget* ScrollViewSC::documentView() const
{
    QLayoutItem* item = layout()->count() > 0 ? layout()->itemAt(0) : nullptr;
    return item ? item->widget() : nullptr;
}

void ScrollViewSC::setDocumentView(QWidget* view)
{
    QWidget* old = documentView();
    if (old == view)
        return;
    if (old) {
        // The old document view leaves the view tree, as on the Mac.
        layout()->removeWidget(old);
        old->hide();
        old->setParent(nullptr);
        old->deleteLater();
    }
    if (!view)
        return;
    if (auto* frame = qobject_cast<QFrame*>(view))
        frame->setFrameShape(QFrame::NoFrame);
    layout()->addWidget(view);
    view->setHidden(false);
}

TextViewSC::TextViewSC(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setUndoRedoEnabled(false);
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

WindowSC::WindowSC(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , content_(new QWidget(this))
{
    content_->setObjectName(QStringLiteral("contentView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(content_);
}

bool CUI_WindowDelegate::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return false;
    if (event->type() == QEvent::Resize && QzContentView(widget->window()) == widget)
        QzApplyAutoresizing(widget, static_cast<QResizeEvent*>(event)->oldSize());
    if (!widget->isWindow() || QzWindowTagOf(widget) == 0)
        return false;
    switch (event->type()) {
    case QEvent::Resize:
        QzDispatchWindowEvent(10004, widget, false);
        break;
    case QEvent::Move:
        QzDispatchWindowEvent(10027, widget, false);
        break;
    case QEvent::Show:
        widget->setProperty(kQzOrderProperty, QVariant::fromValue(++QzDelegateObject()->orderCounter));
        break;
    case QEvent::KeyPress:
        // A button whose key equivalent was pressed is clicked, as on a Mac
        // (Return for OK, Escape for Cancel). A sheet ends only through its own buttons: Escape does
        // not dismiss it behind the application's back (QDialog would
        // reject itself).
        if (QAbstractButton* button = KeyEquivalentButton(widget, static_cast<QKeyEvent*>(event))) {
            button->click();
            return true;
        }
        if (QzSheetParentTag(widget) != 0 && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            return true;
        break;
    case QEvent::Close:
        if (!gQzClosingWindow && QzSheetParentTag(widget) != 0) {
            event->ignore();
            return true;
        }
        if (!gQzClosingWindow) {
            gQzEventReply.boolVal = true;
            QzDispatchWindowEvent(10031, widget, false);
            if (!gQzEventReply.boolVal) {
                event->ignore();
                return true;
            }
        }
        QzDispatchWindowEvent(10032, widget, false);
        if (widget->testAttribute(Qt::WA_DeleteOnClose))
            QzDelegateObject()->windows.removeAll(QPointer<QWidget>(widget));
        break;
    case QEvent::WindowActivate:
        widget->setProperty(kQzOrderProperty, QVariant::fromValue(++QzDelegateObject()->orderCounter));
        QzDispatchWindowEvent(10033, widget, true);
        QzDispatchWindowEvent(10035, widget, true);
        break;
    case QEvent::WindowDeactivate:
        QzDispatchWindowEvent(10034, widget, false);
        QzDispatchWindowEvent(10036, widget, false);
        break;
    case QEvent::WindowStateChange: {
        const Qt::WindowStates old = static_cast<QWindowStateChangeEvent*>(event)->oldState();
        const Qt::WindowStates now = widget->windowState();
        if ((now ^ old) & Qt::WindowMinimized)
            QzDispatchWindowEvent((now & Qt::WindowMinimized) ? 10008 : 10009, widget, false);
        if ((now ^ old) & Qt::WindowFullScreen)
            QzDispatchWindowEvent((now & Qt::WindowFullScreen) ? 10015 : 10017, widget, false);
        break;
    }
    default:
        break;
    }
    return false;
}

bool CUI_TextDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (auto* field = qobject_cast<QLineEdit*>(watched)) {
        if (event->type() == QEvent::KeyPress)
            return FieldKeyPress(field, static_cast<QKeyEvent*>(event));
        if (event->type() == QEvent::FocusIn) {
            field->setProperty(kQzEditingProperty, false);
            field->setProperty(kQzEditAskedProperty, false);
        }
        return false;
    }
    auto* view = qobject_cast<QWidget*>(watched);
    if (view && event->type() == QEvent::FocusOut && view->property(kQzEditingProperty).toBool()) {
        view->setProperty(kQzEditingProperty, false);
        QzDispatchViewEvent(2102, view, nullptr);
    }
    return false;
}

std::int64_t QzViewTagOf(const QObject* view)
{
    const QVariant tag = view ? view->property(kQzViewTagProperty) : QVariant();
    return tag.isValid() ? tag.toLongLong() : 0;
}

void QzWireView(QWidget* view, std::int64_t windowTag)
{
    view->setProperty(kQzWndTagProperty, QVariant::fromValue(windowTag));
    if (view->property(kQzWiredProperty).toBool())
        return;
    view->setProperty(kQzWiredProperty, true);
    const bool ownAction = view->property(kQzOwnActionProperty).toBool();
    if (auto* button = qobject_cast<QAbstractButton*>(view)) {
        if (!ownAction)
            QObject::connect(
                button, &QAbstractButton::clicked, button, [button] { QzDispatchViewEvent(1, button, button); });
    } else if (auto* field = qobject_cast<QLineEdit*>(view)) {
        field->installEventFilter(TextDelegate());
        if (!ownAction)
            QObject::connect(
                field, &QLineEdit::returnPressed, field, [field] { QzDispatchViewEvent(1, field, nullptr); });
        QObject::connect(field, &QLineEdit::textEdited, field, [field] { FieldEdited(field); });
        QObject::connect(field, &QLineEdit::editingFinished, field, [field] { FieldEditingFinished(field); });
    } else if (auto* combo = qobject_cast<QComboBox*>(view)) {
        if (!ownAction)
            QObject::connect(combo, &QComboBox::activated, combo, [combo] { QzDispatchViewEvent(1, combo, combo); });
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(view)) {
        plain->installEventFilter(TextDelegate());
        QObject::connect(plain, &QPlainTextEdit::textChanged, plain, [plain] { TextViewChanged(plain); });
    } else if (auto* rich = qobject_cast<QTextEdit*>(view)) {
        rich->installEventFilter(TextDelegate());
        QObject::connect(rich, &QTextEdit::textChanged, rich, [rich] { TextViewChanged(rich); });
    }
}

void QzApplyAutoresizing(QWidget* content, QSize oldSize)
{
    if (!oldSize.isValid() || oldSize.isEmpty())
        return;
    const double dw = content->width() - oldSize.width();
    const double dh = content->height() - oldSize.height();
    if (dw == 0 && dh == 0)
        return;
    for (QObject* child : content->children()) {
        auto* view = qobject_cast<QWidget*>(child);
        if (!view || view->isWindow())
            continue;
        const QVariant maskValue = view->property(kQzAutoresizingProperty);
        if (!maskValue.isValid())
            continue;
        const auto mask = maskValue.toLongLong();
        const QRect g = view->geometry();
        const double bottom = oldSize.height() - g.y() - g.height();
        const auto [x, width]
            = Resize1D(g.x(), g.width(), oldSize.width() - g.x() - g.width(), dw, mask & 1, mask & 2, mask & 4);
        const auto [newBottom, height] = Resize1D(bottom, g.height(), g.y(), dh, mask & 8, mask & 16, mask & 32);
        const double y = content->height() - newBottom - height;
        view->setGeometry(int(std::lround(x)), int(std::lround(y)), int(std::lround(width)), int(std::lround(height)));
    }
}
