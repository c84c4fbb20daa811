#include "runtime/application.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <clocale>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

// Without XDG_RUNTIME_DIR (root on a machine without a login session) Qt
// warns on standard error and falls back to a private folder in the
// temporary folder. Making that folder here, as Qt would, keeps the
// program's standard error to its own words. A folder that is not ours
// alone is left to Qt.
void QzEnsureRuntimeFolder()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
        return;
    const QByteArray folder
        = QFile::encodeName(QDir::tempPath() + QStringLiteral("/runtime-") + QString::number(getuid()));
    mkdir(folder.constData(), 0700);
    struct stat info { };
    if (lstat(folder.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid()
        && (info.st_mode & 0777) == 0700)
        setenv("XDG_RUNTIME_DIR", folder.constData(), 1);
#endif
}

void QzApplicationInit(int& argc, char** argv)
{
    if (!QCoreApplication::instance()) {
        QzEnsureRuntimeFolder();
        new QApplication(argc, argv); // lives until the process ends
    }
    // QApplication adopts the user's locale; numbers are read and written
    // with the C library's own rules, a point before the fraction.
    setlocale(LC_NUMERIC, "C");
}
