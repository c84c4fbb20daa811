#include "notify/mail.h"

// FIXME: the mail scripts arrive with the email subsystem.
ShortString DefaultMailAppName()
{
    return "Mail";
}

void SendNotificationEmail(
    const QString& /*name*/, const QString& /*address*/, const QString& /*subject*/, const QString& /*body*/)
{
}

void RunScriptSilently(const QString& /*script*/)
{
}
