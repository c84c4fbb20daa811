#include "runtime/alert.h"

#include "runtime/bundle.h"
#include "runtime/hooks.h"
#include "runtime/widgets_p.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>

namespace {

// The bundle's "Runtime" string table, in the Apple .strings form
// ("key" = "value";), read once.
const QHash<QString, QString>& RuntimeTable()
{
    static const QHash<QString, QString> table = [] {
        QHash<QString, QString> t;
        QFile file(QzResourcesPath() + QStringLiteral("/Runtime.strings"));
        if (!file.open(QIODevice::ReadOnly))
            return t;
        const QString text = QString::fromUtf8(file.readAll());
        static const QRegularExpression entry(
            QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\"\\s*=\\s*\"((?:[^\"\\\\]|\\\\.)*)\"\\s*;"));
        for (auto it = entry.globalMatch(text); it.hasNext();) {
            const auto m = it.next();
            t.insert(m.captured(1), m.captured(2));
        }
        return t;
    }();
    return table;
}

} // namespace

QString QzRuntimeText(const QString& key)
{
    return RuntimeTable().value(key, key);
}

int QzAlertPresent(const QzAlertRequest& request)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) {
        // No windows to show it in: tell standard error and take the first
        // button, which is what a user pressing Return would choose.
        std::fprintf(stderr, "%s\n", request.message.toUtf8().constData());
        if (!request.informative.isEmpty())
            std::fprintf(stderr, "%s\n", request.informative.toUtf8().constData());
        return 0;
    }
    QMessageBox box;
    box.setIcon(request.style == 2 ? QMessageBox::Critical
                                   : (request.style == 1 ? QMessageBox::Information : QMessageBox::Warning));
    box.setTextFormat(Qt::PlainText);
    box.setText(request.message);
    box.setInformativeText(request.informative);
    QList<QAbstractButton*> buttons;
    const QStringList titles = request.buttons.isEmpty() ? QStringList {QStringLiteral("OK")} : request.buttons;
    for (const QString& title : titles)
        buttons.append(box.addButton(title, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box.exec();
    const int index = static_cast<int>(buttons.indexOf(box.clickedButton()));
    return index < 0 ? 0 : index;
}

void QzRuntimeAlert(const QString& message, const QString& informative, bool fatal)
{
    QzAlertRequest request;
    request.runtime = true;
    request.style = fatal ? 2 : 0;
    request.message = message;
    request.informative = informative;
    if (fatal)
        request.buttons = {QzRuntimeText(QStringLiteral("Quit")), QzRuntimeText(QStringLiteral("Crash"))};
    else
        request.buttons = {QzRuntimeText(QStringLiteral("Stop")), QzRuntimeText(QStringLiteral("Continue")),
            QzRuntimeText(QStringLiteral("Crash"))};
    QzBeginModal(); // timers hold their fires while the alert is up
    const int choice = gQzAlertHook(request);
    QzEndModal();
    if (choice == 0) {
        // "Quit" or "Stop": the program ends. It ends with a failure status,
        // because whatever raised the alert did not complete.
        std::fflush(nullptr);
        std::exit(1);
    }
    if (fatal || choice != 1)
        std::abort(); // "Crash", or a fatal alert that somehow came back
}
