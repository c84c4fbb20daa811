#include "platform/simulated_mac.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(SimulatedMac, VersionsCompareByTheirNumbers)
{
    struct Case {
        const char* version;
        const char* threshold;
        bool atLeast;
    };
    for (const Case& c : {
             Case {"10.15.7", "10.15.9", false},
             Case {"10.15.9", "10.15.9", true},
             Case {"10.15.10", "10.15.9", true},
             Case {"11.0", "10.15.9", true},
             Case {"26.1", "10.15.9", true},
             Case {"10.12", "10.9", true},
             Case {"10.12.6", "10.12", true},
             Case {"10.12", "10.12.6", false},
             Case {"10.11.6", "10.11.9", false},
             Case {"010.015", "10.15", true},
             Case {"9.9", "10.0", false},
         }) {
        EXPECT_EQ(MacVersionAtLeast(c.version, c.threshold), c.atLeast) << c.version << " / " << c.threshold;
    }
    EXPECT_FALSE(MacVersionWritesRecentWording(kSimulatedMacDefaultVersion));
    EXPECT_TRUE(MacVersionWritesRecentWording("11"));
}

TEST(SimulatedMac, TheEnvironmentNamesTheVersionOrTheDefaultStays)
{
    for (const auto& [value, version] :
        {std::pair {"26.1", "26.1"}, std::pair {"11.7.10", "11.7.10"}, std::pair {"", "10.15.7"},
            std::pair {"26", "26"}, std::pair {"26.", "10.15.7"}, std::pair {".26", "10.15.7"},
            std::pair {"26..1", "10.15.7"}, std::pair {"macOS 26", "10.15.7"}, std::pair {"26.1 ", "10.15.7"}}) {
        setenv("QUILLABY_SIMULATED_MACOS", value, 1);
        EXPECT_EQ(SimulatedMacVersion(), version) << '"' << value << '"';
    }
    unsetenv("QUILLABY_SIMULATED_MACOS");
    EXPECT_EQ(SimulatedMacVersion(), "10.15.7");
    EXPECT_EQ(SimulatedMacVersionFromEnvironment(), "");
}
