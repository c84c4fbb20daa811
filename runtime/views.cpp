// Views addressed by tag in a window: text fields, buttons, scroll views,
// text views and image views, created or updated in place.

#include "runtime/windows.h"

#include "runtime/bundle.h"
#include "runtime/state.h"
#include "runtime/widgets_p.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTextEdit>

#include <cstdlib>

namespace {

// Mac titles show "&" as it is; Qt takes a single "&" for a mnemonic.
QString ToQtTitle(const QString& title)
{
    QString text = title;
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString FromQtTitle(const QString& text)
{
    QString title;
    title.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        title.append(text.at(i));
    }
    return title;
}

bool IsTextField(const QWidget* view)
{
    return qobject_cast<const QLineEdit*>(view) || qobject_cast<const QLabel*>(view);
}

bool IsScrollView(const QWidget* view)
{
    return qobject_cast<const ScrollViewSC*>(view) || qobject_cast<const QScrollArea*>(view);
}

bool IsTextView(const QWidget* view)
{
    return qobject_cast<const QPlainTextEdit*>(view) || qobject_cast<const QTextEdit*>(view);
}

// The window of a create-or-update operation, or the "Window error." alert.
QWidget* CreateTarget(std::int64_t windowTag)
{
    QWidget* window = QzTargetWindow(windowTag);
    if (!window)
        QzWindowErrorAlert(windowTag != 0 ? windowTag : QzCurrentWindow);
    return window;
}

// The view of a by-tag operation in the current (else frontmost) window;
// alerts when there is no window or no such view.
QWidget* ByTag(std::int64_t tag)
{
    if (QWidget* direct = QzWidgetFromTag(tag))
        return direct;
    QWidget* window = QzTargetWindow(0);
    if (!window) {
        QzNoWindowAlert();
        return nullptr;
    }
    QWidget* view = QzFindView(window, tag);
    if (!view)
        QzTagErrorAlert(tag, QzWindowTagOf(window));
    return view;
}

// ByTag with a class check: the "Class error." alert names `wanted`.
template <typename T> T* ByTagAs(std::int64_t tag, const char* wanted)
{
    QWidget* view = ByTag(tag);
    if (!view)
        return nullptr;
    if (auto* typed = qobject_cast<T*>(view))
        return typed;
    QzClassErrorAlert(view, tag, QzWindowTagOf(view->window()), wanted, false);
    return nullptr;
}

QAbstractButton* Button(std::int64_t tag)
{
    return ByTagAs<QAbstractButton>(tag, "QAbstractButton");
}

// Looks a view up without alerts: text views are set and read this way.
QWidget* QuietView(std::int64_t tag)
{
    if (QWidget* direct = QzWidgetFromTag(tag))
        return direct;
    QWidget* window = QzTargetWindow(0);
    return window ? QzFindView(window, tag) : nullptr;
}

void PlaceView(QWidget* view, const QzRect& frame)
{
    if (frame.empty() || !view->parentWidget() || IsScrollView(view->parentWidget()))
        return;
    view->setGeometry(QzFromMacRect(view->parentWidget(), frame));
}

QWidget* Adopt(QWidget* view, QWidget* window, std::int64_t tag)
{
    view->setProperty(kQzViewTagProperty, QVariant::fromValue(tag));
    QzWireView(view, QzWindowTagOf(window));
    return view;
}

// The create-or-update start of the view constructors: view |tag| of the
// target window, made by `make(content view, window)` and adopted when
// there is none. Null after the "Window error." alert, or after the "Class
// error." alert (naming `wanted`) for a view of another class.
template <typename Make>
QWidget* FindOrMakeView(
    std::int64_t tag, std::int64_t windowTag, bool (*fits)(const QWidget*), const char* wanted, Make make)
{
    QWidget* window = CreateTarget(windowTag);
    if (!window)
        return nullptr;
    const std::int64_t t = std::abs(tag);
    QWidget* view = QzFindView(window, t);
    if (view && !fits(view)) {
        QzClassErrorAlert(view, t, QzWindowTagOf(window), wanted, true);
        return nullptr;
    }
    return view ? view : Adopt(make(QzContentView(window), window), window, t);
}

// The create-or-update end: the frame, and a negative tag hides the view.
void FinishView(QWidget* view, std::int64_t tag, const QzRect& frame)
{
    PlaceView(view, frame);
    view->setHidden(tag <= 0);
}

bool IsButton(const QWidget* view)
{
    return qobject_cast<const QAbstractButton*>(view);
}

QAbstractButton* NewButton(std::int64_t buttonType, QWidget* parent)
{
    switch (buttonType) {
    case 3: // switch
        return new QCheckBox(parent);
    case 4: // radio
        return new QRadioButton(parent);
    default: {
        auto* button = new QPushButton(parent);
        button->setAutoDefault(false);
        button->setCheckable(buttonType == 1 || buttonType == 2 || buttonType == 6);
        return button;
    }
    }
}

void SetFrameShape(QFrame* frame, std::int64_t borderType)
{
    switch (borderType) {
    case 0:
        frame->setFrameStyle(QFrame::NoFrame);
        break;
    case 1:
        frame->setFrameStyle(QFrame::Box | QFrame::Plain);
        break;
    case 3:
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        break;
    default:
        frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        break;
    }
}

void SetDocumentView(QWidget* scrollView, QWidget* view)
{
    if (auto* sc = qobject_cast<ScrollViewSC*>(scrollView)) {
        sc->setDocumentView(view);
    } else if (auto* area = qobject_cast<QScrollArea*>(scrollView)) {
        area->setWidgetResizable(true);
        area->setWidget(view);
        view->setHidden(false);
    }
}

void SetViewText(QWidget* view, const QString& text)
{
    view->setProperty(kQzSettingTextProperty, true);
    if (auto* plain = qobject_cast<QPlainTextEdit*>(view)) {
        plain->setPlainText(text);
        plain->setProperty(kQzTextProperty, text);
    } else if (auto* rich = qobject_cast<QTextEdit*>(view)) {
        rich->setPlainText(text);
        rich->setProperty(kQzTextProperty, text);
    } else if (auto* field = qobject_cast<QLineEdit*>(view)) {
        field->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(view)) {
        // Log text such as "<TMDisk: 0x6000...>" is shown as it is, never
        // taken for markup.
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
        // A wrapping label in a laid-out window (a long message from the
        // mail system) makes the window taller rather than squeezing the
        // controls above it.
        QWidget* window = label->window();
        if (label->wordWrap() && window->layout() && window->layout()->hasHeightForWidth()) {
            const int need = window->layout()->totalHeightForWidth(window->width());
            if (need > window->height())
                window->resize(window->width(), need);
        }
    }
    view->setProperty(kQzSettingTextProperty, false);
}

QString ViewText(const QWidget* view)
{
    const QVariant set = view->property(kQzTextProperty);
    if (set.isValid())
        return set.toString();
    if (auto* plain = qobject_cast<const QPlainTextEdit*>(view))
        return plain->toPlainText();
    if (auto* rich = qobject_cast<const QTextEdit*>(view))
        return rich->toPlainText();
    if (auto* field = qobject_cast<const QLineEdit*>(view))
        return field->text();
    if (auto* label = qobject_cast<const QLabel*>(view))
        return label->text();
    return QString();
}

QWidget* SearchViews(QWidget* parent, std::int64_t tag, const QWidget* skip)
{
    for (QObject* child : parent->children()) {
        auto* view = qobject_cast<QWidget*>(child);
        if (!view || view->isWindow() || view == skip)
            continue;
        const QVariant viewTag = view->property(kQzViewTagProperty);
        if (viewTag.isValid() && viewTag.toLongLong() == tag)
            return view;
        if (QWidget* found = SearchViews(view, tag, skip))
            return found;
    }
    return nullptr;
}

} // namespace

QWidget* QzFindView(QWidget* window, std::int64_t tag)
{
    if (QWidget* direct = QzWidgetFromTag(tag))
        return direct;
    if (!window)
        return nullptr;
    QWidget* content = QzContentView(window);
    if (QWidget* found = SearchViews(content, tag, nullptr))
        return found;
    // Then what surrounds the content: tool bars, dock widgets, status bar.
    return content == window ? nullptr : SearchViews(window, tag, content);
}

std::int64_t QzButtonStateOf(const QAbstractButton* button)
{
    if (auto* box = qobject_cast<const QCheckBox*>(button)) {
        switch (box->checkState()) {
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return -1;
        default:
            return 0;
        }
    }
    if (button->isCheckable())
        return button->isChecked() ? 1 : 0;
    return button->property(kQzStateProperty).toLongLong();
}

void QzButtonSetStateOf(QAbstractButton* button, std::int64_t state)
{
    if (auto* box = qobject_cast<QCheckBox*>(button)) {
        if (state < 0)
            box->setTristate(true);
        box->setCheckState(state < 0 ? Qt::PartiallyChecked : (state != 0 ? Qt::Checked : Qt::Unchecked));
    } else if (button->isCheckable()) {
        button->setChecked(state != 0);
    } else {
        button->setProperty(kQzStateProperty, QVariant::fromValue(state));
    }
}

void QzTextField(std::int64_t tag, std::int64_t enabled, const QString* text, std::int64_t windowTag, QzRect frame)
{
    QWidget* view = FindOrMakeView(tag, windowTag, IsTextField, "QLineEdit", [&frame](QWidget* content, QWidget*) {
        auto* field = new QLineEdit(content);
        field->setProperty(kQzAutoresizingProperty, 8);
        if (frame.empty())
            field->adjustSize();
        return field;
    });
    if (!view)
        return;
    if (enabled != QzParamOmitted)
        view->setEnabled(enabled != 0);
    if (text)
        SetViewText(view, *text);
    FinishView(view, tag, frame);
}

QString QzTextFieldString(std::int64_t tag)
{
    QWidget* view = ByTag(tag);
    if (!view)
        return QString();
    if (IsTextField(view))
        return ViewText(view);
    if (auto* button = qobject_cast<QAbstractButton*>(view))
        return FromQtTitle(button->text());
    if (auto* combo = qobject_cast<QComboBox*>(view))
        return combo->currentText();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(view))
        return spin->text();
    QzClassErrorAlert(view, tag, QzWindowTagOf(view->window()), "QLineEdit", false);
    return QString();
}

void QzButton(std::int64_t tag, std::int64_t enabled, std::int64_t state, const QString* title, std::int64_t buttonType,
    std::int64_t bezelStyle, QzRect frame, std::int64_t windowTag)
{
    Q_UNUSED(bezelStyle); // Qt's style draws every button the platform's way.
    bool made = false;
    auto* button = qobject_cast<QAbstractButton*>(
        FindOrMakeView(tag, windowTag, IsButton, "QAbstractButton", [&](QWidget* content, QWidget*) {
            made = true;
            QAbstractButton* fresh = NewButton(buttonType, content);
            if (title && *title == QLatin1String("OK")) {
                if (auto* push = qobject_cast<QPushButton*>(fresh))
                    push->setDefault(true);
            } else if (title && *title == QLatin1String("Cancel")) {
                fresh->setShortcut(QKeySequence(Qt::Key_Escape));
            }
            return fresh;
        }));
    if (!button)
        return;
    if (!made && buttonType != QzParamOmitted && qobject_cast<QPushButton*>(button))
        button->setCheckable(buttonType == 1 || buttonType == 2 || buttonType == 6);
    if (enabled != QzParamOmitted)
        button->setEnabled(enabled != 0);
    if (title)
        button->setText(ToQtTitle(*title));
    if (state != QzParamOmitted)
        QzButtonSetStateOf(button, state);
    if (frame.empty() && made)
        button->adjustSize();
    FinishView(button, tag, frame);
}

void QzButtonSetTitle(std::int64_t tag, const QString& title)
{
    if (QAbstractButton* button = Button(tag))
        button->setText(ToQtTitle(title));
}

void QzButtonSetState(std::int64_t tag, std::int64_t state)
{
    if (QAbstractButton* button = Button(tag))
        QzButtonSetStateOf(button, state);
}

std::int64_t QzButtonState(std::int64_t tag)
{
    const QAbstractButton* button = Button(tag);
    return button ? QzButtonStateOf(button) : 0;
}

void QzButtonRemove(std::int64_t tag)
{
    QAbstractButton* button = Button(tag);
    if (!button)
        return;
    // Out of the view tree at once (so no lookup finds it), deleted later in
    // case the removal happens inside one of its own signals.
    button->hide();
    button->setParent(nullptr);
    button->deleteLater();
}

void QzButtonTitleColor(std::int64_t tag, QzColor color)
{
    QAbstractButton* button = Button(tag);
    if (!button)
        return;
    const QColor qcolor(QRgb(0xFF000000u | color));
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, qcolor);
    palette.setColor(QPalette::WindowText, qcolor);
    button->setPalette(palette);
}

void QzScrollView(
    std::int64_t tag, std::int64_t borderType, std::int64_t documentViewTag, std::int64_t windowTag, QzRect frame)
{
    QWidget* view = FindOrMakeView(tag, windowTag, IsScrollView, "ScrollViewSC",
        [](QWidget* content, QWidget*) { return new ScrollViewSC(content); });
    if (!view)
        return;
    if (borderType != QzParamOmitted)
        if (auto* sc = qobject_cast<QFrame*>(view))
            SetFrameShape(sc, borderType);
    if (documentViewTag != 0) {
        QWidget* document = QzFindView(view->window(), documentViewTag);
        if (document && document != view)
            SetDocumentView(view, document);
    }
    FinishView(view, tag, frame);
}

void QzTextView(std::int64_t tag, std::int64_t scrollViewTag, std::int64_t windowTag, QzRect frame)
{
    QWidget* view
        = FindOrMakeView(tag, windowTag, IsTextView, "TextViewSC", [scrollViewTag](QWidget* content, QWidget* window) {
              auto* text = new TextViewSC(content);
              text->setProperty(kQzAutoresizingProperty, 18);
              QWidget* scrollView = scrollViewTag != 0 ? QzFindView(window, scrollViewTag) : nullptr;
              if (scrollView && IsScrollView(scrollView))
                  SetDocumentView(scrollView, text);
              return text;
          });
    if (view)
        FinishView(view, tag, frame);
}

void QzTextViewSetText(std::int64_t tag, const QString& text)
{
    if (QWidget* view = QuietView(tag))
        SetViewText(view, text);
}

QString QzTextViewString(std::int64_t tag)
{
    const QWidget* view = QuietView(tag);
    return view ? ViewText(view) : QString();
}

void QzViewSetAutoresizing(std::int64_t tag, std::int64_t mask)
{
    if (QWidget* view = ByTag(tag))
        view->setProperty(kQzAutoresizingProperty, QVariant::fromValue(mask));
}

void QzImageViewSetImage(std::int64_t tag, const QString& imageName)
{
    auto* label = ByTagAs<QLabel>(tag, "QLabel");
    if (!label)
        return;
    const QString base = QzResourcesPath() + QLatin1Char('/') + imageName;
    QPixmap image(base);
    if (image.isNull())
        image = QPixmap(base + QStringLiteral(".png"));
    if (image.isNull())
        return;
    // Like an image view: scaled down to fit, never up, kept in proportion.
    if (!label->size().isEmpty() && (image.width() > label->width() || image.height() > label->height()))
        image = image.scaled(label->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    label->setAlignment(Qt::AlignCenter);
    label->setPixmap(image);
}

bool QzViewVisible(std::int64_t tag, std::int64_t windowTag)
{
    QWidget* window = QzTargetWindow(windowTag);
    QWidget* view = window ? QzFindView(window, tag) : QzWidgetFromTag(tag);
    return view && !view->isHidden() && view->isVisibleTo(view->window());
}

QzColor QzColorGreen()
{
    return 0x00FF00;
}

QzColor QzColorRed()
{
    return 0xFF0000;
}
