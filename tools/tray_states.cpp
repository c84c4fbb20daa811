// tray_states BUNDLE OUT.png: the status icon's four states at the sizes a
// tray asks for (16 to 64 pixels, and 32 at 2x), on a light and on a dark
// panel, in one picture for the README and docs.

#include "runtime/testing.h"
#include "runtime/tray.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tray_states BUNDLE OUT.png\n");
        return 64;
    }
    QGuiApplication app(argc, argv);
    QzSetBundlePath(QString::fromLocal8Bit(argv[1]));
    const int sizes[] = {16, 22, 24, 32, 48, 64};
    const char* names[] = {"unknown", "all well", "a problem", "serious"};
    const int cell = 76, label = 90, rowHeight = 72;
    QImage sheet(label + cell * (std::size(sizes) + 1), rowHeight * 8, QImage::Format_RGB32);
    QPainter painter(&sheet);
    QTemporaryDir dir;
    for (int panel = 0; panel < 2; ++panel) {
        const QColor ground = panel == 0 ? QColor(0xf0f0f0) : QColor(0x2b2b2b);
        painter.fillRect(0, panel * 4 * rowHeight, sheet.width(), 4 * rowHeight, ground);
        painter.setPen(panel == 0 ? Qt::black : Qt::white);
        for (int state = 0; state < 4; ++state) {
            const int y = (panel * 4 + state) * rowHeight;
            painter.drawText(QRect(8, y, label, rowHeight), Qt::AlignVCenter, QString::fromLatin1(names[state]));
            int x = label;
            for (const int size : sizes) {
                const QString file = dir.filePath(QStringLiteral("icon.png"));
                QzTraySaveIcon(state, size, file);
                painter.drawImage(x + (cell - size) / 2, y + (rowHeight - size) / 2, QImage(file));
                x += cell;
            }
            // 32 points at 2x: 64 pixels shown in a 32-point place.
            const QString file = dir.filePath(QStringLiteral("icon2x.png"));
            QzTraySaveIcon(state, 64, file);
            QImage twice(file);
            twice.setDevicePixelRatio(2);
            painter.drawImage(x + (cell - 32) / 2, y + (rowHeight - 32) / 2, twice);
        }
    }
    painter.end();
    return sheet.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
