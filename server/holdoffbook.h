#ifndef ORVELLA_SERVER_HOLDOFFBOOK_H
#define ORVELLA_SERVER_HOLDOFFBOOK_H

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

using WallClock = std::chrono::system_clock;
using WallTime = WallClock::time_point;

// Alerts for one address that were counted instead of mailed.
struct HeldAlerts {
    std::string address;
    int count = 0;
    WallTime first;
    WallTime last;
    std::string client; // of the latest one
};

// One address's hold-off as it is kept across restarts.
struct HoldOffState {
    HeldAlerts held;
    WallTime ends;
};

// Per-address hold-off. The first alert for an address is mailed at once and
// opens a hold-off; alerts inside it are counted. A hold-off that ends with
// none counted is forgotten. One that ends with alerts counted waits in the
// line for a summary mail, still counting, until the mail budget lets one
// go; then a fresh hold-off opens, so motion that goes on gives one mail per
// hold-off. Addresses listed on the allow-list on their own go first in that
// line. At most maxAddresses addresses that are not listed so are kept;
// alerts for further ones are turned away.
class HoldOffBook
{
public:
    HoldOffBook(std::chrono::seconds holdOff, std::size_t maxAddresses)
        : m_holdOff(holdOff), m_max(maxAddresses)
    {
    }

    enum class Decision { MailNow, Held, Full };

    // Notes an alert: MailNow when the address had no hold-off (one opens
    // now), Held when it was counted, Full when the address is new, not
    // listed, and the book holds its most such addresses.
    Decision record(const std::string &address, bool listed, WallTime now,
                    const std::string &client);

    // Counts an alert into the address's hold-off, e.g. when its first one
    // could not be mailed after all.
    void hold(const std::string &address, bool listed, WallTime now, const std::string &client);

    // Ends the hold-offs that are over by now: those with alerts counted join
    // the line for a summary, empty ones are dropped (their addresses go to
    // forgotten).
    void expire(WallTime now, std::vector<std::string> *forgotten = nullptr);

    // The first in the line for a summary, and whether it is listed.
    std::optional<std::pair<std::string, bool>> nextDue() const;
    // Takes the first in the line: its alerts come back for the summary and
    // a fresh hold-off opens for the address.
    HeldAlerts takeDue(WallTime now);
    // Puts alerts taken by takeDue() back at the front of the line, e.g.
    // when the summary could not be spooled.
    void restore(const HeldAlerts &held, WallTime now);

    // Takes an address's hold-off as an earlier run left it.
    void load(const HoldOffState &state, bool listed, WallTime now);
    std::optional<HoldOffState> state(const std::string &address) const;
    std::vector<HoldOffState> states() const;

    // When the next running hold-off ends.
    std::optional<WallTime> nextExpiry() const;
    std::size_t size() const { return m_entries.size(); }
    std::size_t due() const { return m_dueListed.size() + m_dueOthers.size(); }

private:
    struct Entry {
        HeldAlerts held;
        WallTime ends;
        bool listed = false;
        bool due = false;
    };
    using Line = std::set<std::pair<WallTime, std::string>>;
    Entry &add(const std::string &address, bool listed, WallTime ends);
    void erase(std::unordered_map<std::string, Entry>::iterator it);
    void makeDue(Entry &entry);
    Line &dueLine(const Entry &entry) { return entry.listed ? m_dueListed : m_dueOthers; }
    static void addTo(Entry &entry, WallTime now, const std::string &client);

    std::chrono::seconds m_holdOff;
    std::size_t m_max;
    std::size_t m_unlisted = 0;
    std::unordered_map<std::string, Entry> m_entries;
    Line m_running; // by end of hold-off
    Line m_dueListed;
    Line m_dueOthers;
};

#endif
