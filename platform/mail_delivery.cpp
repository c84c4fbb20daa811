#include "platform/mail_delivery.h"

#include "runtime/hooks.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUuid>

namespace {

constexpr int kSendmailLimitMs = 120000;
// Bytes of text in one encoded word: 39 bytes give 52 base64 characters,
// so a line holding "Subject: =?UTF-8?B?...?=" stays within 76 characters.
constexpr int kEncodedWordBytes = 39;

bool PlainHeaderText(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    // A text that looks like an encoded word would be decoded by readers.
    return !text.contains(QStringLiteral("=?"));
}

// RFC 2047 encoded words (UTF-8, base64), split between characters and
// folded onto continuation lines.
QByteArray EncodedWords(const QString& text)
{
    QByteArray out;
    QByteArray chunk;
    const auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!out.isEmpty())
            out += "\n ";
        out += "=?UTF-8?B?" + chunk.toBase64() + "?=";
        chunk.clear();
    };
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray ch = text.mid(i, n).toUtf8();
        i += n;
        if (chunk.size() + ch.size() > kEncodedWordBytes)
            flush();
        chunk += ch;
    }
    flush();
    return out;
}

QByteArray HeaderText(const QString& text)
{
    return PlainHeaderText(text) ? text.toLatin1() : EncodedWords(text);
}

// The display name as a quoted string, or as encoded words when it is not
// plain ASCII.
QByteArray DisplayName(const QString& name)
{
    if (!PlainHeaderText(name))
        return EncodedWords(name);
    QByteArray quoted = "\"";
    for (const QChar c : name) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            quoted += '\\';
        quoted += static_cast<char>(c.unicode());
    }
    return quoted + "\"";
}

QByteArray BodyText(const QString& body)
{
    QString text = body;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QByteArray out = text.toUtf8();
    if (!out.endsWith('\n'))
        out += '\n';
    return out;
}

} // namespace

QString SendmailPath()
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("sendmail"));
    if (!onPath.isEmpty())
        return onPath;
    const QString system = QStringLiteral("/usr/sbin/sendmail");
    return QFileInfo(system).isExecutable() ? system : QString();
}

QByteArray ComposeMailMessage(
    const QString& name, const QString& address, const QString& subject, const QString& body, std::int64_t nowMs)
{
    QString host = QSysInfo::machineHostName();
    if (host.isEmpty() || !PlainHeaderText(host) || host.contains(QLatin1Char(' ')))
        host = QStringLiteral("localhost");
    QByteArray m;
    m += "To: ";
    if (name.isEmpty())
        m += address.toUtf8();
    else
        m += DisplayName(name) + " <" + address.toUtf8() + ">";
    m += "\nSubject: " + HeaderText(subject);
    const QDateTime date = QDateTime::fromMSecsSinceEpoch(nowMs);
    m += "\nDate: " + QLocale::c().toString(date, QStringLiteral("ddd, ")).toLatin1()
        + date.toString(Qt::RFC2822Date).toLatin1();
    m += "\nMessage-ID: <" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() + "@" + host.toLatin1()
        + ">";
    m += "\nMIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n";
    m += BodyText(body);
    return m;
}

bool DeliverMail(
    const QString& name, const QString& address, const QString& subject, const QString& body, QString* error)
{
    // The recipients are read from the To line: a line break in the
    // address would start a header of its own.
    for (const QChar c : address) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            *error = QStringLiteral("The address \"%1\" is not valid.").arg(address.simplified());
            return false;
        }
    }
    if (address.trimmed().isEmpty()) {
        *error = QStringLiteral("The message has no recipient.");
        return false;
    }
    const QString sendmail = SendmailPath();
    if (sendmail.isEmpty()) {
        *error = QStringLiteral(
            "No mail system is set up on this computer. Install one that provides sendmail: msmtp-mta sends "
            "through your provider's SMTP server (set it up in ~/.msmtprc), postfix is a full mail system.");
        return false;
    }
    QProcess p;
    p.setProgram(sendmail);
    p.setArguments({QStringLiteral("-i"), QStringLiteral("-t")});
    p.start();
    if (!p.waitForStarted()) {
        *error = QStringLiteral("%1 could not be started.").arg(sendmail);
        return false;
    }
    p.write(ComposeMailMessage(name, address, subject, body, gQzNowHook()));
    p.closeWriteChannel();
    if (!p.waitForFinished(kSendmailLimitMs)) {
        p.kill();
        p.waitForFinished();
        *error = QStringLiteral("%1 did not finish in time.").arg(sendmail);
        return false;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        QString message = QString::fromUtf8(p.readAllStandardError()).trimmed();
        if (message.isEmpty())
            message = QStringLiteral("%1 failed with status %2.").arg(sendmail).arg(p.exitCode());
        *error = message;
        return false;
    }
    return true;
}
