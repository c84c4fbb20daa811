#include "runtime/platform.h"
#include "test_support.h"

TEST(PlatformWrappers, FoldersAndUrlsMapToThisSystem)
{
    Sandbox sandbox;
    const QUrl support = QzDirectoryURL(kQzApplicationSupportDirectory, kQzUserDomain);
    EXPECT_EQ(support.toLocalFile(), sandbox.path() + QStringLiteral("/.local/share/"));
    const QUrl library = QzDirectoryURL(kQzLibraryDirectory, kQzUserDomain);
    // The user's short name is the last component of the Library's parent.
    EXPECT_EQ(QzURLLastComponent(QzURLParent(library)), QDir(sandbox.path()).dirName());
    EXPECT_EQ(QzDirectoryURL(kQzLibraryDirectory, kQzSystemDomain).toLocalFile(), QStringLiteral("/System/Library/"));
    EXPECT_TRUE(QzDirectoryURL(99, kQzUserDomain).isEmpty());

    const QUrl folder = QzURLAppend(support, QStringLiteral("Quillaby/"));
    EXPECT_FALSE(QzFileExists(folder));
    EXPECT_FALSE(QzCreateDirectory(folder)); // its parent does not exist yet
    EXPECT_TRUE(QzCreateDirectory(folder, true));
    EXPECT_TRUE(QzFileExists(folder));
    EXPECT_EQ(QzURLAppend(folder, QStringLiteral("Settings")).toLocalFile(),
        sandbox.path() + QStringLiteral("/.local/share/Quillaby/Settings"));

    // Null in, null out.
    EXPECT_TRUE(QzURLAppend(QUrl(), QStringLiteral("x")).isEmpty());
    EXPECT_TRUE(QzURLParent(QUrl()).isEmpty());
    EXPECT_TRUE(QzURLLastComponent(QUrl()).isEmpty());
    EXPECT_FALSE(QzFileExists(QUrl()));
    EXPECT_FALSE(QzOpenURL(QUrl()));
}
