// The built bundle and the installed tree as the Mac, a desktop and its tools see them, and the stand-ins on PATH.

#include "test_support.h"

#include "app/environment.h"
#include "runtime/testing.h"

TEST(Install, TheDesktopsToolsAcceptTheInstalledFiles)
{
    Sandbox sandbox;
    const std::string prefix = sandbox.path().toStdString() + "/prefix";
    const ShResult install = Sh("cmake --install '"
        + QFileInfo(QStringLiteral(QZ_BUNDLE_DIR)).absolutePath().toStdString() + "' --prefix '" + prefix + "'");
    ASSERT_EQ(install.code, 0) << install.err;
    for (const char* file : {"bin/quillaby", "bin/quillaby-report", "share/icons/hicolor/256x256/apps/quillaby.png"})
        EXPECT_TRUE(QFileInfo(QString::fromStdString(prefix + "/" + file)).isFile()) << file;
    // Each tool's command line in the prefix, and what it shows. (The tests' own locale may not be installed; man
    // would warn of it.)
    const std::pair<std::string, const char*> checks[] = {
        {"desktop-file-validate share/applications/quillaby.desktop", ""},
        {"appstreamcli validate --no-net share/metainfo/software.fernhollow.quillaby.metainfo.xml",
            "Validation was successful"},
        {"man -l share/man/man1/quillaby-report.1", "QUILLABY-REPORT(1)"},
        {"bin/quillaby-report --version", "quillaby-report 8.0.2\n"},
        {"bash -c '. /usr/share/bash-completion/bash_completion; . share/bash-completion/completions/quillaby-report; "
         "COMP_WORDS=(quillaby-report --format \"\"); COMP_CWORD=2; COMP_LINE=\"quillaby-report --format \"; "
         "COMP_POINT=${#COMP_LINE}; _quillaby_report; echo \"${COMPREPLY[*]}\"'",
            "text json prometheus nagios\n"}};
    for (const auto& [command, shown] : checks) {
        const ShResult r = Sh("cd '" + prefix + "' && LC_ALL=C.UTF-8 " + command);
        EXPECT_EQ(r.code, 0) << command << ": " << r.out << r.err;
        EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
        for (const char* section :
            {"SYNOPSIS", "COMMANDS", "OPTIONS", "FORMATS", "EXIT STATUS", "ENVIRONMENT", "FILES"})
            EXPECT_TRUE(!command.starts_with("man") || r.out.find(section) != std::string::npos) << section;
        EXPECT_TRUE(!command.starts_with("man") || r.err.empty()) << r.err;
    }
}

TEST(Environment, StandInsFollowThePathOrTheSystemDefaultAndSurviveAColonInTheBundlePath)
{
    Sandbox sandbox;
    const std::pair<const char*, bool> cases[] = {{"/plain.app", true}, {"/plain.app", false}, {"/odd:name.app", true}};
    for (const auto& [bundle, pathSet] : cases) {
        const QString probe
            = sandbox.Write(QString::fromUtf8(bundle).mid(1) + QStringLiteral("/Contents/StandIns/standin-probe"),
                "#!/bin/sh\necho stand-in\n");
        QFile::setPermissions(probe, QFile::ReadOwner | QFile::ExeOwner);
        QzSetBundlePath(sandbox.path() + QString::fromUtf8(bundle));
        const std::string saved = std::getenv("PATH");
        if (!pathSet)
            unsetenv("PATH");
        AddStandInsToPath();
        const std::string path = std::getenv("PATH");
        // The shell's answer with the program's PATH.
        EXPECT_EQ(Sh("standin-probe; for c in grep cut ps; do command -v $c; done | wc -l").out, "stand-in\n3\n")
            << path;
        EXPECT_TRUE(pathSet || path.starts_with("/bin:/usr/bin:")) << path;
        setenv("PATH", saved.c_str(), 1);
    }
    QzSetBundlePath(QString());
}

// The Mac bundle's Info.plist, as Python's plistlib reads it: each key the system and the program need, with its value.
TEST(MacBundle, InfoPlistIconAndExecutablesAreWhereAndWhatTheMacNeeds)
{
    const ShResult plist
        = Sh("python3 -c 'import plistlib, sys\nd = plistlib.load(open(sys.argv[1], \"rb\"))\nfor k in "
             "sys.argv[2:]: print(k, d.get(k), sep=\"=\")' '" QZ_INFO_PLIST "' CFBundleExecutable "
             "CFBundleIdentifier CFBundleName CFBundlePackageType CFBundleInfoDictionaryVersion "
             "CFBundleShortVersionString CFBundleVersion CFBundleIconFile LSMinimumSystemVersion "
             "NSAppleEventsUsageDescription LSUIElement NSHighResolutionCapable");
    const std::string version = QZ_PROJECT_VERSION;
    EXPECT_EQ(plist.out,
        "CFBundleExecutable=Quillaby\nCFBundleIdentifier=software.fernhollow.quillaby\nCFBundleName=Quillaby\n"
        "CFBundlePackageType=APPL\nCFBundleInfoDictionaryVersion=6.0\nCFBundleShortVersionString="
            + version + "\nCFBundleVersion=" + version
            + "\nCFBundleIconFile=" + QFileInfo(QStringLiteral(QZ_ICNS)).completeBaseName().toStdString()
            + "\nLSMinimumSystemVersion=10.13\nNSAppleEventsUsageDescription=Quillaby asks to control Mail (or "
              "Microsoft Outlook) to send you an email when a Time Machine backup fails, and the Finder to show you "
              "the folder of a file that could not be backed up.\nLSUIElement=False\nNSHighResolutionCapable=True\n")
        << plist.err;
    // The .icns holds each size a Mac draws, 16 to 1024 pixels, in elements that fill the file as its header says.
    const std::string icns = ReadFile(QStringLiteral(QZ_ICNS));
    const auto bigEndian32 = [&icns](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < 4 && at + k < icns.size(); ++k)
            value = value << 8 | static_cast<std::uint8_t>(icns[at + k]);
        return value;
    };
    EXPECT_EQ(icns.substr(0, 4) + std::to_string(bigEndian32(4)), "icns" + std::to_string(icns.size()));
    QString types;
    for (std::size_t at = 8, length = 0; at < icns.size(); at += length) {
        length = bigEndian32(at + 4);
        ASSERT_TRUE(length >= 8 && at + length <= icns.size()) << at;
        types += QString::fromStdString(icns.substr(at, 4)) + QLatin1Char(' ');
    }
    // The image types of each size by pixels on a side ("@2x" ones too); masks and the table of contents hold none.
    for (const char* size : {"is32|icp4|ic04", "il32|icp5|ic05|ic11", "it32|ic07", "ic08|ic13", "ic09|ic14", "ic10"})
        EXPECT_TRUE(types.contains(QRegularExpression(QLatin1String(size)))) << size << " in " << types.toStdString();

    const QString contents = QStringLiteral(QZ_BUNDLE_DIR "/Contents");
    // The simulated Mac only off the Mac, where the icon stays in the build tree (other tests run the executables).
#ifdef Q_OS_MACOS
    EXPECT_FALSE(QFileInfo::exists(contents + QStringLiteral("/StandIns"))
        || QFileInfo::exists(contents + QStringLiteral("/Resources/SimulatedMac")));
    EXPECT_TRUE(QFileInfo::exists(contents + QStringLiteral("/Resources/Quillaby.icns")));
#else
    EXPECT_FALSE(QFileInfo::exists(contents + QStringLiteral("/Resources/Quillaby.icns")));
#endif
}
