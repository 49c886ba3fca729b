#ifndef ORVELLA_SERVER_CLIENTSLOTS_H
#define ORVELLA_SERVER_CLIENTSLOTS_H

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

// How much of the server one client address may hold: open connections, and
// "slow" connections, whose request header is still not complete a second
// after it began. Slow connections are also capped for all clients
// together, so that a few addresses trickling headers cannot hold every
// connection the server has.
class ClientSlots
{
public:
    struct Limits {
        std::size_t connectionsPerClient = 16;
        std::size_t slowTotal = 32;
        std::size_t slowPerClient = 4;
    };
    enum class Admission { Admitted, TooManyConnections, TooManySlow };

    explicit ClientSlots(const Limits &limits) : m_limits(limits) {}

    // A new connection from the client; Admitted counts it until release().
    Admission admit(const std::string &client);
    void release(const std::string &client);

    // A connection of the client turned slow; false when the client or all
    // clients together already hold as many slow ones as allowed.
    bool takeSlow(const std::string &client);
    void releaseSlow(const std::string &client);

    std::size_t slowTotal() const;
    std::size_t clients() const;
    const Limits &limits() const { return m_limits; }

private:
    struct Held {
        std::size_t connections = 0;
        std::size_t slow = 0;
    };
    Limits m_limits;
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Held> m_clients;
    std::size_t m_slowTotal = 0;
};

#endif
