#include "platform/osascript.h"

#include "platform/state.h"
#include "runtime/encoding.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <csignal>
#include <unistd.h>

namespace {

// What osascript prints is kept up to this size; the caller keeps 255
// bytes of it anyway.
constexpr qsizetype kOutputKeep = 1 << 20;
// How long one wait lasts before the output is read on.
constexpr qint64 kReadEveryMs = 100;

QString Text(const QByteArray& bytes)
{
    return QzDecodeBytes(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Reads what the process printed so far, so that a chatty script neither
// blocks on a full pipe nor fills memory.
void Gather(QProcess& p, QByteArray& out, QByteArray& err)
{
    out += p.readAllStandardOutput().left(std::max<qsizetype>(0, kOutputKeep - out.size()));
    err += p.readAllStandardError().left(std::max<qsizetype>(0, kOutputKeep - err.size()));
}

// Runs the script; true with its result in *text, or false with the
// error message there.
bool RunOsascript(const QString& source, QString* text)
{
    QProcess p;
    p.setProgram(gOsascriptPath);
    // A group of its own, so that the limit also ends what the script started.
    p.setChildProcessModifier([] { setpgid(0, 0); });
    QElapsedTimer clock;
    clock.start();
    p.start();
    if (!p.waitForStarted()) {
        *text = QStringLiteral("The script runner %1 could not be started.").arg(gOsascriptPath);
        return false;
    }
    p.write(source.toUtf8());
    p.closeWriteChannel();

    QByteArray out;
    QByteArray err;
    while (p.state() != QProcess::NotRunning) {
        const qint64 left = gOsascriptLimitMs - clock.elapsed();
        if (left <= 0) {
            ::kill(-static_cast<pid_t>(p.processId()), SIGKILL);
            p.waitForFinished(-1);
            *text = QStringLiteral("The script did not finish within %1 seconds.")
                        .arg(static_cast<double>(gOsascriptLimitMs) / 1000.0);
            return false;
        }
        p.waitForFinished(static_cast<int>(std::min(left, kReadEveryMs)));
        Gather(p, out, err);
    }
    Gather(p, out, err);

    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) {
        if (out.endsWith('\n'))
            out.chop(1);
        *text = Text(out);
        return true;
    }
    *text = OsascriptErrorMessage(err);
    if (text->isEmpty())
        *text = QStringLiteral("The script failed without an error message.");
    return false;
}

} // namespace

QString OsascriptErrorMessage(const QByteArray& stderrBytes)
{
    QString text = Text(stderrBytes);
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    // "<start>:<end>: <kind> error: <message> (<number>)", possibly after
    // lines the system logged first.
    static const QRegularExpression located(
        QStringLiteral("^-?\\d+:-?\\d+: [a-z ]*error: "), QRegularExpression::MultilineOption);
    static const QRegularExpression number(QStringLiteral(" \\(-?\\d+\\)$"));
    if (const auto m = located.match(text); m.hasMatch()) {
        text = text.mid(m.capturedEnd());
        text.remove(number);
    }
    return text;
}

bool OsascriptRunScript(const QString& source, QString* result, QString* errorMessage)
{
    QString text;
    const bool ok = RunOsascript(source, &text);
    if (result)
        *result = ok ? text : QString();
    if (errorMessage)
        *errorMessage = ok ? QString() : text;
    return ok;
}
