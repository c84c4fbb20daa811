#include "notify/runner.h"

#include "notify/state.h"
#include "runtime/channels.h"
#include "runtime/encoding.h"
#include "runtime/events.h"
#include "runtime/hooks.h"
#include "runtime/macversion.h"
#include "runtime/platform.h"

#include <string>

namespace {

constexpr int kCollectChannel = 101;

const ShortString kFinderTell = ShortString("tell application ") + "\"Finder\"\n";

} // namespace

ShortString ShortFromText(const QString& text)
{
    std::string bytes;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString ch = text.mid(i, n);
        i += n;
        std::string piece;
        if (const auto mac = QzEncodeMacRoman(ch))
            piece = *mac;
        else
            piece = ch.toStdString();
        if (bytes.size() + piece.size() > static_cast<std::size_t>(ShortString::kMax))
            break;
        bytes += piece;
    }
    return ShortString::FromView(bytes);
}

QString ScriptLiteralText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

ShortString ScriptLiteralText(const ShortString& text)
{
    // Backslash and double quote are single bytes in Mac Roman and never
    // part of a longer UTF-8 sequence, so the bytes can be escaped as they are.
    std::string out;
    for (const char c : text.view()) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return ShortString::FromView(out);
}

void RunAppleScript(const ShortString& script)
{
    const QzAppleScript object = QzAppleScriptNew(QzStrToCF(script));
    QVariantMap errorInfo;
    const QVariant result = QzAppleScriptRun(object, &errorInfo);
    const QVariant message = QzDictValue(errorInfo, QStringLiteral("NSAppleScriptErrorMessage"));
    if (message.isValid()) {
        gScriptResult = ShortFromText(QStringLiteral("ERROR:  ") + QzStringValue(message));
        return;
    }
    gScriptResult = ShortFromText(QzStringValue(result));
}

ShortString StartupDiskName()
{
    RunAppleScript(kFinderTell + "set startup_Disk to (name of startup disk)\nend tell");
    gStartupDiskPath = gScriptResult + ":";
    return gStartupDiskPath;
}

void FinderOpenFile(const ShortString& path)
{
    // The path goes into a string literal: escaped, so that a quote in a
    // folder name cannot end the literal and run the rest as script.
    RunAppleScript(kFinderTell + "open alias \"" + ScriptLiteralText(path) + "\"\nend tell");
    gOpenFileResult = gScriptResult;
    if (gOpenFileResult.empty())
        return;
    QzAlertNote("Unable to open the file at\r", path);
}

void FinderActivate()
{
    RunAppleScript(kFinderTell + "activate\nend tell");
    gScriptResult = ShortString();
}

ShortString RunShellCollect(const ShortString& command)
{
    QzOpenPipe(kCollectChannel, command);
    ShortString result;
    ShortString line;
    do {
        QzLineInput(kCollectChannel, line);
        result = result + line;
    } while (QzEof(kCollectChannel) == 0);
    QzClose(kCollectChannel);
    return result;
}

ShortString UserShortName()
{
    const QUrl library = QzDirectoryURL(kQzLibraryDirectory, kQzUserDomain);
    return ShortFromText(QzURLLastComponent(QzURLParent(library)));
}

bool SystemVersionAtLeast(const ShortString& threshold)
{
    const std::string version = gQzSystemVersionHook().toStdString();
    return version.empty() || MacVersionAtLeast(version, threshold.view());
}
