#include "mailbudget.h"

void MailBudget::forgetOld(WallTime now)
{
    const WallTime hourAgo = now - std::chrono::hours(1);
    while (!m_sent.empty() && m_sent.front() <= hourAgo)
        m_sent.pop_front();
    while (!m_sentToDomains.empty() && m_sentToDomains.front() <= hourAgo)
        m_sentToDomains.pop_front();
}

bool MailBudget::take(WallTime now, bool listed)
{
    forgetOld(now);
    if (int(m_sent.size()) >= m_perHour)
        return false;
    if (!listed && int(m_sentToDomains.size()) >= m_domainShare)
        return false;
    m_sent.push_back(now);
    if (!listed)
        m_sentToDomains.push_back(now);
    return true;
}

std::optional<WallTime> MailBudget::nextRoom(WallTime now, bool listed)
{
    forgetOld(now);
    if (m_perHour <= 0 || (!listed && m_domainShare <= 0))
        return std::nullopt;
    WallTime room = now;
    // The oldest mail that keeps a cap full leaves the hour then.
    if (int(m_sent.size()) >= m_perHour)
        room =
            std::max(room, m_sent[m_sent.size() - std::size_t(m_perHour)] + std::chrono::hours(1));
    if (!listed && int(m_sentToDomains.size()) >= m_domainShare)
        room = std::max(room, m_sentToDomains[m_sentToDomains.size() - std::size_t(m_domainShare)] +
                                  std::chrono::hours(1));
    return room;
}
