#include "mailbudget.h"

bool MailBudget::take(WallTime now)
{
    while (!m_sent.empty() && m_sent.front() <= now - std::chrono::hours(1))
        m_sent.pop_front();
    if (int(m_sent.size()) >= m_perHour)
        return false;
    m_sent.push_back(now);
    return true;
}
