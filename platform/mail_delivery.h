#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// Mail delivery through the system's sendmail interface, for the stand-in
// Mail and Outlook on systems without them.

// The sendmail program: `sendmail` on PATH, else /usr/sbin/sendmail; empty
// when there is none.
QString SendmailPath();

// One RFC 5322 message with LF line ends, as the sendmail interface takes
// it (the mail system sends CR LF on the wire). Headers: To (with the
// display name when there is one), Subject (RFC 2047 when it is not plain
// ASCII), Date (nowMs, local time), Message-ID, and a UTF-8 text body
// whose CR LF, CR and LF line ends all become LF. No From: the mail system
// adds the user's own.
QByteArray ComposeMailMessage(
    const QString& name, const QString& address, const QString& subject, const QString& body, std::int64_t nowMs);

// Hands the message to `sendmail -i -t`. False with *error filled when the
// address cannot go into a header, there is no sendmail, or it fails.
bool DeliverMail(
    const QString& name, const QString& address, const QString& subject, const QString& body, QString* error);
