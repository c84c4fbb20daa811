#pragma once

#include "runtime/shortstring.h"

#include <QString>

// The name of the application registered for "mailto:" links, reduced from
// its path ("/Applications/Mail.app" gives "Mail").
ShortString DefaultMailAppName();
// Sends one message through the default mail application (Mail, or
// Outlook and Entourage); any other application gets the "is not
// supported" alert. A pending test email replaces name and body.
void SendNotificationEmail(const QString& name, const QString& address, const QString& subject, const QString& body);
// Runs a script and drops its result and any error.
void RunScriptSilently(const QString& script);
