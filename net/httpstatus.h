#ifndef ORVELLA_HTTPSTATUS_H
#define ORVELLA_HTTPSTATUS_H

#include <QByteArray>

// The status code of an HTTP reply whose status line and headers are
// complete and well formed; 0 for anything else.
int httpStatusCode(const QByteArray &reply);

#endif
