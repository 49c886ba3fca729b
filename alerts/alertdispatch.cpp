#include "alertdispatch.h"

#include "emailaddress.h"

#include <QUrl>

QString relayRequestPath(const QString &address)
{
    // "@" is a plain character in a query; "+" and "%" are encoded so the
    // relay script decodes back the very address.
    const QByteArray encoded = QUrl::toPercentEncoding(address, QByteArrayLiteral("@"));
    return QStringLiteral("/updates/orvemailer.php?x=") + QString::fromLatin1(encoded);
}

void dispatchAlerts(const AlertRequest &request, AlertActions &actions)
{
    if (request.level < request.threshold)
        return;
    if (request.playSound && !request.soundPath.isEmpty())
        actions.playSound(request.soundPath);
    if (!request.sendEmail)
        return;
    const QString address = request.emailAddress.trimmed();
    if (!isValidEmailAddress(address))
        return;
    actions.requestRelay(relayRequestPath(address));
}
