// Application alerts (QzAlert, QzAlertNote, QzAlertStop) and the runtime's
// asynchronous alerts about windows and views that cannot be addressed.

#include "runtime/events.h"

#include "runtime/hooks.h"
#include "runtime/state.h"
#include "runtime/widgets_p.h"

#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>

namespace {

QzAlertEntry* FindAlert(std::int64_t tag)
{
    for (QzAlertEntry& alert : gQzAlerts)
        if (alert.tag == tag)
            return &alert;
    return nullptr;
}

void RemoveAlert(std::int64_t tag)
{
    std::erase_if(gQzAlerts, [tag](const QzAlertEntry& alert) { return alert.tag == tag; });
}

QObject* AlertQueue()
{
    if (!gQzAlertQueue)
        gQzAlertQueue = new QObject;
    return gQzAlertQueue.data();
}

QzAlertRequest RequestOf(const QzAlertEntry& alert)
{
    QzAlertRequest request;
    request.tag = int(alert.tag);
    request.style = alert.style;
    request.message = alert.message;
    request.informative = alert.informative;
    request.buttons = alert.buttons;
    return request;
}

void Finish(std::int64_t tag, int index)
{
    RemoveAlert(tag);
    QzDispatchDialog(1000, 1000 + index, tag, nullptr);
}

// A real sheet: a window-modal message box on the target window. Timers go
// on running while it is up, as they do under a Mac sheet.
void ShowSheetBox(QzAlertEntry& alert, QWidget* window)
{
    auto* box = new QMessageBox(window);
    box->setIcon(alert.style == 2 ? QMessageBox::Critical
                                  : (alert.style == 1 ? QMessageBox::Information : QMessageBox::Warning));
    box->setTextFormat(Qt::PlainText);
    box->setText(alert.message);
    box->setInformativeText(alert.informative);
    const QStringList titles = alert.buttons.isEmpty() ? QStringList {QStringLiteral("OK")} : alert.buttons;
    QList<QAbstractButton*> buttons;
    // Later buttons take a role Escape never picks: on the Mac, Escape
    // presses only a button titled "Cancel".
    for (const QString& title : titles)
        buttons.append(box->addButton(title, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
    box->setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
#ifdef Q_OS_MACOS
    box->setWindowFlags(box->windowFlags() | Qt::Sheet);
#endif
    box->setWindowModality(Qt::WindowModal);
    const std::int64_t tag = alert.tag;
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, tag] {
        const int index = int(buttons.indexOf(box->clickedButton()));
        box->deleteLater();
        Finish(tag, index < 0 ? 0 : index);
    });
    alert.box = box;
    box->open();
}

// Through the alert hook, after the current event: the hook blocks, so the
// call that began the sheet has long returned when the answer comes.
void ShowSheetQueued(std::int64_t tag)
{
    QMetaObject::invokeMethod(
        AlertQueue(),
        [tag] {
            const QzAlertEntry* alert = FindAlert(tag);
            if (!alert)
                return; // closed before it was shown
            const int index = gQzAlertHook(RequestOf(*alert));
            Finish(tag, index);
        },
        Qt::QueuedConnection);
}

} // namespace

std::int64_t QzAlert(std::int64_t tag, std::int64_t style, const QString* message, const QString* informative,
    const QStringList* buttons, std::int64_t sheet)
{
    const std::int64_t t = std::abs(tag);
    QzAlertEntry* alert = FindAlert(t);
    const bool made = !alert;
    if (made) {
        QzAlertEntry fresh;
        fresh.tag = t;
        fresh.style = style == QzAlertStyleOmitted ? 0 : int(style);
        if (buttons)
            fresh.buttons = *buttons;
        gQzAlerts.push_back(fresh);
        alert = &gQzAlerts.back();
    } else if (style != QzAlertStyleOmitted) {
        alert->style = int(style);
    }
    if (sheet != QzAlertStyleOmitted)
        alert->sheet = sheet != 0;
    if (message)
        alert->message = *message;
    if (informative)
        alert->informative = *informative;

    if (tag <= 0) {
        if (made)
            return 0; // prepared, not shown
        if (QObject* box = alert->box.data()) {
            box->disconnect();
            box->deleteLater();
        }
        RemoveAlert(t);
        QzDispatchDialog(1000, 0, t, nullptr);
        return 0;
    }
    if (alert->shown) {
        if (auto* box = qobject_cast<QMessageBox*>(alert->box.data())) {
            box->setText(alert->message);
            box->setInformativeText(alert->informative);
        }
        return 0;
    }
    alert->shown = true;
    if (alert->sheet) {
        if (QWidget* window = QzTargetWindow(0)) {
            if (gQzAlertHook == QzAlertPresent)
                ShowSheetBox(*alert, window);
            else
                ShowSheetQueued(t);
            return 0;
        }
    }
    const QzAlertRequest request = RequestOf(*alert);
    QzBeginModal();
    const int index = gQzAlertHook(request);
    QzEndModal();
    Finish(t, index);
    return 1000 + index;
}

std::int64_t QzAlert(std::int64_t tag, std::int64_t style, const QString* message, const QString* informative,
    const QString& buttons, std::int64_t sheet)
{
    if (buttons.isEmpty())
        return QzAlert(tag, style, message, informative, static_cast<const QStringList*>(nullptr), sheet);
    const QStringList list = buttons.split(QLatin1Char(';'));
    return QzAlert(tag, style, message, informative, &list, sheet);
}

std::int64_t QzAlertNote(
    const ShortString& message, const ShortString& informative, const ShortString& /*a*/, const ShortString& /*b*/)
{
    const QString text = QzStrToCF(message);
    const QString info = QzStrToCF(informative);
    QzAlert(1, QzAlertStyleOmitted, &text, &info, static_cast<const QStringList*>(nullptr));
    return 0;
}

std::int64_t QzAlertStop(
    const ShortString& message, const ShortString& informative, const ShortString& /*a*/, const ShortString& /*b*/)
{
    const QString text = QzStrToCF(message);
    const QString info = QzStrToCF(informative);
    QzAlert(3, 2, &text, &info, static_cast<const QStringList*>(nullptr));
    return 0;
}

void QzAddressingAlert(const QString& message, const QString& informative)
{
    // Queued, so that alerts come in the order of the errors.
    QMetaObject::invokeMethod(
        AlertQueue(),
        [message, informative] {
            QzAlertRequest request;
            request.message = message;
            request.informative = informative;
            request.buttons = {QStringLiteral("OK"), QStringLiteral("Quit")};
            QzBeginModal();
            const int choice = gQzAlertHook(request);
            QzEndModal();
            if (choice == 1) {
                // "Quit": the application terminates at once, as asked.
                std::fflush(nullptr);
                std::exit(0);
            }
        },
        Qt::QueuedConnection);
}

void QzWindowErrorAlert(std::int64_t tag)
{
    QzAddressingAlert(QStringLiteral("Window error."),
        QStringLiteral("Window %1 does not exist.").arg(QString::number(std::abs(tag))));
}

void QzNoWindowAlert()
{
    QzAddressingAlert(QStringLiteral("Error."), QStringLiteral("Can't find any windows."));
}

void QzTagErrorAlert(std::int64_t viewTag, std::int64_t windowTag)
{
    QzAddressingAlert(QStringLiteral("Tag error."),
        QStringLiteral("Can't find view %1 in window %2.").arg(QString::number(viewTag), QString::number(windowTag)));
}

void QzClassErrorAlert(QWidget* view, std::int64_t viewTag, std::int64_t windowTag, const char* wanted, bool expected)
{
    const QString className = QString::fromLatin1(view->metaObject()->className());
    const QString wantedName = QString::fromLatin1(wanted);
    QString informative;
    if (std::abs(viewTag) >= 1000001)
        informative = QStringLiteral("View %1 cannot respond to %2 messages.").arg(className, wantedName);
    else if (expected)
        informative = QStringLiteral("View %1 (%2), in window %3, expected %4 class.")
                          .arg(QString::number(viewTag), className, QString::number(windowTag), wantedName);
    else
        informative = QStringLiteral("View %1 (%2), in window %3, cannot respond to %4 messages.")
                          .arg(QString::number(viewTag), className, QString::number(windowTag), wantedName);
    QzAddressingAlert(QStringLiteral("Class error."), informative);
}
