#include "simmac/simulated_mac.h"

#include <cstdlib>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsVersion(std::string_view text)
{
    if (text.empty() || text.size() > 31 || !IsDigit(text.front()) || !IsDigit(text.back()))
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '.' ? text[i + 1] == '.' : !IsDigit(text[i]))
            return false;
    }
    return true;
}

} // namespace

std::string SimulatedMacVersionFromEnvironment()
{
    const char* value = std::getenv("QUILLABY_SIMULATED_MACOS");
    if (!value || !IsVersion(value))
        return {};
    return value;
}

std::string SimulatedMacVersion(const std::string& bundlePlist)
{
    std::string version = SimulatedMacVersionFromEnvironment();
    return version.empty() ? ProductVersionOfPlist(bundlePlist) : version;
}

bool MacVersionWritesRecentWording(std::string_view version)
{
    return MacVersionAtLeast(version, "10.15.9");
}
