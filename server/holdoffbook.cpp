#include "holdoffbook.h"

#include <algorithm>

HoldOffBook::Entry &HoldOffBook::add(const std::string &address, bool listed, WallTime ends)
{
    Entry &entry = m_entries[address];
    entry.held.address = address;
    entry.ends = ends;
    entry.listed = listed;
    if (!listed)
        ++m_unlisted;
    m_running.emplace(ends, address);
    return entry;
}

void HoldOffBook::erase(std::unordered_map<std::string, Entry>::iterator it)
{
    const Entry &entry = it->second;
    if (entry.due)
        dueLine(entry).erase({entry.ends, it->first});
    else
        m_running.erase({entry.ends, it->first});
    if (!entry.listed)
        --m_unlisted;
    m_entries.erase(it);
}

void HoldOffBook::makeDue(Entry &entry)
{
    entry.due = true;
    dueLine(entry).emplace(entry.ends, entry.held.address);
}

void HoldOffBook::addTo(Entry &entry, WallTime now, const std::string &client)
{
    if (entry.held.count == 0)
        entry.held.first = now;
    ++entry.held.count;
    entry.held.last = now;
    entry.held.client = client;
}

HoldOffBook::Decision HoldOffBook::record(const std::string &address, bool listed, WallTime now,
                                          const std::string &client)
{
    const auto found = m_entries.find(address);
    if (found != m_entries.end()) {
        addTo(found->second, now, client);
        return Decision::Held;
    }
    if (!listed && m_unlisted >= m_max)
        return Decision::Full;
    add(address, listed, now + m_holdOff);
    return Decision::MailNow;
}

void HoldOffBook::hold(const std::string &address, bool listed, WallTime now,
                       const std::string &client)
{
    auto found = m_entries.find(address);
    Entry &entry = found != m_entries.end() ? found->second : add(address, listed, now + m_holdOff);
    addTo(entry, now, client);
}

void HoldOffBook::expire(WallTime now, std::vector<std::string> *forgotten)
{
    while (!m_running.empty() && m_running.begin()->first <= now) {
        const std::string address = m_running.begin()->second;
        m_running.erase(m_running.begin());
        const auto it = m_entries.find(address);
        if (it == m_entries.end())
            continue;
        if (it->second.held.count == 0) {
            if (forgotten)
                forgotten->push_back(address);
            if (!it->second.listed)
                --m_unlisted;
            m_entries.erase(it);
            continue;
        }
        makeDue(it->second);
    }
}

std::optional<std::pair<std::string, bool>> HoldOffBook::nextDue() const
{
    if (!m_dueListed.empty())
        return std::make_pair(m_dueListed.begin()->second, true);
    if (!m_dueOthers.empty())
        return std::make_pair(m_dueOthers.begin()->second, false);
    return std::nullopt;
}

HeldAlerts HoldOffBook::takeDue(WallTime now)
{
    Line &line = m_dueListed.empty() ? m_dueOthers : m_dueListed;
    if (line.empty())
        return HeldAlerts();
    const std::string address = line.begin()->second;
    line.erase(line.begin());
    Entry &entry = m_entries[address];
    const HeldAlerts held = entry.held;
    entry.held.count = 0;
    entry.due = false;
    entry.ends = now + m_holdOff;
    m_running.emplace(entry.ends, address);
    return held;
}

void HoldOffBook::restore(const HeldAlerts &held, WallTime now)
{
    if (held.count == 0)
        return;
    auto found = m_entries.find(held.address);
    if (found == m_entries.end()) {
        // Kept past the ceiling: these alerts were already counted once.
        add(held.address, false, now);
        found = m_entries.find(held.address);
    }
    Entry &entry = found->second;
    if (entry.due)
        dueLine(entry).erase({entry.ends, held.address});
    else
        m_running.erase({entry.ends, held.address});
    HeldAlerts &mine = entry.held;
    if (mine.count == 0) {
        mine = held;
    } else {
        mine.count += held.count;
        mine.first = std::min(mine.first, held.first);
        if (held.last > mine.last) {
            mine.last = held.last;
            mine.client = held.client;
        }
    }
    // At the front of its line again: it was first before.
    entry.ends = std::min(entry.ends, held.first);
    makeDue(entry);
}

void HoldOffBook::load(const HoldOffState &state, bool listed, WallTime now)
{
    const std::string &address = state.held.address;
    if (m_entries.count(address) || (state.ends <= now && state.held.count == 0))
        return;
    if (!listed && m_unlisted >= m_max)
        return;
    Entry &entry = add(address, listed, state.ends);
    entry.held = state.held;
    if (state.ends <= now && state.held.count > 0) {
        m_running.erase({state.ends, address});
        makeDue(entry);
    }
}

std::optional<HoldOffState> HoldOffBook::state(const std::string &address) const
{
    const auto found = m_entries.find(address);
    if (found == m_entries.end())
        return std::nullopt;
    return HoldOffState{found->second.held, found->second.ends};
}

std::vector<HoldOffState> HoldOffBook::states() const
{
    std::vector<HoldOffState> all;
    all.reserve(m_entries.size());
    for (const auto &entry : m_entries)
        all.push_back({entry.second.held, entry.second.ends});
    return all;
}

std::optional<WallTime> HoldOffBook::nextExpiry() const
{
    if (m_running.empty())
        return std::nullopt;
    return m_running.begin()->first;
}
