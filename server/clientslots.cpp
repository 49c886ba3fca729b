#include "clientslots.h"

std::size_t ClientSlots::slowHeld(Held &held, Clock::time_point now)
{
    while (!held.penalties.empty() && held.penalties.front() <= now)
        held.penalties.pop_front();
    return held.slow + held.penalties.size();
}

void ClientSlots::eraseIfEmpty(Map::iterator it)
{
    if (it->second.connections == 0 && it->second.slow == 0 && it->second.penalties.empty())
        m_clients.erase(it);
}

void ClientSlots::forgetOld(Clock::time_point now)
{
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        auto next = std::next(it);
        slowHeld(it->second, now);
        eraseIfEmpty(it);
        it = next;
    }
}

ClientSlots::Admission ClientSlots::admit(const std::string &client, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Penalties of clients that never came back are dropped now and then.
    if (++m_admissions % 4096 == 0)
        forgetOld(now);
    const auto it = m_clients.try_emplace(client).first;
    Held &held = it->second;
    // A client whose slow connections fill its share gets no more until one
    // ends: each new one would hold a thread until it is found slow too.
    Admission answer = Admission::Admitted;
    if (held.connections >= m_limits.connectionsPerClient)
        answer = Admission::TooManyConnections;
    else if (slowHeld(held, now) >= m_limits.slowPerClient)
        answer = Admission::TooManySlow;
    if (answer == Admission::Admitted)
        ++held.connections;
    else
        eraseIfEmpty(it);
    return answer;
}

void ClientSlots::release(const std::string &client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_clients.find(client);
    if (found == m_clients.end())
        return;
    if (found->second.connections > 0)
        --found->second.connections;
    eraseIfEmpty(found);
}

bool ClientSlots::takeSlow(const std::string &client, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_clients.find(client);
    if (found == m_clients.end() || slowHeld(found->second, now) >= m_limits.slowPerClient ||
        m_slowTotal >= m_limits.slowTotal)
        return false;
    ++found->second.slow;
    ++m_slowTotal;
    return true;
}

void ClientSlots::releaseSlow(const std::string &client, Clock::time_point heldUntil)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_clients.find(client);
    if (found == m_clients.end() || found->second.slow == 0)
        return;
    --found->second.slow;
    --m_slowTotal;
    if (heldUntil != Clock::time_point())
        found->second.penalties.push_back(heldUntil);
    eraseIfEmpty(found);
}

std::size_t ClientSlots::slowTotal() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slowTotal;
}

std::size_t ClientSlots::clients(Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    forgetOld(now);
    return m_clients.size();
}
