#include "runtime/platform.h"

#include "runtime/bundle.h"
#include "runtime/hooks.h"
#include "runtime/state.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdint>
#include <glib.h>
#include <sys/mman.h>

namespace {

// The URL's path without trailing slashes ("/" stays).
QString PathWithoutTrailingSlash(const QUrl& url)
{
    QString path = url.path();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

QString QzURLLastComponent(const QUrl& url)
{
    if (url.isEmpty())
        return {};
    return PathWithoutTrailingSlash(url).section(QLatin1Char('/'), -1);
}

QUrl QzURLAppend(const QUrl& url, const QString& component)
{
    if (url.isEmpty())
        return {};
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return QUrl::fromLocalFile(path + component);
}

QUrl QzURLParent(const QUrl& url)
{
    if (url.isEmpty())
        return {};
    const QString path = PathWithoutTrailingSlash(url);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return QUrl::fromLocalFile(slash <= 0 ? QStringLiteral("/") : path.left(slash + 1));
}

QUrl QzDirectoryURL(int directory, int domain)
{
    QString path;
    if (domain == kQzUserDomain) {
        if (directory == kQzApplicationSupportDirectory) {
#ifdef Q_OS_MACOS
            path = QDir::homePath() + QStringLiteral("/Library/Application Support");
#else
            path = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#endif
        } else if (directory == kQzLibraryDirectory) {
            path = QDir::homePath() + QStringLiteral("/Library");
        } else if (directory == kQzApplicationsDirectory) {
            path = QDir::homePath() + QStringLiteral("/Applications");
        }
    } else if (domain == kQzSystemDomain) {
        if (directory == kQzLibraryDirectory)
            path = QStringLiteral("/System/Library");
        else if (directory == kQzApplicationsDirectory)
            path = QStringLiteral("/Applications");
    }
    if (path.isEmpty())
        return {};
    return QUrl::fromLocalFile(path + QLatin1Char('/'));
}

bool QzCreateDirectory(const QUrl& url, bool intermediate)
{
    if (url.isEmpty())
        return false;
    const QString path = url.toLocalFile();
    return intermediate ? QDir().mkpath(path) : QDir().mkdir(path);
}

bool QzFileExists(const QUrl& url)
{
    return !url.isEmpty() && QFileInfo::exists(url.toLocalFile());
}

bool QzOpenURL(const QUrl& url)
{
    gQzOpenUrlError.clear();
    return !url.isEmpty() && gQzOpenUrlHook(url);
}

double QzUptime()
{
    return gQzUptimeHook();
}

QzAppleScript QzAppleScriptNew(const QString& source)
{
    return QzAppleScript {source};
}

QVariant QzAppleScriptRun(const QzAppleScript& script, QVariantMap* errorInfo)
{
    QString result;
    QString error;
    if (gQzScriptHook(script.source, &result, &error))
        return result;
    if (errorInfo)
        errorInfo->insert(QStringLiteral("NSAppleScriptErrorMessage"), error);
    return {};
}

QVariant QzDictValue(const QVariantMap& dict, const QString& key)
{
    return dict.value(key);
}

QString QzStringValue(const QVariant& value)
{
    return value.toString();
}

QString QzMainBundle()
{
    return QzBundlePath();
}

QUrl QzBundleURL()
{
    return QUrl::fromLocalFile(QzBundlePath() + QLatin1Char('/'));
}

void QzAdviseLargePages(const void* data, std::size_t bytes)
{
#ifdef MADV_HUGEPAGE
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t huge = std::uintptr_t {2} << 20;
    const std::uintptr_t first = (start + huge - 1) & ~(huge - 1);
    const std::uintptr_t end = (start + bytes) & ~(huge - 1);
    if (end > first)
        madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

bool QzSplitCommandLine(const std::string& text, std::vector<std::string>* words, std::string* error)
{
    int count = 0;
    gchar** argv = nullptr;
    GError* failure = nullptr;
    if (!g_shell_parse_argv(text.c_str(), &count, &argv, &failure)) {
        *error = failure ? failure->message : "not a command line";
        g_clear_error(&failure);
        return false;
    }
    words->assign(argv, argv + count);
    g_strfreev(argv);
    return true;
}
