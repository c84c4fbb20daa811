#include "test_support.h"

#include "app/environment.h"
#include "runtime/bundle.h"
#include "runtime/testing.h"

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
        QProcess sh;
        sh.start(QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
                QStringLiteral("standin-probe; for c in grep cut ps; do command -v $c; done | wc -l")});
        sh.waitForFinished(10000);
        EXPECT_EQ(sh.readAllStandardOutput().toStdString(), "stand-in\n3\n") << path;
        EXPECT_TRUE(pathSet || path.starts_with("/bin:/usr/bin:")) << path;
        setenv("PATH", saved.c_str(), 1);
    }
    QzSetBundlePath(QString());
}
