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

// Runs a stand-in; "$S" in the command line is the sandbox's folder.
Result RunStandIn(const Sandbox& sandbox, const char* command)
{
    QStringList args = QString::fromUtf8(command).replace(QStringLiteral("$S"), sandbox.path()).split(QLatin1Char(' '));
    QProcess process;
    process.start(QStringLiteral(QZ_STANDIN_DIR "/") + args.takeFirst(), args);
    process.waitForFinished(20000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

} // namespace

TEST(StandIns, AnswerAsTheMacToolsDoAndRefuseBadArguments)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("xdg-open"), "echo \"$1\" >> \"$HOME/opened\"");
    sandbox.Write(QStringLiteral("doc.rtf"), "{\\rtf1}");
    struct Case {
        const char* command;
        int status;
        std::string out; // "*": anything non-empty
        bool usage;
    };
    const Case cases[] = {{"tmutil startbackup", 0, "", false}, {"tmutil startbackup --auto --block", 0, "", false},
        {"tmutil", 1, "", true}, {"tmutil startbackup --nonsense", 1, "", true}, {"tmutil restore x", 1, "", true},
        {"scutil --get ComputerName", 0, "*", false}, {"scutil --get", 64, "", true},
        {"scutil --set ComputerName x", 64, "", true},
        {"dseditgroup -o checkmember -m root admin", 0, "yes root is a member of admin\n", false},
        {"dseditgroup -o checkmember -m root nogroup-qz", 6, "no root is NOT a member of nogroup-qz\n", false},
        {"dseditgroup -o checkmember -m nosuchuser-qz admin", 67, "", false},
        {"dseditgroup -o checkmember admin", 64, "", true}, {"dseditgroup", 64, "", true}, {"open", 1, "", true},
        {"open -a Mail", 1, "", true}, {"open $S/missing.rtf", 1, "", false},
        {"open /System/Library/PreferencePanes/TimeMachine.prefPane", 1, "", false},
        {"open https://example.com/x?a=1&b=2", 0, "", false}, {"open $S/doc.rtf", 0, "", false}};
    for (const Case& c : cases) {
        const Result r = RunStandIn(sandbox, c.command);
        EXPECT_EQ(r.status, c.status) << c.command;
        EXPECT_TRUE(c.out == "*" ? !r.out.empty() : r.out == c.out) << c.command << ": " << r.out;
        EXPECT_EQ(r.err.find("sage: ") != std::string::npos, c.usage) << c.command << ": " << r.err;
    }
    // xdg-open runs detached from open; wait for both of its calls, in either order.
    const QString opened = sandbox.path() + QStringLiteral("/opened");
    const std::string doc = sandbox.path().toStdString() + "/doc.rtf\n", url = "https://example.com/x?a=1&b=2\n";
    for (int i = 0; i < 200 && ReadFile(opened).size() < doc.size() + url.size(); ++i)
        QThread::msleep(20);
    EXPECT_TRUE(ReadFile(opened) == url + doc || ReadFile(opened) == doc + url) << ReadFile(opened);

    // The backups started by hand show in the simulated log.
    const QString manual = sandbox.path() + QStringLiteral("/.local/state/quillaby/manual-backups");
    EXPECT_FALSE(ReadFile(manual).empty());
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    sandbox.Write(QStringLiteral(".local/state/quillaby/manual-backups"), std::to_string(now - 120) + "\n");
    QProcess log;
    log.start(QStringLiteral(QZ_STANDIN_DIR "/log"),
        {QStringLiteral("show"), QStringLiteral("--last"), QStringLiteral("1h"), QStringLiteral("--predicate"),
            QStringLiteral("subsystem == \"com.apple.TimeMachine\""), QStringLiteral("--info")});
    ASSERT_TRUE(log.waitForFinished(20000));
    const std::string out = log.readAllStandardOutput().toStdString();
    const std::size_t start = out.find(
        QDateTime::fromSecsSinceEpoch(now - 120).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString());
    const std::size_t started = out.find("Starting manual backup", start);
    ASSERT_NE(start, std::string::npos);
    EXPECT_LT(started - start, 200u);
    EXPECT_NE(
        out.find("Backup completed successfully.", out.find("Backing up to /dev/disk3s2", started)), std::string::npos);
}
