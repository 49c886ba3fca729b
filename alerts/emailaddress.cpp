#include "emailaddress.h"

#include <QRegExp>

bool isValidEmailAddress(const QString &text)
{
    if (text.isEmpty())
        return false;
    QRegExp pattern("\\b[A-Z0-9._%+-]+@[A-Z0-9.-]+\\.[A-Z]{2,4}\\b", Qt::CaseInsensitive,
                    QRegExp::RegExp);
    return pattern.exactMatch(text);
}
