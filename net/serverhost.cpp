#include "serverhost.h"

QString serverHost()
{
    return QStringLiteral(ORVELLA_SERVER_HOST);
}
