// The report command finds a failed backup and mails both addresses through
// msmtp as `sendmail`, to an SMTP sink on loopback.

#include "../notify/notify_support.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

namespace {

// Prints its free loopback port and writes each message, decoded, as a JSON file.
const char* const kSink = R"PY(
import asyncio, email, email.policy, json, os, socket, sys
from aiosmtpd.smtp import SMTP

out = sys.argv[1]
count = 0

class Sink:
    async def handle_DATA(self, server, session, envelope):
        global count
        count += 1
        m = email.message_from_bytes(envelope.original_content, policy=email.policy.default)
        record = {"rcpt": envelope.rcpt_tos, "to": str(m["To"]), "subject": str(m["Subject"]), "body": m.get_content(),
                  "raw": envelope.original_content.decode("utf-8", "replace")}
        path = os.path.join(out, "%d.json" % count)
        with open(path + ".part", "w") as f:
            json.dump(record, f)
        os.rename(path + ".part", path)
        return "250 OK"

async def main():
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    sock.listen()
    await asyncio.get_running_loop().create_server(lambda: SMTP(Sink()), sock=sock)
    print(sock.getsockname()[1], flush=True)
    await asyncio.Event().wait()

asyncio.run(main())
)PY";

} // namespace

TEST(RealDelivery, FailedBackupMailsBothAddressesThroughSendmail)
{
    Sandbox sandbox;
    const QString inbox = sandbox.path() + QStringLiteral("/inbox");
    QDir().mkpath(inbox);

    QProcess sink; // killed when it goes
    sink.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sink.start(QStringLiteral("/usr/bin/python3"), {sandbox.Write(QStringLiteral("sink.py"), kSink), inbox});
    ASSERT_TRUE(sink.waitForReadyRead(30000)) << "the SMTP sink did not start (python3-aiosmtpd)";
    const int port = sink.readLine().trimmed().toInt();
    ASSERT_GT(port, 0);

    // msmtp as the sendmail interface, configured only through its own file.
    const QString rc = sandbox.Write(QStringLiteral("msmtprc"),
        "account default\nhost 127.0.0.1\nport " + std::to_string(port)
            + "\nauth off\ntls off\nfrom quillaby@localhost\n");
    QFile::setPermissions(rc, QFile::ReadOwner | QFile::WriteOwner);
    sandbox.Stub(QStringLiteral("sendmail"), "exec msmtp -C '" + rc.toStdString() + "' \"$@\"");
    sandbox.Stub(QStringLiteral("scutil"), "printf '%s\\n' 'Sam\xE2\x80\x99s \"Mac\"'");
    sandbox.Stub(QStringLiteral("ps"), "echo '  PID TTY           TIME CMD'");
    sandbox.Stub(QStringLiteral("log"),
        "cat '" + FixturePath(QStringLiteral("today-failed-error-11-after-success.log")).toStdString() + "'");
    sandbox.Write(QStringLiteral(".local/share/Quillaby/Settings"),
        "1\rone@example.com\rtwo@example.org\r0\r0\r0\r 68\r\r0\r0\r0\r0\r");

    QProcess report;
    report.start(
        QStringLiteral(QZ_REPORT_EXE), {QStringLiteral("today"), QStringLiteral("--notify"), QStringLiteral("--json")});
    ASSERT_TRUE(report.waitForFinished(60000));
    const QString errors = QString::fromUtf8(report.readAllStandardError());
    EXPECT_EQ(report.exitCode(), 1) << errors.toStdString();
    EXPECT_FALSE(errors.contains(QStringLiteral("quillaby-report:"))) << errors.toStdString(); // no alert
    const QJsonObject o = QJsonDocument::fromJson(report.readAllStandardOutput()).object();
    EXPECT_TRUE(o.value(QStringLiteral("emailSent")).toBool());
    EXPECT_FALSE(o.value(QStringLiteral("emailRequested")).toBool());
    // The JSON's texts end their lines with LF; the mail's with CR LF.
    const QString body
        = o.value(QStringLiteral("lastProblem")).toString().replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    EXPECT_TRUE(body.startsWith(QStringLiteral("chapter3.docx\r\n\r\n\r\nLast Successful Backup Message:")))
        << body.toStdString();

    QDeadlineTimer deadline(30000);
    while (!QFile::exists(inbox + QStringLiteral("/2.json")) && !deadline.hasExpired())
        QThread::msleep(20);
    const QString user = QDir(sandbox.path()).dirName();
    const QString subject
        = QStringLiteral("Time Machine Backup Failed for User ") + user + QStringLiteral(" on Mac, Sam\u2019s \"Mac\"");
    QStringList to;
    for (int i = 1; i <= 2; ++i) {
        const QJsonObject m
            = QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(inbox + QStringLiteral("/%1.json").arg(i))))
                  .object();
        ASSERT_FALSE(m.isEmpty()) << "message " << i << " did not arrive";
        to << m.value(QStringLiteral("to")).toString();
        EXPECT_EQ(m.value(QStringLiteral("rcpt")).toArray(), QJsonArray({m.value(QStringLiteral("to"))}));
        EXPECT_EQ(m.value(QStringLiteral("subject")).toString(), subject);
        EXPECT_TRUE(m.value(QStringLiteral("raw"))
                        .toString()
                        .contains(QStringLiteral("\r\nContent-Type: text/plain; charset=UTF-8\r\n")));
        // CR LF on the wire, nothing lost or reordered (the body ends in a line end).
        EXPECT_EQ(m.value(QStringLiteral("body")).toString().toStdString(), body.toStdString());
    }
    to.sort();
    EXPECT_EQ(to, QStringList({QStringLiteral("one@example.com"), QStringLiteral("two@example.org")}));
    EXPECT_FALSE(QFile::exists(inbox + QStringLiteral("/3.json")));
}
