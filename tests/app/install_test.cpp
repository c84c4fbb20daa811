// The installed tree, as a desktop and its tools see it: installed into a temporary prefix, then checked by
// Debian's desktop-file-validate, appstreamcli, man and bash-completion.

#include "test_support.h"

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
