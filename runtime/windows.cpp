// Windows addressed by tag: loading them from the bundle's .ui files,
// showing, hiding, sheets, saved control values and the menu bar.

#include "runtime/windows.h"

#include "runtime/bundle.h"
#include "runtime/events.h"
#include "runtime/state.h"
#include "runtime/testing.h"
#include "runtime/widgets_p.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QUiLoader>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>

namespace {

constexpr std::int64_t kFirstObjectValue = 1000001;

QObject* WindowDelegate()
{
    if (!gQzWindowDelegate)
        gQzWindowDelegate = new CUI_WindowDelegate;
    return gQzWindowDelegate.data();
}

// Objects that are the sender of a connection in the .ui file keep that
// connection as their own action and are not wired to the dialog handler.
void MarkOwnActions(QWidget* root, const QByteArray& xml)
{
    QXmlStreamReader reader(xml);
    bool inConnections = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("connections"))
            inConnections = true;
        else if (reader.isEndElement() && reader.name() == QLatin1String("connections"))
            inConnections = false;
        else if (inConnections && reader.isStartElement() && reader.name() == QLatin1String("sender")) {
            const QString name = reader.readElementText();
            QObject* sender = root->objectName() == name ? root : root->findChild<QObject*>(name);
            if (sender)
                sender->setProperty(kQzOwnActionProperty, true);
        }
    }
}

// Drops the sheet's link, and the links of sheets that no longer exist.
void ForgetSheet(const QWidget* sheet)
{
    std::erase_if(gQzSheets, [sheet](const QzSheetLink& link) { return !link.sheet || link.sheet.data() == sheet; });
}

QzNibEntry* FindNib(const QString& name)
{
    for (QzNibEntry& entry : gQzNibs)
        if (entry.name == name)
            return &entry;
    return nullptr;
}

// One loader for every nib. The nibs hold Qt's own widgets only, so the
// loader is made without Designer's plugin folders: their plugins would
// load libraries (Qt Quick among them) that the program never uses.
QUiLoader& NibLoader()
{
    static QUiLoader* const loader = [] {
        const QStringList paths = QCoreApplication::libraryPaths();
        QCoreApplication::setLibraryPaths({});
        auto* made = new QUiLoader(qApp);
        QCoreApplication::setLibraryPaths(paths);
        made->clearPluginPaths();
        return made;
    }();
    return *loader;
}

// Loads "<name>.ui" from the bundle's resources into the registry, or
// returns the entry made earlier. Null when there is no such file.
QzNibEntry* LoadNib(const QString& name)
{
    if (QzNibEntry* entry = FindNib(name))
        return entry;
    QFile file(QzResourcesPath() + QLatin1Char('/') + name + QStringLiteral(".ui"));
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    QByteArray xml = file.readAll();
    QBuffer buffer(&xml);
    buffer.open(QIODevice::ReadOnly);
    QUiLoader& loader = NibLoader();
    loader.setWorkingDirectory(QDir(QzResourcesPath()));
    QWidget* root = loader.load(&buffer);
    if (!root)
        return nullptr;
    root->hide();
    MarkOwnActions(root, xml);
    gQzNibs.push_back(QzNibEntry {name, {root}});
    return &gQzNibs.back();
}

bool IsWindowCandidate(QWidget* widget)
{
    return qobject_cast<QMainWindow*>(widget) || qobject_cast<QDialog*>(widget);
}

// The window of a nib with that identifier (any when empty): the root
// widget, or a QMainWindow or QDialog inside it, which is detached into a
// window of its own.
QWidget* FindNibWindow(const QzNibEntry& entry, const QString& identifier)
{
    QList<QWidget*> candidates;
    for (const QPointer<QObject>& object : entry.objects) {
        auto* root = qobject_cast<QWidget*>(object.data());
        if (!root || qobject_cast<QMenuBar*>(root))
            continue;
        candidates.append(root);
        for (QWidget* child : root->findChildren<QWidget*>())
            if (IsWindowCandidate(child))
                candidates.append(child);
    }
    for (QWidget* window : candidates) {
        if (identifier.isEmpty() || window->property(kQzIdentifierProperty).toString() == identifier) {
            if (!window->isWindow()) {
                window->setParent(nullptr, window->windowFlags() | Qt::Window);
                window->hide();
            }
            return window;
        }
    }
    return nullptr;
}

void ShowWindow(QWidget* window, bool show)
{
    if (!show) {
        window->hide();
        return;
    }
    window->show();
    window->raise();
    window->activateWindow();
}

QRect ScreenArea(const QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

QRect ScreenGeometry(const QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

void ApplyStyleMask(QWidget* window, std::int64_t mask)
{
    Qt::WindowFlags flags = window->windowFlags() & Qt::WindowType_Mask;
    if (mask == 0) {
        flags |= Qt::FramelessWindowHint;
    } else {
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (mask & 2)
            flags |= Qt::WindowCloseButtonHint;
        if (mask & 4)
            flags |= Qt::WindowMinimizeButtonHint;
        if (mask & 8)
            flags |= Qt::WindowMaximizeButtonHint;
    }
    window->setWindowFlags(flags);
    if (mask & 8) {
        window->setMinimumSize(0, 0);
        window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        window->setFixedSize(window->size());
    }
}

// Puts the content view at the Mac screen rectangle (origin bottom-left of
// the screen), growing the window by whatever surrounds its content.
void SetContentFrame(QWidget* window, const QzRect& rect)
{
    QWidget* content = QzContentView(window);
    QzContentHeight(content);
    const QSize extra = content == window ? QSize(0, 0) : window->size() - content->size();
    const int width = int(std::lround(rect.width));
    const int height = int(std::lround(rect.height));
    const int top = ScreenGeometry(window).height() - int(std::lround(rect.y)) - height;
    window->resize(width + extra.width(), height + extra.height());
    window->move(int(std::lround(rect.x)), top - (content == window ? 0 : content->y()));
}

// Menu choices: the menu id is the menu's "tag" when that is 1 or more,
// else the position of the menu in its menu bar (or supermenu); the item
// index is its position in the menu, separators included.
void MenuChoice(QAction* action)
{
    QMenu* menu = nullptr;
    for (QObject* object : action->associatedObjects())
        if ((menu = qobject_cast<QMenu*>(object)))
            break;
    if (!menu)
        return;
    const std::int64_t item = menu->actions().indexOf(action);
    std::int64_t menuId = menu->property(kQzViewTagProperty).toLongLong();
    if (menuId < 1) {
        menuId = 0;
        for (QObject* object : menu->menuAction()->associatedObjects()) {
            if (auto* bar = qobject_cast<QMenuBar*>(object)) {
                menuId = bar->actions().indexOf(menu->menuAction());
                break;
            }
            if (auto* super = qobject_cast<QMenu*>(object)) {
                menuId = super->actions().indexOf(menu->menuAction());
                break;
            }
        }
    }
    if (gQzMenuHandler)
        gQzMenuHandler(menuId, item);
}

// Items with "firstResponderAction" (copy, cut, paste, selectAll, undo,
// redo) act on the focused widget, like the Mac's first-responder actions.
void FirstResponderAction(const QByteArray& slot)
{
    QWidget* focus = QApplication::focusWidget();
    if (focus && focus->metaObject()->indexOfMethod((slot + "()").constData()) >= 0)
        QMetaObject::invokeMethod(focus, slot.constData());
}

void WireMenu(QMenu* menu)
{
    for (QAction* action : menu->actions()) {
        if (action->menu()) {
            WireMenu(action->menu());
            continue;
        }
        if (action->isSeparator() || action->property(kQzOwnActionProperty).toBool()
            || action->property(kQzWiredProperty).toBool())
            continue;
        action->setProperty(kQzWiredProperty, true);
        const QByteArray slot = action->property("firstResponderAction").toByteArray();
        if (!slot.isEmpty())
            QObject::connect(action, &QAction::triggered, action, [slot] { FirstResponderAction(slot); });
        else
            QObject::connect(action, &QAction::triggered, action, [action] { MenuChoice(action); });
    }
}

void RestoreControl(QWidget* view, const QVariantMap& values)
{
    // The value saved for this control under kind + tag + what, if any.
    const QString tag = QString::number(QzViewTagOf(view));
    const auto saved = [&values, &tag](const char* kind, const char* what) -> std::optional<QVariant> {
        const auto found = values.constFind(QLatin1String(kind) + tag + QLatin1String(what));
        return found == values.cend() ? std::nullopt : std::optional<QVariant>(*found);
    };
    if (auto* button = qobject_cast<QAbstractButton*>(view)) {
        if (const auto state = saved("Button", "State"))
            QzButtonSetStateOf(button, state->toLongLong());
    } else if (auto* field = qobject_cast<QLineEdit*>(view)) {
        for (const char* kind : {"TextField", "SearchField", "TokenField"})
            if (const auto text = saved(kind, "StringValue"))
                field->setText(text->toString());
    } else if (auto* label = qobject_cast<QLabel*>(view)) {
        if (const auto text = saved("TextField", "StringValue"))
            label->setText(text->toString());
    } else if (auto* combo = qobject_cast<QComboBox*>(view)) {
        if (const auto items = saved("ComboBox", "ObjectValues")) {
            combo->clear();
            combo->addItems(items->toStringList());
        }
        if (const auto text = saved("ComboBox", "StringValue"); text && combo->isEditable())
            combo->setEditText(text->toString());
        if (const auto popup = saved("PopUpButton", "TitleOfSelectedItem"))
            combo->setCurrentText(popup->toString());
    } else if (auto* slider = qobject_cast<QSlider*>(view)) {
        if (const auto value = saved("Slider", "DoubleValue"))
            slider->setValue(int(std::lround(value->toDouble())));
    } else if (auto* spin = qobject_cast<QDoubleSpinBox*>(view)) {
        if (const auto value = saved("Stepper", "DoubleValue"))
            spin->setValue(value->toDouble());
    } else if (auto* intSpin = qobject_cast<QSpinBox*>(view)) {
        if (const auto value = saved("Stepper", "DoubleValue"))
            intSpin->setValue(int(std::lround(value->toDouble())));
    } else if (auto* date = qobject_cast<QDateTimeEdit*>(view)) {
        if (const auto value = saved("DatePicker", "DateValue"))
            date->setDateTime(value->toDateTime());
    }
}

void RestoreTree(QWidget* parent, const QVariantMap& values)
{
    for (QObject* child : parent->children()) {
        auto* view = qobject_cast<QWidget*>(child);
        if (!view || view->isWindow())
            continue;
        if (view->property(kQzViewTagProperty).isValid())
            RestoreControl(view, values);
        RestoreTree(view, values);
    }
}

} // namespace

CUI_AppDelegate* QzDelegateObject()
{
    if (auto* installed = qobject_cast<CUI_AppDelegate*>(gQzAppDelegate.data()))
        return installed;
    if (!gQzSpareAppDelegate) {
        gQzSpareAppDelegate = new CUI_AppDelegate;
        // Closing the last window does not end the application.
        if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            app->setQuitOnLastWindowClosed(false);
    }
    return static_cast<CUI_AppDelegate*>(gQzSpareAppDelegate.data());
}

QWidget* QzWidgetFromTag(std::int64_t value)
{
    const std::int64_t wanted = std::abs(value);
    if (wanted < kFirstObjectValue)
        return nullptr;
    for (QWidget* widget : QApplication::allWidgets())
        if (reinterpret_cast<std::intptr_t>(widget) == wanted)
            return widget;
    return nullptr;
}

QWidget* QzWindowByTag(std::int64_t tag)
{
    const std::int64_t wanted = std::abs(tag);
    if (wanted == 0)
        return nullptr;
    if (wanted >= kFirstObjectValue) {
        QWidget* widget = QzWidgetFromTag(wanted);
        return widget && widget->isWindow() ? widget : nullptr;
    }
    for (const QPointer<QWidget>& window : QzDelegateObject()->windows)
        if (window && QzWindowTagOf(window) == wanted)
            return window;
    return nullptr;
}

std::int64_t QzWindowTagOf(const QWidget* window)
{
    const QVariant tag = window ? window->property(kQzWindowTagProperty) : QVariant();
    return tag.isValid() ? tag.toLongLong() : 0;
}

QWidget* QzContentView(QWidget* window)
{
    if (auto* main = qobject_cast<QMainWindow*>(window))
        if (main->centralWidget())
            return main->centralWidget();
    if (auto* own = qobject_cast<WindowSC*>(window))
        return own->contentView();
    return window;
}

QWidget* QzFrontmostWindow()
{
    QWidget* best = nullptr;
    std::int64_t bestOrder = -1;
    for (const QPointer<QWidget>& window : QzDelegateObject()->windows) {
        if (!window || !window->isVisible())
            continue;
        const std::int64_t order = window->property(kQzOrderProperty).toLongLong();
        if (order > bestOrder) {
            best = window;
            bestOrder = order;
        }
    }
    return best;
}

QWidget* QzTargetWindow(std::int64_t windowTag)
{
    if (windowTag != 0)
        return QzWindowByTag(windowTag);
    if (QWidget* current = QzWindowByTag(QzCurrentWindow))
        return current;
    return QzFrontmostWindow();
}

int QzContentHeight(QWidget* content)
{
    // A window that was never shown has not laid out its content yet.
    if (QLayout* layout = content->window()->layout())
        layout->activate();
    return content->height();
}

QRect QzFromMacRect(QWidget* content, const QzRect& r)
{
    const int height = int(std::lround(r.height));
    return QRect(int(std::lround(r.x)), QzContentHeight(content) - int(std::lround(r.y)) - height,
        int(std::lround(r.width)), height);
}

void QzAdoptWindow(QWidget* window, std::int64_t tag)
{
    window->setProperty(kQzWindowTagProperty, QVariant::fromValue(tag));
    window->installEventFilter(WindowDelegate());
    QWidget* content = QzContentView(window);
    if (content != window)
        content->installEventFilter(WindowDelegate());
    QLineEdit* firstField = nullptr;
    const std::function<void(QWidget*)> wire = [&](QWidget* parent) {
        for (QObject* child : parent->children()) {
            auto* view = qobject_cast<QWidget*>(child);
            if (!view || view->isWindow())
                continue;
            QzWireView(view, tag);
            auto* field = qobject_cast<QLineEdit*>(view);
            if (!firstField && field && field->isEnabled() && !field->isReadOnly())
                firstField = field;
            wire(view);
        }
    };
    wire(window);
    QzDelegateObject()->windows.append(window);
    if (firstField)
        firstField->setFocus();
    if (tag == 1)
        QzAttachMenuBar();
}

void QzAttachMenuBar()
{
#ifndef Q_OS_MACOS
    auto* bar = qobject_cast<QMenuBar*>(gQzMenuBar.data());
    QWidget* window = QzWindowByTag(1);
    if (!bar || !window || bar->parentWidget())
        return;
    if (auto* main = qobject_cast<QMainWindow*>(window))
        main->setMenuBar(bar);
    else if (window->layout())
        window->layout()->setMenuBar(bar);
    else
        return;
    bar->show();
    // The window grows by the menu bar so that its content keeps the size
    // (and the Mac frames inside it their places).
    const int grow = bar->sizeHint().height();
    if (window->minimumHeight() == window->maximumHeight())
        window->setFixedHeight(window->height() + grow);
    else
        window->resize(window->width(), window->height() + grow);
    if (window->layout())
        window->layout()->activate();
#endif
}

void QzWindowOpen(std::int64_t tag, const QString& nibName, const QString& identifier)
{
    const std::int64_t t = std::abs(tag);
    QWidget* window = QzWindowByTag(t);
    if (!window) {
        if (QzNibEntry* entry = LoadNib(nibName)) {
            window = FindNibWindow(*entry, identifier);
            if (window && QzWindowTagOf(window) == 0)
                QzAdoptWindow(window, t);
        }
    }
    QzCurrentWindow = t;
    if (window)
        ShowWindow(window, tag > 0);
}

void QzWindowSet(std::int64_t tag, const QString& title, std::int64_t styleMask, QzRect contentRect)
{
    const std::int64_t t = std::abs(tag);
    QWidget* window = QzWindowByTag(t);
    if (window) {
        if (!title.isNull())
            window->setWindowTitle(title);
        if (!contentRect.empty())
            SetContentFrame(window, contentRect);
        if (styleMask != QzParamOmitted)
            ApplyStyleMask(window, styleMask);
    } else {
        window = new WindowSC;
        window->setProperty(kQzIdentifierProperty, QString::number(t));
        window->setWindowTitle(title.isNull() ? QStringLiteral("Untitled") : title);
        if (!contentRect.empty())
            window->resize(int(std::lround(contentRect.width)), int(std::lround(contentRect.height)));
        if (styleMask != QzParamOmitted)
            ApplyStyleMask(window, styleMask);
        QzAdoptWindow(window, t);
        QzWindowCenter(t);
    }
    QzCurrentWindow = t;
    ShowWindow(window, tag > 0);
}

bool QzWindowExists(std::int64_t tag)
{
    return QzWindowByTag(tag) != nullptr;
}

bool QzWindowVisible(std::int64_t tag)
{
    const QWidget* window = QzWindowByTag(tag);
    return window && window->isVisible();
}

void QzWindowCenter(std::int64_t tag)
{
    QWidget* window = QzWindowByTag(tag);
    if (!window)
        return;
    const QRect area = ScreenArea(window);
    const QSize size = window->frameGeometry().size();
    // Like the Mac: centred across, somewhat above the middle.
    const int x = area.x() + (area.width() - size.width()) / 2;
    const int y = area.y() + std::max(0, (area.height() - size.height()) / 3);
    window->move(x, y);
}

void QzWindowClose(std::int64_t tag)
{
    QWidget* window = QzWindowByTag(tag);
    if (!window)
        return;
    const bool saved = gQzClosingWindow;
    gQzClosingWindow = true;
    window->close();
    gQzClosingWindow = saved;
}

void QzSheetBegin(std::int64_t parentTag, std::int64_t sheetTag)
{
    if (std::abs(parentTag) == std::abs(sheetTag))
        return;
    QWidget* parent = QzWindowByTag(parentTag);
    QWidget* sheet = QzWindowByTag(sheetTag);
    if (!parent || !sheet)
        return;
    if (sheet->parentWidget() == parent && sheet->isVisible() && sheet->windowModality() == Qt::WindowModal)
        return;
    QzDispatchWindowEvent(10001, parent, true);
    if (sheet->parentWidget() != parent) {
#ifdef Q_OS_MACOS
        const Qt::WindowFlags kind = Qt::Sheet;
#else
        const Qt::WindowFlags kind = Qt::Dialog;
#endif
        sheet->setParent(parent, kind | (sheet->windowFlags() & ~Qt::WindowType_Mask));
    }
    sheet->setWindowModality(Qt::WindowModal);
    ForgetSheet(sheet);
    gQzSheets.push_back({sheet, QzWindowTagOf(parent)});
    // A sheet comes down from the top of its parent's content, centred.
    const QRect frame = parent->geometry();
    const QPoint top = QzContentView(parent)->mapTo(parent, QPoint(0, 0));
    sheet->move(frame.x() + (frame.width() - sheet->width()) / 2, frame.y() + top.y());
    ShowWindow(sheet, true);
}

void QzSheetEnd(std::int64_t parentTag, std::int64_t sheetTag)
{
    QWidget* parent = QzWindowByTag(parentTag);
    QWidget* sheet = QzWindowByTag(sheetTag);
    if (!parent || !sheet || QzSheetParentTag(sheet) != QzWindowTagOf(parent))
        return;
    sheet->hide();
    sheet->setWindowModality(Qt::NonModal);
    ForgetSheet(sheet);
    // The keyboard goes back to the window the sheet hung on, where it was.
    parent->activateWindow();
    if (QWidget* focus = parent->focusWidget())
        focus->setFocus(Qt::ActiveWindowFocusReason);
    else
        parent->setFocus(Qt::ActiveWindowFocusReason);
    QzDispatchWindowEvent(10002, parent, true);
}

std::int64_t QzSheetParentTag(const QWidget* window)
{
    for (const QzSheetLink& link : gQzSheets)
        if (link.sheet.data() == window)
            return link.parentTag;
    return 0;
}

void QzSetCurrentWindow(std::int64_t tag)
{
    QzCurrentWindow = std::abs(tag);
}

std::int64_t QzCurrentWindowTag()
{
    return QzCurrentWindow;
}

void QzWindowRestore(std::int64_t tag, const QString& key)
{
    QWidget* window = QzWindowByTag(tag);
    if (!window)
        return;
    const QString entry = key.isNull() ? window->windowTitle() : key;
    QSettings settings(
        QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillaby"), QStringLiteral("Quillaby"));
    QVariantMap values;
    const QVariant value = settings.value(entry);
    if (value.typeId() == QMetaType::QVariantMap) {
        values = value.toMap();
    } else if (settings.childGroups().contains(entry)) {
        settings.beginGroup(entry);
        for (const QString& name : settings.childKeys())
            values.insert(name, settings.value(name));
        settings.endGroup();
    } else {
        return;
    }
    RestoreTree(QzContentView(window), values);
}

void QzLoadMenuNib(const QString& nibName)
{
    if (FindNib(nibName))
        return;
    QzNibEntry* entry = LoadNib(nibName);
    if (!entry)
        return;
    auto* root = qobject_cast<QWidget*>(entry->objects.value(0).data());
    QMenuBar* bar = nullptr;
    if (auto* main = qobject_cast<QMainWindow*>(root)) {
        bar = qobject_cast<QMenuBar*>(main->menuWidget());
        if (bar)
            main->layout()->setMenuBar(nullptr);
    } else if (root) {
        bar = qobject_cast<QMenuBar*>(root) ? qobject_cast<QMenuBar*>(root) : root->findChild<QMenuBar*>();
    }
    if (!bar)
        return;
    if (bar != root)
        bar->setParent(nullptr);
    bar->hide();
    entry->objects.append(bar);
    for (QAction* action : bar->actions())
        if (action->menu())
            WireMenu(action->menu());
    delete gQzMenuBar.data();
    gQzMenuBar = bar;
    QzAttachMenuBar();
}

void QzMenuItemSetCheck(std::int64_t menuId, std::int64_t item, bool checked)
{
    auto* bar = qobject_cast<QMenuBar*>(gQzMenuBar.data());
    if (!bar)
        return;
    const QList<QAction*> menus = bar->actions();
    for (qsizetype i = 0; i < menus.size(); ++i) {
        QMenu* menu = menus[i]->menu();
        if (!menu)
            continue;
        const std::int64_t tag = menu->property(kQzViewTagProperty).toLongLong();
        if ((tag >= 1 ? tag : i) != menuId)
            continue;
        if (QAction* action = menu->actions().value(item); action && !action->isSeparator()) {
            action->setCheckable(true);
            action->setChecked(checked);
        }
        return;
    }
}

void QzResetWindowState()
{
    for (QzAlertEntry& alert : gQzAlerts)
        delete alert.box.data();
    gQzAlerts.clear();
    delete gQzAlertQueue.data();
    delete gQzMenuBar.data();
    delete gQzAppDelegate.data();
    delete gQzSpareAppDelegate.data();
    for (QzNibEntry& entry : gQzNibs)
        for (const QPointer<QObject>& object : entry.objects)
            delete object.data();
    gQzNibs.clear();
    gQzSheets.clear();
    QzCurrentWindow = 0;
    gQzClosingWindow = false;
    gQzDialogHandler = nullptr;
    gQzMenuHandler = nullptr;
    gQzEventReply = QzEventReplySlots();
    gQzModalDepth = 0;
    gQzHeldTimerFires = 0;
    gQzRunLoopEntered = false;
    gQzBeforeWaiting = nullptr;
    delete gQzWallClock.data();
}
