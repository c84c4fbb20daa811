#include "platform/url_opener.h"

#include "runtime/state.h"

#include <QProcess>

bool StandInOpenURL(const QUrl& url)
{
    QProcess open;
    open.setProgram(QStringLiteral("open"));
    open.setArguments({url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)});
    open.setStandardInputFile(QProcess::nullDevice());
    open.setStandardOutputFile(QProcess::nullDevice());
    open.start();
    // `open` returns as soon as it has handed the item over, as on a Mac.
    if (!open.waitForFinished(30000)) {
        open.kill();
        open.waitForFinished();
        gQzOpenUrlError = open.error() == QProcess::FailedToStart
            ? QStringLiteral("The open command could not be started: %1.").arg(open.errorString())
            : QStringLiteral("The open command did not finish.");
        return false;
    }
    if (open.exitStatus() == QProcess::NormalExit && open.exitCode() == 0)
        return true;
    gQzOpenUrlError = QString::fromLocal8Bit(open.readAllStandardError()).trimmed();
    if (gQzOpenUrlError.isEmpty())
        gQzOpenUrlError = QStringLiteral("The open command ended with status %1.").arg(open.exitCode());
    return false;
}
