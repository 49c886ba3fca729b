#ifndef ORVELLA_SERVERHOST_H
#define ORVELLA_SERVERHOST_H

#include <QString>

// Host name of the maker's web server (e-mail relay, update lookup and
// download page), fixed when the program is configured.
QString serverHost();

#endif
