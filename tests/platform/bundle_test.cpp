#include "test_support.h"

#include <plist/plist.h>

#include <set>

// The Mac bundle's Info.plist, as libplist reads it: each key the system
// and the program need, of its type ("<true/>" for a boolean), with its value.
TEST(MacBundle, InfoPlistIconAndExecutablesAreWhereAndWhatTheMacNeeds)
{
    const std::string xml = ReadFile(QStringLiteral(QZ_INFO_PLIST));
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &root);
    ASSERT_TRUE(root != nullptr && plist_get_node_type(root) == PLIST_DICT) << QZ_INFO_PLIST;
    std::string got;
    for (const char* name : {"CFBundleExecutable", "CFBundleIdentifier", "CFBundleName", "CFBundlePackageType",
             "CFBundleInfoDictionaryVersion", "CFBundleShortVersionString", "CFBundleVersion", "CFBundleIconFile",
             "LSMinimumSystemVersion", "NSAppleEventsUsageDescription", "LSUIElement", "NSHighResolutionCapable"}) {
        const plist_t node = plist_dict_get_item(root, name);
        const bool boolean = node && plist_get_node_type(node) == PLIST_BOOLEAN;
        char* text = nullptr;
        std::uint8_t on = 0;
        if (node)
            plist_get_string_val(node, &text);
        if (boolean)
            plist_get_bool_val(node, &on);
        got += std::string(name) + "=" + (text ? text : !boolean ? "?" : on ? "<true/>" : "<false/>") + "\n";
        std::free(text);
    }
    plist_free(root);
    const std::string version = QZ_PROJECT_VERSION;
    EXPECT_EQ(got,
        "CFBundleExecutable=Quillaby\nCFBundleIdentifier=software.fernhollow.quillaby\nCFBundleName=Quillaby\n"
        "CFBundlePackageType=APPL\nCFBundleInfoDictionaryVersion=6.0\nCFBundleShortVersionString="
            + version + "\nCFBundleVersion=" + version
            + "\nCFBundleIconFile=" + QFileInfo(QStringLiteral(QZ_ICNS)).completeBaseName().toStdString()
            + "\nLSMinimumSystemVersion=10.13\nNSAppleEventsUsageDescription=Quillaby asks to control Mail (or "
              "Microsoft Outlook) to send you an email when a Time Machine backup fails, and the Finder to show you "
              "the folder of a file that could not be backed up.\nLSUIElement=<false/>\n"
              "NSHighResolutionCapable=<true/>\n");
    // The .icns holds each size a Mac draws, 16 to 1024 pixels, in elements that fill the file exactly as its header
    // says; the program and the report command lie side by side, the simulated Mac's stand-ins only off the Mac, where
    // the icon is only in the build tree.
    const std::string icns = ReadFile(QStringLiteral(QZ_ICNS));
    const auto bigEndian32 = [&icns](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < 4 && at + k < icns.size(); ++k)
            value = value << 8 | static_cast<std::uint8_t>(icns[at + k]);
        return value;
    };
    EXPECT_EQ(icns.substr(0, 4), "icns");
    EXPECT_EQ(bigEndian32(4), icns.size());
    // The image element types by the pixels on a side ("@2x" types count
    // by their pixels); masks and the table of contents hold no image.
    const std::map<std::string, int> kTypes = {{"is32", 16}, {"icp4", 16}, {"ic04", 16}, {"il32", 32}, {"icp5", 32},
        {"ic05", 32}, {"ic11", 32}, {"ih32", 48}, {"icp6", 64}, {"ic12", 64}, {"it32", 128}, {"ic07", 128},
        {"ic08", 256}, {"ic13", 256}, {"ic09", 512}, {"ic14", 512}, {"ic10", 1024}};
    std::set<int> sizes;
    for (std::size_t at = 8, length = 0; at < icns.size(); at += length) {
        length = bigEndian32(at + 4);
        ASSERT_TRUE(length >= 8 && at + length <= icns.size()) << at;
        if (const auto type = kTypes.find(icns.substr(at, 4)); type != kTypes.end())
            sizes.insert(type->second);
    }
    const std::set<int> drawn = {16, 32, 128, 256, 512, 1024};
    EXPECT_TRUE(std::includes(sizes.begin(), sizes.end(), drawn.begin(), drawn.end()));

    const QString contents = QStringLiteral(QZ_BUNDLE_DIR "/Contents");
    EXPECT_TRUE(QFileInfo(contents + QStringLiteral("/MacOS/Quillaby")).isExecutable());
    EXPECT_TRUE(QFileInfo(contents + QStringLiteral("/MacOS/quillaby-report")).isExecutable());
#ifdef Q_OS_MACOS
    EXPECT_FALSE(QFileInfo::exists(contents + QStringLiteral("/StandIns")));
    EXPECT_FALSE(QFileInfo::exists(contents + QStringLiteral("/Resources/SimulatedMac")));
    EXPECT_TRUE(QFileInfo::exists(contents + QStringLiteral("/Resources/Quillaby.icns")));
#else
    EXPECT_TRUE(QFileInfo(contents + QStringLiteral("/StandIns/log")).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(contents + QStringLiteral("/Resources/Quillaby.icns")));
#endif
}
