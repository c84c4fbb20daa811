#pragma once

#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <cstddef>
#include <string>
#include <vector>

// Thin wrappers over the platform used by the application. URLs are file
// URLs; a null (empty) input gives a null result.

// Folders of URLsForDirectory:inDomains:, mapped to the platform's own.
inline constexpr int kQzLibraryDirectory = 5;
inline constexpr int kQzApplicationSupportDirectory = 14;
inline constexpr int kQzApplicationsDirectory = 1;
inline constexpr int kQzUserDomain = 1;
inline constexpr int kQzSystemDomain = 8;

QString QzURLLastComponent(const QUrl& url);
QUrl QzURLAppend(const QUrl& url, const QString& component);
QUrl QzURLParent(const QUrl& url);
// The first folder of that kind in that domain, or a null URL. On Linux the
// user's Application Support is the XDG data folder; the Library folders
// keep their Mac paths (~/Library, /System/Library).
QUrl QzDirectoryURL(int directory, int domain);
// Creates the folder (intermediate folders only when asked); false on failure.
bool QzCreateDirectory(const QUrl& url, bool intermediate = false);
bool QzFileExists(const QUrl& url);
// Opens a file or web address with its default application (URL hook);
// false when it could not, with the hook's reason in gQzOpenUrlError.
bool QzOpenURL(const QUrl& url);
// Seconds of system uptime, through the clock hook.
double QzUptime();
// Asks for large pages for the whole 2 MB pages within a large buffer that
// will fill, so that filling it takes a page fault every 2 MB instead of
// every 4 KB. Only advice: nothing changes where the system has none.
void QzAdviseLargePages(const void* data, std::size_t bytes);

// Splits a command line into its words by the rules of /bin/sh (blanks,
// quotes, backslashes, comments) without expanding anything (GLib's
// g_shell_parse_argv). False, with the reason in error, when the text holds
// no word or is no command line (a quote left open).
bool QzSplitCommandLine(const std::string& text, std::vector<std::string>* words, std::string* error);

// A script object and its run: the result text, or an error dictionary
// holding "NSAppleScriptErrorMessage".
struct QzAppleScript {
    QString source;
};
QzAppleScript QzAppleScriptNew(const QString& source);
// Returns the result (null QVariant on failure, with *errorInfo filled).
QVariant QzAppleScriptRun(const QzAppleScript& script, QVariantMap* errorInfo);
QVariant QzDictValue(const QVariantMap& dict, const QString& key);
QString QzStringValue(const QVariant& value);

// The application bundle and its URL.
QString QzMainBundle();
QUrl QzBundleURL();
