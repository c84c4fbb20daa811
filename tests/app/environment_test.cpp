#include "test_support.h"

#include "app/environment.h"
#include "runtime/bundle.h"
#include "runtime/testing.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>

#include <cstdlib>

namespace {

// The shell's answer to a command line run with the program's PATH.
std::string Shell(const char* command)
{
    QProcess sh;
    sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromUtf8(command)});
    sh.waitForFinished(10000);
    return sh.readAllStandardOutput().toStdString();
}

} // namespace

TEST(Environment, StandInsFollowThePathOrTheSystemDefaultAndSurviveAColonInTheBundlePath)
{
    Sandbox sandbox;
    struct Case {
        const char* bundle;
        bool pathSet;
    } cases[] = {{"/plain.app", true}, {"/plain.app", false}, {"/odd:name.app", true}};
    for (const Case& c : cases) {
        const QString bundle = sandbox.path() + QString::fromUtf8(c.bundle);
        sandbox.Write(QString::fromUtf8(c.bundle).mid(1) + QStringLiteral("/Contents/StandIns/standin-probe"),
            "#!/bin/sh\necho stand-in\n");
        QFile::setPermissions(
            bundle + QStringLiteral("/Contents/StandIns/standin-probe"), QFile::ReadOwner | QFile::ExeOwner);
        QzSetBundlePath(bundle);
        const std::string saved = std::getenv("PATH");
        if (!c.pathSet)
            unsetenv("PATH");
        AddStandInsToPath();
        const std::string path = std::getenv("PATH");
        EXPECT_EQ(Shell("standin-probe; for c in grep cut ps; do command -v $c; done | wc -l"), "stand-in\n3\n")
            << path;
        if (!c.pathSet) {
            EXPECT_EQ(path.rfind("/bin:/usr/bin:", 0), 0u) << path;
        }
        setenv("PATH", saved.c_str(), 1);
    }
    QzSetBundlePath(QString());
}
