#include "serverhost.h"

// ORVELLA_SERVER_HOST and ORVELLA_SERVER_PORT come from the build (net/CMakeLists.txt).

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
