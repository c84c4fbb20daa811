// Macs watched over ssh: destinations, their folders and command lines, and reports through Debian's real sshd.

#include "test_support.h"

#include "app/watched_mac.h"
#include "monitor/fetch.h"
#include "monitor/remote.h"
#include "monitor/state.h"
#include "runtime/channels.h"
#include "runtime/widgets_p.h"
#include "runtime/windows.h"
#include "settings/state.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// In $1: throwaway keys, the configurations, then Debian's sshd on a free loopback port. Every Host of `config` is
// this server: "mac-a"/"mac-b" run the gate ($3) with the simulated Mac ($2) on PATH; "hang" prints a blank line on
// standard error each second; "stranger" expects another host key; "down" is a closed port. As root, sshd runs in a
// mount namespace of its own where a folder of the test is /run.
const char* const kServer = R"sh(mkdir -p "$1/run/sshd" "$1/remote" && cd "$1" || exit 1
port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
set -- "$1" "$(port)" "$(port)" "$2" "$3"
for key in host stranger user hang; do ssh-keygen -q -t ed25519 -N '' -f $key || exit 1; done
printf '#!/bin/sh\necho "Remote Mac"\n' > remote/scutil && chmod +x remote/scutil
echo "from=\"127.0.0.1\",restrict,command=\"/bin/sh '$5'\" $(cat user.pub)" > authorized_keys
echo "restrict,command=\"while sleep 1; do echo >&2; done\" $(cat hang.pub)" >> authorized_keys
echo "[127.0.0.1]:$2 $(cat host.pub)" > known_hosts
echo "[127.0.0.1]:$2 $(cat stranger.pub)" > stranger_hosts
cat > config <<EOF
Host hang
 IdentityFile $1/hang
Host stranger
 UserKnownHostsFile $1/stranger_hosts
Host down
 Port $3
Host *
 HostName 127.0.0.1
 Port $2
 User $(id -un)
 IdentityFile $1/user
 IdentitiesOnly yes
 IdentityAgent none
 UserKnownHostsFile $1/known_hosts
 GlobalKnownHostsFile /dev/null
 LogLevel ERROR
EOF
set -- /usr/sbin/sshd -D -e -f /dev/null -o ListenAddress=127.0.0.1:$2 -o HostKey=$1/host -o PidFile=$1/sshd.pid \
    -o AuthorizedKeysFile=$1/authorized_keys -o StrictModes=no -o PasswordAuthentication=no -o UseDNS=no \
    -o "SetEnv \"PATH=$1/remote:$4:/usr/bin:/bin\" \"HOME=$1\" \"QUILLABY_LOG_NOW=2026-03-10 12:00:00\" TZ=UTC"
[ "$(id -u)" != 0 ] || set -- unshare --mount --propagation private sh -c 'mount --bind run /run && exec "$@"' sh "$@"
exec "$@" 2> sshd.log
)sh";

} // namespace

// Destinations ssh may not be given are refused, others get a folder of their own; nothing of a destination reaches a
// shell here. Through a real sshd a day comes back and is analysed; a bad host key, port or hang is a log not had.
TEST(RemoteMac, DestinationsCommandLinesAndReportsThroughARealSshServer)
{
    const std::string slashes = QStringLiteral("%2F").repeated(85).toStdString();
    const std::pair<std::string, std::string> folders[] = {{"mac-mini", "mac-mini"},
        {"sam@mac-mini.local", "sam@mac-mini.local"}, {"ssh://sam@10.0.0.5:2222", "ssh%3A%2F%2Fsam@10.0.0.5%3A2222"},
        {".hidden", "%2Ehidden"}, {"a%2F/..", "a%252F%2F.."}, {std::string(85, '/'), slashes}, {"-oProxyCommand=x", ""},
        {"", ""}, {"a b", ""}, {"a\tb", ""}, {"a\x7F", ""}, {std::string(86, '/'), ""}};
    for (const auto& [dest, folder] : folders)
        EXPECT_EQ(DestinationProblem(dest).empty() ? HostFolderName(dest) : "", folder) << dest;
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ssh"), "printf '%s|' \"$@\" > \"$HOME/words\"");
    std::string error;
    setenv("QUILLABY_SSH", "ssh -F 'my config' -o \"ProxyJump=j k\" # a note", 1);
    const std::string hostile = "o'brien@mac;$(touch${IFS}x)";
    ASSERT_TRUE(WatchRemoteMac(hostile, &error)) << error;
    EXPECT_EQ(gHostFolder, QStringLiteral("hosts/o%27brien@mac%3B%24%28touch%24%7BIFS%7Dx%29"));
    QzWindowSet(-1, QStringLiteral("Quillaby"));
    ShowWatchedMacInTitle();
    EXPECT_EQ(QzWindowByTag(1)->windowTitle().toStdString(), hostile + " \u2014 Quillaby");
    QzWindowClose(1);
    QzOpenCommandPipe(1, CommandOnTheMac(YesterdayCommand()));
    QzClose(1);
    EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/words")),
        "-o|BatchMode=yes|-o|ConnectTimeout=15|-F|my config|-o|ProxyJump=j k|--|" + hostile + "|"
            + std::string(YesterdayCommand().view()) + "|");
    EXPECT_TRUE(CommandOnTheMac(TodayCommand(false)).ends_with("' | grep  'upd: (' | cut -c 1-19,140-999"));
    EXPECT_FALSE(QFile::exists(QStringLiteral("x")));
    setenv("QUILLABY_SSH", "ssh -F 'open", 1);
    EXPECT_FALSE(WatchRemoteMac("mac", &error));
    EXPECT_EQ(error.rfind("QUILLABY_SSH is no command line: ", 0), 0u) << error;

    QFile::remove(sandbox.bin() + QStringLiteral("/ssh"));
    const QString dir = sandbox.path() + QStringLiteral("/ssh"), config = dir + QStringLiteral("/config");
    QProcess server; // sshd writes its pid file once it listens
    server.start(QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QLatin1String(kServer), QStringLiteral("sh"), dir, QStringLiteral(QZ_STANDIN_DIR),
            QStringLiteral(QZ_FIXTURES_DIR "/../../scripts/quillaby-ssh-command")});
    for (QDeadlineTimer up(20000); !QFile::exists(dir + QStringLiteral("/sshd.pid")) && !up.hasExpired();)
        QThread::msleep(20);
    ASSERT_TRUE(QFile::exists(dir + QStringLiteral("/sshd.pid"))) << ReadFile(dir + QStringLiteral("/sshd.log"));
    setenv("QUILLABY_SSH", ("ssh -F '" + config.toStdString() + "'").c_str(), 1);
    sandbox.Stub(QStringLiteral("ps"), "echo >> \"$HOME/ps-runs\"");
    const QString data = sandbox.path() + QStringLiteral("/.local/share/Quillaby/");
    sandbox.Write(QStringLiteral(".local/share/Quillaby/Settings"), " 1\rsam@example.com\r\r 0\r 1\r 0\r 1\r\r");

    ShResult r = Report("today --host=mac-a --json");
    const QJsonArray macs = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array();
    ASSERT_EQ(macs.size(), 1) << r.out << r.err;
    EXPECT_EQ(macs[0][QStringLiteral("host")].toString(), QStringLiteral("mac-a"));
    EXPECT_TRUE(
        macs[0][QStringLiteral("report")].toString().contains(QStringLiteral("] Backup completed successfully.")));
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(
        ReadFile(data + QStringLiteral("hosts/mac-a/Settings")).rfind(" 1\rsam@example.com\r\r 0\r 1\r 0\r", 0), 0u);
    EXPECT_FALSE(QFile::exists(sandbox.path() + QStringLiteral("/ps-runs")));

    r = Report("yesterday --host mac-a --host mac-b --format prometheus");
    EXPECT_EQ(r.code, 0) << r.err;
    for (const std::string mac : {"mac-a", "mac-b"})
        EXPECT_NE(r.out.find("quillaby_status{host=\"" + mac + "\",log=\"yesterday\"} 0\n"), std::string::npos)
            << r.out;
    EXPECT_EQ(QString::fromStdString(r.out).count(QStringLiteral("# TYPE quillaby_status gauge")), 1) << r.out;

    // The last backup this Mac knows of is days old: a log not had says nothing of that.
    const int day = QDate::currentDate().dayOfYear();
    sandbox.Write(QStringLiteral(".local/share/Quillaby/hosts/down/Settings"),
        " 0\r\r\r 0\r 0\r 0\r " + std::to_string(day > 5 ? day - 5 : day) + "\r\r");
    r = Report("today --format=nagios --host=stranger --host=down --host=hang --host=mac-b", "QUILLABY_FETCH_LIMIT=3");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out.substr(0, r.out.find(" |")), "QUILLABY UNKNOWN - 4 Macs: 3 UNKNOWN, 1 OK") << r.out;
    for (const std::string mac : {"stranger", "down", "hang"})
        EXPECT_NE(r.out.find("\n" + mac + ": UNKNOWN - Unable to get today's error log\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("'mac-b problem_lines'=0;;;0"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("stranger: Host key verification failed."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("down: ssh: connect to host 127.0.0.1 port "), std::string::npos) << r.err;

    // Refused before anything runs, in the report and in the window.
    r = Report("today --host=fresh '--host=-oProxyCommand=touch${IFS}ran'");
    EXPECT_EQ(r.code, 64);
    EXPECT_EQ(r.err,
        "quillaby-report: refusing the destination \"-oProxyCommand=touch${IFS}ran\": it starts with "
        "\"-\"\n");
    EXPECT_EQ(Sh("exec '" QZ_APP_EXE "' --host -x").code, 64);
    EXPECT_FALSE(QFile::exists(data + QStringLiteral("hosts/fresh")) || QFile::exists(QStringLiteral("ran")));

    r = Sh("ssh -F '" + config.toStdString() + "' mac-a id");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "quillaby-ssh-command: refused: id\n");
    for (const auto& [mac, name] : {std::pair {"mac-a", "Remote Mac"}, {"down", "down"}}) {
        ASSERT_TRUE(WatchRemoteMac(mac, &error));
        EXPECT_EQ(RemoteComputerName(), SS(name));
    }
    unsetenv("QUILLABY_SSH");
    gRemoteHost.clear();
    gHostFolder.clear();
    server.terminate();
    server.waitForFinished(10000);
}

// Several Macs in one report: every format joins their reports. The ssh on PATH runs the Mac's command on the
// simulated Mac here; "lost" kills the report command checking it, as a crash would: a log not had for it alone.
TEST(SeveralMacs, EveryFormatJoinsTheMacsAndALostCheckIsALogNotHad)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ssh"),
        "while [ \"$1\" != -- ]; do shift; done\n"
        "if [ \"$2\" = lost ]; then p=$PPID\n"
        "  while [ \"$(cat /proc/$p/comm)\" != quillaby-report ]; do p=$(cut -d' ' -f4 /proc/$p/stat); done\n"
        "  kill -9 $p; fi\n"
        "PATH='" QZ_STANDIN_DIR "':$PATH exec sh -c \"$3\"");
    const std::string env = "QUILLABY_LOG_NOW='2026-03-10 12:00:00'";

    ShResult r = Report("yesterday --json --host mac-a --host lost", env);
    const QJsonArray macs = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array();
    ASSERT_EQ(macs.size(), 2) << r.out << r.err;
    EXPECT_EQ(macs[0][QStringLiteral("host")].toString() + macs[1][QStringLiteral("host")].toString(),
        QStringLiteral("mac-alost"));
    EXPECT_EQ(macs[1][QStringLiteral("status")].toString(), QStringLiteral("Unable to get yesterday's error log"));
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "lost: quillaby-report: the check ended without a report\n");

    r = Report("today --format text --host mac-a --host lost", env);
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.out.starts_with("=== mac-a ===\n")) << r.out;
    EXPECT_TRUE(r.out.ends_with("successfully.\n\n=== lost ===\nUnable to get today's error log\n")) << r.out;

    r = Report("today --format nagios --host mac-a --host lost --host \"o'b=c\"", env);
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out.substr(0, r.out.find(" |")), "QUILLABY UNKNOWN - 3 Macs: 1 UNKNOWN, 2 OK") << r.out;
    EXPECT_NE(r.out.find(" 'o_b_c problem_lines'=0;;;0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nlost: UNKNOWN - Unable to get today's error log\n"), std::string::npos) << r.out;

    r = Report("today --format prometheus --host mac-a --host lost", env);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.out.find("quillaby_status{host=\"lost\",log=\"today\"} 2\n"), std::string::npos) << r.out;

    for (const char* limit : {"0", "3601", "5s", ""}) {
        r = Report("today --host mac-a --host mac-b", env + " QUILLABY_FETCH_LIMIT=" + limit);
        EXPECT_EQ(r.code, 64) << limit;
        EXPECT_EQ(r.err,
            std::string("quillaby-report: QUILLABY_FETCH_LIMIT is not a number of seconds from 1 to 3600: ") + limit
                + "\n");
    }
}
