#ifndef ORVELLA_SERVER_MAILBUDGET_H
#define ORVELLA_SERVER_MAILBUDGET_H

#include "holdoffbook.h"

#include <deque>

// The cap on mails for the whole server: at most a number in any hour.
class MailBudget
{
public:
    explicit MailBudget(int perHour) : m_perHour(perHour) {}

    // Takes one mail from the budget if the last hour leaves room.
    bool take(WallTime now);

private:
    int m_perHour;
    std::deque<WallTime> m_sent;
};

#endif
