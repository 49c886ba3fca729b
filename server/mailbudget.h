#ifndef ORVELLA_SERVER_MAILBUDGET_H
#define ORVELLA_SERVER_MAILBUDGET_H

#include "holdoffbook.h"

#include <deque>
#include <optional>

// The cap on mails for the whole server: at most perHour in any hour. Of
// those, mails to addresses that the allow-list allows only through an
// @domain entry may take at most domainShare, so that anyone who can name
// such addresses cannot spend the hour's mail of the addresses listed on
// their own.
class MailBudget
{
public:
    MailBudget(int perHour, int domainShare) : m_perHour(perHour), m_domainShare(domainShare) {}

    // Takes one mail from the budget if the last hour leaves room.
    bool take(WallTime now, bool listed);
    // When take() will find room next; now when it does already, nullopt
    // when never.
    std::optional<WallTime> nextRoom(WallTime now, bool listed);

private:
    void forgetOld(WallTime now);

    int m_perHour;
    int m_domainShare;
    std::deque<WallTime> m_sent;
    std::deque<WallTime> m_sentToDomains;
};

#endif
