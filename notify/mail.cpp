#include "notify/mail.h"

#include "monitor/state.h"
#include "notify/runner.h"
#include "notify/state.h"
#include "runtime/events.h"
#include "runtime/hooks.h"
#include "runtime/platform.h"

namespace {

const QChar kQ = QLatin1Char('"');
const QChar kLF = QLatin1Char('\n');

// One string literal of a script: the text between double quotes, escaped
// so that a quote or backslash in it cannot end the literal early.
QString Literal(const QString& text)
{
    return kQ + ScriptLiteralText(text) + kQ;
}

QString OutlookScript(const QString& app, const QString& address, const QString& subject, const QString& body)
{
    return QStringLiteral("tell application ") + Literal(app) + kLF + QStringLiteral("activate") + kLF
        + QStringLiteral("set w to make new outgoing message with properties {account:(default account),subject:")
        + Literal(subject) + QStringLiteral(", plain text content:") + Literal(body) + QStringLiteral("}") + kLF
        + QStringLiteral("make new recipient at w with properties {email address:{address:") + Literal(address)
        + QStringLiteral("}}") + kLF + QStringLiteral("send w") + kLF + QStringLiteral("end tell") + kLF;
}

QString MailScript(const QString& name, const QString& address, const QString& subject, const QString& body)
{
    return QStringLiteral("set recipientName to ") + Literal(name) + kLF + QStringLiteral("set recipientAddress to ")
        + Literal(address) + kLF + QStringLiteral("set theSubject to ") + Literal(subject) + kLF
        + QStringLiteral("set theContent to ") + Literal(body) + kLF + QStringLiteral("tell application ") + kQ
        + QStringLiteral("Mail") + kQ + kLF
        + QStringLiteral("set theMessage to make new outgoing message with properties {subject:theSubject, "
                         "content:theContent, visible:true}")
        + kLF + QStringLiteral("tell theMessage") + kLF
        + QStringLiteral("make new to recipient with properties {name:recipientName, address:recipientAddress}") + kLF
        + QStringLiteral("send") + kLF + QStringLiteral("end tell") + kLF + QStringLiteral("end tell") + kLF;
}

} // namespace

ShortString DefaultMailAppName()
{
    ShortString text = ShortFromText(gQzMailtoAppHook());
    // Three cuts after the first "/": the first two keep the whole text
    // when there is none, so only the outer folders are dropped and a
    // deeper path keeps its inner ones.
    for (int cut = 1; cut <= 3; ++cut) {
        const int slash = QzInstr(1, text, "/");
        if (slash == 0 && cut == 3)
            break;
        text = QzMid(text, slash + 1, ShortString::kMax);
    }
    const int dot = QzInstr(1, text, ".");
    return QzLeft(text, dot == 0 ? 0 : dot - 1);
}

bool SendNotificationEmail(const QString& name, const QString& address, const QString& subject, const QString& body)
{
    QString toName = name;
    QString content = body;
    if (gTestEmailPending) {
        toName = QStringLiteral("test email from Quillaby");
        content = QStringLiteral("Quillaby Test. Success!");
        gTestEmailPending = 0;
        gEmailRequested = 0;
        gEmailSent = 0;
    }

    ShortString appName = DefaultMailAppName();
    if (QzInstr(1, appName, "Microsoft Office") > 0)
        appName = "Microsoft Outlook";

    QString script;
    if (QzInstr(1, appName, "Outlook") > 0 || QzInstr(1, appName, "Entourage") > 0) {
        script = OutlookScript(QzStrToCF(appName), address, subject, content);
    } else if (appName == ShortString("Mail")) {
        script = MailScript(toName, address, subject, content);
    } else {
        const ShortString message = appName + " is not supported";
        QzAlertNote(message, "Only Apple's Mail app and Microsoft Outlook are supported.");
        if (gEmailError.isEmpty())
            gEmailError = QzStrToCF(message);
        gEmailErrorTold = 1;
        return false;
    }
    const QString error = RunMailScript(script);
    if (!error.isEmpty() && gEmailError.isEmpty())
        gEmailError = error;
    return error.isEmpty();
}

QString RunMailScript(const QString& script)
{
    const QzAppleScript object = QzAppleScriptNew(script);
    QVariantMap errorInfo;
    QzAppleScriptRun(object, &errorInfo);
    const QVariant message = QzDictValue(errorInfo, QStringLiteral("NSAppleScriptErrorMessage"));
    if (!message.isValid())
        return QString();
    const QString text = QzStringValue(message).trimmed();
    return text.isEmpty() ? QStringLiteral("The mail application reported an error.") : text;
}
