#include "runtime/bundle.h"
#include "runtime/testing.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QString& OverridePath()
{
    static QString path;
    return path;
}

} // namespace

void QzSetBundlePath(const QString& path)
{
    OverridePath() = path;
}

QString QzBundlePath()
{
    if (!OverridePath().isEmpty())
        return OverridePath();
    QString dir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                               : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!QCoreApplication::instance())
        dir = QFileInfo(dir).absolutePath();
    // .../Quillaby.app/Contents/MacOS -> .../Quillaby.app
    return QDir::cleanPath(dir + QStringLiteral("/../.."));
}

QString QzResourcesPath()
{
    return QzBundlePath() + QStringLiteral("/Contents/Resources");
}
