#include "holdoffbook.h"

HoldOffBook::Decision HoldOffBook::record(const std::string &address, WallTime now,
                                          const std::string &client)
{
    const auto found = m_entries.find(address);
    if (found != m_entries.end()) {
        addTo(found->second, now, client);
        return Decision::Held;
    }
    Entry entry;
    entry.ends = now + m_holdOff;
    entry.held.address = address;
    m_entries.emplace(address, entry);
    return Decision::MailNow;
}

void HoldOffBook::hold(const std::string &address, WallTime now, const std::string &client)
{
    auto found = m_entries.find(address);
    if (found == m_entries.end()) {
        record(address, now, client);
        found = m_entries.find(address);
    }
    addTo(found->second, now, client);
}

void HoldOffBook::addTo(Entry &entry, WallTime now, const std::string &client)
{
    if (entry.held.count == 0)
        entry.held.first = now;
    ++entry.held.count;
    entry.held.last = now;
    entry.held.client = client;
}

std::vector<HeldAlerts> HoldOffBook::expire(WallTime now, std::vector<std::string> *forgotten)
{
    std::vector<HeldAlerts> due;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        Entry &entry = it->second;
        if (entry.ends > now) {
            ++it;
            continue;
        }
        if (entry.held.count == 0) {
            if (forgotten)
                forgotten->push_back(it->first);
            it = m_entries.erase(it);
            continue;
        }
        due.push_back(entry.held);
        entry.held.count = 0;
        entry.ends = now + m_holdOff;
        ++it;
    }
    return due;
}

void HoldOffBook::restore(const HeldAlerts &held)
{
    auto found = m_entries.find(held.address);
    if (found == m_entries.end()) {
        record(held.address, held.first, held.client);
        found = m_entries.find(held.address);
    }
    HeldAlerts &mine = found->second.held;
    if (mine.count == 0) {
        mine = held;
        return;
    }
    mine.count += held.count;
    mine.first = std::min(mine.first, held.first);
    if (held.last > mine.last) {
        mine.last = held.last;
        mine.client = held.client;
    }
}

std::optional<WallTime> HoldOffBook::nextExpiry() const
{
    std::optional<WallTime> next;
    for (const auto &entry : m_entries)
        if (!next || entry.second.ends < *next)
            next = entry.second.ends;
    return next;
}
