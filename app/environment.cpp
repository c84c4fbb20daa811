#include "app/environment.h"

#include "monitor/state.h"
#include "notify/runner.h"
#include "runtime/bundle.h"
#include "runtime/hooks.h"
#include "simmac/simulated_mac.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// PATH cannot name a folder whose path holds ":". The stand-ins are then
// reached through a link of a plain name in a folder of this user's own
// (the runtime folder, else a new private folder in the temporary folder).
QString ColonFreeLink(const QString& folder)
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QByteArray privateFolder;
    if (base.isEmpty() || base.contains(QLatin1Char(':'))) {
        privateFolder = QFile::encodeName(QDir::tempPath() + QStringLiteral("/quillaby-XXXXXX"));
        if (!mkdtemp(privateFolder.data()))
            return QString();
        base = QFile::decodeName(privateFolder);
    }
    if (base.contains(QLatin1Char(':')))
        return QString();
    // One link a bundle, made afresh beside and renamed into place.
    const QString link = base + QStringLiteral("/quillaby-standins-") + QString::number(qHash(folder), 16);
    if (QFileInfo(link).symLinkTarget() == folder)
        return link;
    const QByteArray fresh = QFile::encodeName(link + QStringLiteral(".") + QString::number(getpid()));
    unlink(fresh.constData());
    if (symlink(QFile::encodeName(folder).constData(), fresh.constData()) != 0
        || std::rename(fresh.constData(), QFile::encodeName(link).constData()) != 0) {
        unlink(fresh.constData());
        return QString();
    }
    return link;
}

// The simulated Mac's version, read afresh at every question as the
// system's own file would be.
[[maybe_unused]] QString SimulatedMacSystemVersion()
{
    return QString::fromStdString(SimulatedMacVersion(QFile::encodeName(SimulatedMacPlistPath()).toStdString()));
}

} // namespace

void AddStandInsToPath()
{
#ifndef Q_OS_MACOS
    QString standIns = QzBundlePath() + QStringLiteral("/Contents/StandIns");
    if (!QDir(standIns).exists())
        return;
    if (standIns.contains(QLatin1Char(':')))
        standIns = ColonFreeLink(standIns);
    if (standIns.isEmpty())
        return;
    QByteArray path = qgetenv("PATH");
    // Without a PATH the shell would search the system's default one; the
    // stand-ins come after it, as after any other.
    if (path.isEmpty()) {
        const std::size_t size = confstr(_CS_PATH, nullptr, 0);
        QByteArray fallback(static_cast<qsizetype>(size), '\0');
        if (size > 0 && confstr(_CS_PATH, fallback.data(), size) > 0)
            path = fallback.left(static_cast<qsizetype>(size - 1));
        if (path.isEmpty())
            path = "/usr/bin:/bin";
    }
    if (path.split(':').contains(QFile::encodeName(standIns)))
        return;
    path += ':' + QFile::encodeName(standIns);
    setenv("PATH", path.constData(), 1);
#endif
}

QString SimulatedMacPlistPath()
{
    return QzResourcesPath() + QString::fromLatin1(kSimulatedMacPlist.data(), kSimulatedMacPlist.size());
}

void UseSimulatedMacVersion()
{
#ifndef Q_OS_MACOS
    if (gQzSystemVersionHook == QzSystemVersionReal
        && !QFileInfo::exists(QString::fromLatin1(kSystemVersionPlist.data(), kSystemVersionPlist.size())))
        gQzSystemVersionHook = SimulatedMacSystemVersion;
#endif
}

void ChooseLogWording()
{
    // A remote Mac's version is not known here: its log is read in both
    // wordings (older systems never write the newer one).
    gRecentWording = !gRemoteHost.empty() || SystemVersionAtLeast("10.15.9") ? 1 : 0;
}
