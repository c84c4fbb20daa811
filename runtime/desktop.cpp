#include "runtime/desktop.h"

#include "runtime/bundle.h"
#include "runtime/events.h"
#include "runtime/platform.h"
#include "runtime/state.h"
#include "runtime/widgets_p.h"
#include "runtime/windows.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QSettings>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

constexpr char kHelpPathProperty[] = "helpDocument";
const QString kGeometryKey = QStringLiteral("geometry");

// Saves its window's geometry each time the window moves or changes size.
class GeometryKeeper : public QObject {
public:
    GeometryKeeper(QWidget* window, const QString& file)
        : QObject(window)
        , settings_(file, QSettings::IniFormat)
    {
    }
    QSettings& settings() { return settings_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
            settings_.setValue(kGeometryKey, static_cast<QWidget*>(watched)->saveGeometry());
        return false;
    }

private:
    QSettings settings_;
};

// A link of the document: its own sections and files in the browser, web
// addresses through the URL hook, with an alert when that fails.
void FollowLink(QTextBrowser* browser, const QUrl& link)
{
    const QUrl target = browser->source().resolved(link);
    if (target.isLocalFile()) {
        browser->setSource(target);
    } else if (!QzOpenURL(target)) {
        const QString message = QStringLiteral("Unable to open ") + target.toString();
        QzAlert(1, QzAlertStyleOmitted, &message, &gQzOpenUrlError, static_cast<const QStringList*>(nullptr));
    }
}

} // namespace

void QzSetApplicationIdentity(const QString& iconImage, const QString& desktopEntry)
{
    const QString path = QzResourcesPath() + QLatin1Char('/') + iconImage;
    if (QFileInfo::exists(path))
        QApplication::setWindowIcon(QIcon(path));
    QGuiApplication::setDesktopFileName(desktopEntry);
}

bool QzShowHelpWindow(const QString& path)
{
    const QFileInfo file(path);
    if (!file.isFile())
        return false;
    const QString canonical = file.canonicalFilePath();
    QWidget* window = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->property(kHelpPathProperty).toString() == canonical)
            window = top;
    if (!window) {
        window = new QWidget(nullptr, Qt::Window);
        window->setProperty(kHelpPathProperty, canonical);
        window->setObjectName(QStringLiteral("helpWindow"));
        auto* browser = new QTextBrowser(window);
        browser->setObjectName(QStringLiteral("helpBrowser"));
        browser->setOpenLinks(false);
        browser->document()->setDocumentMargin(12);
        QObject::connect(
            browser, &QTextBrowser::anchorClicked, browser, [browser](const QUrl& link) { FollowLink(browser, link); });
        auto* layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(browser);
        browser->setSource(QUrl::fromLocalFile(canonical));
        window->setWindowTitle(browser->documentTitle().isEmpty() ? file.completeBaseName() : browser->documentTitle());
        window->resize(760, 680);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return true;
}

void QzWindowKeepGeometry(std::int64_t tag, const QString& geometryFile)
{
    QWidget* window = QzWindowByTag(tag);
    if (!window)
        return;
    window->setMinimumSize(window->size());
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    auto* keeper = new GeometryKeeper(window, geometryFile);
    const QByteArray saved = keeper->settings().value(kGeometryKey).toByteArray();
    if (!saved.isEmpty())
        window->restoreGeometry(saved);
    window->installEventFilter(keeper);
}
