#ifndef ORVELLA_EMAILADDRESS_H
#define ORVELLA_EMAILADDRESS_H

#include <QString>

// Whether text is, as a whole, an e-mail address the relay accepts.
bool isValidEmailAddress(const QString &text);

#endif
