#include "test_support.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>

namespace {

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < 4; ++k)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + k]);
    return value;
}

} // namespace

// The Mac bundle's Info.plist, as libplist reads it: each key the system
// and the program need, of its type, with its value.
TEST(MacBundle, InfoPlistHoldsEveryKeyTypedRight)
{
    const std::string xml = ReadFile(QStringLiteral(QZ_INFO_PLIST));
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &root);
    ASSERT_TRUE(root != nullptr && plist_get_node_type(root) == PLIST_DICT) << QZ_INFO_PLIST;
    struct Key {
        const char* name;
        plist_type type;
        std::string value; // booleans: "true" or "false"; empty: any text that names Mail
    };
    const Key keys[] = {{"CFBundleExecutable", PLIST_STRING, "Quillaby"},
        {"CFBundleIdentifier", PLIST_STRING, "software.fernhollow.quillaby"},
        {"CFBundleName", PLIST_STRING, "Quillaby"}, {"CFBundlePackageType", PLIST_STRING, "APPL"},
        {"CFBundleInfoDictionaryVersion", PLIST_STRING, "6.0"},
        {"CFBundleShortVersionString", PLIST_STRING, QZ_PROJECT_VERSION},
        {"CFBundleVersion", PLIST_STRING, QZ_PROJECT_VERSION},
        {"CFBundleIconFile", PLIST_STRING, QFileInfo(QStringLiteral(QZ_ICNS)).completeBaseName().toStdString()},
        {"LSMinimumSystemVersion", PLIST_STRING, "10.13"}, {"NSAppleEventsUsageDescription", PLIST_STRING, ""},
        {"LSUIElement", PLIST_BOOLEAN, "false"}, {"NSHighResolutionCapable", PLIST_BOOLEAN, "true"}};
    for (const Key& key : keys) {
        SCOPED_TRACE(key.name);
        const plist_t node = plist_dict_get_item(root, key.name);
        ASSERT_TRUE(node != nullptr);
        ASSERT_EQ(plist_get_node_type(node), key.type);
        std::string value;
        if (key.type == PLIST_BOOLEAN) {
            std::uint8_t b = 0;
            plist_get_bool_val(node, &b);
            value = b ? "true" : "false";
        } else {
            char* text = nullptr;
            plist_get_string_val(node, &text);
            value = text ? text : "";
            std::free(text);
        }
        if (key.value.empty())
            EXPECT_NE(value.find("control Mail"), std::string::npos) << value;
        else
            EXPECT_EQ(value, key.value);
    }
    plist_free(root);
}

// The .icns holds each size a Mac draws, 16 to 1024 pixels, in elements
// that fill the file exactly as its header says.
TEST(MacBundle, IconHoldsEverySizeFrom16To1024)
{
    const std::string icns = ReadFile(QStringLiteral(QZ_ICNS));
    ASSERT_GE(icns.size(), 8u) << QZ_ICNS;
    EXPECT_EQ(icns.substr(0, 4), "icns");
    EXPECT_EQ(BigEndian32(icns, 4), icns.size());
    // The image element types by the pixels on a side ("@2x" types count
    // by their pixels); masks and the table of contents hold no image.
    const std::map<std::string, int> kTypes = {{"is32", 16}, {"icp4", 16}, {"ic04", 16}, {"il32", 32}, {"icp5", 32},
        {"ic05", 32}, {"ic11", 32}, {"ih32", 48}, {"icp6", 64}, {"ic12", 64}, {"it32", 128}, {"ic07", 128},
        {"ic08", 256}, {"ic13", 256}, {"ic09", 512}, {"ic14", 512}, {"ic10", 1024}};
    std::set<int> sizes;
    for (std::size_t at = 8; at < icns.size();) {
        ASSERT_LE(at + 8, icns.size());
        const std::uint32_t length = BigEndian32(icns, at + 4);
        ASSERT_GE(length, 8u);
        ASSERT_LE(at + length, icns.size());
        if (const auto type = kTypes.find(icns.substr(at, 4)); type != kTypes.end())
            sizes.insert(type->second);
        at += length;
    }
    for (const int px : {16, 32, 128, 256, 512, 1024})
        EXPECT_TRUE(sizes.count(px)) << px << " pixels missing";
}

// The program and the report command side by side; the simulated Mac's
// stand-ins only off the Mac, where the icon is only in the build tree.
TEST(MacBundle, ExecutablesSideBySideAndStandInsOnlyOffTheMac)
{
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
