#include "runtime/macversion.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The run of digits at `at`, without its leading zeros; `at` moves past it.
std::string_view DigitRun(std::string_view text, std::size_t& at)
{
    while (at + 1 < text.size() && text[at] == '0' && IsDigit(text[at + 1]))
        ++at;
    const std::size_t start = at;
    while (at < text.size() && IsDigit(text[at]))
        ++at;
    return text.substr(start, at - start);
}

} // namespace

std::string ProductVersionOfPlist(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    // A version file is a few hundred bytes; anything past 1 MB is not one.
    constexpr std::size_t kMax = 1 << 20;
    std::string data;
    char chunk[4096];
    while (data.size() < kMax) {
        in.read(chunk, sizeof chunk);
        data.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (!in)
            break;
    }
    data.resize(std::min(data.size(), kMax));
    if (data.empty())
        return {};
    plist_t root = nullptr;
    // plist_from_memory changed its arguments between libplist releases;
    // these two keep theirs (a Mac's Homebrew has the newer one).
    const auto size = static_cast<std::uint32_t>(data.size());
    if (plist_is_binary(data.data(), size))
        plist_from_bin(data.data(), size, &root);
    else
        plist_from_xml(data.data(), size, &root);
    if (!root)
        return {};
    std::string version;
    if (plist_get_node_type(root) == PLIST_DICT) {
        plist_t node = plist_dict_get_item(root, "ProductVersion");
        if (node && plist_get_node_type(node) == PLIST_STRING) {
            char* text = nullptr;
            plist_get_string_val(node, &text);
            if (text) {
                version = text;
                std::free(text);
            }
        }
    }
    plist_free(root);
    return version;
}

bool MacVersionAtLeast(std::string_view version, std::string_view threshold)
{
    std::size_t i = 0, j = 0;
    while (i < version.size() && j < threshold.size()) {
        if (IsDigit(version[i]) && IsDigit(threshold[j])) {
            const std::string_view a = DigitRun(version, i);
            const std::string_view b = DigitRun(threshold, j);
            if (a.size() != b.size())
                return a.size() > b.size();
            if (a != b)
                return a > b;
        } else {
            const auto a = static_cast<unsigned char>(version[i++]);
            const auto b = static_cast<unsigned char>(threshold[j++]);
            if (a != b)
                return a > b;
        }
    }
    // Equal so far: the text that ended first orders first.
    return j == threshold.size();
}
