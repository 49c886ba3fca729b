#include "serverhost.h"

#ifndef ORVELLA_SERVER_PORT
#define ORVELLA_SERVER_PORT 80
#endif

QString serverHost()
{
    return QStringLiteral(ORVELLA_SERVER_HOST);
}

quint16 serverPort()
{
    static_assert(ORVELLA_SERVER_PORT > 0 && ORVELLA_SERVER_PORT <= 65535,
                  "ORVELLA_SERVER_PORT must be a TCP port number");
    return quint16(ORVELLA_SERVER_PORT);
}
