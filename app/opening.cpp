#include "app/opening.h"

#include "runtime/channels.h"
#include "runtime/events.h"
#include "runtime/platform.h"
#include "runtime/state.h"

void SayNotOpened(const QString& name, const QString& reason)
{
    const QString message = QStringLiteral("Unable to open ") + name;
    const QString informative = reason.isEmpty() ? QStringLiteral("The system gave no reason.") : reason;
    QzAlert(1, QzAlertStyleOmitted, &message, &informative, static_cast<const QStringList*>(nullptr));
}

bool OpenItem(const QUrl& url)
{
    if (QzOpenURL(url))
        return true;
    SayNotOpened(url.isLocalFile() ? QzURLLastComponent(url) : url.toString(), gQzOpenUrlError);
    return false;
}

bool OpenWithCommand(int channel, const ShortString& target)
{
    QzOpenPipe(channel, "open " + target + " 2>&1");
    QString said;
    ShortString line;
    do {
        QzLineInput(channel, line);
        if (!line.empty())
            said += (said.isEmpty() ? QString() : QStringLiteral("\n")) + QzStrToCF(line);
    } while (QzEof(channel) == 0);
    QzClose(channel);
    if (said.isEmpty())
        return true;
    QString name = QzStrToCF(target);
    if (!name.contains(QLatin1String("://")))
        name = QzURLLastComponent(QUrl::fromLocalFile(name));
    SayNotOpened(name, said);
    return false;
}
