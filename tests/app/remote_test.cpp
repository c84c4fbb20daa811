// Macs watched over ssh: destinations, their folders and command lines, and reports through Debian's real sshd.

#include "test_support.h"

#include "monitor/fetch.h"
#include "monitor/remote.h"
#include "monitor/state.h"
#include "runtime/channels.h"
#include "settings/state.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A free loopback port (free when asked; nothing listens on it).
int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), size);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    close(s);
    return ntohs(a.sin_port);
}

bool Accepts(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return up;
}

std::string RunProgram(const QString& program, const QStringList& args, int* code = nullptr)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    if (code)
        *code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return (p.readAllStandardOutput() + p.readAllStandardError()).toStdString();
}

// Debian's sshd on a free loopback port with throwaway keys, every Host of its client configuration (`config`) this
// server as this user. "mac-a" and "mac-b" log in with the key whose forced command is the shipped gate, run with
// the simulated Mac's commands on PATH and its clock at 2026-03-10 12:00; "hang" with a key whose forced command
// sleeps; "stranger" expects another host key; "down" is a port where nothing listens. As root, sshd runs in a mount
// namespace of its own where a folder of the test is /run, which holds the privilege separation folder it needs.
class SshServer {
public:
    explicit SshServer(const Sandbox& sandbox)
        : dir_(sandbox.path() + QStringLiteral("/ssh"))
    {
        QDir().mkpath(dir_ + QStringLiteral("/run/sshd"));
        for (const char* key : {"host", "stranger", "user", "hang"})
            RunProgram(QStringLiteral("ssh-keygen"),
                {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"), {},
                    QStringLiteral("-f"), dir_ + u'/' + QLatin1String(key)});
        const std::string d = dir_.toStdString(), user = getpwuid(geteuid())->pw_name;
        const std::string port = std::to_string(FreePort()),
                          gate = QZ_FIXTURES_DIR "/../../scripts/quillaby-ssh-command";
        sandbox.Write(QStringLiteral("ssh/authorized_keys"),
            "restrict,command=\"/bin/sh '" + gate + "'\" " + Key("user") + "restrict,command=\"exec sleep 1000\" "
                + Key("hang"));
        sandbox.Write(QStringLiteral("ssh/known_hosts"), "[127.0.0.1]:" + port + " " + Key("host"));
        sandbox.Write(QStringLiteral("ssh/stranger_hosts"), "[127.0.0.1]:" + port + " " + Key("stranger"));
        sandbox.Write(QStringLiteral("ssh/remote/scutil"), "#!/bin/sh\necho 'Remote Mac'\n");
        QFile::setPermissions(dir_ + QStringLiteral("/remote/scutil"), QFile::ReadOwner | QFile::ExeOwner);
        sandbox.Write(QStringLiteral("ssh/sshd_config"),
            "ListenAddress 127.0.0.1:" + port + "\nHostKey " + d + "/host\nPidFile " + d
                + "/sshd.pid\nAuthorizedKeysFile " + d
                + "/authorized_keys\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                  "KbdInteractiveAuthentication no\nUseDNS no\nLogLevel ERROR\nSetEnv \"PATH="
                + d + "/remote:" QZ_STANDIN_DIR ":/usr/bin:/bin\" \"HOME=" + d
                + "\" \"QUILLABY_LOG_NOW=2026-03-10 12:00:00\" TZ=UTC\n");
        config = dir_ + QStringLiteral("/config");
        sandbox.Write(QStringLiteral("ssh/config"),
            "Host hang\n IdentityFile " + d + "/hang\nHost stranger\n UserKnownHostsFile " + d
                + "/stranger_hosts\nHost down\n Port " + std::to_string(FreePort())
                + "\nHost *\n HostName 127.0.0.1\n Port " + port + "\n User " + user + "\n IdentityFile " + d
                + "/user\n IdentitiesOnly yes\n IdentityAgent none\n UserKnownHostsFile " + d
                + "/known_hosts\n GlobalKnownHostsFile /dev/null\n StrictHostKeyChecking yes\n LogLevel ERROR\n");
        const QString sshd = QStringLiteral("/usr/sbin/sshd");
        const QStringList args {
            QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), dir_ + QStringLiteral("/sshd_config")};
        sshd_.setStandardErrorFile(dir_ + QStringLiteral("/sshd.log"));
        if (geteuid() == 0)
            sshd_.start(QStringLiteral("unshare"),
                QStringList {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
                    QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                    QStringLiteral("mount --bind \"$0\" /run && exec \"$@\""), dir_ + QStringLiteral("/run"), sshd}
                    + args);
        else
            sshd_.start(sshd, args);
        for (QDeadlineTimer up(20000); !Accepts(std::stoi(port)) && !up.hasExpired();)
            QThread::msleep(20);
        EXPECT_TRUE(Accepts(std::stoi(port))) << ReadFile(dir_ + QStringLiteral("/sshd.log"));
    }
    ~SshServer()
    {
        sshd_.terminate();
        sshd_.waitForFinished(10000);
    }
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    QString config;

private:
    std::string Key(const char* name) const
    {
        return ReadFile(dir_ + u'/' + QLatin1String(name) + QStringLiteral(".pub"));
    }

    QString dir_;
    QProcess sshd_;
};

struct Outcome {
    int code = -1;
    std::string out, err;
};

Outcome Report(const QStringList& args, const QString& limit = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!limit.isEmpty())
        env.insert(QStringLiteral("QUILLABY_FETCH_LIMIT"), limit);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QZ_REPORT_EXE), args);
    p.waitForFinished(90000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
        p.readAllStandardError().toStdString()};
}

} // namespace

// Destinations ssh may not be given are refused; each other one has a folder of its own; the log command reaches the
// Mac's shell as its text and nothing of the destination or QUILLABY_SSH's options reaches a shell here.
TEST(RemoteMac, DestinationsFoldersAndCommandLines)
{
    std::string slashes;
    for (int i = 0; i < 85; ++i)
        slashes += "%2F";
    const std::pair<std::string, std::string> folders[] = {{"mac-mini", "mac-mini"},
        {"sam@mac-mini.local", "sam@mac-mini.local"}, {"ssh://sam@10.0.0.5:2222", "ssh%3A%2F%2Fsam@10.0.0.5%3A2222"},
        {".hidden", "%2Ehidden"}, {"a%2F/..", "a%252F%2F.."}, {std::string(85, '/'), slashes}, {"-oProxyCommand=x", ""},
        {"", ""}, {"a b", ""}, {"a\tb", ""}, {"a\x7F", ""}, {std::string(86, '/'), ""}};
    for (const auto& [dest, folder] : folders)
        EXPECT_EQ(DestinationProblem(dest).empty() ? HostFolderName(dest) : "", folder) << dest;
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ssh"), "printf '%s\\n' \"$@\"");
    EXPECT_EQ(CommandOnTheMac(YesterdayCommand()), std::string(YesterdayCommand().view()));
    std::string error;
    setenv("QUILLABY_SSH", "ssh -F 'my config' -o \"ProxyJump=j k\" # a note", 1);
    const std::string hostile = "o'brien@mac;$(touch${IFS}x)";
    ASSERT_TRUE(WatchRemoteMac(hostile, &error)) << error;
    EXPECT_EQ(gHostFolder, QStringLiteral("hosts/o%27brien@mac%3B%24%28touch%24%7BIFS%7Dx%29"));
    QzOpenCommandPipe(1, CommandOnTheMac(YesterdayCommand()));
    std::string words;
    ShortString word;
    do {
        QzLineInput(1, word);
        words += std::string(word.view()) + "|";
    } while (QzEof(1) == 0);
    QzClose(1);
    EXPECT_EQ(words,
        "-o|BatchMode=yes|-o|ConnectTimeout=15|-F|my config|-o|ProxyJump=j k|--|" + hostile + "|"
            + std::string(YesterdayCommand().view()) + "||");
    EXPECT_TRUE(CommandOnTheMac(TodayCommand(false)).ends_with("' | grep  'upd: (' | cut -c 1-19,140-999"));
    EXPECT_FALSE(QFile::exists(QStringLiteral("x")));
    setenv("QUILLABY_SSH", "ssh -F 'open", 1);
    EXPECT_FALSE(WatchRemoteMac("mac", &error));
    EXPECT_EQ(error.rfind("QUILLABY_SSH is no command line: ", 0), 0u) << error;
    unsetenv("QUILLABY_SSH");
    gRemoteHost.clear();
    gHostFolder.clear();
}

// Through a real sshd: a believable day comes back and is analysed, in a folder of the Mac's own that starts with this
// Mac's mail settings; two Macs give two results in one textfile; a wrong host key, a server that is not there and a
// Mac that hangs are each a log not had, never a missing backup, with ssh's own words; a hostile destination runs
// nothing; the gate refuses what the program never asks; the mail's subject names the remote Mac.
TEST(RemoteMac, ReportsThroughARealSshServer)
{
    Sandbox sandbox;
    SshServer server(sandbox);
    setenv("QUILLABY_SSH", ("ssh -F '" + server.config.toStdString() + "'").c_str(), 1);
    sandbox.Stub(QStringLiteral("ps"), "echo >> \"$HOME/ps-runs\"");
    const QString data = sandbox.path() + QStringLiteral("/.local/share/Quillaby/");
    sandbox.Write(QStringLiteral(".local/share/Quillaby/Settings"), " 1\rsam@example.com\r\r 0\r 1\r 0\r 1\r\r");

    Outcome r = Report({QStringLiteral("today"), QStringLiteral("--host=mac-a"), QStringLiteral("--json")});
    const QJsonArray macs = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array();
    ASSERT_EQ(macs.size(), 1) << r.out << r.err;
    EXPECT_EQ(macs[0][QStringLiteral("host")].toString(), QStringLiteral("mac-a"));
    EXPECT_TRUE(
        macs[0][QStringLiteral("report")].toString().contains(QStringLiteral("] Backup completed successfully.")));
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(
        ReadFile(data + QStringLiteral("hosts/mac-a/Settings")).rfind(" 1\rsam@example.com\r\r 0\r 1\r 0\r", 0), 0u);
    EXPECT_FALSE(QFile::exists(sandbox.path() + QStringLiteral("/ps-runs")));

    r = Report({QStringLiteral("yesterday"), QStringLiteral("--host"), QStringLiteral("mac-a"),
        QStringLiteral("--host"), QStringLiteral("mac-b"), QStringLiteral("--format"), QStringLiteral("prometheus")});
    EXPECT_EQ(r.code, 0) << r.err;
    for (const char* mac : {"mac-a", "mac-b"})
        EXPECT_NE(
            r.out.find("quillaby_status{host=\"" + std::string(mac) + "\",log=\"yesterday\"} 0\n"), std::string::npos)
            << r.out;
    EXPECT_EQ(QString::fromStdString(r.out).count(QStringLiteral("# TYPE quillaby_status gauge")), 1) << r.out;

    // The server's Mac had no backup for days: a log not had says nothing of that.
    const int day = QDate::currentDate().dayOfYear();
    sandbox.Write(QStringLiteral(".local/share/Quillaby/hosts/down/Settings"),
        " 0\r\r\r 0\r 0\r 0\r " + std::to_string(day > 5 ? day - 5 : day) + "\r\r");
    r = Report({QStringLiteral("today"), QStringLiteral("--format=nagios"), QStringLiteral("--host=stranger"),
                   QStringLiteral("--host=down"), QStringLiteral("--host=hang"), QStringLiteral("--host=mac-b")},
        QStringLiteral("3"));
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out.substr(0, r.out.find(" |")), "QUILLABY UNKNOWN - 4 Macs: 3 UNKNOWN, 1 OK") << r.out;
    for (const char* mac : {"stranger", "down", "hang"})
        EXPECT_NE(
            r.out.find("\n" + std::string(mac) + ": UNKNOWN - Unable to get today's error log\n"), std::string::npos)
            << r.out;
    EXPECT_NE(r.out.find("'mac-b problem_lines'=0;;;0"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("stranger: Host key verification failed."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("down: ssh: connect to host 127.0.0.1 port "), std::string::npos) << r.err;

    r = Report(
        {QStringLiteral("today"), QStringLiteral("--host=fresh"), QStringLiteral("--host=-oProxyCommand=touch x")});
    EXPECT_EQ(r.code, 64);
    EXPECT_EQ(r.err, "quillaby-report: refusing the destination \"-oProxyCommand=touch x\": it starts with \"-\"\n");
    int code = 0;
    RunProgram(QStringLiteral(QZ_APP_EXE), {QStringLiteral("--host"), QStringLiteral("-x")}, &code);
    EXPECT_EQ(code, 64);
    EXPECT_FALSE(QFile::exists(data + QStringLiteral("hosts/fresh")));

    EXPECT_EQ(RunProgram(QStringLiteral("ssh"),
                  {QStringLiteral("-F"), server.config, QStringLiteral("mac-a"), QStringLiteral("id")}, &code),
        "quillaby-ssh-command: refused: id\n");
    EXPECT_EQ(code, 1);
    std::string error;
    for (const auto& [mac, name] : {std::pair {"mac-a", "Remote Mac"}, {"down", "down"}}) {
        ASSERT_TRUE(WatchRemoteMac(mac, &error));
        EXPECT_EQ(RemoteComputerName(), SS(name));
    }
    unsetenv("QUILLABY_SSH");
    gRemoteHost.clear();
    gHostFolder.clear();
}
