#include "clientslots.h"

ClientSlots::Admission ClientSlots::admit(const std::string &client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Held &held = m_clients[client];
    // A client whose slow connections fill its share gets no more until one
    // ends: each new one would hold a thread until it is found slow too.
    Admission answer = Admission::Admitted;
    if (held.connections >= m_limits.connectionsPerClient)
        answer = Admission::TooManyConnections;
    else if (held.slow >= m_limits.slowPerClient)
        answer = Admission::TooManySlow;
    if (answer == Admission::Admitted)
        ++held.connections;
    else if (held.connections == 0)
        m_clients.erase(client);
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
    if (found->second.connections == 0 && found->second.slow == 0)
        m_clients.erase(found);
}

bool ClientSlots::takeSlow(const std::string &client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_clients.find(client);
    if (found == m_clients.end() || found->second.slow >= m_limits.slowPerClient ||
        m_slowTotal >= m_limits.slowTotal)
        return false;
    ++found->second.slow;
    ++m_slowTotal;
    return true;
}

void ClientSlots::releaseSlow(const std::string &client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_clients.find(client);
    if (found == m_clients.end() || found->second.slow == 0)
        return;
    --found->second.slow;
    --m_slowTotal;
    if (found->second.connections == 0 && found->second.slow == 0)
        m_clients.erase(found);
}

std::size_t ClientSlots::slowTotal() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slowTotal;
}

std::size_t ClientSlots::clients() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clients.size();
}
