#include "platform/script_standin.h"

#include "platform/mail_delivery.h"
#include "runtime/encoding.h"
#include "runtime/hooks.h"

#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace {

// A shell command's output is kept up to this size; the caller keeps 255
// bytes of it anyway.
constexpr qsizetype kOutputKeep = 1 << 20;

const QString kFinder = QStringLiteral("tell application \"Finder\"\n");

const QStringList kDoShellScript = {QStringLiteral("do shell script "), QString()};
const QStringList kStartupDisk = {kFinder + QStringLiteral("set startup_Disk to (name of startup disk)\nend tell")};
const QStringList kFinderOpen = {kFinder + QStringLiteral("open alias "), QStringLiteral("\nend tell")};
const QStringList kFinderActivate = {kFinder + QStringLiteral("activate\nend tell")};
const QStringList kMailSend = {
    QStringLiteral("set recipientName to "),
    QStringLiteral("\nset recipientAddress to "),
    QStringLiteral("\nset theSubject to "),
    QStringLiteral("\nset theContent to "),
    QStringLiteral("\ntell application \"Mail\"\n"
                   "set theMessage to make new outgoing message with properties {subject:theSubject, "
                   "content:theContent, visible:true}\n"
                   "tell theMessage\n"
                   "make new to recipient with properties {name:recipientName, address:recipientAddress}\n"
                   "send\n"
                   "end tell\n"
                   "end tell\n"),
};
const QStringList kOutlookSend = {
    QStringLiteral("tell application "),
    QStringLiteral("\nactivate\n"
                   "set w to make new outgoing message with properties {account:(default account),subject:"),
    QStringLiteral(", plain text content:"),
    QStringLiteral("}\nmake new recipient at w with properties {email address:{address:"),
    QStringLiteral("}}\nsend w\nend tell\n"),
};

// What the Mac's do shell script makes of a command's output: UTF-8 text
// without the last line end, the remaining LF turned into CR.
QString ShellText(const QByteArray& bytes)
{
    QByteArray b = bytes;
    if (b.endsWith('\n'))
        b.chop(1);
    QString text = QzDecodeBytes(b.constData(), static_cast<std::size_t>(b.size()));
    text.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    return text;
}

void Keep(QByteArray& into, const QByteArray& more)
{
    if (into.size() < kOutputKeep)
        into += more.left(kOutputKeep - into.size());
}

bool DoShellScript(const QString& command, QString* result, QString* errorMessage)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    p.setProcessEnvironment(env);
    p.setProgram(QStringLiteral("/bin/sh"));
    p.setArguments({QStringLiteral("-c"), command});
    p.setStandardInputFile(QProcess::nullDevice());
    p.start();
    QByteArray out;
    QByteArray err;
    // Like the Mac, wait as long as the command runs; read as it goes so
    // that a chatty command neither blocks on a full pipe nor fills memory.
    while (p.state() != QProcess::NotRunning) {
        p.waitForFinished(100);
        Keep(out, p.readAllStandardOutput());
        Keep(err, p.readAllStandardError());
    }
    Keep(out, p.readAllStandardOutput());
    Keep(err, p.readAllStandardError());
    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && p.error() != QProcess::FailedToStart) {
        *result = ShellText(out);
        return true;
    }
    *errorMessage = ShellText(err);
    if (errorMessage->isEmpty())
        *errorMessage = QStringLiteral("The command exited with a non-zero status.");
    return false;
}

bool FinderOpen(const QString& colonPath, QString* errorMessage)
{
    const QString path = PosixPathOfColonPath(colonPath);
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        *errorMessage = QStringLiteral("File %1 wasn\u2019t found.").arg(colonPath);
        return false;
    }
    if (!gQzOpenUrlHook(QUrl::fromLocalFile(path))) {
        *errorMessage = QStringLiteral("Finder got an error: %1 could not be opened.").arg(colonPath);
        return false;
    }
    return true;
}

} // namespace

QString StandInStartupDisk()
{
    const QString disk = qEnvironmentVariable("QUILLABY_STARTUP_DISK");
    return disk.isEmpty() ? QStringLiteral("Macintosh HD") : disk;
}

QString PosixPathOfColonPath(const QString& colonPath)
{
    QStringList parts = colonPath.split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.first().isEmpty())
        return QString();
    const QString disk = parts.takeFirst();
    if (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast();
    for (QString& p : parts)
        p.replace(QLatin1Char('/'), QLatin1Char(':'));
    QString root;
    if (disk != StandInStartupDisk())
        root = QStringLiteral("/Volumes/") + QString(disk).replace(QLatin1Char('/'), QLatin1Char(':'));
    return root + QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

bool MatchScript(const QString& source, const QStringList& pieces, QStringList* literals)
{
    literals->clear();
    qsizetype at = 0;
    for (qsizetype k = 0; k < pieces.size(); ++k) {
        if (k > 0) {
            if (at >= source.size() || source.at(at) != QLatin1Char('"'))
                return false;
            ++at;
            QString text;
            bool closed = false;
            while (at < source.size()) {
                const QChar c = source.at(at++);
                if (c == QLatin1Char('"')) {
                    closed = true;
                    break;
                }
                if (c != QLatin1Char('\\')) {
                    text += c;
                    continue;
                }
                if (at >= source.size())
                    return false;
                const QChar e = source.at(at++);
                if (e == QLatin1Char('\\') || e == QLatin1Char('"'))
                    text += e;
                else if (e == QLatin1Char('n'))
                    text += QLatin1Char('\n');
                else if (e == QLatin1Char('r'))
                    text += QLatin1Char('\r');
                else if (e == QLatin1Char('t'))
                    text += QLatin1Char('\t');
                else
                    return false;
            }
            if (!closed)
                return false;
            literals->append(text);
        }
        const QString& fixed = pieces.at(k);
        if (QStringView(source).mid(at, fixed.size()) != fixed)
            return false;
        at += fixed.size();
    }
    return at == source.size();
}

bool StandInRunScript(const QString& source, QString* result, QString* errorMessage)
{
    QString ignoredResult;
    QString ignoredError;
    if (!result)
        result = &ignoredResult;
    if (!errorMessage)
        errorMessage = &ignoredError;
    result->clear();
    errorMessage->clear();
    QStringList l;
    if (MatchScript(source, kDoShellScript, &l))
        return DoShellScript(l.at(0), result, errorMessage);
    if (MatchScript(source, kStartupDisk, &l)) {
        *result = StandInStartupDisk();
        return true;
    }
    if (MatchScript(source, kFinderOpen, &l))
        return FinderOpen(l.at(0), errorMessage);
    if (MatchScript(source, kFinderActivate, &l))
        return true;
    if (MatchScript(source, kMailSend, &l))
        return DeliverMail(l.at(0), l.at(1), l.at(2), l.at(3), errorMessage);
    if (MatchScript(source, kOutlookSend, &l))
        return DeliverMail(QString(), l.at(3), l.at(1), l.at(2), errorMessage);
    *errorMessage = QStringLiteral("This system's script runner does not understand the script.");
    return false;
}
