// The status icon: a QSystemTrayIcon whose image is the application icon
// with a badge for the state, drawn afresh at each size it may be shown at.

#include "runtime/tray.h"

#include "runtime/bundle.h"
#include "runtime/state.h"
#include "runtime/widgets_p.h"

#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <QSystemTrayIcon>

#include <algorithm>

namespace {

// The sizes a tray or menu bar asks for, at 1x and 2x.
constexpr int kIconSizes[] = {16, 22, 24, 32, 44, 48, 64, 96, 128};

QSystemTrayIcon* Tray()
{
    return qobject_cast<QSystemTrayIcon*>(gQzTray.data());
}

// The application icon at pixels x pixels: the bundle's drawing, or a plain
// tile of its colour where the drawing is missing.
QImage BaseImage(int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QSvgRenderer drawing(QzResourcesPath() + QStringLiteral("/Quillaby Icon.svg"));
    if (drawing.isValid()) {
        drawing.render(&painter, QRectF(0, 0, pixels, pixels));
    } else {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2f8f9d));
        painter.drawRoundedRect(
            QRectF(0.05 * pixels, 0.05 * pixels, 0.9 * pixels, 0.9 * pixels), 0.2 * pixels, 0.2 * pixels);
    }
    return image;
}

// Grey, keeping the shape: the state is not known.
void MakeGrey(QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(line[x]);
            const int grey = std::min(alpha, qGray(line[x]) * 3 / 4 + alpha / 5);
            line[x] = qRgba(grey, grey, grey, alpha);
        }
    }
}

// A round badge in the lower right corner with a white rim (it stands out
// on dark panels; the colour does on light ones) and its sign: a tick, "!"
// or "?".
void DrawBadge(QImage& image, int state)
{
    const double size = image.width();
    const double d = size * (size <= 24 ? 0.62 : 0.52);
    const QRectF badge(size - d, size - d, d, d);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor fill = state == kQzTrayWell ? QColor(0x2e7d32)
        : state == kQzTrayProblem            ? QColor(0xf59e0b)
        : state == kQzTraySerious            ? QColor(0xd32f2f)
                                             : QColor(0x5f6368);
    const double rim = std::max(1.0, size / 16.0);
    painter.setPen(QPen(Qt::white, rim));
    painter.setBrush(fill);
    painter.drawEllipse(badge.adjusted(rim / 2, rim / 2, -rim / 2, -rim / 2));
    const auto at = [&badge, d](double x, double y) { return QPointF(badge.x() + x * d, badge.y() + y * d); };
    const QColor sign = state == kQzTrayProblem ? QColor(0x3b2a00) : QColor(Qt::white);
    painter.setPen(QPen(sign, d * 0.16, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    if (state == kQzTrayWell) {
        painter.drawPolyline(QList<QPointF> {at(0.28, 0.52), at(0.44, 0.68), at(0.73, 0.35)});
        return;
    }
    if (state == kQzTrayUnknown) {
        QPainterPath hook;
        hook.moveTo(at(0.33, 0.38));
        hook.cubicTo(at(0.33, 0.16), at(0.68, 0.16), at(0.68, 0.36));
        hook.cubicTo(at(0.68, 0.50), at(0.50, 0.48), at(0.50, 0.60));
        painter.drawPath(hook);
    } else {
        painter.drawLine(at(0.5, 0.26), at(0.5, 0.56));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(sign);
    painter.drawEllipse(at(0.5, 0.78), d * 0.09, d * 0.09);
}

QImage StateImage(int state, int pixels)
{
    QImage image = BaseImage(pixels);
    if (state == kQzTrayUnknown)
        MakeGrey(image);
    DrawBadge(image, state);
    return image;
}

QIcon StateIcon(int state)
{
    QIcon icon;
    for (const int pixels : kIconSizes)
        icon.addPixmap(QPixmap::fromImage(StateImage(state, pixels)));
    return icon;
}

void Choose(std::int64_t menuId, std::int64_t item)
{
    if (gQzMenuHandler)
        gQzMenuHandler(menuId, item);
}

} // namespace

bool QzTrayAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QzTrayShow(std::int64_t menuId, const QStringList& items)
{
    if (Tray())
        return;
    auto* tray = new QSystemTrayIcon(StateIcon(kQzTrayUnknown), QzDelegateObject());
    auto* menu = new QMenu;
    QObject::connect(tray, &QObject::destroyed, menu, &QObject::deleteLater);
    for (int i = 0; i < items.size(); ++i)
        QObject::connect(menu->addAction(items[i]), &QAction::triggered, menu, [menuId, i] { Choose(menuId, i); });
    tray->setContextMenu(menu);
    QObject::connect(tray, &QSystemTrayIcon::activated, tray, [menuId](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            Choose(menuId, 0);
    });
    gQzTray = tray;
    tray->show();
}

bool QzTrayVisible()
{
    return Tray() && Tray()->isVisible();
}

void QzTraySetState(int state, const QString& toolTip)
{
    if (QSystemTrayIcon* tray = Tray()) {
        tray->setIcon(StateIcon(state));
        tray->setToolTip(toolTip);
    }
}

QString QzTrayToolTip()
{
    return Tray() ? Tray()->toolTip() : QString();
}

bool QzTraySaveIcon(int state, int pixels, const QString& path)
{
    return StateImage(state, pixels).save(path, "PNG");
}
