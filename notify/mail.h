#pragma once

#include "runtime/shortstring.h"

#include <QString>

// The name of the application registered for "mailto:" links, reduced from
// its path ("/Applications/Mail.app" gives "Mail").
ShortString DefaultMailAppName();
// Sends one message through the default mail application (Mail, or
// Outlook and Entourage); any other application gets the "is not
// supported" alert. A pending test email replaces name and body. Returns
// whether the mail application took the message; when it did not, the
// first failure of the dispatch is kept in gEmailError (the mail system's
// own message).
bool SendNotificationEmail(const QString& name, const QString& address, const QString& subject, const QString& body);
// Runs a mail script; its error message, empty when it ran.
QString RunMailScript(const QString& script);
