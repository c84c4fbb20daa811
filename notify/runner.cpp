#include "notify/runner.h"

#include "notify/state.h"
#include "runtime/bundle.h"
#include "runtime/channels.h"
#include "runtime/encoding.h"
#include "runtime/events.h"
#include "runtime/platform.h"

#include <QFile>
#include <QFileInfo>

#include <plist/plist.h>

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr int kCollectChannel = 101;
const char* const kSystemVersionPlist = "/System/Library/CoreServices/SystemVersion.plist";

const ShortString kFinderTell = ShortString("tell application ") + "\"Finder\"\n";

// Orders a before b as a numeric search does: runs of digits compare by
// their value ("9" < "12"), everything else byte by byte, and a text that
// ends first orders first. Returns -1, 0 or 1.
int CompareNumeric(std::string_view a, std::string_view b)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && digit(a[ei]))
                ++ei;
            while (ej < b.size() && digit(b[ej]))
                ++ej;
            std::string_view x = a.substr(i, ei - i);
            std::string_view y = b.substr(j, ej - j);
            while (x.size() > 1 && x.front() == '0')
                x.remove_prefix(1);
            while (y.size() > 1 && y.front() == '0')
                y.remove_prefix(1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int c = x.compare(y); c != 0)
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    return j < b.size() ? -1 : 0;
}

// The "ProductVersion" string of the property list at path (XML or
// binary), or nothing when the file, its form or the key is wrong.
bool ReadProductVersion(const QString& path, std::string* version)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // A version file is a few hundred bytes; anything huge is not one.
    const QByteArray data = file.read(1 << 20);
    if (data.isEmpty())
        return false;
    plist_t root = nullptr;
    plist_from_memory(data.constData(), static_cast<std::uint32_t>(data.size()), &root);
    if (!root)
        return false;
    bool found = false;
    if (plist_get_node_type(root) == PLIST_DICT) {
        plist_t node = plist_dict_get_item(root, "ProductVersion");
        if (node && plist_get_node_type(node) == PLIST_STRING) {
            char* text = nullptr;
            plist_get_string_val(node, &text);
            if (text) {
                *version = text;
                found = true;
                std::free(text);
            }
        }
    }
    plist_free(root);
    return found;
}

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

QString SystemVersionPlistPath()
{
    if (!gSystemVersionPlist.isEmpty())
        return gSystemVersionPlist;
    const QString system = QString::fromLatin1(kSystemVersionPlist);
#ifdef Q_OS_MACOS
    return system;
#else
    if (QFileInfo::exists(system))
        return system;
    return QzResourcesPath() + QStringLiteral("/SimulatedMac") + system;
#endif
}

bool SystemVersionAtLeast(const ShortString& threshold)
{
    std::string version;
    if (!ReadProductVersion(SystemVersionPlistPath(), &version))
        return true;
    return CompareNumeric(version, threshold.view()) >= 0;
}
