#include "platform/simulated_mac.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

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
    EXPECT_FALSE(MacVersionWritesRecentWording("10.15.7"));
    EXPECT_FALSE(MacVersionWritesRecentWording(""));
    EXPECT_TRUE(MacVersionWritesRecentWording("11"));
}

TEST(SimulatedMac, TheEnvironmentNamesTheVersionOverTheBundlesFile)
{
    Sandbox sandbox;
    const std::string plist = sandbox
                                  .Write(QStringLiteral("SystemVersion.plist"),
                                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                      "<key>ProductVersion</key><string>10.15.7</string></dict></plist>\n")
                                  .toStdString();
    for (const auto& [value, version] :
        {std::pair {"26.1", "26.1"}, std::pair {"11.7.10", "11.7.10"}, std::pair {"26", "26"},
            std::pair {"", "10.15.7"}, std::pair {"26.", "10.15.7"}, std::pair {".26", "10.15.7"},
            std::pair {"26..1", "10.15.7"}, std::pair {"macOS 26", "10.15.7"}, std::pair {"26.1 ", "10.15.7"}}) {
        setenv("QUILLABY_SIMULATED_MACOS", value, 1);
        EXPECT_EQ(SimulatedMacVersion(plist), version) << '"' << value << '"';
    }
    EXPECT_EQ(SimulatedMacVersion(plist + ".missing"), "");
    unsetenv("QUILLABY_SIMULATED_MACOS");
    EXPECT_EQ(SimulatedMacVersion(plist), "10.15.7");
    EXPECT_EQ(SimulatedMacVersionFromEnvironment(), "");
    // The bundle's own file is a 10.15 system.
    EXPECT_EQ(ProductVersionOfPlist(QZ_BUNDLE_DIR "/Contents/Resources" + std::string(kSimulatedMacPlist)), "10.15.7");
}
