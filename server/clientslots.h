#ifndef ORVELLA_SERVER_CLIENTSLOTS_H
#define ORVELLA_SERVER_CLIENTSLOTS_H

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

// How much of the server one client address may hold: open connections, and
// "slow" connections, whose request header is still not complete a second
// after it began. Slow connections are also capped for all clients
// together, so that a few addresses trickling headers cannot hold every
// connection the server has. A slow connection cut off at the header
// timeout keeps its client's slot taken for as long again, so that the
// client cannot simply start over.
class ClientSlots
{
public:
    using Clock = std::chrono::steady_clock;
    struct Limits {
        std::size_t connectionsPerClient = 16;
        std::size_t slowTotal = 32;
        std::size_t slowPerClient = 4;
    };
    enum class Admission { Admitted, TooManyConnections, TooManySlow };

    explicit ClientSlots(const Limits &limits) : m_limits(limits) {}

    // A new connection from the client; Admitted counts it until release().
    Admission admit(const std::string &client, Clock::time_point now);
    void release(const std::string &client);

    // A connection of the client turned slow; false when the client or all
    // clients together already hold as many slow ones as allowed.
    bool takeSlow(const std::string &client, Clock::time_point now);
    // The slow connection ended; with a time, its slot stays taken until then.
    void releaseSlow(const std::string &client, Clock::time_point heldUntil = Clock::time_point());

    std::size_t slowTotal() const;
    // Client addresses with anything counted (bounded by the connections).
    std::size_t clients(Clock::time_point now);
    const Limits &limits() const { return m_limits; }

private:
    struct Held {
        std::size_t connections = 0;
        std::size_t slow = 0;
        std::deque<Clock::time_point> penalties; // ends, oldest first
    };
    using Map = std::unordered_map<std::string, Held>;
    // Slow slots taken, penalties that are still on included.
    std::size_t slowHeld(Held &held, Clock::time_point now);
    void eraseIfEmpty(Map::iterator it);
    void forgetOld(Clock::time_point now);

    Limits m_limits;
    mutable std::mutex m_mutex;
    Map m_clients;
    std::size_t m_slowTotal = 0;
    std::size_t m_admissions = 0;
};

#endif
