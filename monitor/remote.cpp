#include "monitor/remote.h"

#include "monitor/state.h"

#include "runtime/channels.h"
#include "runtime/platform.h"
#include "settings/state.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// The channel of the computer name's command; the log's is 1, the
// runner's 101.
constexpr int kNameChannel = 102;
// ssh gives up a connection after 15 seconds; the name's command gets a
// little more.
constexpr std::int64_t kNameLimitMs = 20000;

bool KeptInFolderName(unsigned char c, bool first)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'
        || c == '+' || c == '@' || (c == '.' && !first);
}

// One word of a /bin/sh command line: the bytes in single quotes, each
// single quote as '\''.
std::string Quoted(std::string_view word)
{
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string_view("'\\''") : std::string_view(&c, 1);
    return quoted + "'";
}

} // namespace

std::string DestinationProblem(std::string_view dest)
{
    if (dest.empty())
        return "it is empty";
    if (dest.front() == '-')
        return "it starts with \"-\"";
    for (const char c : dest)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F)
            return "it holds a blank or a control character";
    if (HostFolderName(dest).size() > 255)
        return "it is too long";
    return {};
}

std::string HostFolderName(std::string_view dest)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string name;
    for (std::size_t i = 0; i < dest.size(); ++i) {
        const auto c = static_cast<unsigned char>(dest[i]);
        if (KeptInFolderName(c, i == 0)) {
            name += static_cast<char>(c);
        } else {
            name += '%';
            name += kHex[c >> 4];
            name += kHex[c & 15];
        }
    }
    return name;
}

bool WatchRemoteMac(std::string_view dest, std::string* error)
{
    if (const std::string problem = DestinationProblem(dest); !problem.empty()) {
        *error = "refusing the destination \"" + std::string(dest) + "\": " + problem;
        return false;
    }
    std::vector<std::string> words {"ssh"};
    const char* program = std::getenv("QUILLABY_SSH");
    if (program && *program && !QzSplitCommandLine(program, &words, error)) {
        *error = "QUILLABY_SSH is no command line: " + *error;
        return false;
    }
    gSshWords = words;
    gRemoteHost = dest;
    gHostFolder = QStringLiteral("hosts/") + QString::fromStdString(HostFolderName(dest));
    return true;
}

std::string CommandOnTheMac(const ShortString& command)
{
    const std::string_view text = command.view();
    if (gRemoteHost.empty() || gSshWords.empty())
        return std::string(text);
    const std::size_t bar = std::min(text.find(" | "), text.size());
    // ssh takes the first value given for an option: these two hold
    // whatever QUILLABY_SSH or a configuration file says. Nobody can answer
    // a question for a password or a new host key here.
    std::vector<std::string_view> words {gSshWords.front(), "-o", "BatchMode=yes", "-o", "ConnectTimeout=15"};
    words.insert(words.end(), gSshWords.begin() + 1, gSshWords.end());
    words.insert(words.end(), {"--", gRemoteHost, text.substr(0, bar)});
    std::string line;
    for (const std::string_view word : words)
        line += (line.empty() ? "" : " ") + Quoted(word);
    return line + std::string(text.substr(bar));
}

ShortString RemoteComputerName()
{
    QzOpenCommandPipe(kNameChannel, CommandOnTheMac("scutil --get ComputerName"));
    QzSetPipeTimeLimit(kNameChannel, kNameLimitMs);
    ShortString name;
    QzLineInput(kNameChannel, name);
    QzClose(kNameChannel);
    return name.empty() ? ShortString::FromView(gRemoteHost) : name;
}
