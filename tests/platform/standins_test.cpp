#include "test_support.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QProcess>
#include <QThread>

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

Result RunStandIn(const QString& name, const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral(QZ_STANDIN_DIR "/") + name, args);
    process.waitForFinished(20000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

QStringList Args(const char* text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

TEST(StandIns, AnswerAsTheMacToolsDoAndRefuseBadArguments)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("xdg-open"), "echo \"$1\" >> \"$HOME/opened\"");
    sandbox.Write(QStringLiteral("doc.rtf"), "{\\rtf1}");
    struct Case {
        const char* tool;
        QStringList args;
        int status;
        std::string out; // "*": anything non-empty
        bool usage;
    };
    const std::string me = qEnvironmentVariable("USER", QStringLiteral("root")).toStdString();
    const Case cases[] = {
        {"tmutil", Args("startbackup"), 0, "", false},
        {"tmutil", Args("startbackup --auto --block"), 0, "", false},
        {"tmutil", Args(""), 1, "", true},
        {"tmutil", Args("startbackup --nonsense"), 1, "", true},
        {"tmutil", Args("restore x"), 1, "", true},
        {"scutil", Args("--get ComputerName"), 0, "*", false},
        {"scutil", Args("--get"), 64, "", true},
        {"scutil", Args("--set ComputerName x"), 64, "", true},
        {"dseditgroup", Args("-o checkmember -m root admin"), 0, "yes root is a member of admin\n", false},
        {"dseditgroup", Args("-o checkmember -m root nogroup-qz"), 6, "no root is NOT a member of nogroup-qz\n", false},
        {"dseditgroup", Args("-o checkmember -m nosuchuser-qz admin"), 67, "", false},
        {"dseditgroup", Args("-o checkmember admin"), 64, "", true},
        {"dseditgroup", Args(""), 64, "", true},
        {"open", Args(""), 1, "", true},
        {"open", Args("-a Mail"), 1, "", true},
        {"open", {sandbox.path() + QStringLiteral("/missing.rtf")}, 1, "", false},
        {"open", Args("/System/Library/PreferencePanes/TimeMachine.prefPane"), 1, "", false},
        {"open", Args("https://example.com/x?a=1&b=2"), 0, "", false},
        {"open", {sandbox.path() + QStringLiteral("/doc.rtf")}, 0, "", false},
    };
    for (const Case& c : cases) {
        const Result r = RunStandIn(QString::fromLatin1(c.tool), c.args);
        const std::string what = std::string(c.tool) + " " + c.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(r.status, c.status) << what;
        if (c.out == "*")
            EXPECT_FALSE(r.out.empty()) << what;
        else
            EXPECT_EQ(r.out, c.out) << what;
        EXPECT_EQ(r.err.find("sage: ") != std::string::npos, c.usage) << what << ": " << r.err;
    }
    // xdg-open runs detached from open; wait for both of its calls.
    const std::string opened = "https://example.com/x?a=1&b=2\n" + sandbox.path().toStdString() + "/doc.rtf\n";
    for (int i = 0; i < 200 && ReadFile(sandbox.path() + QStringLiteral("/opened")).size() < opened.size(); ++i)
        QThread::msleep(20);
    std::string got = ReadFile(sandbox.path() + QStringLiteral("/opened"));
    EXPECT_TRUE(got == opened || got == sandbox.path().toStdString() + "/doc.rtf\nhttps://example.com/x?a=1&b=2\n")
        << got;
    EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/.local/state/quillaby/manual-backups")).size() > 0, true);
}

TEST(StandIns, ABackupStartedByHandShowsInTheSimulatedLog)
{
    Sandbox sandbox;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    sandbox.Write(QStringLiteral(".local/state/quillaby/manual-backups"), std::to_string(now - 120) + "\n");
    const Result r = RunStandIn(QStringLiteral("log"),
        {QStringLiteral("show"), QStringLiteral("--last"), QStringLiteral("1h"), QStringLiteral("--predicate"),
            QStringLiteral("subsystem == \"com.apple.TimeMachine\""), QStringLiteral("--info")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string stamp
        = QDateTime::fromSecsSinceEpoch(now - 120).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
    const std::size_t start = r.out.find(stamp);
    ASSERT_NE(start, std::string::npos);
    const std::size_t manual = r.out.find("Starting manual backup", start);
    ASSERT_NE(manual, std::string::npos);
    EXPECT_LT(manual - start, 200u);
    const std::size_t to = r.out.find("Backing up to /dev/disk3s2", manual);
    EXPECT_NE(to, std::string::npos);
    EXPECT_NE(r.out.find("Backup completed successfully.", to), std::string::npos);
}
