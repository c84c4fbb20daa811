#include "test_support.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

TEST(LogStandIn, AReplayNamingAFolderEndsWith66AndAMessage)
{
    QTemporaryDir folder;
    const QStringList predicate = {QStringLiteral("--predicate"),
        QStringLiteral("subsystem == \"com.apple.TimeMachine\""), QStringLiteral("--info")};
    for (const QString& period : {QStringLiteral("--last 4h"), QStringLiteral("--yesterday")}) {
        QProcess log;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUILLABY_LOG_REPLAY"), folder.path());
        log.setProcessEnvironment(environment);
        const QStringList args = QStringList {QStringLiteral("show")} + period.split(QLatin1Char(' ')) + predicate;
        log.start(QStringLiteral(QZ_STANDIN_DIR "/log"), args);
        log.waitForFinished(10000);
        EXPECT_EQ(log.exitCode(), 66) << period.toStdString();
        EXPECT_TRUE(log.readAllStandardOutput().isEmpty());
        EXPECT_TRUE(log.readAllStandardError().contains("Is a directory"));
    }
}
