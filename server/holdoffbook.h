#ifndef ORVELLA_SERVER_HOLDOFFBOOK_H
#define ORVELLA_SERVER_HOLDOFFBOOK_H

#include <chrono>
#include <map>
#include <optional>
#include <string>
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

// Per-address hold-off. The first alert for an address is mailed at once and
// opens a hold-off; alerts inside it are counted. When it ends with alerts
// counted they come back for one summary mail and a fresh hold-off opens, so
// motion that goes on gives one mail per hold-off; when it ends with none
// counted the address is forgotten.
class HoldOffBook
{
public:
    explicit HoldOffBook(std::chrono::seconds holdOff) : m_holdOff(holdOff) {}

    enum class Decision { MailNow, Held };

    // Notes an alert; MailNow when no hold-off was open (one opens now).
    Decision record(const std::string &address, WallTime now, const std::string &client);

    // Counts an alert into the address's open hold-off, e.g. when the first
    // one could not be mailed after all.
    void hold(const std::string &address, WallTime now, const std::string &client);

    // Hold-offs over by now. Those with alerts counted are returned and start
    // again; empty ones are dropped and their addresses put in forgotten.
    std::vector<HeldAlerts> expire(WallTime now, std::vector<std::string> *forgotten = nullptr);

    // Puts alerts returned by expire() back, e.g. when no summary could go.
    void restore(const HeldAlerts &held);

    std::optional<WallTime> nextExpiry() const;
    std::size_t size() const { return m_entries.size(); }

private:
    struct Entry {
        WallTime ends;
        HeldAlerts held;
    };
    void addTo(Entry &entry, WallTime now, const std::string &client);

    std::chrono::seconds m_holdOff;
    std::map<std::string, Entry> m_entries;
};

#endif
