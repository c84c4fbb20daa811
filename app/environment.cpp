#include "app/environment.h"

#include "runtime/bundle.h"

#include <QByteArray>
#include <QDir>

#include <cstdlib>

void AddStandInsToPath()
{
#ifndef Q_OS_MACOS
    const QString standIns = QzBundlePath() + QStringLiteral("/Contents/StandIns");
    if (!QDir(standIns).exists())
        return;
    QByteArray path = qgetenv("PATH");
    if (path.split(':').contains(standIns.toUtf8()))
        return;
    path += (path.isEmpty() ? "" : ":") + standIns.toUtf8();
    setenv("PATH", path.constData(), 1);
#endif
}
