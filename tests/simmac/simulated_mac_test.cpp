#include "simmac/simulated_mac.h"
#include "test_support.h"

TEST(SimulatedMac, VersionsCompareByNumberAndTheEnvironmentOverridesTheBundlesFile)
{
    const std::tuple<const char*, const char*, bool> comparisons[] = {{"10.15.7", "10.15.9", false},
        {"10.15.9", "10.15.9", true}, {"10.15.10", "10.15.9", true}, {"11.0", "10.15.9", true},
        {"26.1", "10.15.9", true}, {"10.12", "10.9", true}, {"10.12.6", "10.12", true}, {"10.12", "10.12.6", false},
        {"10.11.6", "10.11.9", false}, {"010.015", "10.15", true}, {"9.9", "10.0", false}};
    for (const auto& [version, threshold, atLeast] : comparisons)
        EXPECT_EQ(MacVersionAtLeast(version, threshold), atLeast) << version << " / " << threshold;
    EXPECT_FALSE(MacVersionWritesRecentWording("10.15.7"));
    EXPECT_FALSE(MacVersionWritesRecentWording(""));
    EXPECT_TRUE(MacVersionWritesRecentWording("11"));

    Sandbox sandbox;
    const std::string plist = sandbox
                                  .Write(QStringLiteral("SystemVersion.plist"),
                                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                      "<key>ProductVersion</key><string>10.15.7</string></dict></plist>\n")
                                  .toStdString();
    for (const auto& [value, version] : std::initializer_list<std::pair<const char*, const char*>> {{"26.1", "26.1"},
             {"11.7.10", "11.7.10"}, {"26", "26"}, {"", "10.15.7"}, {"26.", "10.15.7"}, {".26", "10.15.7"},
             {"26..1", "10.15.7"}, {"macOS 26", "10.15.7"}, {"26.1 ", "10.15.7"}}) {
        setenv("QUILLABY_SIMULATED_MACOS", value, 1);
        EXPECT_EQ(SimulatedMacVersion(plist), version) << '"' << value << '"';
    }
    EXPECT_EQ(SimulatedMacVersion(plist + ".missing"), "");
    unsetenv("QUILLABY_SIMULATED_MACOS");
    EXPECT_EQ(SimulatedMacVersion(plist), "10.15.7");
    EXPECT_EQ(SimulatedMacVersionFromEnvironment(), "");
    EXPECT_EQ(ProductVersionOfPlist(QZ_BUNDLE_DIR "/Contents/Resources" + std::string(kSimulatedMacPlist)), "10.15.7");
}
