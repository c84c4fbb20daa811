#pragma once

// Opening what lies outside the program (panes, applications, web pages,
// documents) so that no failure goes unsaid: what could not be opened is
// named in an alert, with the reason the system or `open` gave.

#include "runtime/shortstring.h"

#include <QString>
#include <QUrl>

// Opens the item through the URL hook; false after the alert.
bool OpenItem(const QUrl& url);
// Runs "open <target>" on the pipe channel, its messages read from the
// pipe; false after the alert when it printed any (`open` is silent when
// it succeeds).
bool OpenWithCommand(int channel, const ShortString& target);
// The alert for an item that could not be opened: its name, and why.
void SayNotOpened(const QString& name, const QString& reason);
