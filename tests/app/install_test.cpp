// The installed tree, as a desktop and its tools see it: installed into a temporary prefix, then checked by
// Debian's desktop-file-validate, appstreamcli, man and bash-completion.

#include "test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {

struct Ran {
    int code = -1;
    std::string out, err;
};

Ran Command(const QString& program, const QStringList& arguments)
{
    QProcess p;
    // The tests' own locale may not be installed; man would warn of it.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
        p.readAllStandardError().toStdString()};
}

} // namespace

TEST(Install, TheDesktopsToolsAcceptTheInstalledFiles)
{
    Sandbox sandbox;
    const QString prefix = sandbox.path() + QStringLiteral("/prefix");
    const QString build = QFileInfo(QStringLiteral(QZ_BUNDLE_DIR)).absolutePath();
    const Ran install
        = Command(QStringLiteral("cmake"), {QStringLiteral("--install"), build, QStringLiteral("--prefix"), prefix});
    ASSERT_EQ(install.code, 0) << install.err;
    const auto at = [&prefix](const char* relative) { return prefix + QLatin1Char('/') + QLatin1String(relative); };
    for (const char* file : {"bin/quillaby", "bin/quillaby-report", "share/icons/hicolor/256x256/apps/quillaby.png"})
        EXPECT_TRUE(QFileInfo(at(file)).isFile()) << file;
    const std::pair<QString, QStringList> checks[] = {
        {QStringLiteral("desktop-file-validate"), {at("share/applications/quillaby.desktop")}},
        {QStringLiteral("appstreamcli"),
            {QStringLiteral("validate"), QStringLiteral("--no-net"),
                at("share/metainfo/software.fernhollow.quillaby.metainfo.xml")}},
        {QStringLiteral("man"), {QStringLiteral("-l"), at("share/man/man1/quillaby-report.1")}},
        {at("bin/quillaby-report"), {QStringLiteral("--version")}},
        {QStringLiteral("/bin/bash"),
            {QStringLiteral("-c"),
                QStringLiteral(". /usr/share/bash-completion/bash_completion; . \"$0\"; COMP_WORDS=(quillaby-report "
                               "--format ''); COMP_CWORD=2; COMP_LINE='quillaby-report --format '; "
                               "COMP_POINT=${#COMP_LINE}; _quillaby_report; echo \"${COMPREPLY[*]}\""),
                at("share/bash-completion/completions/quillaby-report")}}};
    const char* const shown[] = {"", "Validation was successful", "QUILLABY-REPORT(1)", "quillaby-report 8.0.2\n",
        "text json prometheus nagios\n"};
    for (std::size_t i = 0; i < std::size(checks); ++i) {
        const Ran r = Command(checks[i].first, checks[i].second);
        EXPECT_EQ(r.code, 0) << checks[i].first.toStdString() << ": " << r.out << r.err;
        EXPECT_NE(r.out.find(shown[i]), std::string::npos) << r.out;
    }
    const Ran manual = Command(QStringLiteral("man"), {QStringLiteral("-l"), at("share/man/man1/quillaby-report.1")});
    for (const char* section : {"SYNOPSIS", "COMMANDS", "OPTIONS", "FORMATS", "EXIT STATUS", "ENVIRONMENT", "FILES"})
        EXPECT_NE(manual.out.find(section), std::string::npos) << section;
    EXPECT_EQ(manual.err, "");
}
