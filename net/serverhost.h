#ifndef ORVELLA_SERVERHOST_H
#define ORVELLA_SERVERHOST_H

#include <QString>

// Host name of the maker's web server (e-mail relay, update lookup and
// download page), fixed when the program is configured.
QString serverHost();

// Its TCP port, fixed the same way; 80 unless configured otherwise.
quint16 serverPort();

#endif
